// Private heaps, global and local memory. Runs against the real Win32 API
// on Windows and the stand-in on Linux; the allocation-failure hook is
// Linux-only.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <thread>
#include <vector>

namespace {

const SIZE_T kHeapInitialSize = 0xFFFF;

bool IsAllZero(const void *lpv, size_t cb)
{
    const BYTE *lpb = static_cast<const BYTE *>(lpv);
    for (size_t i = 0; i < cb; i++) {
        if (lpb[i] != 0)
            return false;
    }
    return true;
}

// ---- Private heaps ----------------------------------------------------

class PlatformHeap : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hHeap = HeapCreate(0, kHeapInitialSize, 0);
        ASSERT_NE(nullptr, m_hHeap) << "error " << GetLastError();
    }
    void TearDown() override
    {
        if (m_hHeap != NULL) {
            EXPECT_TRUE(HeapDestroy(m_hHeap));
        }
    }
    HANDLE m_hHeap = NULL;
};

TEST_F(PlatformHeap, ZeroMemoryFlagZeroesAndSizeIsTheRequest)
{
    const SIZE_T kSizes[] = { 0, 1, 15, 16, 17, 4096, 100000 };
    for (SIZE_T cb : kSizes) {
        SCOPED_TRACE(cb);
        BYTE *lpb = static_cast<BYTE *>(HeapAlloc(m_hHeap, HEAP_ZERO_MEMORY,
                                                  cb));
        ASSERT_NE(nullptr, lpb);
        EXPECT_TRUE(IsAllZero(lpb, cb));
        EXPECT_EQ(cb, HeapSize(m_hHeap, 0, lpb));
        EXPECT_EQ(0u, (uintptr_t)lpb % (2 * sizeof(void *)));
        memset(lpb, 0xA5, cb);  // the whole request is usable
        EXPECT_TRUE(HeapFree(m_hHeap, 0, lpb));
    }
}

TEST_F(PlatformHeap, ReAllocKeepsContentAndZeroesGrowth)
{
    BYTE *lpb = static_cast<BYTE *>(HeapAlloc(m_hHeap, 0, 8));
    ASSERT_NE(nullptr, lpb);
    memcpy(lpb, "abcdefgh", 8);
    BYTE *lpbGrown = static_cast<BYTE *>(
        HeapReAlloc(m_hHeap, HEAP_ZERO_MEMORY, lpb, 64));
    ASSERT_NE(nullptr, lpbGrown);
    EXPECT_EQ(0, memcmp(lpbGrown, "abcdefgh", 8));
    EXPECT_TRUE(IsAllZero(lpbGrown + 8, 56));
    EXPECT_EQ(64u, HeapSize(m_hHeap, 0, lpbGrown));
    EXPECT_TRUE(HeapFree(m_hHeap, 0, lpbGrown));
}

TEST_F(PlatformHeap, ReAllocInPlaceShrinks)
{
    BYTE *lpb = static_cast<BYTE *>(HeapAlloc(m_hHeap, 0, 256));
    ASSERT_NE(nullptr, lpb);
    memset(lpb, 'x', 256);
    LPVOID lpShrunk = HeapReAlloc(m_hHeap, HEAP_REALLOC_IN_PLACE_ONLY, lpb,
                                  16);
    EXPECT_EQ(lpb, lpShrunk);
    EXPECT_EQ(16u, HeapSize(m_hHeap, 0, lpb));
    EXPECT_EQ('x', lpb[15]);
    EXPECT_TRUE(HeapFree(m_hHeap, 0, lpb));
}

TEST_F(PlatformHeap, FreeingNullSucceeds)
{
    EXPECT_TRUE(HeapFree(m_hHeap, 0, NULL));
}

TEST_F(PlatformHeap, ImpossibleSizesGiveNull)
{
    EXPECT_EQ(nullptr, HeapAlloc(m_hHeap, 0, (SIZE_T)-1));
    EXPECT_EQ(nullptr, HeapAlloc(m_hHeap, HEAP_ZERO_MEMORY, (SIZE_T)-1 / 2));
    LPVOID lpv = HeapAlloc(m_hHeap, 0, 16);
    ASSERT_NE(nullptr, lpv);
    EXPECT_EQ(nullptr, HeapReAlloc(m_hHeap, 0, lpv, (SIZE_T)-1));
    EXPECT_EQ(16u, HeapSize(m_hHeap, 0, lpv));  // the old block survives
    EXPECT_TRUE(HeapFree(m_hHeap, 0, lpv));
}

// Destroying a heap frees every block still allocated from it; under
// LeakSanitizer a block left behind would be reported.
TEST(PlatformHeapLifetime, DestroyFreesEveryBlock)
{
    HANDLE hHeap = HeapCreate(0, kHeapInitialSize, 0);
    ASSERT_NE(nullptr, hHeap);
    for (int i = 0; i < 200; i++) {
        LPVOID lpv = HeapAlloc(hHeap, 0, 16 + i * 37);
        ASSERT_NE(nullptr, lpv);
        if (i % 3 == 0) {
            ASSERT_NE(nullptr, HeapReAlloc(hHeap, 0, lpv, 1000));
        }
    }
    EXPECT_TRUE(HeapDestroy(hHeap));
}

TEST(PlatformHeapLifetime, FixedMaximumRefusesLargerBlocks)
{
    HANDLE hHeap = HeapCreate(0, 0x1000, 0x10000);
    ASSERT_NE(nullptr, hHeap);
    EXPECT_EQ(nullptr, HeapAlloc(hHeap, 0, 0x100000));
    LPVOID lpv = HeapAlloc(hHeap, 0, 100);
    EXPECT_NE(nullptr, lpv);
    EXPECT_TRUE(HeapDestroy(hHeap));
}

TEST(PlatformHeapLifetime, NoSerializeHeapWorks)
{
    HANDLE hHeap = HeapCreate(HEAP_NO_SERIALIZE, 0, 0);
    ASSERT_NE(nullptr, hHeap);
    LPVOID lpv = HeapAlloc(hHeap, HEAP_ZERO_MEMORY, 32);
    ASSERT_NE(nullptr, lpv);
    EXPECT_TRUE(IsAllZero(lpv, 32));
    EXPECT_TRUE(HeapFree(hHeap, 0, lpv));
    EXPECT_TRUE(HeapDestroy(hHeap));
}

TEST(PlatformHeapLifetime, SerializedHeapTakesConcurrentUse)
{
    HANDLE hHeap = HeapCreate(0, kHeapInitialSize, 0);
    ASSERT_NE(nullptr, hHeap);
    const int kThreads = 4, kRounds = 2000;
    std::vector<std::thread> workers;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; t++) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kRounds; i++) {
                BYTE *lpb = static_cast<BYTE *>(
                    HeapAlloc(hHeap, 0, 8 + (i % 64)));
                if (lpb == NULL) {
                    failures[t]++;
                    continue;
                }
                lpb[0] = (BYTE)t;
                if (i % 2)
                    HeapFree(hHeap, 0, lpb);  // the rest go with the heap
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(0, failures[t]) << "thread " << t;
    EXPECT_TRUE(HeapDestroy(hHeap));
}

TEST(PlatformHeapLifetime, ProcessHeapServesBlocks)
{
    HANDLE hHeap = GetProcessHeap();
    ASSERT_NE(nullptr, hHeap);
    LPVOID lpv = HeapAlloc(hHeap, HEAP_ZERO_MEMORY, 40);
    ASSERT_NE(nullptr, lpv);
    EXPECT_TRUE(IsAllZero(lpv, 40));
    EXPECT_TRUE(HeapFree(hHeap, 0, lpv));
}

#if !defined(_WIN32)

// After PlatformFailAllocationAfter(n), n allocations on private heaps
// succeed and every later one fails until failing is turned off.
TEST(PlatformHeapFailure, FailsFromTheNthAllocationOn)
{
    HANDLE hHeap = HeapCreate(0, kHeapInitialSize, 0);
    ASSERT_NE(nullptr, hHeap);
    PlatformFailAllocationAfter(2);
    LPVOID lpFirst = HeapAlloc(hHeap, 0, 10);
    LPVOID lpSecond = HeapReAlloc(hHeap, 0, lpFirst, 20);
    SetLastError(0);
    LPVOID lpThird = HeapAlloc(hHeap, 0, 10);
    DWORD dwError = GetLastError();
    LPVOID lpFourth = HeapReAlloc(hHeap, 0, lpSecond, 40);
    LPVOID lpProcess = HeapAlloc(GetProcessHeap(), 0, 10);  // never failed
    PlatformFailAllocationAfter(-1);
    LPVOID lpAfter = HeapAlloc(hHeap, 0, 10);

    EXPECT_NE(nullptr, lpFirst);
    EXPECT_NE(nullptr, lpSecond);
    EXPECT_EQ(nullptr, lpThird);
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, dwError);
    EXPECT_EQ(nullptr, lpFourth);
    EXPECT_EQ(20u, HeapSize(hHeap, 0, lpSecond));  // untouched by the failure
    EXPECT_NE(nullptr, lpProcess);
    EXPECT_NE(nullptr, lpAfter);
    HeapFree(GetProcessHeap(), 0, lpProcess);
    EXPECT_TRUE(HeapDestroy(hHeap));
}

TEST(PlatformHeapFailure, ZeroFailsTheVeryNextAllocation)
{
    HANDLE hHeap = HeapCreate(0, kHeapInitialSize, 0);
    ASSERT_NE(nullptr, hHeap);
    PlatformFailAllocationAfter(0);
    LPVOID lpv = HeapAlloc(hHeap, HEAP_ZERO_MEMORY, 1);
    PlatformFailAllocationAfter(-1);
    EXPECT_EQ(nullptr, lpv);
    EXPECT_TRUE(HeapDestroy(hHeap));
}

#endif  // !_WIN32

// ---- Global and local memory -----------------------------------------

TEST(PlatformGlobal, FixedBlockHandleIsItsAddress)
{
    HGLOBAL hMem = GlobalAlloc(GPTR, 24);
    ASSERT_NE(nullptr, hMem);
    LPVOID lpv = GlobalLock(hMem);
    EXPECT_EQ(hMem, lpv);
    EXPECT_TRUE(IsAllZero(lpv, 24));
    EXPECT_EQ(24u, GlobalSize(hMem));
    EXPECT_EQ(0u, GlobalFlags(hMem) & GMEM_LOCKCOUNT);  // no lock count
    EXPECT_EQ(nullptr, GlobalFree(hMem));
}

TEST(PlatformGlobal, MovableBlockCountsLocks)
{
    HGLOBAL hMem = GlobalAlloc(GHND, 100);
    ASSERT_NE(nullptr, hMem);
    EXPECT_EQ(0u, GlobalFlags(hMem) & GMEM_LOCKCOUNT);
    LPVOID lpFirst = GlobalLock(hMem);
    ASSERT_NE(nullptr, lpFirst);
    EXPECT_NE(hMem, lpFirst);  // the handle is not the address
    EXPECT_TRUE(IsAllZero(lpFirst, 100));
    EXPECT_EQ(lpFirst, GlobalLock(hMem));
    EXPECT_EQ(2u, GlobalFlags(hMem) & GMEM_LOCKCOUNT);
    EXPECT_EQ(100u, GlobalSize(hMem));

    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(GlobalUnlock(hMem));   // one lock left
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GlobalUnlock(hMem));  // now unlocked: FALSE with no error
    EXPECT_EQ((DWORD)NO_ERROR, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(GlobalUnlock(hMem));  // was not locked
    EXPECT_EQ((DWORD)ERROR_NOT_LOCKED, GetLastError());
    EXPECT_EQ(nullptr, GlobalFree(hMem));
}

TEST(PlatformGlobal, MovableReAllocKeepsHandleAndContent)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, 8);
    ASSERT_NE(nullptr, hMem);
    char *lpsz = static_cast<char *>(GlobalLock(hMem));
    ASSERT_NE(nullptr, lpsz);
    memcpy(lpsz, "1234567", 8);
    GlobalUnlock(hMem);

    HGLOBAL hGrown = GlobalReAlloc(hMem, 8192, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_EQ(hMem, hGrown) << "error " << GetLastError();
    EXPECT_EQ(8192u, GlobalSize(hMem));
    lpsz = static_cast<char *>(GlobalLock(hMem));
    ASSERT_NE(nullptr, lpsz);
    EXPECT_STREQ("1234567", lpsz);
    EXPECT_TRUE(IsAllZero(lpsz + 8, 8192 - 8));
    GlobalUnlock(hMem);
    EXPECT_EQ(nullptr, GlobalFree(hMem));
}

TEST(PlatformGlobal, MovableSizeZeroIsDiscarded)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(nullptr, hMem);
    SetLastError(0);
    EXPECT_EQ(nullptr, GlobalLock(hMem));
    EXPECT_EQ((DWORD)ERROR_DISCARDED, GetLastError());
    EXPECT_EQ(0u, GlobalSize(hMem));
    EXPECT_NE(0u, GlobalFlags(hMem) & GMEM_DISCARDED);
    EXPECT_EQ(nullptr, GlobalFree(hMem));
}

TEST(PlatformGlobal, LockedBlockIsFreedToo)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 16);
    ASSERT_NE(nullptr, hMem);
    ASSERT_NE(nullptr, GlobalLock(hMem));
    EXPECT_EQ(nullptr, GlobalFree(hMem));
}

TEST(PlatformGlobal, FreeingNullSucceeds)
{
    EXPECT_EQ(nullptr, GlobalFree(NULL));
}

TEST(PlatformLocal, ZeroedFixedBlock)
{
    HLOCAL hMem = LocalAlloc(LPTR, 48);
    ASSERT_NE(nullptr, hMem);
    EXPECT_TRUE(IsAllZero(hMem, 48));
    EXPECT_EQ(nullptr, LocalFree(hMem));
}

#if !defined(_WIN32)

// On Linux a movable handle points into inaccessible memory, so using it
// as an address faults; and a freed handle is refused.
TEST(PlatformGlobal, FreedMovableHandleIsRefused)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(nullptr, hMem);
    ASSERT_EQ(nullptr, GlobalFree(hMem));
    SetLastError(0);
    EXPECT_EQ(hMem, GlobalFree(hMem));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(0);
    EXPECT_EQ(nullptr, GlobalLock(hMem));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ((UINT)GMEM_INVALID_HANDLE, GlobalFlags(hMem));
}

TEST(PlatformGlobalDeathTest, MovableHandleIsNotAnAddress)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // other tests ran threads
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(nullptr, hMem);
    EXPECT_DEATH(*static_cast<volatile char *>(hMem) = 1, "");
    GlobalFree(hMem);
}

#endif  // !_WIN32

}  // namespace

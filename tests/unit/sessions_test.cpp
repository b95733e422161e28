/*
 * The session table: handle numbering and reuse, growth, lookups with the
 * owner-thread test, ImapAttachThread, and the session heaps.
 */
#include "support/testutil.h"
#include "session/heap.h"
#include "session/session.h"

#include <cstring>
#include <thread>
#include <vector>

namespace {

class SessionTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ImapInitializeA(NULL, NULL)); }
    void TearDown() override { ImapUninitialize(); }

    static DWORD OnOtherThread(HCLIENT h, bool *lpbFound)
    {
        DWORD dwError = 0;
        std::thread t([&] {
            *lpbFound = FindSession(h) != nullptr;
            dwError = ImapGetLastError();
        });
        t.join();
        return dwError;
    }
};

TEST_F(SessionTable, HandlesStartAtTheBaseAndSlotsAreReused)
{
    HCLIENT h1 = AllocateSession();
    ASSERT_NE(INVALID_CLIENT, h1);
    EXPECT_GE(h1, 4096);
    EXPECT_LE(h1, 4351);
    HCLIENT h2 = AllocateSession();
    EXPECT_EQ(h1 + 1, h2);
    ReleaseSession(h1);
    EXPECT_EQ(nullptr, FindSession(h1));
    EXPECT_EQ(h1, AllocateSession()) << "the lowest free slot is taken again";
    EXPECT_EQ(256u, GetSessionTableSize());
}

TEST_F(SessionTable, NewRecordHasItsDefaults)
{
    HCLIENT h = AllocateSession();
    CLIENTSESSION *lp = FindSession(h);
    ASSERT_NE(nullptr, lp);
    EXPECT_EQ(h, lp->hClient);
    EXPECT_EQ(INVALID_SOCKET, lp->hSocket);
    EXPECT_EQ(IMAP_TIMEOUT, lp->nTimeout);
    EXPECT_EQ(GetCurrentThreadId(), (DWORD)lp->dwThreadId);
    ASSERT_NE(nullptr, lp->lpRecordBuffer);
    ASSERT_NE(nullptr, lp->lpPlainBuffer);
    std::vector<BYTE> zero(SESSION_TLS_BUFFER_SIZE, 0);
    EXPECT_EQ(0, memcmp(zero.data(), lp->lpRecordBuffer, zero.size()));
    EXPECT_EQ(0, memcmp(zero.data(), lp->lpPlainBuffer, zero.size()));
}

TEST_F(SessionTable, GrowsBy256AndKeepsHandles)
{
    std::vector<HCLIENT> handles;
    for (int i = 0; i < 257; i++)
        handles.push_back(AllocateSession());
    EXPECT_EQ(512u, GetSessionTableSize());
    for (int i = 0; i < 257; i++) {
        ASSERT_EQ(handles[0] + i, handles[i]);
        CLIENTSESSION *lp = FindSession(handles[i]);
        ASSERT_NE(nullptr, lp) << i;
        EXPECT_EQ(i, lp->nSlot);
    }
}

TEST_F(SessionTable, HandlesOutsideTheTableAreInvalid)
{
    HCLIENT h = AllocateSession();
    ASSERT_NE(INVALID_CLIENT, h);
    HCLIENT hBase = h; /* the first session takes the base */
    for (HCLIENT bad : {hBase - 1, hBase + (HCLIENT)GetSessionTableSize(), hBase + 1, INVALID_CLIENT, 0}) {
        ImapSetLastError(0);
        EXPECT_EQ(nullptr, FindSession(bad)) << bad;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
        EXPECT_EQ(nullptr, FindSessionAnyThread(bad)) << bad;
        EXPECT_EQ((DWORD)-1, ImapAttachThread(bad, 0)) << bad;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
    }
}

TEST_F(SessionTable, OtherThreadsAreRefusedUntilAttached)
{
    HCLIENT h = AllocateSession();
    DWORD dwCreator = GetCurrentThreadId();
    bool bFound = true;
    EXPECT_EQ(TwHex(TW_ERROR_NOT_HANDLE_OWNER), TwHex(OnOtherThread(h, &bFound)));
    EXPECT_FALSE(bFound);

    /* The other thread attaches the session to itself (no ownership test
       for attaching), after which it works there and not here. */
    DWORD dwPrevious = 0, dwOther = 0;
    bool bThere = false;
    std::thread t([&] {
        dwOther = GetCurrentThreadId();
        dwPrevious = ImapAttachThread(h, 0);
        bThere = FindSession(h) != nullptr;
    });
    t.join();
    EXPECT_EQ(dwCreator, dwPrevious);
    EXPECT_TRUE(bThere);
    EXPECT_EQ(nullptr, FindSession(h));
    EXPECT_LAST_ERROR(TW_ERROR_NOT_HANDLE_OWNER);
    EXPECT_NE(nullptr, FindSessionAnyThread(h));

    /* A release from a thread that does not own the session is ignored. */
    ReleaseSession(h);
    EXPECT_NE(nullptr, FindSessionAnyThread(h));

    EXPECT_EQ(dwOther, ImapAttachThread(h, dwCreator));
    EXPECT_NE(nullptr, FindSession(h));
}

TEST_F(SessionTable, IdleWorkerAndFreeThreadedSessionsPassTheTest)
{
    HCLIENT h = AllocateSession();
    CLIENTSESSION *lp = FindSession(h);
    bool bFound = false;
    std::thread t([&] {
        lp->dwIdleThreadId = (LONG)GetCurrentThreadId();
        bFound = FindSession(h) != nullptr;
        lp->dwIdleThreadId = 0;
    });
    t.join();
    EXPECT_TRUE(bFound) << "the idle worker passes the ownership test";

    lp->dwOptions |= IMAP_OPTION_FREETHREAD;
    OnOtherThread(h, &bFound);
    EXPECT_TRUE(bFound);
}

TEST_F(SessionTable, ReleasedSessionLeavesAFreshHeapForTheNext)
{
    HCLIENT h = AllocateSession();
    CLIENTSESSION *lp = FindSession(h);
    HANDLE hHeap = lp->hHeap;
    ASSERT_NE(nullptr, hHeap) << "the TLS buffers created the session heap";
    char *lpBlock = (char *)SessionAlloc(h, 100);
    ASSERT_NE(nullptr, lpBlock);
    EXPECT_EQ(0, lpBlock[0]);
    ReleaseSession(h);
    EXPECT_EQ(nullptr, SessionAlloc(h, 100));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);

    HCLIENT h2 = AllocateSession();
    EXPECT_EQ(h, h2);
    EXPECT_NE(nullptr, FindSession(h2)->hHeap);
}

TEST_F(SessionTable, HeapRequestsThatDoNothing)
{
    HCLIENT h = AllocateSession();
    ImapSetLastError(0);
    EXPECT_EQ(nullptr, SessionAlloc(h, 0));
    EXPECT_EQ(nullptr, LibraryAlloc(0));
    SessionFree(h, NULL);
    SessionFree(h + 7, (void *)&h); /* unknown handle: ignored */
    LibraryFree(NULL);
    DestroySessionHeap(INVALID_CLIENT);
    EXPECT_EQ(nullptr, GetSessionHeap(INVALID_CLIENT));
    EXPECT_LAST_ERROR(0);
}

TEST(SessionHeap, ZeroByteRequestCreatesNoHeap)
{
    ASSERT_TRUE(ImapInitializeA(NULL, NULL));
    HCLIENT h = AllocateSession();
    CLIENTSESSION *lp = FindSession(h);
    DestroySessionHeap(h);
    EXPECT_EQ(nullptr, lp->hHeap);
    EXPECT_EQ(nullptr, SessionAlloc(h, 0));
    EXPECT_EQ(nullptr, lp->hHeap);
    EXPECT_NE(nullptr, SessionAlloc(h, 1));
    EXPECT_NE(nullptr, lp->hHeap) << "created on first use";
    ImapUninitialize();
}

#if !defined(_WIN32)
/* Private heaps make every allocation of a call easy to fail in turn. */
TEST(SessionTableMemory, FailedAllocationsReportOutOfMemory)
{
    ASSERT_TRUE(ImapInitializeA(NULL, NULL));
    PlatformFailAllocationAfter(0); /* the table itself */
    EXPECT_EQ(INVALID_CLIENT, AllocateSession());
    EXPECT_LAST_ERROR(TW_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(0u, GetSessionTableSize());

    PlatformFailAllocationAfter(1); /* the table succeeds, the record fails */
    EXPECT_EQ(INVALID_CLIENT, AllocateSession());
    EXPECT_LAST_ERROR(TW_ERROR_OUT_OF_MEMORY);
    EXPECT_EQ(256u, GetSessionTableSize()) << "the grown table stays";

    PlatformFailAllocationAfter(1); /* the record succeeds, a TLS buffer fails */
    HCLIENT h = AllocateSession();
    PlatformFailAllocationAfter(-1);
    ASSERT_NE(INVALID_CLIENT, h) << "a missing TLS buffer does not fail the session";
    EXPECT_EQ(nullptr, FindSession(h)->lpRecordBuffer);
    ImapUninitialize();
}
#endif

} // namespace

// Base services: last error, thread ids, critical sections, thread-local
// slots, interlocked operations, tick counter, system time, version query.
// Runs against the real Win32 API on Windows and the stand-in on Linux.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

const int kThreads = 4;
const int kIterations = 20000;

// ---- Last error and ids -----------------------------------------------

// TRUE under Wine, whose ntdll exports wine_get_version.
bool RunningOnWine()
{
#if defined(_WIN32)
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != NULL &&
           GetProcAddress(hNtdll, "wine_get_version") != NULL;
#else
    return false;
#endif
}

// Waits, by spinning on the atomic alone, until nStep is reached; false
// after some seconds without it. Makes no system call, so it leaves
// the last error alone.
bool SpinUntil(const std::atomic<int> &step, int nStep)
{
    const long long kSpins = 4000000000LL;
    for (long long i = 0; i < kSpins; i++) {
        if (step.load() == nStep)
            return true;
    }
    return false;
}

TEST(PlatformLastError, IsPerThread)
{
    // Starting and joining a thread may change the last error itself (the
    // Windows thread library's own calls clear it), so each thread sets and
    // reads its value while both run, each set falling between the other
    // thread's set and read.
    std::atomic<int> step(0);
    DWORD dwOther = 0;
    std::thread worker([&] {
        SetLastError(5678);
        step = 1;
        if (!SpinUntil(step, 2))
            return;
        dwOther = GetLastError();  // after the main thread's set
        SetLastError(9999);
        step = 3;
    });
    bool fWorkerSet = SpinUntil(step, 1);
    SetLastError(1234);
    step = 2;
    bool fWorkerRead = fWorkerSet && SpinUntil(step, 3);
    DWORD dwMain = GetLastError();  // after the worker's second set
    worker.join();
    ASSERT_TRUE(fWorkerRead) << "the threads did not take turns";
    EXPECT_EQ(5678u, dwOther);
    EXPECT_EQ(1234u, dwMain);
}

TEST(PlatformThreadId, NonzeroAndDistinctPerLiveThread)
{
    DWORD dwMain = GetCurrentThreadId();
    DWORD dwWorker = 0;
    DWORD dwWorkerProcess = 0;
    std::thread worker([&] {
        dwWorker = GetCurrentThreadId();
        dwWorkerProcess = GetCurrentProcessId();
    });
    worker.join();
    EXPECT_NE(0u, dwMain);
    EXPECT_NE(0u, dwWorker);
    EXPECT_NE(dwMain, dwWorker);
    EXPECT_EQ(dwMain, GetCurrentThreadId());
    EXPECT_NE(0u, GetCurrentProcessId());
    EXPECT_EQ(GetCurrentProcessId(), dwWorkerProcess);
}

// ---- Critical sections ------------------------------------------------

// TRUE when another thread manages to enter the section (it leaves again).
bool OtherThreadCanEnter(CRITICAL_SECTION *lpcs)
{
    BOOL fEntered = FALSE;
    std::thread other([&] {
        fEntered = TryEnterCriticalSection(lpcs);
        if (fEntered)
            LeaveCriticalSection(lpcs);
    });
    other.join();
    return fEntered != FALSE;
}

TEST(PlatformCriticalSection, IsRecursiveForItsOwner)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));  // owner enters again
    EXPECT_FALSE(OtherThreadCanEnter(&cs));
    LeaveCriticalSection(&cs);
    EXPECT_FALSE(OtherThreadCanEnter(&cs));     // still held once
    LeaveCriticalSection(&cs);
    EXPECT_TRUE(OtherThreadCanEnter(&cs));
    DeleteCriticalSection(&cs);
}

TEST(PlatformCriticalSection, ExcludesOtherThreads)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    long nCounter = 0;  // deliberately not atomic
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; t++) {
        workers.emplace_back([&] {
            for (int i = 0; i < kIterations; i++) {
                EnterCriticalSection(&cs);
                nCounter++;
                LeaveCriticalSection(&cs);
            }
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ((long)kThreads * kIterations, nCounter);
    DeleteCriticalSection(&cs);
}

// ---- Thread-local slots -----------------------------------------------

TEST(PlatformTls, ValuesArePerThreadAndStartNull)
{
    DWORD dwIndex = TlsAlloc();
    ASSERT_NE(TLS_OUT_OF_INDEXES, dwIndex);
    int a = 0, b = 0;
    ASSERT_TRUE(TlsSetValue(dwIndex, &a));

    LPVOID lpSeenFirst = &b, lpSeenAfterSet = NULL;
    std::thread worker([&] {
        lpSeenFirst = TlsGetValue(dwIndex);
        TlsSetValue(dwIndex, &b);
        lpSeenAfterSet = TlsGetValue(dwIndex);
    });
    worker.join();
    EXPECT_EQ(nullptr, lpSeenFirst);
    EXPECT_EQ(&b, lpSeenAfterSet);
    EXPECT_EQ(&a, TlsGetValue(dwIndex));
    EXPECT_TRUE(TlsFree(dwIndex));
}

TEST(PlatformTls, GetValueClearsLastError)
{
    DWORD dwIndex = TlsAlloc();
    ASSERT_NE(TLS_OUT_OF_INDEXES, dwIndex);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(nullptr, TlsGetValue(dwIndex));
    EXPECT_EQ((DWORD)ERROR_SUCCESS, GetLastError());
    EXPECT_TRUE(TlsFree(dwIndex));
}

TEST(PlatformTls, FreedSlotReadsNullWhenAllocatedAgain)
{
    DWORD dwIndex = TlsAlloc();
    ASSERT_NE(TLS_OUT_OF_INDEXES, dwIndex);
    int a = 0;
    ASSERT_TRUE(TlsSetValue(dwIndex, &a));
    ASSERT_TRUE(TlsFree(dwIndex));
    // Usually the same index comes back; any index must start as NULL.
    DWORD dwAgain = TlsAlloc();
    ASSERT_NE(TLS_OUT_OF_INDEXES, dwAgain);
    EXPECT_EQ(nullptr, TlsGetValue(dwAgain));
    EXPECT_TRUE(TlsFree(dwAgain));
}

TEST(PlatformTls, BadIndexesFailWithInvalidParameter)
{
    const DWORD dwBeyond = 5000;  // past the 1088 slots Windows has
    SetLastError(0);
    EXPECT_EQ(nullptr, TlsGetValue(dwBeyond));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(TlsSetValue(dwBeyond, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

    DWORD dwIndex = TlsAlloc();
    ASSERT_NE(TLS_OUT_OF_INDEXES, dwIndex);
    EXPECT_TRUE(TlsFree(dwIndex));
    SetLastError(0);
    EXPECT_FALSE(TlsFree(dwIndex));  // already free
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST(PlatformTls, ExhaustionGivesOutOfIndexes)
{
    const int kMaxSlots = 4096;  // well above Windows' 1088
    std::vector<DWORD> indexes;
    DWORD dwIndex = 0;
    while ((int)indexes.size() < kMaxSlots &&
           (dwIndex = TlsAlloc()) != TLS_OUT_OF_INDEXES)
        indexes.push_back(dwIndex);
    DWORD dwError = GetLastError();
    EXPECT_EQ(TLS_OUT_OF_INDEXES, dwIndex);
    // Windows versions differ in the error: no more items, or no memory.
    EXPECT_TRUE(dwError == ERROR_NO_MORE_ITEMS ||
                dwError == ERROR_NOT_ENOUGH_MEMORY)
        << "error " << dwError;
    EXPECT_GT(indexes.size(), (size_t)TLS_MINIMUM_AVAILABLE);
    for (DWORD i : indexes)
        EXPECT_TRUE(TlsFree(i));
    dwIndex = TlsAlloc();
    EXPECT_NE(TLS_OUT_OF_INDEXES, dwIndex);
    TlsFree(dwIndex);
}

// ---- Interlocked ------------------------------------------------------

enum InterlockedOp { kIncrement, kDecrement, kExchange, kExchangeAdd,
                     kCompareExchange };

struct InterlockedCase {
    const char *lpszName;
    InterlockedOp op;
    LONG lInitial;
    LONG lOperand;    // Exchange / ExchangeAdd value, CompareExchange new
    LONG lComparand;
    LONG lResult;     // new value for Increment/Decrement, else the old
    LONG lFinal;
};

const InterlockedCase kInterlockedCases[] = {
    // Increment and Decrement return the new value.
    { "increment", kIncrement, 5, 0, 0, 6, 6 },
    { "increment wraps", kIncrement, 0x7FFFFFFF, 0, 0, (LONG)0x80000000,
      (LONG)0x80000000 },
    { "decrement to negative", kDecrement, 0, 0, 0, -1, -1 },
    { "decrement wraps", kDecrement, (LONG)0x80000000, 0, 0, 0x7FFFFFFF,
      0x7FFFFFFF },
    // The others return the old value.
    { "exchange", kExchange, 7, 9, 0, 7, 9 },
    { "exchange add", kExchangeAdd, 10, -3, 0, 10, 7 },
    { "compare exchange, equal", kCompareExchange, 4, 8, 4, 4, 8 },
    { "compare exchange, different", kCompareExchange, 4, 8, 5, 4, 4 },
};

TEST(PlatformInterlocked, ResultsAndFinalValues)
{
    for (const InterlockedCase &c : kInterlockedCases) {
        SCOPED_TRACE(c.lpszName);
        LONG volatile lValue = c.lInitial;
        LONG lResult = 0;
        switch (c.op) {
        case kIncrement: lResult = InterlockedIncrement(&lValue); break;
        case kDecrement: lResult = InterlockedDecrement(&lValue); break;
        case kExchange: lResult = InterlockedExchange(&lValue, c.lOperand);
            break;
        case kExchangeAdd:
            lResult = InterlockedExchangeAdd(&lValue, c.lOperand);
            break;
        case kCompareExchange:
            lResult = InterlockedCompareExchange(&lValue, c.lOperand,
                                                 c.lComparand);
            break;
        }
        EXPECT_EQ(c.lResult, lResult);
        EXPECT_EQ(c.lFinal, lValue);
    }
}

TEST(PlatformInterlocked, ExchangePointerReturnsOld)
{
    int a = 0, b = 0;
    LPVOID volatile lpTarget = &a;
    EXPECT_EQ(&a, InterlockedExchangePointer(&lpTarget, &b));
    EXPECT_EQ(&b, lpTarget);
}

TEST(PlatformInterlocked, IncrementsFromManyThreadsAreNotLost)
{
    LONG volatile lCounter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; t++) {
        workers.emplace_back([&] {
            for (int i = 0; i < kIterations; i++)
                InterlockedIncrement(&lCounter);
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    EXPECT_EQ(kThreads * kIterations, lCounter);
}

// ---- Time -------------------------------------------------------------

TEST(PlatformTime, TickCountAdvancesAcrossSleep)
{
    DWORD dwStart = GetTickCount();
    ULONGLONG ullStart = GetTickCount64();
    Sleep(50);
    DWORD dwElapsed = GetTickCount() - dwStart;  // unsigned: wrap-safe
    ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    // The tick may be as coarse as 16 ms; the upper bound only guards
    // against a counter in the wrong unit.
    EXPECT_GE(dwElapsed, 30u);
    EXPECT_LT(dwElapsed, 5000u);
    EXPECT_GE(ullElapsed, 30u);
    EXPECT_LT(ullElapsed, 5000u);
    // Both counters are the same clock.
    EXPECT_LT((DWORD)(GetTickCount() - (DWORD)GetTickCount64()), 1000u);
}

TEST(PlatformTime, SleepZeroReturnsPromptly)
{
    DWORD dwStart = GetTickCount();
    Sleep(0);
    EXPECT_LT(GetTickCount() - dwStart, 1000u);
}

void ExpectPlausible(const SYSTEMTIME &st)
{
    EXPECT_GE(st.wYear, 2024);
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_LT(st.wDayOfWeek, 7);
    EXPECT_GE(st.wDay, 1);
    EXPECT_LE(st.wDay, 31);
    EXPECT_LT(st.wHour, 24);
    EXPECT_LT(st.wMinute, 60);
    EXPECT_LT(st.wSecond, 60);
    EXPECT_LT(st.wMilliseconds, 1000);
}

TEST(PlatformTime, SystemAndLocalTimeArePlausible)
{
    SYSTEMTIME st;
    GetSystemTime(&st);
    ExpectPlausible(st);
    GetLocalTime(&st);
    ExpectPlausible(st);
}

// ---- Version ----------------------------------------------------------

struct VersionSizeCase {
    DWORD cbSize;
    bool fAccepted;
};

TEST(PlatformVersion, AnsiRecordSizeIsChecked)
{
    const VersionSizeCase kCases[] = {
        { sizeof(OSVERSIONINFOA), true },   // 148
        { sizeof(OSVERSIONINFOEXA), true },  // 156
        { 0, false },
        { sizeof(OSVERSIONINFOA) - 1, false },
        { sizeof(OSVERSIONINFOA) + 1, false },
        { sizeof(OSVERSIONINFOW), false },
    };
    EXPECT_EQ(148u, sizeof(OSVERSIONINFOA));
    for (const VersionSizeCase &c : kCases) {
        SCOPED_TRACE(c.cbSize);
        OSVERSIONINFOEXA info;
        memset(&info, 0, sizeof(info));
        info.dwOSVersionInfoSize = c.cbSize;
        SetLastError(0);
        BOOL fOk = GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info));
        if (c.fAccepted) {
            EXPECT_TRUE(fOk) << "error " << GetLastError();
            EXPECT_GE(info.dwMajorVersion, 5u);
            EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_NT, info.dwPlatformId);
            EXPECT_LT(strlen(info.szCSDVersion), sizeof(info.szCSDVersion));
        } else {
            EXPECT_FALSE(fOk);
            EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        }
    }
}

TEST(PlatformVersion, WideRecordSizeIsChecked)
{
    const VersionSizeCase kCases[] = {
        { sizeof(OSVERSIONINFOW), true },   // 276
        { sizeof(OSVERSIONINFOEXW), true },  // 284
        { sizeof(OSVERSIONINFOA), false },
    };
    EXPECT_EQ(276u, sizeof(OSVERSIONINFOW));
    for (const VersionSizeCase &c : kCases) {
        SCOPED_TRACE(c.cbSize);
        OSVERSIONINFOEXW info;
        memset(&info, 0, sizeof(info));
        info.dwOSVersionInfoSize = c.cbSize;
        SetLastError(0);
        BOOL fOk = GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info));
        if (c.fAccepted) {
            EXPECT_TRUE(fOk) << "error " << GetLastError();
            EXPECT_GE(info.dwMajorVersion, 5u);
            EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_NT, info.dwPlatformId);
        } else {
            EXPECT_FALSE(fOk);
            if (RunningOnWine()) {
                // Wine's GetVersionExW fails without setting the error that
                // Windows sets (and its GetVersionExA sets).
                EXPECT_TRUE(GetLastError() == ERROR_INSUFFICIENT_BUFFER ||
                            GetLastError() == 0)
                    << "error " << GetLastError();
            } else {
                EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
            }
        }
    }
}

}  // namespace

/*
 * kernel_sync.cpp - last error, thread and process ids, critical sections,
 * thread-local slots and interlocked operations (Linux).
 *
 * Critical sections are recursive pthread mutexes. Thread-local slots are a
 * fixed table of TLS_MINIMUM_AVAILABLE + 1024 indexes, as on Windows, over one
 * thread_local array of cells. TlsFree makes the value of a slot read as NULL
 * again in every thread, as Windows does: each index carries a generation
 * number, and a cell only counts while it was written under the index's
 * current generation.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

/* ---- Last error, ids --------------------------------------------------- */

static thread_local DWORD t_dwLastError;

extern "C" DWORD WINAPI GetLastError(void)
{
    return t_dwLastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    t_dwLastError = dwErrCode;
}

/* The kernel thread id: nonzero and unique among live threads. Not cached,
   so that a forked child reports its own. */
extern "C" DWORD WINAPI GetCurrentThreadId(void)
{
    return (DWORD)syscall(SYS_gettid);
}

extern "C" DWORD WINAPI GetCurrentProcessId(void)
{
    return (DWORD)getpid();
}

/* ---- Critical sections ------------------------------------------------- */

static_assert(sizeof(CRITICAL_SECTION) >= sizeof(pthread_mutex_t),
              "CRITICAL_SECTION too small for a pthread mutex");
static_assert(alignof(CRITICAL_SECTION) >= alignof(pthread_mutex_t),
              "CRITICAL_SECTION under-aligned for a pthread mutex");

static pthread_mutex_t *MutexOf(LPCRITICAL_SECTION lpCriticalSection)
{
    return reinterpret_cast<pthread_mutex_t *>(lpCriticalSection->Reserved);
}

extern "C" void WINAPI InitializeCriticalSection(
    LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(MutexOf(lpCriticalSection), &attr);
    pthread_mutexattr_destroy(&attr);
}

extern "C" void WINAPI DeleteCriticalSection(
    LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_destroy(MutexOf(lpCriticalSection));
}

/* Blocks until the calling thread owns the section; an owner may enter again
   and must leave as often as it entered. */
extern "C" void WINAPI EnterCriticalSection(
    LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_lock(MutexOf(lpCriticalSection));
}

extern "C" void WINAPI LeaveCriticalSection(
    LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_unlock(MutexOf(lpCriticalSection));
}

/* Never blocks: TRUE when the section was entered. */
extern "C" BOOL WINAPI TryEnterCriticalSection(
    LPCRITICAL_SECTION lpCriticalSection)
{
    return pthread_mutex_trylock(MutexOf(lpCriticalSection)) == 0;
}

/* ---- Thread-local slots ------------------------------------------------ */

static const DWORD TLS_SLOT_COUNT = TLS_MINIMUM_AVAILABLE + 1024;

struct TLSCELL {
    LPVOID lpValue;
    DWORD dwGeneration;
};

static pthread_mutex_t g_TlsLock = PTHREAD_MUTEX_INITIALIZER;
static bool g_rgTlsInUse[TLS_SLOT_COUNT];         /* under g_TlsLock */
static DWORD g_rgTlsGeneration[TLS_SLOT_COUNT];   /* atomic */
static thread_local TLSCELL t_rgTlsCells[TLS_SLOT_COUNT];

/* Bumping the generation makes every thread's old value for the index
   read as NULL. */
static void NewTlsGeneration(DWORD dwIndex)
{
    __atomic_add_fetch(&g_rgTlsGeneration[dwIndex], 1, __ATOMIC_RELEASE);
}

/* Lowest free index, or TLS_OUT_OF_INDEXES with ERROR_NO_MORE_ITEMS. */
extern "C" DWORD WINAPI TlsAlloc(void)
{
    DWORD dwIndex = TLS_OUT_OF_INDEXES;
    pthread_mutex_lock(&g_TlsLock);
    for (DWORD i = 0; i < TLS_SLOT_COUNT; i++) {
        if (!g_rgTlsInUse[i]) {
            g_rgTlsInUse[i] = true;
            NewTlsGeneration(i);
            dwIndex = i;
            break;
        }
    }
    pthread_mutex_unlock(&g_TlsLock);
    if (dwIndex == TLS_OUT_OF_INDEXES)
        SetLastError(ERROR_NO_MORE_ITEMS);
    return dwIndex;
}

extern "C" BOOL WINAPI TlsFree(DWORD dwTlsIndex)
{
    BOOL fFreed = FALSE;
    pthread_mutex_lock(&g_TlsLock);
    if (dwTlsIndex < TLS_SLOT_COUNT && g_rgTlsInUse[dwTlsIndex]) {
        g_rgTlsInUse[dwTlsIndex] = false;
        NewTlsGeneration(dwTlsIndex);
        fFreed = TRUE;
    }
    pthread_mutex_unlock(&g_TlsLock);
    if (!fFreed)
        SetLastError(ERROR_INVALID_PARAMETER);
    return fFreed;
}

/* Clears the last error on success, so that a NULL value can be told from
   a failure. Like Windows, only the range of the index is checked. */
extern "C" LPVOID WINAPI TlsGetValue(DWORD dwTlsIndex)
{
    if (dwTlsIndex >= TLS_SLOT_COUNT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    const TLSCELL &cell = t_rgTlsCells[dwTlsIndex];
    DWORD dwGeneration =
        __atomic_load_n(&g_rgTlsGeneration[dwTlsIndex], __ATOMIC_ACQUIRE);
    SetLastError(ERROR_SUCCESS);
    return cell.dwGeneration == dwGeneration ? cell.lpValue : NULL;
}

extern "C" BOOL WINAPI TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue)
{
    if (dwTlsIndex >= TLS_SLOT_COUNT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    TLSCELL &cell = t_rgTlsCells[dwTlsIndex];
    cell.lpValue = lpTlsValue;
    cell.dwGeneration =
        __atomic_load_n(&g_rgTlsGeneration[dwTlsIndex], __ATOMIC_ACQUIRE);
    return TRUE;
}

/* ---- Interlocked ------------------------------------------------------- */

extern "C" LONG WINAPI InterlockedIncrement(LONG volatile *lpAddend)
{
    return __atomic_add_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}

extern "C" LONG WINAPI InterlockedDecrement(LONG volatile *lpAddend)
{
    return __atomic_sub_fetch(lpAddend, 1, __ATOMIC_SEQ_CST);
}

extern "C" LONG WINAPI InterlockedExchange(LONG volatile *Target, LONG Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

extern "C" LONG WINAPI InterlockedCompareExchange(LONG volatile *Destination,
                                                  LONG Exchange,
                                                  LONG Comperand)
{
    /* On failure the builtin stores the current value in Comperand; on
       success Comperand already is the old value. */
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false,
                                __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}

extern "C" LONG WINAPI InterlockedExchangeAdd(LONG volatile *Addend,
                                              LONG Value)
{
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}

extern "C" LPVOID WINAPI InterlockedExchangePointer(LPVOID volatile *Target,
                                                    LPVOID Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

extern "C" LPVOID WINAPI InterlockedCompareExchangePointer(LPVOID volatile *Destination,
                                                           LPVOID Exchange, LPVOID Comperand)
{
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comperand;
}

#endif /* !_WIN32 */

/*
 * kernel_time.cpp - tick counter, Sleep, system time and the version query
 * (Linux).
 *
 * The tick counter is CLOCK_MONOTONIC in milliseconds; GetTickCount is its
 * low 32 bits, so it wraps every 49.7 days exactly as on Windows and callers
 * subtract ticks as unsigned 32-bit values.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

/* The version this stand-in reports: Windows 10 22H2. */
static const DWORD VERSION_MAJOR = 10;
static const DWORD VERSION_MINOR = 0;
static const DWORD VERSION_BUILD = 19045;
static const WORD VERSION_SUITE_MASK = 0x0100; /* VER_SUITE_SINGLEUSERTS */

extern "C" ULONGLONG WINAPI GetTickCount64(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (ULONGLONG)ts.tv_sec * 1000u + (ULONGLONG)ts.tv_nsec / 1000000u;
}

extern "C" DWORD WINAPI GetTickCount(void)
{
    return (DWORD)GetTickCount64();
}

/* Blocks for at least dwMilliseconds; 0 gives up the rest of the time
   slice, INFINITE never returns. */
extern "C" void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
    }
}

static void FillSystemTime(LPSYSTEMTIME lpSystemTime, bool fLocal)
{
    struct timespec ts;
    struct tm tm;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t t = ts.tv_sec;
    if (fLocal)
        localtime_r(&t, &tm);
    else
        gmtime_r(&t, &tm);
    lpSystemTime->wYear = (WORD)(tm.tm_year + 1900);
    lpSystemTime->wMonth = (WORD)(tm.tm_mon + 1);
    lpSystemTime->wDayOfWeek = (WORD)tm.tm_wday;
    lpSystemTime->wDay = (WORD)tm.tm_mday;
    lpSystemTime->wHour = (WORD)tm.tm_hour;
    lpSystemTime->wMinute = (WORD)tm.tm_min;
    /* A leap second (tm_sec 60) is reported as 59, a value Windows allows. */
    lpSystemTime->wSecond = (WORD)(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    lpSystemTime->wMilliseconds = (WORD)(ts.tv_nsec / 1000000L);
}

extern "C" void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime)
{
    FillSystemTime(lpSystemTime, false);
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    FillSystemTime(lpSystemTime, true);
}

/* Fills the fields common to the A and W records (all but szCSDVersion) and,
   for the EX sizes, the extra fields that follow the CSD string. */
template <typename PLAIN, typename EX>
static BOOL FillVersion(PLAIN *lpInfo)
{
    if (lpInfo == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD cbInfo = lpInfo->dwOSVersionInfoSize;
    if (cbInfo != sizeof(PLAIN) && cbInfo != sizeof(EX)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    lpInfo->dwMajorVersion = VERSION_MAJOR;
    lpInfo->dwMinorVersion = VERSION_MINOR;
    lpInfo->dwBuildNumber = VERSION_BUILD;
    lpInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
    memset(lpInfo->szCSDVersion, 0, sizeof(lpInfo->szCSDVersion));
    if (cbInfo == sizeof(EX)) {
        EX *lpEx = reinterpret_cast<EX *>(lpInfo);
        lpEx->wServicePackMajor = 0;
        lpEx->wServicePackMinor = 0;
        lpEx->wSuiteMask = VERSION_SUITE_MASK;
        lpEx->wProductType = VER_NT_WORKSTATION;
        lpEx->wReserved = 0;
    }
    return TRUE;
}

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation)
{
    return FillVersion<OSVERSIONINFOA, OSVERSIONINFOEXA>(lpVersionInformation);
}

extern "C" BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    return FillVersion<OSVERSIONINFOW, OSVERSIONINFOEXW>(lpVersionInformation);
}

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA layout");
static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW layout");
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW layout");

#endif /* !_WIN32 */

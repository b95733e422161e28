/*
 * lifetime.cpp - process set-up and tear-down, the library lock, and the
 * reference-counted ImapInitialize / ImapUninitialize pair.
 */
#include "frame/frame.h"
#include "session/heap.h"
#include "session/session.h"
#include "net/netiface.h"

#include <string.h>
#include <time.h>

/* Counts set-ups: positive while the library is set up, -1 when not. */
static LONG volatile g_nAttachCount = -1;
/* The library's own module (0 when set up by ImapInitialize). */
static HMODULE volatile g_hModule;
static CRITICAL_SECTION g_csLibrary;
static LONG volatile g_dwErrorSlot = (LONG)TLS_OUT_OF_INDEXES;

/* The option bit of INITDATA that asks for the network interface. */
#define INIT_OPTION_NETWORK 0x20000000

DWORD g_dwHandleBase;
LONG volatile g_nInitCount;

static bool IsSetUp(void)
{
    return InterlockedExchangeAdd(&g_nAttachCount, 0) > 0;
}

HMODULE GetLibraryModule(void)
{
    return (HMODULE)InterlockedCompareExchangePointer((PVOID volatile *)&g_hModule, NULL, NULL);
}

DWORD GetErrorSlot(void)
{
    return (DWORD)AtomicRead(&g_dwErrorSlot);
}

void LockLibrary(void)
{
    if (IsSetUp())
        EnterCriticalSection(&g_csLibrary);
}

void UnlockLibrary(void)
{
    if (IsSetUp())
        LeaveCriticalSection(&g_csLibrary);
}

void AttachLibrary(HMODULE hModule)
{
    if (InterlockedIncrement(&g_nAttachCount) != 0)
        return; /* already set up */
    InitializeCriticalSection(&g_csLibrary);
    InterlockedExchange(&g_dwErrorSlot, (LONG)TlsAlloc());
    g_dwHandleBase = 4096 + (GetTickCount() & 0xFF);
    tzset();
    if (hModule != NULL)
        InterlockedExchangePointer((PVOID volatile *)&g_hModule, hModule);
    /* Only now does the counter read 1, so LockLibrary never enters the
       lock before it exists. */
    InterlockedIncrement(&g_nAttachCount);
}

void DetachLibrary(void)
{
    LONG n = InterlockedDecrement(&g_nAttachCount);
    if (n > 0)
        return;
    if (n < 0) {
        InterlockedExchange(&g_nAttachCount, -1);
        return;
    }
    InterlockedDecrement(&g_nAttachCount);
    DestroyLibraryHeap(); /* frees every record and the table at once */
    DWORD dwSlot = (DWORD)InterlockedExchange(&g_dwErrorSlot, (LONG)TLS_OUT_OF_INDEXES);
    InterlockedExchangePointer((PVOID volatile *)&g_hModule, NULL);
    ForgetSessionTable();
    DeleteCriticalSection(&g_csLibrary);
    if (dwSlot != TLS_OUT_OF_INDEXES)
        TlsFree(dwSlot);
}

/* Copies a description into a fixed field, always terminated. */
static void CopyDescription(char *lpszOut, size_t cbOut)
{
    strncpy(lpszOut, TW_DESCRIPTION, cbOut - 1);
    lpszOut[cbOut - 1] = '\0';
}

extern "C" BOOL WINAPI ImapInitializeA(LPCSTR lpszReserved, INITDATA *lpData)
{
    if (GetLibraryModule() == NULL)
        AttachLibrary(NULL);

    OSVERSIONINFOA osvi;
    memset(&osvi, 0, sizeof(osvi));
    osvi.dwOSVersionInfoSize = sizeof(osvi);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL bVersion = GetVersionExA(&osvi);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (bVersion && osvi.dwMajorVersion < 5) {
        ImapSetLastError(TW_ERROR_INVALID_VERSION);
        return FALSE;
    }

    LockLibrary();
    DWORD dwOptions = 0;
    if (lpData != NULL) {
        if (lpData->dwSize != sizeof(INITDATA)) {
            UnlockLibrary();
            ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        dwOptions = lpData->dwOptions;
        lpData->dwOptions = 0;
        lpData->dwReserved1 = 0;
        lpData->dwReserved2 = 0;
        lpData->dwVersionMajor = TW_VERSION_MAJOR;
        lpData->dwVersionMinor = TW_VERSION_MINOR;
        lpData->dwVersionBuild = TW_VERSION_BUILD;
        CopyDescription(lpData->szDescription, sizeof(lpData->szDescription));
    }

    /* A non-zero option word without the network bit only fills in the
       record; everything else starts the network interface once more. */
    if (lpData == NULL || dwOptions == 0 || (dwOptions & INIT_OPTION_NETWORK)) {
        DWORD dwError = StartNetworkInterface();
        if (dwError != 0) {
            UnlockLibrary();
            ImapSetLastError(0x80040000 | dwError);
            return FALSE;
        }
        if (lpData != NULL)
            lpData->dwReserved2 = (DWORD_PTR)GetNetworkStartupRecord();
        InterlockedIncrement(&g_nInitCount);
    }

    UnlockLibrary();
    ImapSetLastError(0);
    return TRUE;
}

extern "C" BOOL WINAPI ImapInitializeW(LPCWSTR lpszReserved, INITDATAW *lpData)
{
    if (lpData != NULL && lpData->dwSize != sizeof(INITDATAW)) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return FALSE;
    }

    INITDATA data;
    if (lpData != NULL) {
        memset(&data, 0, sizeof(data));
        data.dwSize = sizeof(INITDATA);
        data.dwVersionMajor = lpData->dwVersionMajor;
        data.dwVersionMinor = lpData->dwVersionMinor;
        data.dwVersionBuild = lpData->dwVersionBuild;
        data.dwOptions = lpData->dwOptions;
        data.dwReserved1 = lpData->dwReserved1;
        data.dwReserved2 = lpData->dwReserved2;
    }

    /* The reserved string is ignored; it is converted only so that a W
       caller sees the same checks as an A caller. */
    Utf8Arg reserved(lpszReserved);
    BOOL bResult = ImapInitializeA(reserved.get(), lpData != NULL ? &data : NULL);

    if (lpData != NULL) {
        DWORD dwError = ImapGetLastError();
        lpData->dwVersionMajor = data.dwVersionMajor;
        lpData->dwVersionMinor = data.dwVersionMinor;
        lpData->dwVersionBuild = data.dwVersionBuild;
        lpData->dwOptions = data.dwOptions;
        lpData->dwReserved1 = data.dwReserved1;
        lpData->dwReserved2 = data.dwReserved2;
        int cchDesc = (int)(sizeof(lpData->szDescription) / sizeof(WCHAR));
        if (CopyUtf8ToWide(lpData->szDescription, cchDesc, data.szDescription,
                           (int)strlen(data.szDescription)) < 0)
            lpData->szDescription[0] = 0;
        ImapSetLastError(dwError);
    }
    return bResult;
}

extern "C" VOID WINAPI ImapUninitialize(void)
{
    LockLibrary();
    if (AtomicRead(&g_nInitCount) > 0 && InterlockedDecrement(&g_nInitCount) == 0) {
        /* The connections are simply closed: no LOGOUT is sent. */
        ReleaseAllSessions();
        ReleaseNetworkInterface();
    }
    UnlockLibrary();
    if (GetLibraryModule() == NULL)
        DetachLibrary();
}

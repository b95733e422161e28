/*
 * errors.cpp - the last error (per thread, with a process-wide copy) and the
 * error texts of the library's message table.
 */
#include "frame/frame.h"
#include "net/netiface.h"

#include <string.h>

/* The last store by any thread; read only when no thread slot exists. */
static LONG volatile g_dwLastError;

/* Texts are looked up in the library's table first, then the system's. */
#define ERROR_TEXT_FLAGS (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS)
#define ERROR_TEXT_SCRATCH 512
/* FormatMessage refuses large output buffers (Wine from 32 KB on, Windows
   from 64 KB); no text comes near either. */
#define ERROR_TEXT_MAX_BUFFER 0x7FFF

extern "C" VOID WINAPI ImapSetLastError(DWORD dwError)
{
    if (dwError >= 1 && dwError <= 0xFFFF)
        dwError |= 0x80040000;
    DWORD dwSlot = GetErrorSlot();
    if (dwSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(dwSlot, (LPVOID)(DWORD_PTR)dwError);
    InterlockedExchange(&g_dwLastError, (LONG)dwError);
    SetLastError(dwError);
}

extern "C" DWORD WINAPI ImapGetLastError(void)
{
    DWORD dwSlot = GetErrorSlot();
    if (dwSlot == TLS_OUT_OF_INDEXES)
        return (DWORD)AtomicRead(&g_dwLastError);
    /* TlsGetValue clears the system's last error; keep it as it was. */
    DWORD dwSystem = GetLastError();
    DWORD dwError = (DWORD)(DWORD_PTR)TlsGetValue(dwSlot);
    SetLastError(dwSystem);
    return dwError;
}

DWORD FoldSocketError(void)
{
    DWORD dwError = (DWORD)GetSocketError();
    if (dwError == 0)
        return 0;
    dwError |= 0x80040000;
    ImapSetLastError(dwError);
    return dwError;
}

extern "C" int WINAPI ImapGetErrorStringA(DWORD dwError, LPSTR lpszError, int nMaxLength)
{
    char szScratch[ERROR_TEXT_SCRATCH];
    if (lpszError == NULL) {
        lpszError = szScratch;
        nMaxLength = ERROR_TEXT_SCRATCH;
    } else if (nMaxLength > 0) {
        lpszError[0] = '\0';
    }
    if (nMaxLength <= 0)
        return 0;

    if (dwError == 0) {
        dwError = ImapGetLastError();
        if (dwError == 0)
            return 0;
    }

    /* Looking a text up never changes the caller's last error. */
    DWORD dwSystem = GetLastError();
    DWORD cbBuffer = nMaxLength < ERROR_TEXT_MAX_BUFFER ? (DWORD)nMaxLength : ERROR_TEXT_MAX_BUFFER;
    DWORD cch = FormatMessageA(ERROR_TEXT_FLAGS, GetLibraryModule(), dwError, 0x400,
                               lpszError, cbBuffer, NULL);
    SetLastError(dwSystem);
    if (cch == 0 || cch >= cbBuffer) {
        lpszError[0] = '\0';
        return 0;
    }
    while (cch > 0 && (lpszError[cch - 1] == '\r' || lpszError[cch - 1] == '\n' || lpszError[cch - 1] == ' '))
        lpszError[--cch] = '\0';
    return (int)cch;
}

extern "C" int WINAPI ImapGetErrorStringW(DWORD dwError, LPWSTR lpszError, int nMaxLength)
{
    if (lpszError == NULL)
        return ImapGetErrorStringA(dwError, NULL, 0);
    if (nMaxLength <= 0)
        return 0;
    lpszError[0] = 0;

    ScratchBuffer text((SIZE_T)nMaxLength + 1);
    if (text.data() == NULL)
        return 0;
    int nLength = ImapGetErrorStringA(dwError, text.data(), nMaxLength + 1);
    if (nLength <= 0)
        return nLength;
    int cch = CopyUtf8ToWide(lpszError, nMaxLength, text.data(), nLength);
    return cch < 0 ? 0 : cch;
}

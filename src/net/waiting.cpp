/*
 * waiting.cpp - waits on a session's socket, cancellation, and the exports
 * that report and set the session's waiting state.
 */
#include "net/waiting.h"
#include "net/netiface.h"
#include "frame/frame.h"

/* Milliseconds of a session time-out, 0 meaning no limit. */
static DWORD TimeoutMilliseconds(LONG nTimeout)
{
    return nTimeout > 0 ? (DWORD)nTimeout * 1000 : 0;
}

/* One select on the socket in the sets that nWait and bExcept ask for. */
static int SelectOnce(SOCKET s, SOCKETWAIT nWait, fd_set *lpExcept, DWORD dwMilliseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    if (lpExcept != NULL) {
        FD_ZERO(lpExcept);
        FD_SET(s, lpExcept);
    }
    struct timeval tv;
    tv.tv_sec = (LONG)(dwMilliseconds / 1000);
    tv.tv_usec = (LONG)(dwMilliseconds % 1000) * 1000;
    return SocketSelect(64, nWait == WAIT_READ ? &set : NULL, nWait == WAIT_WRITE ? &set : NULL, lpExcept, &tv);
}

/* Waits in slices until ready, failed, timed out (dwTotal ms; 0 = never)
   or cancelled. */
static int SlicedWait(CLIENTSESSION *lpSession, SOCKETWAIT nWait, fd_set *lpExcept, DWORD dwTotal)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        DWORD dwSlice = WAIT_SLICE_MS;
        if (dwTotal != 0) {
            DWORD dwElapsed = GetTickCount() - dwStart;
            if (dwElapsed >= dwTotal)
                return 0;
            if (dwTotal - dwElapsed < dwSlice)
                dwSlice = dwTotal - dwElapsed;
        }
        int nResult = SelectOnce(lpSession->hSocket, nWait, lpExcept, dwSlice);
        if (nResult != 0)
            return nResult;
        if (AtomicRead(&lpSession->bCanceled))
            return 0;
    }
}

int WaitForSocket(CLIENTSESSION *lpSession, SOCKETWAIT nWait)
{
    return SlicedWait(lpSession, nWait, NULL, TimeoutMilliseconds(lpSession->nTimeout));
}

DWORD TakeWriteWaitError(CLIENTSESSION *lpSession, int nWait, UINT *lpnEvent)
{
    DWORD dwError = 0;
    *lpnEvent = 0;
    if (InterlockedExchange(&lpSession->bCanceled, 0)) {
        dwError = TW_ERROR_OPERATION_CANCELED;
        *lpnEvent = IMAP_EVENT_CANCEL;
    } else if (nWait == 0) {
        dwError = TW_ERROR_OPERATION_TIMEOUT;
        *lpnEvent = IMAP_EVENT_TIMEOUT;
    } else if (nWait < 0) {
        dwError = GetSocketError();
        if (dwError != 0 && dwError <= 0xFFFF)
            dwError |= 0x80040000;
    }
    return dwError;
}

int WaitForConnect(CLIENTSESSION *lpSession)
{
    LONG nTimeout = lpSession->nTimeout != 0 ? lpSession->nTimeout : IMAP_TIMEOUT;
    fd_set except;
    int nResult = SlicedWait(lpSession, WAIT_WRITE, &except, TimeoutMilliseconds(nTimeout));
    if (nResult == 0) {
        if (InterlockedExchange(&lpSession->bCanceled, 0)) {
            ImapSetLastError(TW_ERROR_OPERATION_CANCELED);
            return -1;
        }
        ImapSetLastError(TW_ERROR_OPERATION_TIMEOUT);
        return -1;
    }
    if (nResult < 0) {
        FoldSocketError();
        return -1;
    }
    if (IsSocketInSet(&except, lpSession->hSocket)) {
        int nPending = 0;
        int cb = sizeof(nPending);
        SocketPendingError(lpSession->hSocket, (char *)&nPending, &cb);
        if (nPending == 0)
            nPending = WSAECONNREFUSED;
        ImapSetLastError((DWORD)nPending);
        return -1;
    }
    return 0;
}

BOOL IsSocketInSet(const fd_set *lpSet, SOCKET s)
{
    if (lpSet == NULL)
        return FALSE;
    for (int i = (int)lpSet->fd_count - 1; i >= 0; i--)
        if (lpSet->fd_array[i] == s)
            return TRUE;
    return FALSE;
}

BOOL PumpMessages(void)
{
#if defined(_WIN32)
    /* Only a thread with an active window has messages to pump. On Linux
       the platform layer has no windows yet, so there it only yields. */
    if (GetActiveWindow() != NULL) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)) {
            if (GetMessageA(&msg, NULL, 0, 0) == 0) {
                PostQuitMessage((int)msg.wParam);
                return FALSE;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
#endif
    Sleep(0);
    return TRUE;
}

extern "C" BOOL WINAPI ImapIsBlocking(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession == NULL)
        return FALSE;
    return AtomicRead(&lpSession->bBlocking) != 0;
}

extern "C" BOOL WINAPI ImapIsConnected(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return FALSE;
    return lpSession->bConnected;
}

/* ImapIsReadable and ImapIsWritable: one select on the socket alone. */
static BOOL PollSocket(HCLIENT hClient, int nTimeout, SOCKETWAIT nWait, DWORD *lpdwAvail)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return FALSE;
    if (lpdwAvail != NULL)
        *lpdwAvail = 0;
    if (AtomicRead(&lpSession->bBlocking)) {
        ImapSetLastError(TW_ERROR_OPERATION_IN_PROGRESS);
        return FALSE;
    }
    DWORD dwMilliseconds = (DWORD)nTimeout;
    /* A zero read time-out waits a quarter of a second; a write polls. */
    if (dwMilliseconds == 0 && nWait == WAIT_READ)
        dwMilliseconds = 250;
    if (SelectOnce(lpSession->hSocket, nWait, NULL, dwMilliseconds) != 1) {
        Sleep(1);
        return FALSE;
    }
    if (lpdwAvail != NULL && lpSession->bConnected) {
        u_long nAvail = 0;
        SocketIoctl(lpSession->hSocket, FIONREAD, &nAvail);
        *lpdwAvail = (DWORD)nAvail;
    }
    return TRUE;
}

extern "C" BOOL WINAPI ImapIsReadable(HCLIENT hClient, INT nTimeout, LPDWORD lpdwAvail)
{
    return PollSocket(hClient, nTimeout, WAIT_READ, lpdwAvail);
}

extern "C" BOOL WINAPI ImapIsWritable(HCLIENT hClient, INT nTimeout)
{
    return PollSocket(hClient, nTimeout, WAIT_WRITE, NULL);
}

extern "C" INT WINAPI ImapGetTimeout(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    return lpSession->nTimeout;
}

extern "C" INT WINAPI ImapSetTimeout(HCLIENT hClient, INT nTimeout)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (nTimeout < 0) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    lpSession->nTimeout = nTimeout < SESSION_MAX_TIMEOUT ? nTimeout : SESSION_MAX_TIMEOUT;
    return 0;
}

extern "C" INT WINAPI ImapCancel(HCLIENT hClient)
{
    if (hClient == INVALID_CLIENT) {
        ImapSetLastError(TW_ERROR_OPERATION_NOT_BLOCKING);
        return IMAP_ERROR;
    }
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    AtomicWrite(&lpSession->bCanceled, 1);
    return 0;
}

extern "C" INT WINAPI ImapGetStatus(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    return AtomicRead(&lpSession->nStatus);
}

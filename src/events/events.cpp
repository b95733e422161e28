/*
 * events.cpp - event delivery to registered callbacks, freezing, and the
 * session side of the notification window.
 */
#include "events/events.h"
#include "frame/frame.h"
#include "net/netiface.h"

/* The callback slot of an event: the position of its highest set bit. */
static int EventSlot(UINT nEventId)
{
    int nSlot = 0;
    for (int i = 0; i < SESSION_EVENT_SLOTS; i++)
        if (nEventId & (1u << i))
            nSlot = i;
    return nSlot;
}

LRESULT RaiseEvent(HCLIENT hClient, UINT nEventId, DWORD dwError)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    DWORD dwIdle = (DWORD)AtomicRead(&lpSession->dwIdleThreadId);
    if (lpSession->bEventsFrozen || (lpSession->uEventMask & nEventId) == 0 ||
        (dwIdle != 0 && dwIdle == GetCurrentThreadId()))
        return 0;
    if (dwError != 0 && (dwError >> 16) == 0)
        dwError |= 0x80040000;

    /* Delivery is not re-entrant: events raised inside the handler are
       dropped, and notifications that arrive meanwhile wait. */
    ImapFreezeEvents(hClient, TRUE);
    AtomicWrite(&lpSession->bInEventCallback, 1);
    int nSlot = EventSlot(nEventId);
    if (dwError != 0)
        ImapSetLastError(dwError);
    if (lpSession->lpEventProc[nSlot] != NULL)
        lpSession->lpEventProc[nSlot](hClient, nEventId, dwError, lpSession->dwEventParam[nSlot]);
    LRESULT lResult = 0;

    /* The handler may have released the session. */
    lpSession = FindSession(hClient);
    if (lpSession != NULL) {
        AtomicWrite(&lpSession->bInEventCallback, 0);
        ImapFreezeEvents(hClient, FALSE);
    }
    return lResult;
}

int SetNotifyWindow(HCLIENT hClient, UINT uMsg, HWND hWnd)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    if (AtomicRead(&lpSession->bInEventCallback)) {
        ImapSetLastError(TW_ERROR_OPERATION_IN_PROGRESS);
        return -1;
    }
    if (hWnd != NULL) {
        /* Socket notifications need the window layer. */
        ImapSetLastError(TW_ERROR_NOT_IMPLEMENTED);
        return -1;
    }
    lpSession->hNotifyWnd = NULL;
    if (lpSession->hSocket != INVALID_SOCKET) {
        u_long nBlocking = 0;
        SocketIoctl(lpSession->hSocket, FIONBIO, &nBlocking);
    }
    return 0;
}

int EnableEvents(HCLIENT hClient, HWND hEventWnd, UINT uEventMsg, UINT uEventMask)
{
    if (FindSession(hClient) == NULL)
        return -1;
    if (hEventWnd == NULL)
        return ImapDisableEvents(hClient);
    ImapSetLastError(TW_ERROR_NOT_IMPLEMENTED);
    return -1;
}

extern "C" INT WINAPI ImapDisableEvents(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    for (int i = 0; i < SESSION_EVENT_SLOTS; i++) {
        lpSession->lpEventProc[i] = NULL;
        lpSession->dwEventParam[i] = 0;
    }
    if (lpSession->hNotifyWnd != NULL)
        SetNotifyWindow(hClient, 0, NULL);
    lpSession->hEventWnd = NULL;
    lpSession->uEventMsg = 0;
    lpSession->uEventMask = 0;
    return 0;
}

extern "C" INT WINAPI ImapFreezeEvents(HCLIENT hClient, BOOL bFreeze)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    /* Freezing holds back socket notifications; without them there is
       nothing to hold. */
    if (lpSession->hNotifyWnd == NULL || lpSession->hSocket == INVALID_SOCKET) {
        lpSession->bEventsFrozen = FALSE;
        return 0;
    }
    if (AtomicRead(&lpSession->bInEventCallback))
        return 0;
    lpSession->bEventsFrozen = bFreeze;
    return 0;
}

extern "C" INT WINAPI ImapRegisterEvent(HCLIENT hClient, UINT nEventId, IMAPEVENTPROC lpEventProc, DWORD dwParam)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    for (int i = 0; i < SESSION_EVENT_SLOTS; i++) {
        if (nEventId & (1u << i)) {
            lpSession->uEventMask |= nEventId;
            lpSession->lpEventProc[i] = lpEventProc;
            lpSession->dwEventParam[i] = dwParam;
        }
    }
    return 0;
}

int EndIdle(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    /* No session has an idle worker yet: there is nothing to end. */
    return 0;
}

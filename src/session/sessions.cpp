/*
 * sessions.cpp - the session table: handle numbering, creation and release
 * of records, lookups with the owner-thread test, ImapAttachThread.
 */
#include "session/session.h"
#include "session/heap.h"
#include "frame/frame.h"
#include "net/connection.h"

#include <string.h>

/* Guarded by the library lock. */
static CLIENTSESSION **g_lpSessionTable;
static DWORD g_nTableSize;

/* The record in the slot that hClient names, or NULL. The handle is
   turned into a slot in unsigned arithmetic, so a handle below the base
   gives a slot far beyond the table. Call with the library lock held. */
static CLIENTSESSION *SlotRecord(HCLIENT hClient)
{
    DWORD nSlot = (DWORD)hClient - g_dwHandleBase;
    if (g_lpSessionTable == NULL || nSlot >= g_nTableSize)
        return NULL;
    return g_lpSessionTable[nSlot];
}

static bool IsOwner(const CLIENTSESSION *lpSession, DWORD dwThread, bool bIdleCounts)
{
    if (lpSession->dwOptions & IMAP_OPTION_FREETHREAD)
        return true;
    if ((DWORD)AtomicRead((LONG volatile *)&lpSession->dwThreadId) == dwThread)
        return true;
    if (bIdleCounts) {
        DWORD dwIdle = (DWORD)AtomicRead((LONG volatile *)&lpSession->dwIdleThreadId);
        return dwIdle != 0 && dwIdle == dwThread;
    }
    return false;
}

CLIENTSESSION *LookupSession(HCLIENT hClient)
{
    LockLibrary();
    CLIENTSESSION *lpSession = SlotRecord(hClient);
    UnlockLibrary();
    return lpSession;
}

HCLIENT AllocateSession(void)
{
    LockLibrary();
    if (AtomicRead(&g_nInitCount) == 0) {
        UnlockLibrary();
        ImapSetLastError(TW_ERROR_NETWORK_NOT_INITIALIZED);
        return INVALID_CLIENT;
    }

    DWORD nSlot = 0;
    while (nSlot < g_nTableSize && g_lpSessionTable[nSlot] != NULL)
        nSlot++;

    if (nSlot == g_nTableSize) {
        DWORD nNewSize = g_nTableSize + SESSION_TABLE_GROWTH;
        CLIENTSESSION **lpNew = (CLIENTSESSION **)LibraryAlloc(nNewSize * sizeof(CLIENTSESSION *));
        if (lpNew == NULL) {
            UnlockLibrary();
            ImapSetLastError(TW_ERROR_OUT_OF_MEMORY);
            return INVALID_CLIENT;
        }
        if (g_lpSessionTable != NULL)
            memcpy(lpNew, g_lpSessionTable, g_nTableSize * sizeof(CLIENTSESSION *));
        LibraryFree(g_lpSessionTable);
        g_lpSessionTable = lpNew;
        g_nTableSize = nNewSize;
    }

    CLIENTSESSION *lpSession = (CLIENTSESSION *)LibraryAlloc(sizeof(CLIENTSESSION));
    if (lpSession == NULL) {
        UnlockLibrary();
        ImapSetLastError(TW_ERROR_OUT_OF_MEMORY);
        return INVALID_CLIENT;
    }
    g_lpSessionTable[nSlot] = lpSession;
    lpSession->hSocket = INVALID_SOCKET;
    lpSession->nSlot = (LONG)nSlot;
    lpSession->dwThreadId = (LONG)GetCurrentThreadId();
    lpSession->hClient = (HCLIENT)(g_dwHandleBase + nSlot);
    lpSession->nTimeout = IMAP_TIMEOUT;
    /* A session without TLS buffers still works in clear; TLS refuses to
       start without them. */
    lpSession->lpRecordBuffer = (LPBYTE)SessionAlloc(lpSession->hClient, SESSION_TLS_BUFFER_SIZE);
    lpSession->lpPlainBuffer = (LPBYTE)SessionAlloc(lpSession->hClient, SESSION_TLS_BUFFER_SIZE);
    HCLIENT hClient = lpSession->hClient;
    UnlockLibrary();
    return hClient;
}

void ReleaseSession(HCLIENT hClient)
{
    DWORD dwError = ImapGetLastError();
    LockLibrary();
    CLIENTSESSION *lpSession = SlotRecord(hClient);
    if (lpSession != NULL && IsOwner(lpSession, GetCurrentThreadId(), false)) {
        AtomicWrite(&lpSession->bInEventCallback, 0);
        if (lpSession->hSocket != INVALID_SOCKET)
            CloseSocket(lpSession->hSocket);
        if (lpSession->hMessageBuffer != NULL)
            GlobalUnlock(lpSession->hMessageBuffer); /* the memory is the caller's */
        DestroySessionHeap(hClient);
        g_lpSessionTable[lpSession->nSlot] = NULL;
        LibraryFree(lpSession);
    }
    UnlockLibrary();
    ImapSetLastError(dwError);
}

CLIENTSESSION *FindSessionAnyThread(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = LookupSession(hClient);
    if (lpSession == NULL)
        ImapSetLastError(TW_ERROR_INVALID_HANDLE);
    return lpSession;
}

CLIENTSESSION *FindSession(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession != NULL && !IsOwner(lpSession, GetCurrentThreadId(), true)) {
        ImapSetLastError(TW_ERROR_NOT_HANDLE_OWNER);
        return NULL;
    }
    return lpSession;
}

CLIENTSESSION *FindSessionBySocket(SOCKET s)
{
    CLIENTSESSION *lpFound = NULL;
    LockLibrary();
    for (DWORD i = 0; i < g_nTableSize && lpFound == NULL; i++) {
        if (g_lpSessionTable[i] != NULL && g_lpSessionTable[i]->hSocket == s)
            lpFound = g_lpSessionTable[i];
    }
    UnlockLibrary();
    if (lpFound == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (!IsOwner(lpFound, GetCurrentThreadId(), false)) {
        ImapSetLastError(TW_ERROR_NOT_HANDLE_OWNER);
        return NULL;
    }
    return lpFound;
}

HCLIENT FindSessionByWindow(HWND hwnd)
{
    HCLIENT hFound = INVALID_CLIENT;
    DWORD dwThread = GetCurrentThreadId();
    LockLibrary();
    for (DWORD i = 0; i < g_nTableSize && hFound == INVALID_CLIENT; i++) {
        CLIENTSESSION *lpSession = g_lpSessionTable[i];
        if (lpSession != NULL && (DWORD)AtomicRead(&lpSession->dwThreadId) == dwThread &&
            lpSession->hNotifyWnd == hwnd)
            hFound = lpSession->hClient;
    }
    UnlockLibrary();
    if (hFound == INVALID_CLIENT)
        ImapSetLastError(TW_ERROR_INVALID_HANDLE);
    return hFound;
}

extern "C" DWORD WINAPI ImapAttachThread(HCLIENT hClient, DWORD dwThreadId)
{
    if (dwThreadId == 0)
        dwThreadId = GetCurrentThreadId();
    LockLibrary();
    CLIENTSESSION *lpSession = SlotRecord(hClient);
    if (lpSession == NULL) {
        UnlockLibrary();
        ImapSetLastError(TW_ERROR_INVALID_HANDLE);
        return (DWORD)-1;
    }
    DWORD dwPrevious = (DWORD)InterlockedExchange(&lpSession->dwThreadId, (LONG)dwThreadId);
    UnlockLibrary();
    ImapSetLastError(0);
    return dwPrevious;
}

void ReleaseAllSessions(void)
{
    LockLibrary();
    DWORD dwThread = GetCurrentThreadId();
    for (DWORD i = 0; i < g_nTableSize; i++) {
        CLIENTSESSION *lpSession = g_lpSessionTable[i];
        if (lpSession == NULL)
            continue;
        AtomicWrite(&lpSession->dwThreadId, (LONG)dwThread);
        ReleaseSession(lpSession->hClient);
    }
    LibraryFree(g_lpSessionTable);
    g_lpSessionTable = NULL;
    g_nTableSize = 0;
    UnlockLibrary();
}

void ForgetSessionTable(void)
{
    g_lpSessionTable = NULL;
    g_nTableSize = 0;
}

DWORD GetSessionTableSize(void)
{
    LockLibrary();
    DWORD n = g_nTableSize;
    UnlockLibrary();
    return n;
}

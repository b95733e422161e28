/*
 * channel.cpp - the raw data channel: ImapRead hands out server data from
 * the session's 8 KB receive buffer (a line at a time, or message data up
 * to the end of the open message), ImapWrite sends caller data, and
 * ImapGetTransferStatus reports the progress of a message transfer.
 */
#include "frame/frame.h"
#include "net/netiface.h"
#include "net/stream.h"
#include "net/waiting.h"
#include "net/channel.h"
#include "events/events.h"

#include <string.h>

/* Fills the empty receive buffer. Returns 1 when bytes arrived, 0 when the
   call ends with what it has copied (a socket error of 0), or -1 with the
   last error set. */
static int RefillReceiveBuffer(HCLIENT hClient, CLIENTSESSION **lplpSession)
{
    CLIENTSESSION *lpSession = *lplpSession;
    if (lpSession->hNotifyWnd == NULL) {
        AtomicWrite(&lpSession->bBlocking, 1);
        AtomicWrite(&lpSession->nStatus, IMAP_STATUS_READ);
        int nWait = WaitForSocket(lpSession, WAIT_READ);
        lpSession = *lplpSession = FindSession(hClient);
        if (lpSession == NULL)
            return -1;
        AtomicWrite(&lpSession->bBlocking, 0);
        AtomicWrite(&lpSession->nStatus, IMAP_STATUS_IDLE);
        if (InterlockedExchange(&lpSession->bCanceled, 0)) {
            RaiseEvent(hClient, IMAP_EVENT_CANCEL, TW_ERROR_OPERATION_CANCELED);
            ImapSetLastError(TW_ERROR_OPERATION_CANCELED);
            return -1;
        }
        if (nWait < 0)
            return FoldSocketError() != 0 ? -1 : 0;
        if (nWait == 0) {
            ImapSetLastError(TW_ERROR_OPERATION_TIMEOUT);
            return -1;
        }
    }

    /* A socket driven by window notifications is non-blocking: poll it
       every 100 ms until the time-out, unless message data is expected. */
    DWORD dwStart = GetTickCount();
    int nReceived;
    for (;;) {
        nReceived = SessionReceive(lpSession, (char *)lpSession->rgbReceive, SESSION_RECEIVE_SIZE);
        if (nReceived != SOCKET_ERROR || lpSession->bMessageOpen || GetSocketError() != WSAEWOULDBLOCK)
            break;
        Sleep(100);
        if (GetTickCount() - dwStart >= (DWORD)lpSession->nTimeout * 1000) {
            SetSocketTimedOut();
            break;
        }
    }
    lpSession = *lplpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    if (nReceived == SOCKET_ERROR)
        return FoldSocketError() != 0 ? -1 : 0;
    if (nReceived == 0) {
        lpSession->bClosed = TRUE;
        ImapSetLastError(TW_ERROR_CONNECTION_CLOSED);
        return -1;
    }
    lpSession->cbReceived = nReceived;
    lpSession->nReceivePos = 0;
    return 1;
}

int ReceiveData(HCLIENT hClient, LPBYTE lpBuffer, int cbBuffer, BOOL bStopAtLineEnd)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    if (lpSession->cbReceived == 0 && lpSession->bClosed) {
        ImapSetLastError(TW_ERROR_CONNECTION_CLOSED);
        return -1;
    }
    int cbCopied = 0;
    while (cbCopied < cbBuffer) {
        if (lpSession->cbReceived == 0) {
            int nRefill = RefillReceiveBuffer(hClient, &lpSession);
            if (nRefill == 0)
                break;
            if (nRefill < 0) {
                /* Bytes already handed over in this call are the caller's:
                   a closed connection is reported by the next call. */
                if (cbCopied > 0 && lpSession != NULL && lpSession->bClosed)
                    break;
                return -1;
            }
        }
        /* Copy in bulk up to the end of the line or of the caller's room. */
        const BYTE *lpStart = lpSession->rgbReceive + lpSession->nReceivePos;
        int cb = lpSession->cbReceived;
        if (cb > cbBuffer - cbCopied)
            cb = cbBuffer - cbCopied;
        bool bStop = false;
        if (bStopAtLineEnd) {
            const BYTE *lpEnd = (const BYTE *)memchr(lpStart, '\n', (size_t)cb);
            if (lpEnd != NULL) {
                cb = (int)(lpEnd - lpStart) + 1;
                bStop = true;
            }
        }
        memcpy(lpBuffer + cbCopied, lpStart, (size_t)cb);
        cbCopied += cb;
        lpSession->nReceivePos += cb;
        lpSession->cbReceived -= cb;
        if (bStop)
            break;
    }
    return cbCopied;
}

extern "C" INT WINAPI ImapRead(HCLIENT hClient, LPBYTE lpBuffer, INT cbBuffer)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpBuffer == NULL || cbBuffer <= 0) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    if (lpSession->cbReceived == 0 && lpSession->bClosed) {
        ImapSetLastError(TW_ERROR_CONNECTION_CLOSED);
        return IMAP_ERROR;
    }
    if (!lpSession->bMessageOpen)
        return ReceiveData(hClient, lpBuffer, cbBuffer, TRUE);

    /* An open message: hand out its data, never more than it has left;
       once it is all delivered, read the command's completion. */
    DWORD dwLeft = (DWORD)lpSession->dwMessageLength - (DWORD)lpSession->dwMessageRead;
    if (dwLeft == 0) {
        int nResult = ImapGetResultCode(hClient);
        lpSession = FindSession(hClient);
        if (lpSession != NULL)
            lpSession->bMessageOpen = FALSE;
        if (nResult == -1 || nResult == IMAP_RESULT_NO || nResult == IMAP_RESULT_BAD)
            return IMAP_ERROR;
        ImapSetLastError(TW_ERROR_END_OF_MESSAGE_DATA);
        return 0;
    }
    int cb = (DWORD)cbBuffer < dwLeft ? cbBuffer : (int)dwLeft;
    int n = ReceiveData(hClient, lpBuffer, cb, FALSE);
    lpSession = FindSession(hClient);
    if (n > 0 && lpSession != NULL)
        InterlockedExchangeAdd(&lpSession->dwMessageRead, n);
    return n;
}

extern "C" INT WINAPI ImapWrite(HCLIENT hClient, LPCBYTE lpBuffer, INT cbBuffer)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpSession->bCommandPending) {
        ImapSetLastError(TW_ERROR_OPERATION_IN_PROGRESS);
        return IMAP_ERROR;
    }
    if (lpBuffer == NULL || cbBuffer <= 0) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }

    AtomicWrite(&lpSession->bBlocking, 1);
    AtomicWrite(&lpSession->nStatus, IMAP_STATUS_WRITE);
    if (lpSession->hNotifyWnd == NULL) {
        int nWait = WaitForSocket(lpSession, WAIT_WRITE);
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            return IMAP_ERROR;
        UINT nEvent;
        DWORD dwError = TakeWriteWaitError(lpSession, nWait, &nEvent);
        if (dwError != 0 || nWait <= 0) {
            AtomicWrite(&lpSession->bBlocking, 0);
            AtomicWrite(&lpSession->nStatus, IMAP_STATUS_IDLE);
            ImapSetLastError(dwError);
            if (nEvent != 0)
                RaiseEvent(hClient, nEvent, dwError);
            return IMAP_ERROR;
        }
    }

    int nSent = SessionSend(lpSession, (const char *)lpBuffer, cbBuffer);
    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    AtomicWrite(&lpSession->bBlocking, 0);
    AtomicWrite(&lpSession->nStatus, IMAP_STATUS_IDLE);
    if (nSent == SOCKET_ERROR) {
        ImapSetLastError(GetSocketError());
        return IMAP_ERROR;
    }
    return nSent;
}

extern "C" INT WINAPI ImapGetTransferStatus(HCLIENT hClient, LPIMAPTRANSFERSTATUS lpStatus)
{
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpStatus == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    memset(lpStatus, 0, sizeof(*lpStatus));
    lpStatus->nMessageId = AtomicRead(&lpSession->bUploading) ? 0 : lpSession->nOpenMessageId;
    lpStatus->dwBytesTotal = (DWORD)AtomicRead(&lpSession->dwMessageLength);
    lpStatus->dwBytesCopied = (DWORD)AtomicRead(&lpSession->dwMessageRead);
    if (lpStatus->dwBytesCopied > lpStatus->dwBytesTotal)
        lpStatus->dwBytesTotal = lpStatus->dwBytesCopied;

    DWORD dwStart = (DWORD)AtomicRead(&lpSession->dwTransferStart);
    if (dwStart == 0)
        return 1;
    DWORD dwEnd = (DWORD)AtomicRead(&lpSession->dwTransferEnd);
    DWORD dwElapsed = (dwEnd != 0 ? dwEnd : GetTickCount()) - dwStart;
    lpStatus->dwTimeElapsed = dwElapsed / 1000;
    if (lpStatus->dwTimeElapsed == 0)
        return 0;
    lpStatus->dwBytesPerSecond = lpStatus->dwBytesCopied / lpStatus->dwTimeElapsed;
    if (lpStatus->dwBytesCopied != 0 && lpStatus->dwBytesPerSecond != 0)
        lpStatus->dwTimeEstimated = (lpStatus->dwBytesTotal - lpStatus->dwBytesCopied) / lpStatus->dwBytesPerSecond;
    else
        lpStatus->dwTimeEstimated = 3600;
    return 0;
}

/*
 * socket.cpp - opening, connecting and closing a session's TCP socket.
 *
 * The connect is non-blocking with one select wait bounded by the session's
 * time-out, so an unreachable server costs at most that long; the wait is
 * taken in short slices so that a cancel from another thread ends it.
 */
#include "net/connection.h"
#include "net/waiting.h"
#include "frame/frame.h"
#include "events/events.h"

#include <string.h>

/* Buffer sizes given to every socket. */
#define SOCKET_BUFFER_SIZE 65535
#ifndef IPV6_PROTECTION_LEVEL
#define IPV6_PROTECTION_LEVEL 23
#endif
#ifndef PROTECTION_LEVEL_UNRESTRICTED
#define PROTECTION_LEVEL_UNRESTRICTED 10
#endif

SOCKET OpenSocket(int nFamily)
{
    if (g_SocketInterface.socket == NULL || g_SocketInterface.setsockopt == NULL) {
        SetSocketError(WSANOTINITIALISED);
        return INVALID_SOCKET;
    }
    const OSVERSIONINFOA *lpVersion = GetSystemVersion();
    if (nFamily == AF_INET6 && lpVersion->dwMajorVersion == 5 && lpVersion->dwMinorVersion == 0) {
        SetSocketError(WSAEAFNOSUPPORT);
        TraceSocketCreated(INVALID_SOCKET, nFamily, SOCK_STREAM, IPPROTO_TCP);
        return INVALID_SOCKET;
    }
    SOCKET s = g_SocketInterface.socket(nFamily, SOCK_STREAM, IPPROTO_TCP);
    TraceSocketCreated(s, nFamily, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    /* The results of these calls do not matter: defaults are fine too. */
    int nValue;
    if (nFamily == AF_INET6) {
        nValue = PROTECTION_LEVEL_UNRESTRICTED;
        g_SocketInterface.setsockopt(s, IPPROTO_IPV6, IPV6_PROTECTION_LEVEL, (const char *)&nValue, sizeof(nValue));
    }
    nValue = SOCKET_BUFFER_SIZE;
    g_SocketInterface.setsockopt(s, SOL_SOCKET, SO_RCVBUF, (const char *)&nValue, sizeof(nValue));
    g_SocketInterface.setsockopt(s, SOL_SOCKET, SO_SNDBUF, (const char *)&nValue, sizeof(nValue));
    return s;
}

int CloseSocket(SOCKET s)
{
    if (g_SocketInterface.closesocket == NULL) {
        SetSocketError(WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    if (g_SocketInterface.getsockopt != NULL) {
        int nListening = 0;
        int cb = sizeof(nListening);
        if (g_SocketInterface.getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, (char *)&nListening, &cb) == 0 &&
            nListening == 0 && g_SocketInterface.shutdown != NULL)
            g_SocketInterface.shutdown(s, SD_SEND);
    }
    int nResult = g_SocketInterface.closesocket(s);
    TraceSocketClosed(nResult, s);
    return nResult;
}

void CopyHostName(char *lpszOut, const char *lpszHostName)
{
    strncpy(lpszOut, lpszHostName, HOSTNAME_MAX_LENGTH);
    lpszOut[HOSTNAME_MAX_LENGTH] = '\0';
}

BOOL OpenConnection(HCLIENT hClient, HWND hEventWnd, UINT uNotifyMsg, UINT uEventMsg)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return FALSE;

    int nFamily = (lpSession->dwOptions & IMAP_OPTION_IPV6ONLY) ? AF_INET6 : AF_UNSPEC;
    if (ResolveInternetAddress(nFamily, &lpSession->ipRemoteAddress, lpSession->szHostName) < 0) {
        ImapSetLastError(TW_ERROR_INVALID_HOSTNAME);
        return FALSE;
    }
    BYTE rgbAddress[SOCKADDR_BUFFER_SIZE];
    int cbAddress = 0;
    nFamily = BuildSocketAddress(rgbAddress, &cbAddress, &lpSession->ipRemoteAddress, lpSession->nRemotePort);
    if (nFamily == 0)
        return FALSE;

    lpSession->hSocket = OpenSocket(nFamily);
    if (lpSession->hSocket == INVALID_SOCKET) {
        ImapSetLastError(GetSocketError());
        return FALSE;
    }

    if (SetNotifyWindow(hClient, uNotifyMsg, hEventWnd) != 0 || EnableEvents(hClient, hEventWnd, uEventMsg, ~0u) != 0)
        return FALSE;
    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return FALSE;
    if (hEventWnd == NULL) {
        u_long nNonBlocking = 1;
        SocketIoctl(lpSession->hSocket, FIONBIO, &nNonBlocking);
    }
    AtomicWrite(&lpSession->bBlocking, 1);
    lpSession->bCommandPending = TRUE; /* the greeting is awaited like a completion */
    AtomicWrite(&lpSession->nStatus, IMAP_STATUS_CONNECT);

    if (SocketConnect(lpSession->hSocket, (const struct sockaddr *)rgbAddress, cbAddress) != 0) {
        if (GetSocketError() != WSAEWOULDBLOCK) {
            FoldSocketError();
            return FALSE;
        }
        if (hEventWnd != NULL) {
            /* The connection completes through its notification. */
            AtomicWrite(&lpSession->bBlocking, 0);
            return TRUE;
        }
        int nResult = WaitForConnect(lpSession);
        if (nResult < 0)
            return FALSE;
    }

    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return FALSE;
    if (hEventWnd == NULL) {
        u_long nNonBlocking = 0;
        SocketIoctl(lpSession->hSocket, FIONBIO, &nNonBlocking);
    }
    AtomicWrite(&lpSession->bBlocking, 0);
    return TRUE;
}

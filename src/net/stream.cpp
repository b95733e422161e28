/*
 * stream.cpp - the session stream: socket today, with room for the TLS
 * record layer beneath the same two calls.
 */
#include "net/stream.h"
#include "net/netiface.h"

static const STREAMFILTER *volatile g_lpFilter;

void SetStreamFilter(const STREAMFILTER *lpFilter)
{
    g_lpFilter = lpFilter;
}

static int TransportReceive(CLIENTSESSION *lpSession, char *lpBuffer, int cbBuffer)
{
    return SocketRecv(lpSession->hSocket, lpBuffer, cbBuffer);
}

static int TransportSend(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer)
{
    return SocketSend(lpSession->hSocket, lpBuffer, cbBuffer);
}

int SessionReceive(CLIENTSESSION *lpSession, char *lpBuffer, int cbBuffer)
{
    const STREAMFILTER *lpFilter = g_lpFilter;
    if (lpFilter != NULL && lpFilter->lpfnRecv != NULL)
        return lpFilter->lpfnRecv(lpSession, lpBuffer, cbBuffer, TransportReceive);
    return TransportReceive(lpSession, lpBuffer, cbBuffer);
}

int SessionSend(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer)
{
    const STREAMFILTER *lpFilter = g_lpFilter;
    if (lpFilter != NULL && lpFilter->lpfnSend != NULL)
        return lpFilter->lpfnSend(lpSession, lpBuffer, cbBuffer, TransportSend);
    return TransportSend(lpSession, lpBuffer, cbBuffer);
}

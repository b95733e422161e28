/*
 * connect.cpp - the connection sequence (resolve, connect, greeting,
 * CAPABILITY, and ID from RFC 2971 on request) and the disconnect.
 */
#include "protocol/engine.h"
#include "events/events.h"
#include "frame/frame.h"
#include "net/connection.h"
#include "net/waiting.h"

#include <stdio.h>
#include <string.h>

/* The message number under which socket notifications reach a window. */
#define NOTIFY_MESSAGE 9215

/* What the client says of itself with ID. */
#define CLIENT_IDENTIFICATION "(\"name\" \"Tidewire\" \"version\" \"%d.%d\" \"vendor\" \"Marrowby\")"

/* Fails a connection attempt: the session goes, the error stays. */
static HCLIENT FailConnection(HCLIENT hClient, DWORD dwError)
{
    if (dwError != 0)
        ImapSetLastError(dwError);
    ReleaseSession(hClient);
    return INVALID_CLIENT;
}

extern "C" HCLIENT WINAPI ImapAsyncConnectA(LPCSTR lpszHostName, INT nRemotePort, INT nTimeout, DWORD dwOptions,
                                           SECURITYCREDENTIALS *lpCredentials, HWND hEventWnd, UINT uEventMsg)
{
    char szHostName[HOSTNAME_BUFFER_SIZE];
    if (NormalizeHostName(lpszHostName, szHostName) == NULL || szHostName[0] == '\0') {
        ImapSetLastError(TW_ERROR_INVALID_HOSTNAME);
        return INVALID_CLIENT;
    }
    /* A port beyond 16 bits would connect to another port, and a time-out
       below zero means nothing. */
    if (nRemotePort < 0 || nRemotePort > 0xFFFF || nTimeout < 0) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return INVALID_CLIENT;
    }
    if ((dwOptions & IMAP_OPTION_IPV6ONLY) && !IsIPv6Available()) {
        ImapSetLastError(TW_ERROR_PROTOCOL_NOT_AVAILABLE);
        return INVALID_CLIENT;
    }
    if (hEventWnd != NULL) {
        /* Completing a connection by window notification needs the window
           layer. */
        ImapSetLastError(TW_ERROR_NOT_IMPLEMENTED);
        return INVALID_CLIENT;
    }

    if (dwOptions & IMAP_OPTION_SECURE_IMPLICIT)
        dwOptions |= IMAP_OPTION_SECURE;
    if (!(dwOptions & IMAP_OPTION_TUNNEL) && nRemotePort == IMAP_PORT_SECURE)
        dwOptions |= IMAP_OPTION_SECURE | IMAP_OPTION_SECURE_IMPLICIT;
    if (dwOptions & IMAP_OPTION_SECURE) {
        /* The TLS layer is not part of this build. */
        ImapSetLastError(TW_ERROR_SECURITY_NOT_INITIALIZED);
        return INVALID_CLIENT;
    }
    if (nRemotePort == 0)
        nRemotePort = IMAP_PORT_DEFAULT;

    HCLIENT hClient = AllocateSession();
    if (hClient == INVALID_CLIENT)
        return INVALID_CLIENT;
    CLIENTSESSION *lpSession = FindSession(hClient);
    lpSession->nTimeout = nTimeout == 0 ? IMAP_TIMEOUT : nTimeout < SESSION_MAX_TIMEOUT ? nTimeout : SESSION_MAX_TIMEOUT;
    lpSession->dwOptions = dwOptions;
    lpSession->nRemotePort = nRemotePort;
    CopyHostName(lpSession->szHostName, szHostName);

    if (!OpenConnection(hClient, hEventWnd, NOTIFY_MESSAGE, uEventMsg))
        return FailConnection(hClient, 0);

    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return INVALID_CLIENT;
    if (lpSession->bCommandPending && ImapGetResultCode(hClient) != IMAP_RESULT_OK)
        return FailConnection(hClient, TW_ERROR_UNEXPECTED_SERVER_RESPONSE);
    if (ImapCommandA(hClient, "CAPABILITY", NULL) == IMAP_ERROR)
        return FailConnection(hClient, TW_ERROR_UNEXPECTED_SERVER_RESPONSE);

    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return INVALID_CLIENT;
    if ((dwOptions & IMAP_OPTION_IDENTIFY) && HasCapability(lpSession->szCapability, "ID")) {
        char szIdentity[128];
        snprintf(szIdentity, sizeof(szIdentity), CLIENT_IDENTIFICATION, TW_VERSION_MAJOR, TW_VERSION_MINOR);
        ImapCommandA(hClient, "ID", szIdentity); /* a refusal does not matter */
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            return INVALID_CLIENT;
    }
    AtomicWrite(&lpSession->nStatus, IMAP_STATUS_IDLE);
    ImapSetLastError(0);
    return hClient;
}

extern "C" HCLIENT WINAPI ImapConnectA(LPCSTR lpszHostName, INT nPort, INT nTimeout, DWORD dwOptions,
                                      SECURITYCREDENTIALS *lpCredentials)
{
    return ImapAsyncConnectA(lpszHostName, nPort, nTimeout, dwOptions, lpCredentials, NULL, 0);
}

extern "C" HCLIENT WINAPI ImapAsyncConnectW(LPCWSTR lpszHostName, INT nRemotePort, INT nTimeout, DWORD dwOptions,
                                           SECURITYCREDENTIALSW *lpCredentials, HWND hEventWnd, UINT uEventMsg)
{
    Utf8Arg host(lpszHostName);
    if (!host.ok()) {
        ImapSetLastError(TW_ERROR_INVALID_HOSTNAME);
        return INVALID_CLIENT;
    }
    /* Credentials are used only by a secure connection, which refuses
       before it would read them in this build. */
    return ImapAsyncConnectA(host.get(), nRemotePort, nTimeout, dwOptions, NULL, hEventWnd, uEventMsg);
}

extern "C" HCLIENT WINAPI ImapConnectW(LPCWSTR lpszHostName, INT nPort, INT nTimeout, DWORD dwOptions,
                                      SECURITYCREDENTIALSW *lpCredentials)
{
    return ImapAsyncConnectW(lpszHostName, nPort, nTimeout, dwOptions, lpCredentials, NULL, 0);
}

extern "C" INT WINAPI ImapDisconnect(HCLIENT hClient)
{
    EndIdle(hClient);
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    AtomicWrite(&lpSession->nStatus, IMAP_STATUS_DISCONNECT);
    /* Whatever the server answers, or if it has gone, the session ends. */
    ImapCommandA(hClient, "LOGOUT", NULL);
    ReleaseSession(hClient);
    return 0;
}

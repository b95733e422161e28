/*
 * login.cpp - authentication: LOGIN, and AUTHENTICATE PLAIN (RFC 4616) and
 * ANONYMOUS (RFC 4505) with an initial response (SASL-IR, RFC 4959); the
 * capability list handed to the application.
 */
#include "protocol/engine.h"
#include "protocol/strings.h"
#include "frame/frame.h"
#include "session/heap.h"

#include <string.h>

#define CREDENTIAL_MAX_LENGTH 64

/* A user name or password that can go into a command line: 1 to 64
   characters, no line end (which would end the command early). */
static bool IsUsableCredential(const char *lpsz)
{
    if (lpsz == NULL)
        return false;
    size_t cch = strlen(lpsz);
    return cch >= 1 && cch <= CREDENTIAL_MAX_LENGTH && strpbrk(lpsz, "\r\n") == NULL;
}

/* The SASL mechanism needs both the initial-response extension and the
   mechanism itself. */
static bool OffersSaslMechanism(const CLIENTSESSION *lpSession, const char *lpszMechanism)
{
    return HasCapability(lpSession->szCapability, "SASL-IR") && HasCapability(lpSession->szCapability, lpszMechanism);
}

extern "C" INT WINAPI ImapLoginA(HCLIENT hClient, INT idAuthType, LPCSTR lpszUserName, LPCSTR lpszPassword)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpSession->bAuthenticated) {
        ImapSetLastError(TW_ERROR_ALREADY_AUTHENTICATED);
        return IMAP_ERROR;
    }
    if (!IsUsableCredential(lpszUserName)) {
        ImapSetLastError(TW_ERROR_INVALID_USERNAME);
        return IMAP_ERROR;
    }
    if (idAuthType != IMAP_AUTH_ANONYMOUS && !IsUsableCredential(lpszPassword)) {
        ImapSetLastError(TW_ERROR_INVALID_PASSWORD);
        return IMAP_ERROR;
    }

    const char *lpszCommand;
    char szArgument[BASE64_BUFFER_SIZE];
    switch (idAuthType) {
    case IMAP_AUTH_LOGIN: {
        char szUser[QUOTED_BUFFER_SIZE], szPassword[QUOTED_BUFFER_SIZE];
        QuoteString(szUser, lpszUserName);
        QuoteString(szPassword, lpszPassword);
        strcpy(szArgument, szUser);
        strcat(szArgument, " ");
        strcat(szArgument, szPassword);
        lpszCommand = "LOGIN";
        break;
    }
    case IMAP_AUTH_PLAIN: {
        if (!OffersSaslMechanism(lpSession, "AUTH=PLAIN")) {
            ImapSetLastError(TW_ERROR_INVALID_AUTHENTICATION_TYPE);
            return IMAP_ERROR;
        }
        /* An empty authorization identity, the user, the password. */
        size_t cbUser = strlen(lpszUserName), cbPassword = strlen(lpszPassword);
        BYTE rgbMessage[2 * CREDENTIAL_MAX_LENGTH + 2];
        rgbMessage[0] = 0;
        memcpy(rgbMessage + 1, lpszUserName, cbUser);
        rgbMessage[1 + cbUser] = 0;
        memcpy(rgbMessage + 2 + cbUser, lpszPassword, cbPassword);
        if (Base64Encode(rgbMessage, szArgument, (int)(cbUser + cbPassword + 2)) < 0)
            return IMAP_ERROR;
        lpszCommand = "AUTHENTICATE PLAIN";
        break;
    }
    case IMAP_AUTH_CRAM_MD5:
    case IMAP_AUTH_NTLM:
        /* Neither mechanism is carried out; an offer of it is reported as
           such. */
        ImapSetLastError(HasCapability(lpSession->szCapability,
                                       idAuthType == IMAP_AUTH_CRAM_MD5 ? "AUTH=CRAM-MD5" : "AUTH=NTLM")
                             ? TW_ERROR_OPTION_NOT_SUPPORTED
                             : TW_ERROR_INVALID_AUTHENTICATION_TYPE);
        return IMAP_ERROR;
    case IMAP_AUTH_ANONYMOUS:
        if (!OffersSaslMechanism(lpSession, "AUTH=ANONYMOUS")) {
            ImapSetLastError(TW_ERROR_INVALID_AUTHENTICATION_TYPE);
            return IMAP_ERROR;
        }
        if (Base64Encode((const BYTE *)lpszUserName, szArgument, (int)strlen(lpszUserName)) < 0)
            return IMAP_ERROR;
        lpszCommand = "AUTHENTICATE ANONYMOUS";
        break;
    default:
        ImapSetLastError(TW_ERROR_INVALID_AUTHENTICATION_TYPE);
        return IMAP_ERROR;
    }

    int nResult = ImapCommandA(hClient, lpszCommand, szArgument);
    memset(szArgument, 0, sizeof(szArgument)); /* the password is in there */
    if (nResult == IMAP_ERROR) {
        ImapSetLastError(TW_ERROR_AUTHENTICATION_FAILED);
        return IMAP_ERROR;
    }
    /* Servers announce more after a login. */
    if (ImapCommandA(hClient, "CAPABILITY", NULL) == IMAP_ERROR) {
        ImapSetLastError(TW_ERROR_UNEXPECTED_SERVER_RESPONSE);
        ReleaseSession(hClient);
        return IMAP_ERROR;
    }
    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    lpSession->bAuthenticated = TRUE;
    ImapSetLastError(0);
    return 1;
}

extern "C" INT WINAPI ImapLoginW(HCLIENT hClient, INT idAuthType, LPCWSTR lpszUserName, LPCWSTR lpszPassword)
{
    Utf8Arg user(lpszUserName), password(lpszPassword);
    if (!user.ok()) {
        ImapSetLastError(TW_ERROR_INVALID_USERNAME);
        return IMAP_ERROR;
    }
    if (!password.ok()) {
        ImapSetLastError(TW_ERROR_INVALID_PASSWORD);
        return IMAP_ERROR;
    }
    return ImapLoginA(hClient, idAuthType, user.get(), password.get());
}

extern "C" INT WINAPI ImapGetCapabilityA(HCLIENT hClient, LPSTR lpszCapability, INT nMaxLength)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpszCapability == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    int cch = (int)strlen(lpSession->szCapability);
    if (cch >= nMaxLength) {
        ImapSetLastError(TW_ERROR_BUFFER_TOO_SMALL);
        return IMAP_ERROR;
    }
    memcpy(lpszCapability, lpSession->szCapability, (size_t)cch + 1);
    ImapSetLastError(0);
    return cch;
}

extern "C" INT WINAPI ImapGetCapabilityW(HCLIENT hClient, LPWSTR lpszCapability, INT nMaxLength)
{
    if (lpszCapability == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    if (nMaxLength <= 0) {
        ImapSetLastError(TW_ERROR_BUFFER_TOO_SMALL);
        return IMAP_ERROR;
    }
    if (nMaxLength > SESSION_CAPABILITY_SIZE)
        nMaxLength = SESSION_CAPABILITY_SIZE;
    char szCapability[SESSION_CAPABILITY_SIZE + 1];
    int nResult = ImapGetCapabilityA(hClient, szCapability, nMaxLength + 1);
    if (nResult >= 0 && CopyUtf8ToWide(lpszCapability, nMaxLength, szCapability, nResult) < 0)
        lpszCapability[0] = 0;
    return nResult;
}

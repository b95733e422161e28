/*
 * command.cpp - tagging, building and sending command lines (RFC 3501
 * section 2.2.1), with literal+ (RFC 7888) allowed inside parameters.
 */
#include "protocol/engine.h"
#include "events/events.h"
#include "frame/frame.h"
#include "net/netiface.h"
#include "net/stream.h"
#include "net/waiting.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

struct COMMANDNAME {
    LONG nId;
    const char *lpszName;
};

/* Searched in this order; the identifiers are the library's own. */
static const COMMANDNAME g_rgCommands[] = {
    {1, "APPEND"},      {2, "AUTHENTICATE"}, {3, "CAPABILITY"}, {4, "CHECK"},      {5, "CLOSE"},
    {6, "COPY"},        {7, "CREATE"},       {9, "DELETE"},     {8, "DONE"},       {10, "EXAMINE"},
    {11, "EXPUNGE"},    {12, "FETCH"},       {13, "GETACL"},    {14, "GETQUOTA"},  {15, "IDLE"},
    {16, "LIST"},       {17, "LISTRIGHTS"},  {18, "LOGIN"},     {19, "LOGOUT"},    {20, "LSUB"},
    {21, "MYRIGHTS"},   {22, "NOOP"},        {23, "RENAME"},    {25, "SEARCH"},    {26, "SELECT"},
    {27, "SETACL"},     {28, "SETQUOTA"},    {24, "SCAN"},      {29, "SORT"},      {30, "STATUS"},
    {31, "STORE"},      {32, "SUBSCRIBE"},   {33, "THREAD"},    {34, "UID"},       {35, "UNSELECT"},
    {36, "UNSUBSCRIBE"},
};

static LONG LookupCommand(const char *lpszCommand)
{
    for (const COMMANDNAME &c : g_rgCommands)
        if (strcasecmp(c.lpszName, lpszCommand) == 0)
            return c.nId;
    return 0;
}

BOOL IsSafeCommandText(const char *lpszText, BOOL bLiteralsAllowed)
{
    if (lpszText == NULL)
        return TRUE;
    size_t cb = strlen(lpszText);
    for (size_t i = 0; i < cb; i++) {
        if (lpszText[i] != '\r' && lpszText[i] != '\n')
            continue;
        /* Only CR LF right after "{n+}", with n bytes following it. */
        if (!bLiteralsAllowed || lpszText[i] != '\r' || i + 1 >= cb || lpszText[i + 1] != '\n' || i < 4 ||
            lpszText[i - 1] != '}' || lpszText[i - 2] != '+')
            return FALSE;
        size_t j = i - 2;
        size_t n = 0, scale = 1;
        bool bDigits = false;
        while (j > 0 && isdigit((unsigned char)lpszText[j - 1])) {
            if (scale > 100000000)
                return FALSE;
            n += (size_t)(lpszText[j - 1] - '0') * scale;
            scale *= 10;
            bDigits = true;
            j--;
        }
        if (!bDigits || j == 0 || lpszText[j - 1] != '{')
            return FALSE;
        size_t nLiteral = i + 2; /* first byte after the line end */
        if (n > cb - nLiteral)
            return FALSE;
        /* The literal's bytes may be anything; scanning resumes after them. */
        i = nLiteral + n - 1;
    }
    return TRUE;
}

BOOL SendAll(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer)
{
    HCLIENT hClient = lpSession->hClient;
    int cbSent = 0;
    while (cbSent < cbBuffer) {
        int n = SessionSend(lpSession, lpBuffer + cbSent, cbBuffer - cbSent);
        if (n > 0) {
            cbSent += n;
            continue;
        }
        if (n == SOCKET_ERROR && GetSocketError() != WSAEWOULDBLOCK) {
            ImapSetLastError(GetSocketError());
            return FALSE;
        }
        /* The socket takes no more for now: wait until it does. */
        int nWait = WaitForSocket(lpSession, WAIT_WRITE);
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            return FALSE;
        UINT nEvent;
        DWORD dwError = TakeWriteWaitError(lpSession, nWait, &nEvent);
        if (dwError != 0 || nWait <= 0) {
            ImapSetLastError(dwError);
            if (nEvent != 0)
                RaiseEvent(hClient, nEvent, dwError);
            return FALSE;
        }
    }
    return TRUE;
}

extern "C" INT WINAPI ImapCommandA(HCLIENT hClient, LPCSTR lpszCommand, LPCSTR lpszParam)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpSession->bCommandPending) {
        ImapSetLastError(TW_ERROR_OPERATION_IN_PROGRESS);
        return IMAP_ERROR;
    }
    if (lpszCommand == NULL || lpszCommand[0] == '\0') {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    if (lpSession->dwIdleThreadId != 0 && EndIdle(hClient) == -1)
        return IMAP_ERROR;

    size_t cchCommand = strlen(lpszCommand);
    size_t cchParam = lpszParam != NULL ? strlen(lpszParam) : 0;
    if (cchCommand + cchParam > COMMAND_MAX_TEXT) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    /* A line end in the text would end the command early and let the rest
       through as further commands. */
    if (!IsSafeCommandText(lpszCommand, FALSE) || !IsSafeCommandText(lpszParam, TRUE)) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }

    if (lpSession->nCommandTag >= COMMAND_TAG_LIMIT)
        lpSession->nCommandTag = 0;
    lpSession->nCommandTag++;
    lpSession->nCommandId = LookupCommand(lpszCommand);

    if (cchParam > 0)
        snprintf(lpSession->szCommandLine, sizeof(lpSession->szCommandLine), "A%04u %s %s\r\n",
                 (unsigned)lpSession->nCommandTag, lpszCommand, lpszParam);
    else
        snprintf(lpSession->szCommandLine, sizeof(lpSession->szCommandLine), "A%04u %s\r\n",
                 (unsigned)lpSession->nCommandTag, lpszCommand);

    if (!SendAll(lpSession, lpSession->szCommandLine, (int)strlen(lpSession->szCommandLine)))
        return IMAP_ERROR;
    lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    lpSession->bCommandPending = TRUE;
    if (lpSession->bStreamResponses)
        return 0;

    int nResult = ImapGetResultCode(hClient);
    if (nResult == -1 || nResult == IMAP_RESULT_NO || nResult == IMAP_RESULT_BAD)
        return IMAP_ERROR;
    return nResult;
}

extern "C" INT WINAPI ImapCommandW(HCLIENT hClient, LPCWSTR lpszCommand, LPCWSTR lpszParam)
{
    Utf8Arg command(lpszCommand), param(lpszParam);
    if (!command.ok() || !param.ok()) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    return ImapCommandA(hClient, command.get(), param.get());
}

/*
 * reader.cpp - reading and classifying server responses (RFC 3501 section
 * 7): untagged data, continuation requests and tagged completions, the
 * response codes a selection carries, and the capability list.
 */
#include "protocol/engine.h"
#include "events/events.h"
#include "frame/frame.h"
#include "message/flags.h"
#include "net/channel.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

/* A response line as read: at most the receive buffer's size. */
#define RESPONSE_LINE_SIZE SESSION_RECEIVE_SIZE
#define RESPONSE_CODE_NAME_MAX 127
#define RESPONSE_CODE_ARG_MAX (SESSION_RESULT_SIZE - 1)
/* The literal a response announces is skipped in pieces of this size. */
#define LITERAL_CHUNK 8192

struct RESPONSEKEYWORD {
    LONG nId;
    const char *lpszKeyword;
};

static const RESPONSEKEYWORD g_rgKeywords[] = {
    {1, "OK"},      {2, "NO"},      {3, "BAD"},    {7, "CAPABILITY"}, {5, "ACL"},      {6, "BYE"},
    {8, "EXISTS"},  {9, "EXPUNGE"}, {10, "FETCH"}, {11, "FLAGS"},     {12, "LIST"},    {13, "LSUB"},
    {14, "PREAUTH"}, {15, "QUOTA"}, {16, "RECENT"}, {17, "SEARCH"},   {18, "SORT"},    {19, "STATUS"},
    {20, "THREAD"},
};

static bool IsBlank(char c)
{
    return isspace((unsigned char)c) != 0;
}

static const char *SkipBlanks(const char *p)
{
    while (*p != '\0' && IsBlank(*p))
        p++;
    return p;
}

/* Copies at most cchMax characters and terminates. */
static void CopyText(char *lpszOut, const char *lpszIn, size_t cchMax)
{
    size_t cch = strlen(lpszIn);
    if (cch > cchMax)
        cch = cchMax;
    memcpy(lpszOut, lpszIn, cch);
    lpszOut[cch] = '\0';
}

static void TrimTrailingBlanks(char *lpsz)
{
    size_t cch = strlen(lpsz);
    while (cch > 0 && IsBlank(lpsz[cch - 1]))
        lpsz[--cch] = '\0';
}

/* A decimal number clamped to the signed 32-bit range, as the counters
   and UID values are kept. */
static DWORD ParseNumber(const char *lpsz)
{
    long long n = strtoll(lpsz, NULL, 10);
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    return (DWORD)(LONG)n;
}

const char *FindTextNoCase(const char *lpszText, const char *lpszPattern)
{
    if (lpszText == NULL || lpszPattern == NULL || lpszText[0] == '\0')
        return NULL;
    for (const char *p = lpszText; *p != '\0'; p++) {
        size_t i = 0;
        while (lpszPattern[i] != '\0' && p[i] != '\0' &&
               toupper((unsigned char)p[i]) == toupper((unsigned char)lpszPattern[i]))
            i++;
        if (lpszPattern[i] == '\0')
            return p;
    }
    return NULL;
}

BOOL HasCapability(const char *lpszCapabilities, const char *lpszName)
{
    if (lpszCapabilities == NULL || lpszName == NULL || lpszName[0] == '\0')
        return FALSE;
    size_t cchName = strlen(lpszName);
    const char *p = lpszCapabilities;
    for (;;) {
        p = SkipBlanks(p);
        if (*p == '\0')
            return FALSE;
        const char *lpEnd = p;
        while (*lpEnd != '\0' && !IsBlank(*lpEnd))
            lpEnd++;
        if ((size_t)(lpEnd - p) == cchName && strncasecmp(p, lpszName, cchName) == 0)
            return TRUE;
        p = lpEnd;
    }
}

int ParseResponseLine(const char *lpszText, HCLIENT hClient, BOOL bTagged)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return -1;
    if (lpszText == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return -1;
    }
    const char *p = SkipBlanks(lpszText);
    lpSession->nResultCode = 0;
    lpSession->nResponseNumber = 0;
    lpSession->szResultString[0] = '\0';
    lpSession->bTaggedResponse = bTagged;

    if (isdigit((unsigned char)*p)) {
        lpSession->nResponseNumber = (LONG)ParseNumber(p); /* no overflow on absurd numbers */
        while (isdigit((unsigned char)*p))
            p++;
        p = SkipBlanks(p);
    }

    bool bMatched = false;
    for (const RESPONSEKEYWORD &k : g_rgKeywords) {
        size_t cch = strlen(k.lpszKeyword);
        if (strncasecmp(p, k.lpszKeyword, cch) == 0 && p[cch] != '\0' && IsBlank(p[cch])) {
            lpSession->nResultCode = k.nId;
            CopyText(lpSession->szResultString, SkipBlanks(p + cch + 1), SESSION_RESULT_SIZE - 1);
            bMatched = true;
            break;
        }
    }
    if (!bMatched)
        CopyText(lpSession->szResultString, p, SESSION_RESULT_SIZE - 1);
    TrimTrailingBlanks(lpSession->szResultString);

    LONG nResult = lpSession->nResultCode;
    if (nResult == RESPONSE_NO || nResult == RESPONSE_BAD)
        return nResult;

    /* The response code in brackets: its name, then its argument. */
    char szCode[RESPONSE_CODE_NAME_MAX + 1] = "";
    char szArgument[RESPONSE_CODE_ARG_MAX + 1] = "";
    const char *lpBracket = strchr(lpSession->szResultString, '[');
    if (lpBracket != NULL) {
        const char *q = lpBracket + 1;
        size_t n = 0;
        while (*q != '\0' && *q != ']' && !IsBlank(*q) && n < RESPONSE_CODE_NAME_MAX)
            szCode[n++] = *q++;
        szCode[n] = '\0';
        q = SkipBlanks(q);
        n = 0;
        while (*q != '\0' && *q != ']' && n < RESPONSE_CODE_ARG_MAX)
            szArgument[n++] = *q++;
        szArgument[n] = '\0';
    }

    if (!bTagged && nResult == RESPONSE_EXISTS)
        lpSession->nMessages = lpSession->nResponseNumber;
    else if (!bTagged && nResult == RESPONSE_RECENT)
        lpSession->nRecentMessages = lpSession->nResponseNumber;

    if (lpSession->nCommandId == COMMAND_ID_CAPABILITY && nResult == RESPONSE_CAPABILITY) {
        CopyText(lpSession->szCapability, lpSession->szResultString, SESSION_CAPABILITY_SIZE - 1);
    } else if (lpSession->nCommandId == COMMAND_ID_SELECT || lpSession->nCommandId == COMMAND_ID_EXAMINE) {
        if (nResult == RESPONSE_OK && szCode[0] != '\0') {
            if (strcasecmp(szCode, "PERMANENTFLAGS") == 0)
                lpSession->dwPermanentFlags = ParseFlagList(szArgument);
            else if (strcasecmp(szCode, "READ-ONLY") == 0)
                lpSession->dwAccessMode = IMAP_ACCESS_READONLY;
            else if (strcasecmp(szCode, "READ-WRITE") == 0)
                lpSession->dwAccessMode = IMAP_ACCESS_READWRITE;
            else if (strcasecmp(szCode, "UIDVALIDITY") == 0)
                lpSession->dwMailboxUID = ParseNumber(szArgument);
            else if (strcasecmp(szCode, "UIDNEXT") == 0)
                lpSession->dwNextMessageUID = ParseNumber(szArgument);
            else if (strcasecmp(szCode, "UNSEEN") == 0)
                lpSession->nUnseenMessageId = (LONG)ParseNumber(szArgument);
        } else if (nResult == RESPONSE_FLAGS) {
            lpSession->dwFlags = ParseFlagList(lpSession->szResultString);
        }
    }
    return nResult;
}

/* The size of a literal announced at the end of a line ("{n}" or "{n+}"
   before CR LF), or -1 when the line announces none. */
static long long AnnouncedLiteral(const char *lpszLine, size_t cch)
{
    while (cch > 0 && (lpszLine[cch - 1] == '\r' || lpszLine[cch - 1] == '\n'))
        cch--;
    if (cch < 3 || lpszLine[cch - 1] != '}')
        return -1;
    size_t i = cch - 1;
    if (i > 0 && lpszLine[i - 1] == '+')
        i--;
    size_t nEnd = i;
    while (i > 0 && isdigit((unsigned char)lpszLine[i - 1]))
        i--;
    if (i == nEnd || i == 0 || lpszLine[i - 1] != '{' || nEnd - i > 12)
        return -1;
    return strtoll(lpszLine + i, NULL, 10);
}

/* Reads and drops the bytes of a literal and the rest of the response
   line after it (which may announce another literal). FALSE with the last
   error set when the read fails. */
static BOOL SkipLiterals(HCLIENT hClient, long long nLiteral, char *lpszLine)
{
    while (nLiteral >= 0) {
        while (nLiteral > 0) {
            int cb = nLiteral < LITERAL_CHUNK ? (int)nLiteral : LITERAL_CHUNK;
            int n = ReceiveData(hClient, (LPBYTE)lpszLine, cb, FALSE);
            if (n <= 0)
                return FALSE;
            nLiteral -= n;
        }
        int n = ReceiveData(hClient, (LPBYTE)lpszLine, RESPONSE_LINE_SIZE, TRUE);
        if (n <= 0)
            return FALSE;
        lpszLine[n] = '\0';
        nLiteral = AnnouncedLiteral(lpszLine, (size_t)n);
    }
    return TRUE;
}

/* Reads the rest of a line longer than the line buffer, piece by piece,
   and leaves its last piece in lpszLine. The length of that piece, or -1
   with the last error set when the read fails. */
static int DrainLine(HCLIENT hClient, char *lpszLine)
{
    for (;;) {
        int n = ReceiveData(hClient, (LPBYTE)lpszLine, RESPONSE_LINE_SIZE, TRUE);
        if (n <= 0)
            return -1;
        lpszLine[n] = '\0';
        if (lpszLine[n - 1] == '\n')
            return n;
    }
}

/* Whether a line's first word is a tag of this library (A and 4 digits),
   and whether it is the tag of the command outstanding. */
static bool IsLibraryTag(const char *lpszLine)
{
    return lpszLine[0] == 'A' && isdigit((unsigned char)lpszLine[1]) && isdigit((unsigned char)lpszLine[2]) &&
           isdigit((unsigned char)lpszLine[3]) && isdigit((unsigned char)lpszLine[4]) &&
           (lpszLine[5] == '\0' || IsBlank(lpszLine[5]));
}

static DWORD ErrorOfResult(LONG nResult)
{
    switch (nResult) {
    case IMAP_RESULT_UNKNOWN:
        return TW_ERROR_UNEXPECTED_SERVER_RESPONSE;
    case IMAP_RESULT_NO:
        return TW_ERROR_INVALID_COMMAND;
    case IMAP_RESULT_BAD:
        return TW_ERROR_COMMAND_NOT_IMPLEMENTED;
    default:
        return 0;
    }
}

extern "C" INT WINAPI ImapGetResultCode(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (!lpSession->bCommandPending)
        return lpSession->nResultCode;
    lpSession->bCommandPending = FALSE;

    char szLine[RESPONSE_LINE_SIZE + 1];
    char *lpszLine = szLine;
    int nReturn = IMAP_ERROR;
    for (;;) {
        int n = ReceiveData(hClient, (LPBYTE)lpszLine, RESPONSE_LINE_SIZE, TRUE);
        if (n < 0) {
            DWORD dwError = ImapGetLastError();
            if (dwError != 0) {
                ImapSetLastError(dwError);
                goto done;
            }
            n = 0;
        }
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            goto done;
        lpszLine[n] = '\0';
        if (n == 0)
            break; /* the read ended without data or error */

        /* A line longer than the buffer arrives in pieces. Outside stream
           mode only its first piece is parsed, and the rest is read and
           dropped here, so that it is not taken for further lines. */
        bool bDrain = lpszLine[n - 1] != '\n' && !lpSession->bStreamResponses;
        char c = lpszLine[0];
        if (c == ')') {
            if (bDrain && DrainLine(hClient, lpszLine) < 0)
                goto done;
            continue; /* closes a response whose literal was read */
        }
        if (c == '*') {
            bool bEnds = !lpSession->bConnected || lpSession->bStreamResponses || lpSession->dwIdleThreadId != 0;
            const char *p = SkipBlanks(lpszLine + 1);
            if (ParseResponseLine(p, hClient, FALSE) == -1 && ImapGetLastError() != 0)
                goto done;
            if (bDrain && (n = DrainLine(hClient, lpszLine)) < 0)
                goto done;
            if (bEnds)
                break;
            /* In normal mode a literal the line announces is read here, so
               that its bytes are not taken for response lines. */
            long long nLiteral = AnnouncedLiteral(lpszLine, (size_t)n);
            if (nLiteral >= 0 && !SkipLiterals(hClient, nLiteral, lpszLine))
                goto done;
            continue;
        }
        if (c == '+') {
            const char *p = SkipBlanks(lpszLine + 1);
            lpSession->nResultCode = IMAP_RESULT_CONTINUE;
            CopyText(lpSession->szResultString, p, SESSION_RESULT_SIZE - 1);
            TrimTrailingBlanks(lpSession->szResultString);
            if (bDrain && DrainLine(hClient, lpszLine) < 0)
                goto done;
            break;
        }
        if (c == 'A') {
            /* A completion that arrives late, after its command gave up,
               carries an older tag: it is read and dropped. */
            char szTag[8];
            snprintf(szTag, sizeof(szTag), "A%04u", (unsigned)lpSession->nCommandTag);
            bool bOlder = IsLibraryTag(lpszLine) && strncmp(lpszLine, szTag, 5) != 0;
            if (!bOlder) {
                lpSession->bStreamResponses = FALSE;
                const char *p = lpszLine;
                while (*p != '\0' && !IsBlank(*p))
                    p++;
                if (ParseResponseLine(SkipBlanks(p), hClient, TRUE) == -1 && ImapGetLastError() != 0)
                    goto done;
            }
            if (bDrain && DrainLine(hClient, lpszLine) < 0)
                goto done;
            if (bOlder)
                continue;
            break;
        }
        lpSession->nResultCode = IMAP_RESULT_UNKNOWN;
        CopyText(lpSession->szResultString, lpszLine, SESSION_RESULT_SIZE - 1);
        if (bDrain && DrainLine(hClient, lpszLine) < 0)
            goto done;
        break;
    }

    {
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            goto done;
        DWORD dwError = ErrorOfResult(lpSession->nResultCode);
        lpSession->bConnected = TRUE;
        ImapSetLastError(dwError);
        if (!lpSession->bStreamResponses)
            RaiseEvent(hClient, IMAP_EVENT_COMMAND, dwError);
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            goto done;
        lpSession->bCommandPending = lpSession->bStreamResponses;
        nReturn = lpSession->nResultCode;
        ImapSetLastError(dwError); /* whatever a handler left behind */
    }
done:
    return nReturn;
}

extern "C" INT WINAPI ImapGetResultStringA(HCLIENT hClient, LPSTR lpszMessage, INT cbMessage)
{
    CLIENTSESSION *lpSession = FindSession(hClient);
    if (lpSession == NULL)
        return IMAP_ERROR;
    if (lpszMessage == NULL || cbMessage < 1) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return IMAP_ERROR;
    }
    if (lpSession->bCommandPending) {
        ImapGetResultCode(hClient);
        lpSession = FindSession(hClient);
        if (lpSession == NULL)
            return IMAP_ERROR;
    }
    CopyText(lpszMessage, lpSession->szResultString, (size_t)cbMessage - 1);
    return (int)strlen(lpszMessage);
}

extern "C" INT WINAPI ImapGetResultStringW(HCLIENT hClient, LPWSTR lpszMessage, INT cbMessage)
{
    if (lpszMessage == NULL || cbMessage < 1) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return 0;
    }
    ScratchBuffer text((SIZE_T)cbMessage + 1);
    if (text.data() == NULL) {
        ImapSetLastError(TW_ERROR_OUT_OF_MEMORY);
        return IMAP_ERROR;
    }
    int nResult = ImapGetResultStringA(hClient, text.data(), cbMessage + 1);
    if (nResult != IMAP_ERROR)
        CopyUtf8ToWide(lpszMessage, cbMessage, text.data(), nResult);
    return nResult;
}

/*
 * strings.cpp - quoted strings and Base64 for command arguments.
 */
#include "protocol/strings.h"
#include "session/heap.h"
#include "twmapav9.h"

#include <string.h>

/* A backslash followed by one of these is an escape pair already. */
static bool IsQuotedSpecial(char c)
{
    return c == '"' || c == '\\';
}

int EscapeString(char *lpszOut, const char *lpszIn, int cchOut)
{
    if (lpszIn == NULL || lpszIn[0] == '\0')
        return 0;
    size_t cbIn = strlen(lpszIn);
    char *lpszCopy = NULL;
    if (lpszIn == lpszOut) {
        lpszCopy = (char *)LibraryAlloc(cbIn + 1);
        if (lpszCopy == NULL)
            return 0;
        memcpy(lpszCopy, lpszIn, cbIn + 1);
        lpszIn = lpszCopy;
    }
    if (cchOut > 0)
        lpszOut[0] = '\0';

    bool bNeeded = false;
    for (size_t i = 0; i < cbIn && !bNeeded; i++) {
        if (lpszIn[i] == '\\' && IsQuotedSpecial(lpszIn[i + 1]))
            i++;
        else if (IsQuotedSpecial(lpszIn[i]))
            bNeeded = true;
    }
    if (!bNeeded) {
        if (cchOut > 0) {
            strncpy(lpszOut, lpszIn, (size_t)cchOut - 1);
            lpszOut[cchOut - 1] = '\0';
        }
        LibraryFree(lpszCopy);
        return 0;
    }

    int n = 0;
    for (size_t i = 0; i < cbIn && n < cchOut - 1; i++) {
        char c = lpszIn[i];
        if (c == '\\' && IsQuotedSpecial(lpszIn[i + 1])) {
            if (n + 2 > cchOut - 1)
                break;
            lpszOut[n++] = c;
            lpszOut[n++] = lpszIn[++i];
        } else if (IsQuotedSpecial(c)) {
            if (n + 2 > cchOut - 1)
                break;
            lpszOut[n++] = '\\';
            lpszOut[n++] = c;
        } else {
            lpszOut[n++] = c;
        }
    }
    if (cchOut > 0)
        lpszOut[n] = '\0';
    LibraryFree(lpszCopy);
    return 1;
}

int QuoteString(char *lpszOut, const char *lpszIn)
{
    if (lpszIn == NULL || lpszIn[0] == '\0')
        return 0;
    size_t cbIn = strlen(lpszIn);
    char *lpszWork = (char *)LibraryAlloc(cbIn + QUOTED_BUFFER_SIZE);
    if (lpszWork == NULL) {
        lpszOut[0] = '\0';
        return 0;
    }
    memcpy(lpszWork, lpszIn, cbIn + 1); /* the input may be the output */
    lpszOut[0] = '\0';

    char cFirst = lpszWork[0];
    if ((cFirst == '"' || cFirst == '\'') && cbIn >= 2 && lpszWork[cbIn - 1] == cFirst) {
        strncpy(lpszOut, lpszWork, QUOTED_BUFFER_SIZE - 1);
        lpszOut[QUOTED_BUFFER_SIZE - 1] = '\0';
        LibraryFree(lpszWork);
        return 0;
    }

    char *lpszEscaped = (char *)LibraryAlloc(cbIn * 2 + QUOTED_BUFFER_SIZE);
    const char *lpszText = lpszWork;
    if (lpszEscaped != NULL && EscapeString(lpszEscaped, lpszWork, (int)(cbIn * 2 + QUOTED_BUFFER_SIZE)))
        lpszText = lpszEscaped;
    size_t cch = strlen(lpszText);
    int nResult = 0;
    if (cch <= QUOTED_MAX_TEXT) {
        lpszOut[0] = '"';
        memcpy(lpszOut + 1, lpszText, cch);
        lpszOut[cch + 1] = '"';
        lpszOut[cch + 2] = '\0';
        nResult = 1;
    }
    LibraryFree(lpszEscaped);
    LibraryFree(lpszWork);
    return nResult;
}

int Base64Encode(const BYTE *lpIn, char *lpszOut, int cbIn)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (lpIn == NULL || lpszOut == NULL || cbIn < 0) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return -1;
    }
    lpszOut[0] = '\0';
    if (cbIn == 0) {
        ImapSetLastError(0);
        return 0;
    }
    if (cbIn + cbIn / 2 + 1 > BASE64_BUFFER_SIZE) {
        ImapSetLastError(TW_ERROR_BUFFER_TOO_SMALL);
        return -1;
    }
    int n = 0;
    for (int i = 0; i < cbIn; i += 3) {
        if (n + 4 >= BASE64_BUFFER_SIZE) {
            lpszOut[0] = '\0';
            ImapSetLastError(TW_ERROR_BUFFER_TOO_SMALL);
            return -1;
        }
        DWORD dw = (DWORD)lpIn[i] << 16;
        if (i + 1 < cbIn)
            dw |= (DWORD)lpIn[i + 1] << 8;
        if (i + 2 < cbIn)
            dw |= lpIn[i + 2];
        lpszOut[n++] = kAlphabet[(dw >> 18) & 63];
        lpszOut[n++] = kAlphabet[(dw >> 12) & 63];
        lpszOut[n++] = i + 1 < cbIn ? kAlphabet[(dw >> 6) & 63] : '=';
        lpszOut[n++] = i + 2 < cbIn ? kAlphabet[dw & 63] : '=';
    }
    lpszOut[n] = '\0';
    return n;
}

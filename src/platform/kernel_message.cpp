/*
 * kernel_message.cpp - FormatMessageA / FormatMessageW (Linux).
 *
 * Texts come from the library's message table (g_MessageTable, generated
 * from the same source as the Windows message-table resource) for
 * FORMAT_MESSAGE_FROM_HMODULE with this library or the process image as the
 * module, from a few common system codes of our own wording for
 * FORMAT_MESSAGE_FROM_SYSTEM (the table first when both are given), or from
 * the caller with FORMAT_MESSAGE_FROM_STRING. Texts are UTF-8, which is also
 * the ANSI code page here, so FormatMessageA passes them through and
 * FormatMessageW converts them to UTF-16.
 *
 * Escapes: %0 ends the text, %n is CR LF, %r CR, %t a tab, %x any other
 * character x; a line break in the text is CR LF, or a space with
 * FORMAT_MESSAGE_MAX_WIDTH_MASK. Inserts %1 to %99 are strings (default
 * format, !s!, !S!, !hs!, !ls!, !ws!); with FORMAT_MESSAGE_IGNORE_INSERTS
 * they and %x stay as written. Not supported (ERROR_INVALID_PARAMETER):
 * printf-style insert formats other than strings, and line widths other
 * than 0 and FORMAT_MESSAGE_MAX_WIDTH_MASK.
 */
#if !defined(_WIN32)

#include "platform/platform.h"
#include "platform/messagetable.h"

#include <stdlib.h>
#include <string.h>

struct SYSTEMMESSAGE {
    DWORD dwMessageId;
    const char *lpszText;
};

/* Sorted by id. */
static const SYSTEMMESSAGE g_rgSystemMessages[] = {
    { ERROR_FILE_NOT_FOUND, "The file could not be found.\r\n" },
    { ERROR_ACCESS_DENIED, "Access to the object was denied.\r\n" },
    { ERROR_NOT_ENOUGH_MEMORY,
      "There is not enough memory to complete the operation.\r\n" },
    { ERROR_INVALID_PARAMETER,
      "A parameter passed to the function is not valid.\r\n" },
    { ERROR_INSUFFICIENT_BUFFER,
      "The buffer passed to the function is too small.\r\n" },
};

static const int MAX_INSERT = 99;
static const DWORD LINE_WIDTH_UNLIMITED = 0;

static const char *FindTableText(DWORD dwMessageId)
{
    int iLow = 0, iHigh = g_cMessageTable - 1;
    while (iLow <= iHigh) {
        int iMid = iLow + (iHigh - iLow) / 2;
        DWORD dwMid = g_MessageTable[iMid].dwMessageId;
        if (dwMid == dwMessageId)
            return g_MessageTable[iMid].lpszText;
        if (dwMid < dwMessageId)
            iLow = iMid + 1;
        else
            iHigh = iMid - 1;
    }
    return NULL;
}

static const char *FindSystemText(DWORD dwMessageId)
{
    for (const SYSTEMMESSAGE &msg : g_rgSystemMessages) {
        if (msg.dwMessageId == dwMessageId)
            return msg.lpszText;
    }
    return NULL;
}

/* Our table is in English (United States); neutral and default languages
   resolve to it. */
static bool IsKnownLanguage(DWORD dwLanguageId)
{
    return dwLanguageId == 0 ||
           dwLanguageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           dwLanguageId == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) ||
           dwLanguageId == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

static bool HasOurTable(LPCVOID lpSource)
{
    return lpSource == NULL || lpSource == PlatformSelfModule() ||
           lpSource == GetModuleHandleA(NULL);
}

/* A growing UTF-8 string; fNoMemory once an allocation failed. */
struct TEXTBUFFER {
    char *lpsz;
    size_t cch;
    size_t cchAlloc;
    bool fNoMemory;

    void Append(const char *lpch, size_t cchAdd)
    {
        if (fNoMemory)
            return;
        if (cch + cchAdd + 1 > cchAlloc) {
            size_t cchNew = cchAlloc ? cchAlloc : 128;
            while (cch + cchAdd + 1 > cchNew)
                cchNew *= 2;
            char *lpszNew = static_cast<char *>(realloc(lpsz, cchNew));
            if (lpszNew == NULL) {
                fNoMemory = true;
                return;
            }
            lpsz = lpszNew;
            cchAlloc = cchNew;
        }
        memcpy(lpsz + cch, lpch, cchAdd);
        cch += cchAdd;
        lpsz[cch] = '\0';
    }

    void Append(char ch) { Append(&ch, 1); }
};

/* The caller's insert arguments: an array of DWORD_PTR with
   FORMAT_MESSAGE_ARGUMENT_ARRAY, else a va_list read in order as far as the
   highest insert used so far. */
struct INSERTARGS {
    va_list *lpArgs;
    bool fArray;
    DWORD_PTR rgFetched[MAX_INSERT];
    int cFetched;

    DWORD_PTR Get(int nInsert)
    {
        if (fArray)
            return reinterpret_cast<const DWORD_PTR *>(lpArgs)[nInsert - 1];
        while (cFetched < nInsert)
            rgFetched[cFetched++] = va_arg(*lpArgs, DWORD_PTR);
        return rgFetched[nInsert - 1];
    }
};

/* Appends the string insert nInsert; lpszFormat/cchFormat is the text
   between the '!' marks (NULL for the default). FALSE for a format that is
   not a string. */
static bool AppendInsert(TEXTBUFFER *lpOut, INSERTARGS *lpArgs, int nInsert,
                         const char *lpszFormat, size_t cchFormat, bool fWide)
{
    bool fWideArg = fWide;
    if (lpszFormat != NULL) {
        if (cchFormat == 1 && lpszFormat[0] == 's')
            fWideArg = fWide;
        else if (cchFormat == 1 && lpszFormat[0] == 'S')
            fWideArg = !fWide;
        else if (cchFormat == 2 && lpszFormat[0] == 'h' && lpszFormat[1] == 's')
            fWideArg = false;
        else if (cchFormat == 2 &&
                 (lpszFormat[0] == 'l' || lpszFormat[0] == 'w') &&
                 lpszFormat[1] == 's')
            fWideArg = true;
        else
            return false;
    }
    DWORD_PTR dwArg = lpArgs->Get(nInsert);
    if (dwArg == 0) {
        lpOut->Append("(null)", 6);
        return true;
    }
    if (!fWideArg) {
        const char *lpsz = reinterpret_cast<const char *>(dwArg);
        lpOut->Append(lpsz, strlen(lpsz));
        return true;
    }
    LPCWSTR lpsz = reinterpret_cast<LPCWSTR>(dwArg);
    int cchWide = lstrlenW(lpsz);
    if (cchWide == 0)
        return true;
    int cb = WideCharToMultiByte(CP_UTF8, 0, lpsz, cchWide, NULL, 0, NULL,
                                 NULL);
    char *lpszUtf8 = static_cast<char *>(malloc(cb > 0 ? cb : 1));
    if (lpszUtf8 == NULL) {
        lpOut->fNoMemory = true;
        return true;
    }
    WideCharToMultiByte(CP_UTF8, 0, lpsz, cchWide, lpszUtf8, cb, NULL, NULL);
    lpOut->Append(lpszUtf8, (size_t)cb);
    free(lpszUtf8);
    return true;
}

/* Expands escapes and inserts of lpszText into lpOut; returns the error,
   or ERROR_SUCCESS. */
static DWORD ExpandText(const char *lpszText, DWORD dwFlags, va_list *lpArgs,
                        bool fWide, TEXTBUFFER *lpOut)
{
    DWORD dwWidth = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (dwWidth != LINE_WIDTH_UNLIMITED &&
        dwWidth != FORMAT_MESSAGE_MAX_WIDTH_MASK)
        return ERROR_INVALID_PARAMETER;
    bool fIgnoreInserts = (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    INSERTARGS args = { lpArgs, (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0,
                        {}, 0 };

    const char *p = lpszText;
    while (*p) {
        char ch = *p++;
        if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && *p == '\n')
                p++;
            if (dwWidth == LINE_WIDTH_UNLIMITED)
                lpOut->Append("\r\n", 2);
            else
                lpOut->Append(' ');
            continue;
        }
        if (ch != '%') {
            lpOut->Append(ch);
            continue;
        }
        const char *lpszEscape = p - 1;
        char chEscape = *p;
        if (chEscape == '\0')
            return ERROR_INVALID_PARAMETER;
        p++;
        if (chEscape == '0')
            break;
        if (chEscape == 'n') {
            lpOut->Append("\r\n", 2);
        } else if (chEscape == 'r') {
            lpOut->Append('\r');
        } else if (chEscape == 't') {
            lpOut->Append('\t');
        } else if (chEscape >= '1' && chEscape <= '9') {
            int nInsert = chEscape - '0';
            if (*p >= '0' && *p <= '9')
                nInsert = nInsert * 10 + (*p++ - '0');
            const char *lpszFormat = NULL;
            size_t cchFormat = 0;
            if (*p == '!') {
                const char *lpszEnd = strchr(p + 1, '!');
                if (lpszEnd == NULL)
                    return ERROR_INVALID_PARAMETER;
                lpszFormat = p + 1;
                cchFormat = (size_t)(lpszEnd - lpszFormat);
                p = lpszEnd + 1;
            }
            if (fIgnoreInserts) {
                lpOut->Append(lpszEscape, (size_t)(p - lpszEscape));
            } else if (lpArgs == NULL ||
                       !AppendInsert(lpOut, &args, nInsert, lpszFormat,
                                     cchFormat, fWide)) {
                return ERROR_INVALID_PARAMETER;
            }
        } else {
            if (fIgnoreInserts)
                lpOut->Append('%');
            lpOut->Append(chEscape);
        }
    }
    return lpOut->fNoMemory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_SUCCESS;
}

/* Finds the text for a table or system lookup; returns the error when
   there is none. */
static DWORD FindText(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                      DWORD dwLanguageId, const char **lppszText)
{
    bool fModule = (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) != 0;
    bool fSystem = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;
    if (!fModule && !fSystem)
        return ERROR_INVALID_PARAMETER;
    if (!IsKnownLanguage(dwLanguageId))
        return ERROR_RESOURCE_LANG_NOT_FOUND;
    DWORD dwError = ERROR_MR_MID_NOT_FOUND;
    const char *lpszText = NULL;
    if (fModule) {
        if (HasOurTable(lpSource))
            lpszText = FindTableText(dwMessageId);
        else
            dwError = ERROR_RESOURCE_TYPE_NOT_FOUND; /* no table there */
    }
    if (lpszText == NULL && fSystem) {
        lpszText = FindSystemText(dwMessageId);
        dwError = ERROR_MR_MID_NOT_FOUND;
    }
    *lppszText = lpszText;
    return lpszText ? ERROR_SUCCESS : dwError;
}

/* The body of both exports: the formatted text in UTF-8 (malloc'ed, for the
   caller to free), or the error. */
static DWORD FormatMessageUtf8(DWORD dwFlags, LPCVOID lpSource,
                               DWORD dwMessageId, DWORD dwLanguageId,
                               va_list *Arguments, bool fWide,
                               TEXTBUFFER *lpOut)
{
    const char *lpszText = NULL;
    char *lpszSource = NULL; /* a wide FROM_STRING source, in UTF-8 */
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        if (lpSource == NULL)
            return ERROR_INVALID_PARAMETER;
        if (fWide) {
            LPCWSTR lpszWide = static_cast<LPCWSTR>(lpSource);
            int cb = WideCharToMultiByte(CP_UTF8, 0, lpszWide, -1, NULL, 0,
                                         NULL, NULL);
            lpszSource = static_cast<char *>(malloc(cb > 0 ? cb : 1));
            if (lpszSource == NULL)
                return ERROR_NOT_ENOUGH_MEMORY;
            WideCharToMultiByte(CP_UTF8, 0, lpszWide, -1, lpszSource, cb, NULL,
                                NULL);
            lpszText = lpszSource;
        } else {
            lpszText = static_cast<const char *>(lpSource);
        }
    } else {
        DWORD dwError = FindText(dwFlags, lpSource, dwMessageId, dwLanguageId,
                                 &lpszText);
        if (dwError != ERROR_SUCCESS)
            return dwError;
    }
    lpOut->Append("", 0);
    DWORD dwError = ExpandText(lpszText, dwFlags, Arguments, fWide, lpOut);
    free(lpszSource);
    return dwError;
}

/* Copies cch units and a terminator to the caller's buffer, or to a new
   LocalAlloc block with FORMAT_MESSAGE_ALLOCATE_BUFFER (at least nSize
   units); nSize otherwise must hold the terminator too. */
template <typename T>
static DWORD DeliverText(DWORD dwFlags, T *lpBuffer, DWORD nSize,
                         const T *lpText, size_t cch)
{
    if (lpBuffer == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    T *lpDest = lpBuffer;
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t cchAlloc = cch + 1 > nSize ? cch + 1 : nSize;
        lpDest = static_cast<T *>(LocalAlloc(LMEM_FIXED, cchAlloc * sizeof(T)));
        if (lpDest == NULL) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<T **>(lpBuffer) = lpDest;
    } else if (cch + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (cch != 0)
        memcpy(lpDest, lpText, cch * sizeof(T));
    lpDest[cch] = 0;
    return (DWORD)cch;
}

/* Length of the text without the terminator, or 0 with the last error:
   ERROR_MR_MID_NOT_FOUND when no text exists, ERROR_INSUFFICIENT_BUFFER
   when it does not fit. */
extern "C" DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource,
                                       DWORD dwMessageId, DWORD dwLanguageId,
                                       LPSTR lpBuffer, DWORD nSize,
                                       va_list *Arguments)
{
    TEXTBUFFER text = { NULL, 0, 0, false };
    DWORD dwError = FormatMessageUtf8(dwFlags, lpSource, dwMessageId,
                                      dwLanguageId, Arguments, false, &text);
    DWORD cch = 0;
    if (dwError != ERROR_SUCCESS)
        SetLastError(dwError);
    else
        cch = DeliverText<CHAR>(dwFlags, lpBuffer, nSize, text.lpsz, text.cch);
    free(text.lpsz);
    return cch;
}

/* As FormatMessageA, in UTF-16; nSize counts UTF-16 units. */
extern "C" DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource,
                                       DWORD dwMessageId, DWORD dwLanguageId,
                                       LPWSTR lpBuffer, DWORD nSize,
                                       va_list *Arguments)
{
    TEXTBUFFER text = { NULL, 0, 0, false };
    DWORD dwError = FormatMessageUtf8(dwFlags, lpSource, dwMessageId,
                                      dwLanguageId, Arguments, true, &text);
    WCHAR *lpszWide = NULL;
    int cchWide = 0;
    if (dwError == ERROR_SUCCESS && text.cch != 0) {
        cchWide = MultiByteToWideChar(CP_UTF8, 0, text.lpsz, (int)text.cch,
                                      NULL, 0);
        lpszWide = static_cast<WCHAR *>(malloc(cchWide * sizeof(WCHAR)));
        if (lpszWide == NULL)
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        else
            MultiByteToWideChar(CP_UTF8, 0, text.lpsz, (int)text.cch, lpszWide,
                                cchWide);
    }
    DWORD cch = 0;
    if (dwError != ERROR_SUCCESS)
        SetLastError(dwError);
    else
        cch = DeliverText<WCHAR>(dwFlags, lpBuffer, nSize, lpszWide,
                                 (size_t)cchWide);
    free(lpszWide);
    free(text.lpsz);
    return cch;
}

#endif /* !_WIN32 */

/*
 * flags.cpp - the flag word codec: parenthesized flag lists (RFC 3501
 * section 2.3.2 system flags, section 7.2.2 LIST name attributes) to and
 * from IMAP_FLAG_ bits.
 */
#include "message/flags.h"

#include <ctype.h>

constexpr FLAGNAME FLAGNAMES[FLAGNAMES_COUNT + 1] = {
    {IMAP_FLAG_ANSWERED, "ANSWERED"},
    {IMAP_FLAG_DRAFT, "DRAFT"},
    {IMAP_FLAG_URGENT, "FLAGGED"},
    {IMAP_FLAG_SEEN, "SEEN"},
    {IMAP_FLAG_RECENT, "RECENT"},
    {IMAP_FLAG_DELETED, "DELETED"},
    {IMAP_FLAG_NOINFERIORS, "NOINFERIORS"},
    {IMAP_FLAG_NOSELECT, "NOSELECT"},
    {IMAP_FLAG_MARKED, "MARKED"},
    {IMAP_FLAG_UNMARKED, "UNMARKED"},
    {0, NULL},
};

static constexpr int NameLength(LPCSTR lpszName)
{
    int cch = 0;
    while (lpszName[cch] != '\0')
        cch++;
    return cch;
}

/* The longest flag list: every name with its backslash, a space between
   names, and the two parentheses. */
static constexpr int LongestFlagList(void)
{
    int cch = 2;
    for (int i = 0; FLAGNAMES[i].lpszName != NULL; i++)
        cch += NameLength(FLAGNAMES[i].lpszName) + (i > 0 ? 2 : 1);
    return cch;
}

/* The formatter's limit test guards the buffer only up to the last name; the
   closing parenthesis and terminator are safe because every list fits. */
static_assert(LongestFlagList() + 1 <= FLAGLIST_BUFFER_SIZE,
              "every flag list fits the formatter's buffer");

static bool IsSpace(char c)
{
    return isspace((unsigned char)c) != 0;
}

/* Whether the text starts with lpszName, compared without regard to case.
   A terminator in the text is a mismatch, so nothing past it is read. */
static bool StartsWithName(const char *p, LPCSTR lpszName)
{
    for (; *lpszName != '\0'; p++, lpszName++) {
        char c = *p;
        if (c >= 'a' && c <= 'z')
            c = (char)(c - ('a' - 'A'));
        if (c != *lpszName)
            return false;
    }
    return true;
}

/* Steps over the rest of an atom: up to white space, the closing
   parenthesis of the list, or the end of the text. Servers send keywords and
   unknown flags glued to the parenthesis ("$Junk)"), which ends the list as
   well as one that stands alone. */
static const char *SkipAtom(const char *p)
{
    while (*p != '\0' && *p != ')' && !IsSpace(*p))
        p++;
    return p;
}

DWORD ParseFlagList(LPCSTR lpszText)
{
    if (lpszText == NULL)
        return 0;
    const char *p = lpszText;
    while (*p != '\0' && *p != '(')
        p++;
    if (*p == '\0')
        return 0;
    p++;

    DWORD dwFlags = 0;
    while (*p != '\0' && *p != ')') {
        while (IsSpace(*p))
            p++;
        if (*p != '\\') {
            /* A keyword, or the end of the list after white space. */
            p = SkipAtom(p);
            continue;
        }
        p++;
        const FLAGNAME *lpEntry = FLAGNAMES;
        while (lpEntry->lpszName != NULL && !StartsWithName(p, lpEntry->lpszName))
            lpEntry++;
        if (lpEntry->lpszName == NULL) {
            p = SkipAtom(p);
            continue;
        }
        dwFlags |= lpEntry->dwFlag;
        p += NameLength(lpEntry->lpszName);
    }
    return dwFlags;
}

int FormatFlagList(DWORD dwFlags, LPSTR lpBuffer)
{
    if (lpBuffer == NULL)
        return 0;
    int cch = 0;
    lpBuffer[cch++] = '(';
    for (const FLAGNAME *lpEntry = FLAGNAMES; lpEntry->lpszName != NULL; lpEntry++) {
        if ((dwFlags & lpEntry->dwFlag) == 0)
            continue;
        int cchName = NameLength(lpEntry->lpszName);
        if (cch + cchName + 2 >= FLAGLIST_BUFFER_SIZE) {
            lpBuffer[cch] = '\0';
            return 0;
        }
        if (cch > 1)
            lpBuffer[cch++] = ' ';
        lpBuffer[cch++] = '\\';
        for (int i = 0; i < cchName; i++)
            lpBuffer[cch++] = lpEntry->lpszName[i];
    }
    lpBuffer[cch++] = ')';
    lpBuffer[cch] = '\0';
    return cch;
}

/*
 * hostname.cpp - checking and canonicalizing the host names given to a
 * connection: trimming, case, numeric addresses, label rules and
 * internationalized names (RFC 3490/5891 through the system's IDN calls).
 */
#include "net/connection.h"

#include <string.h>

static bool IsAddressChar(BYTE c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '.' || c == ':';
}

static bool HasIdnSupport(void)
{
    return g_SocketInterface.IdnToAscii != NULL;
}

char *NormalizeHostName(const char *lpszHostName, char *lpszOut)
{
    if (lpszOut != NULL)
        lpszOut[0] = '\0';
    if (lpszHostName == NULL || lpszOut == NULL)
        return NULL;

    const BYTE *p = (const BYTE *)lpszHostName;
    while (*p != 0 && *p <= 0x20)
        p++;

    /* The copy stops at the first blank or control character: anything
       after an embedded space is ignored. */
    char szName[HOSTNAME_BUFFER_SIZE];
    int cch = 0, cchAddress = 0;
    for (; *p > 0x20; p++) {
        if (cch == HOSTNAME_MAX_LENGTH)
            return NULL;
        BYTE c = *p;
        if (IsAddressChar(c))
            cchAddress++;
        szName[cch++] = (char)((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c);
    }
    if (cch > 0 && szName[cch - 1] == '.') {
        cch--;
        cchAddress--;
    }
    szName[cch] = '\0';
    if (cch < 3)
        return NULL;

    if (cchAddress == cch) {
        BYTE rgbAddress[16];
        if (ParseAddressText(AF_INET, szName, rgbAddress) == 1)
            return FormatAddressText(AF_INET, rgbAddress, lpszOut);
        if (ParseAddressText(AF_INET6, szName, rgbAddress) == 1)
            return FormatAddressText(AF_INET6, rgbAddress, lpszOut);
    }

    if (!IsValidHostName(szName))
        return NULL;
    int cchOut;
    if (HasIdnSupport()) {
        cchOut = ConvertIdnHostName(lpszOut, szName);
    } else {
        memcpy(lpszOut, szName, (size_t)cch + 1);
        cchOut = cch;
    }
    if (cchOut < 3 || cchOut > HOSTNAME_MAX_LENGTH) {
        lpszOut[0] = '\0';
        return NULL;
    }
    return lpszOut;
}

/* Length of a well-formed UTF-8 sequence starting at p with cbLeft bytes
   left (terminator included), or 0. */
static int Utf8SequenceLength(const BYTE *p, size_t cbLeft)
{
    int n;
    if (p[0] >= 0xF0 && p[0] <= 0xF7)
        n = 4;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        n = 3;
    else if (p[0] >= 0xC0 && p[0] <= 0xDF)
        n = 2;
    else
        return 0;
    if (cbLeft < (size_t)n)
        return 0;
    for (int i = 1; i < n; i++)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return n;
}

BOOL IsValidHostName(const char *lpszName)
{
    if (lpszName == NULL)
        return FALSE;
    size_t cb = strlen(lpszName);
    if (cb < 3 || cb > HOSTNAME_MAX_LENGTH || lpszName[0] == '-' || lpszName[0] == '.')
        return FALSE;
    int cchLabel = 0;
    const BYTE *p = (const BYTE *)lpszName;
    while (*p != 0) {
        BYTE c = *p;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.') {
            cchLabel = c == '.' ? 0 : cchLabel + 1;
            if (cchLabel > HOSTLABEL_MAX_LENGTH)
                return FALSE;
            p++;
            continue;
        }
        int n = HasIdnSupport() ? Utf8SequenceLength(p, cb - (size_t)(p - (const BYTE *)lpszName)) : 0;
        if (n == 0)
            return FALSE;
        p += n;
    }
    return TRUE;
}

int ConvertIdnHostName(char *lpszOut, const char *lpszName)
{
    if (g_SocketInterface.IdnToAscii == NULL || g_SocketInterface.IdnToNameprepUnicode == NULL ||
        lpszName == NULL || lpszName[0] == '\0')
        return 0;
    WCHAR szWide[HOSTNAME_BUFFER_SIZE], szPrep[HOSTNAME_BUFFER_SIZE], szAscii[HOSTNAME_BUFFER_SIZE];
    int cch = MultiByteToWideChar(CP_UTF8, 0, lpszName, -1, szWide, HOSTNAME_MAX_LENGTH);
    if (cch <= 1)
        return 0;
    cch = g_SocketInterface.IdnToNameprepUnicode(0, szWide, -1, szPrep, HOSTNAME_MAX_LENGTH);
    if (cch <= 1)
        return 0;
    cch = g_SocketInterface.IdnToAscii(0, szPrep, -1, szAscii, HOSTNAME_MAX_LENGTH);
    if (cch <= 1)
        return 0;
    char szOut[HOSTNAME_BUFFER_SIZE];
    int cb = WideCharToMultiByte(20127, 0, szAscii, -1, szOut, HOSTNAME_MAX_LENGTH, NULL, NULL);
    if (cb <= 1)
        return 0;
    memcpy(lpszOut, szOut, (size_t)cb); /* includes the terminator */
    return cb - 1;
}

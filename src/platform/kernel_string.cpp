/*
 * kernel_string.cpp - code-page conversions and string lengths (Linux).
 *
 * Code pages: UTF-8 (CP_UTF8, and CP_ACP, the ANSI code page being UTF-8
 * here), ISO-8859-1 (28591) and US-ASCII (20127), with Windows' rules:
 * a source length of -1 means NUL-terminated and counts the terminator,
 * an output size of 0 asks for the size needed, a buffer too small fails
 * with ERROR_INSUFFICIENT_BUFFER. Invalid UTF-8 becomes one U+FFFD per
 * maximal invalid subsequence (RFC 3629 well-formedness: no overlongs, no
 * encoded surrogates, nothing above U+10FFFF); a lone surrogate becomes
 * U+FFFD in UTF-8. MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS make either
 * fail with ERROR_NO_UNICODE_TRANSLATION instead. Characters that 28591 or
 * 20127 cannot hold become the default character ('?'); no best-fit
 * mapping is done. Bytes 0x80-0xFF in 20127 lose their high bit, as in the
 * Windows table.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <string.h>

static const UINT CP_LATIN1 = 28591;
static const UINT CP_USASCII = 20127;
static const WCHAR REPLACEMENT_CHARACTER = 0xFFFD;
static const CHAR DEFAULT_CHAR = '?';

enum CODEPAGEKIND { CODEPAGE_UNKNOWN, CODEPAGE_UTF8, CODEPAGE_SINGLEBYTE };

static CODEPAGEKIND KindOf(UINT uCodePage)
{
    switch (uCodePage) {
    case CP_ACP:
    case CP_UTF8:
        return CODEPAGE_UTF8;
    case CP_LATIN1:
    case CP_USASCII:
        return CODEPAGE_SINGLEBYTE;
    default:
        return CODEPAGE_UNKNOWN;
    }
}

/* Counts or stores units; remembers when the buffer ran out. */
template <typename T>
struct OUTPUT {
    T *lpBuffer;  /* NULL: only count */
    int cchBuffer;
    int cch;
    bool fOverflow;

    void Put(T ch)
    {
        if (lpBuffer != NULL) {
            if (cch >= cchBuffer) {
                fOverflow = true;
                return;
            }
            lpBuffer[cch] = ch;
        }
        cch++;
    }
};

/* Decodes one UTF-8 sequence at lpb (cb > 0 bytes left). Returns the code
   point, or -1 for an invalid sequence; *pcbUsed is the sequence length, or
   for an invalid one the length of its maximal valid prefix (at least 1),
   so that each invalid subsequence is replaced once. */
static long DecodeUtf8(const BYTE *lpb, size_t cb, size_t *pcbUsed)
{
    BYTE b0 = lpb[0];
    *pcbUsed = 1;
    if (b0 < 0x80)
        return b0;
    size_t cbTrail;
    unsigned long cp;
    BYTE bLow = 0x80, bHigh = 0xBF; /* range of the first trail byte */
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        cbTrail = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        cbTrail = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            bLow = 0xA0;      /* no overlongs */
        else if (b0 == 0xED)
            bHigh = 0x9F;     /* no surrogates */
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        cbTrail = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            bLow = 0x90;      /* no overlongs */
        else if (b0 == 0xF4)
            bHigh = 0x8F;     /* nothing above U+10FFFF */
    } else {
        return -1;            /* trail byte, C0, C1 or F5-FF */
    }
    for (size_t i = 1; i <= cbTrail; i++) {
        if (i >= cb || lpb[i] < bLow || lpb[i] > bHigh) {
            *pcbUsed = i;
            return -1;
        }
        cp = (cp << 6) | (lpb[i] & 0x3F);
        bLow = 0x80;
        bHigh = 0xBF;
    }
    *pcbUsed = cbTrail + 1;
    return (long)cp;
}

/* Returns false with ERROR_NO_UNICODE_TRANSLATION on an invalid sequence
   when fStrict. */
static bool Utf8ToUtf16(const BYTE *lpb, size_t cb, bool fStrict,
                        OUTPUT<WCHAR> *lpOut)
{
    size_t i = 0;
    while (i < cb && !lpOut->fOverflow) {
        size_t cbUsed;
        long cp = DecodeUtf8(lpb + i, cb - i, &cbUsed);
        i += cbUsed;
        if (cp < 0) {
            if (fStrict) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return false;
            }
            lpOut->Put(REPLACEMENT_CHARACTER);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            lpOut->Put((WCHAR)(0xD800 + (cp >> 10)));
            lpOut->Put((WCHAR)(0xDC00 + (cp & 0x3FF)));
        } else {
            lpOut->Put((WCHAR)cp);
        }
    }
    return true;
}

static void PutUtf8(unsigned long cp, OUTPUT<CHAR> *lpOut)
{
    if (cp < 0x80) {
        lpOut->Put((CHAR)cp);
    } else if (cp < 0x800) {
        lpOut->Put((CHAR)(0xC0 | (cp >> 6)));
        lpOut->Put((CHAR)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        lpOut->Put((CHAR)(0xE0 | (cp >> 12)));
        lpOut->Put((CHAR)(0x80 | ((cp >> 6) & 0x3F)));
        lpOut->Put((CHAR)(0x80 | (cp & 0x3F)));
    } else {
        lpOut->Put((CHAR)(0xF0 | (cp >> 18)));
        lpOut->Put((CHAR)(0x80 | ((cp >> 12) & 0x3F)));
        lpOut->Put((CHAR)(0x80 | ((cp >> 6) & 0x3F)));
        lpOut->Put((CHAR)(0x80 | (cp & 0x3F)));
    }
}

/* Returns false with ERROR_NO_UNICODE_TRANSLATION on a lone surrogate when
   fStrict; *pfReplaced tells whether one was replaced. */
static bool Utf16ToUtf8(const WCHAR *lpw, size_t cch, bool fStrict,
                        OUTPUT<CHAR> *lpOut, bool *pfReplaced)
{
    for (size_t i = 0; i < cch && !lpOut->fOverflow; i++) {
        unsigned long cp = lpw[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp <= 0xDBFF && i + 1 < cch && lpw[i + 1] >= 0xDC00 &&
                lpw[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lpw[i + 1] - 0xDC00);
                i++;
            } else {
                if (fStrict) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return false;
                }
                cp = REPLACEMENT_CHARACTER;
                *pfReplaced = true;
            }
        }
        PutUtf8(cp, lpOut);
    }
    return true;
}

static WCHAR SingleByteToUnicode(UINT uCodePage, BYTE b)
{
    return uCodePage == CP_USASCII ? (WCHAR)(b & 0x7F) : (WCHAR)b;
}

static bool UnicodeToSingleByte(UINT uCodePage, WCHAR ch, CHAR *pch)
{
    WCHAR chMax = uCodePage == CP_USASCII ? 0x7F : 0xFF;
    if (ch > chMax)
        return false;
    *pch = (CHAR)ch;
    return true;
}

/* Common checks of both directions: ERROR_INVALID_PARAMETER for a missing
   or empty source, a negative size, a size without a buffer, or a buffer
   that is the source. */
static bool ValidArguments(const void *lpSrc, int cSrc, const void *lpDst,
                           int cDst)
{
    if (lpSrc == NULL || cSrc == 0 || cDst < 0 || (lpDst == NULL && cDst) ||
        (lpDst != NULL && lpDst == lpSrc)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

/* The result size in units (counting a terminator that was converted), or
   0 with the last error set. */
extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                                          LPCSTR lpMultiByteStr,
                                          int cbMultiByte,
                                          LPWSTR lpWideCharStr,
                                          int cchWideChar)
{
    if (!ValidArguments(lpMultiByteStr, cbMultiByte, lpWideCharStr,
                        cchWideChar))
        return 0;
    CODEPAGEKIND kind = KindOf(CodePage);
    if (kind == CODEPAGE_UNKNOWN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    /* UTF-8 allows no flag but MB_ERR_INVALID_CHARS. The other pages, and
       the ANSI page as callers use it, also take the flags that change
       nothing here; MB_COMPOSITE (decomposing) is not done, so refused. */
    DWORD dwAllowed = CodePage == CP_UTF8
                          ? MB_ERR_INVALID_CHARS
                          : MB_PRECOMPOSED | MB_USEGLYPHCHARS |
                                MB_ERR_INVALID_CHARS;
    if (dwFlags & ~dwAllowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }

    size_t cb = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1
                                : (size_t)cbMultiByte;
    const BYTE *lpb = reinterpret_cast<const BYTE *>(lpMultiByteStr);
    OUTPUT<WCHAR> out = { cchWideChar ? lpWideCharStr : NULL, cchWideChar, 0,
                          false };
    if (kind == CODEPAGE_UTF8) {
        if (!Utf8ToUtf16(lpb, cb, (dwFlags & MB_ERR_INVALID_CHARS) != 0,
                         &out))
            return 0;
    } else {
        for (size_t i = 0; i < cb && !out.fOverflow; i++)
            out.Put(SingleByteToUnicode(CodePage, lpb[i]));
    }
    if (out.fOverflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return out.cch;
}

/* The result size in bytes (counting a terminator that was converted), or
   0 with the last error set. For UTF-8, lpDefaultChar and lpUsedDefaultChar
   must be NULL (ERROR_INVALID_PARAMETER); the ANSI code page accepts them
   and reports a replaced lone surrogate as a default character. */
extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags,
                                          LPCWSTR lpWideCharStr,
                                          int cchWideChar,
                                          LPSTR lpMultiByteStr,
                                          int cbMultiByte,
                                          LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar)
{
    if (!ValidArguments(lpWideCharStr, cchWideChar, lpMultiByteStr,
                        cbMultiByte))
        return 0;
    CODEPAGEKIND kind = KindOf(CodePage);
    if (kind == CODEPAGE_UNKNOWN ||
        (CodePage == CP_UTF8 &&
         (lpDefaultChar != NULL || lpUsedDefaultChar != NULL))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    /* UTF-8 allows no flag but WC_ERR_INVALID_CHARS. Best fit is never done
       here, so WC_NO_BEST_FIT_CHARS is accepted by the other pages (and the
       ANSI page); composite checking is not done, so its flags are
       refused. */
    DWORD dwAllowed = CodePage == CP_UTF8 ? WC_ERR_INVALID_CHARS
                      : kind == CODEPAGE_UTF8
                          ? WC_ERR_INVALID_CHARS | WC_NO_BEST_FIT_CHARS
                          : WC_NO_BEST_FIT_CHARS;
    if (dwFlags & ~dwAllowed) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }

    size_t cch = cchWideChar < 0 ? (size_t)lstrlenW(lpWideCharStr) + 1
                                 : (size_t)cchWideChar;
    OUTPUT<CHAR> out = { cbMultiByte ? lpMultiByteStr : NULL, cbMultiByte, 0,
                         false };
    bool fUsedDefault = false;
    if (kind == CODEPAGE_UTF8) {
        if (!Utf16ToUtf8(lpWideCharStr, cch,
                         (dwFlags & WC_ERR_INVALID_CHARS) != 0, &out,
                         &fUsedDefault))
            return 0;
    } else {
        CHAR chDefault = lpDefaultChar ? lpDefaultChar[0] : DEFAULT_CHAR;
        for (size_t i = 0; i < cch && !out.fOverflow; i++) {
            CHAR ch;
            if (!UnicodeToSingleByte(CodePage, lpWideCharStr[i], &ch)) {
                ch = chDefault;
                fUsedDefault = true;
            }
            out.Put(ch);
        }
    }
    if (out.fOverflow) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (lpUsedDefaultChar != NULL)
        *lpUsedDefaultChar = fUsedDefault ? TRUE : FALSE;
    return out.cch;
}

/* Length in characters without the terminator; 0 for NULL. */
extern "C" int WINAPI lstrlenA(LPCSTR lpString)
{
    return lpString ? (int)strlen(lpString) : 0;
}

extern "C" int WINAPI lstrlenW(LPCWSTR lpString)
{
    if (lpString == NULL)
        return 0;
    const WCHAR *lpw = lpString;
    while (*lpw)
        lpw++;
    return (int)(lpw - lpString);
}

#endif /* !_WIN32 */

/*
 * normaliz.cpp - NORMALIZ.DLL on Linux: internationalized domain names
 * (IdnToAscii, IdnToNameprepUnicode, IdnToUnicode; RFC 3490 ToASCII and
 * ToUnicode, RFC 3491 nameprep) over libidn2.
 *
 * libidn2 is opened at run time (libidn2.so.0); where it cannot be opened
 * the module does not exist, which its callers handle. Its UTS #46
 * transitional processing stands in for the IDNA2003 tables of Windows:
 * the same case folding, compatibility forms and deviations (ß becomes ss),
 * the same ACE labels.
 *
 * Windows' rules are kept around it: UTF-16 in and out; a count of -1
 * reads to the terminator and counts it in the result, another count gives
 * a result with a terminator only if the input had one; an output count of
 * 0 asks for the size. A name of ASCII only passes unchanged (nameprep does
 * not fold it either); a name with other characters is folded as a whole,
 * ASCII labels included. Labels are at most 63 characters, only the last
 * one may be empty, and with IDN_USE_STD3_ASCII_RULES they hold letters,
 * digits and inner hyphens only. Failures: ERROR_INVALID_PARAMETER,
 * ERROR_INVALID_FLAGS, ERROR_INVALID_NAME, ERROR_INSUFFICIENT_BUFFER.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <string.h>

#include <string>
#include <vector>

#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123
#endif

#define IDN_ALLOW_UNASSIGNED 0x01
#define IDN_USE_STD3_ASCII_RULES 0x02

extern "C" const PLATFORMEXPORT *PlatformNormalizeExports(int *pcExports);

/* ---- libidn2 ----------------------------------------------------------- */

/* Its flags, part of the libidn2.so.0 interface. */
#define IDN2_NFC_INPUT 1
#define IDN2_TRANSITIONAL 4
#define IDN2_ALLOW_UNASSIGNED 16
#define IDN2_NO_ALABEL_ROUNDTRIP 128

typedef int (*IDN2LOOKUPPROC)(const uint8_t *src, uint8_t **lookupname, int flags);
typedef int (*IDN2TOUNICODEPROC)(const char *input, char **output, int flags);
typedef void (*IDN2FREEPROC)(void *ptr);

struct IDN2LIBRARY {
    void *hLibrary;
    IDN2LOOKUPPROC lpfnLookup;       /* idn2_lookup_u8 */
    IDN2TOUNICODEPROC lpfnToUnicode; /* idn2_to_unicode_8z8z */
    IDN2FREEPROC lpfnFree;           /* idn2_free */
};

static IDN2LIBRARY g_idn2;
static pthread_once_t g_idn2Once = PTHREAD_ONCE_INIT;

static void OpenIdn2(void)
{
    void *h = dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL);
    if (h == NULL)
        return;
    IDN2LIBRARY lib;
    lib.hLibrary = h;
    lib.lpfnLookup = reinterpret_cast<IDN2LOOKUPPROC>(dlsym(h, "idn2_lookup_u8"));
    lib.lpfnToUnicode = reinterpret_cast<IDN2TOUNICODEPROC>(dlsym(h, "idn2_to_unicode_8z8z"));
    lib.lpfnFree = reinterpret_cast<IDN2FREEPROC>(dlsym(h, "idn2_free"));
    if (lib.lpfnLookup == NULL || lib.lpfnToUnicode == NULL || lib.lpfnFree == NULL) {
        dlclose(h);
        return;
    }
    g_idn2 = lib;
}

/* ---- Text helpers ------------------------------------------------------ */

typedef std::u16string TEXT;

static bool Utf16ToUtf8(const TEXT &text, std::string *lpOut)
{
    if (text.empty()) {
        lpOut->clear();
        return true;
    }
    const WCHAR *lpw = reinterpret_cast<const WCHAR *>(text.data());
    int cb = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lpw, (int)text.size(), NULL, 0, NULL, NULL);
    if (cb <= 0)
        return false;
    lpOut->resize((size_t)cb);
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lpw, (int)text.size(),
                               &(*lpOut)[0], cb, NULL, NULL) == cb;
}

static bool Utf8ToUtf16(const char *lpsz, TEXT *lpOut)
{
    lpOut->clear();
    int cb = (int)strlen(lpsz);
    if (cb == 0)
        return true;
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpsz, cb, NULL, 0);
    if (cch <= 0)
        return false;
    std::vector<WCHAR> rgw((size_t)cch);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpsz, cb, rgw.data(), cch) != cch)
        return false;
    lpOut->assign(reinterpret_cast<const char16_t *>(rgw.data()), (size_t)cch);
    return true;
}

static bool IsAscii(const TEXT &text)
{
    for (char16_t ch : text) {
        if (ch > 0x7F)
            return false;
    }
    return true;
}

static TEXT LowerAscii(TEXT text)
{
    for (char16_t &ch : text) {
        if (ch >= 'A' && ch <= 'Z')
            ch = (char16_t)(ch - 'A' + 'a');
    }
    return text;
}

/* The labels of a name. IDNA counts the ideographic and full-width full
   stops as dots too. */
static std::vector<TEXT> SplitLabels(const TEXT &name)
{
    std::vector<TEXT> labels(1);
    for (char16_t ch : name) {
        if (ch == '.' || ch == 0x3002 || ch == 0xFF0E || ch == 0xFF61)
            labels.emplace_back();
        else
            labels.back().push_back(ch);
    }
    return labels;
}

static const size_t MAX_LABEL = 63;

/* The checks every ASCII label passes: not empty unless it ends the name,
   at most 63 characters, no control characters (which nameprep
   prohibits) and, with the STD3 rules, letters, digits and inner hyphens
   only. */
static bool IsValidAsciiLabel(const TEXT &label, bool fLast, DWORD dwFlags)
{
    if (label.empty())
        return fLast;
    if (label.size() > MAX_LABEL)
        return false;
    for (char16_t ch : label) {
        if (ch < 0x20 || ch == 0x7F)
            return false;
        if ((dwFlags & IDN_USE_STD3_ASCII_RULES) &&
            !((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-'))
            return false;
    }
    if ((dwFlags & IDN_USE_STD3_ASCII_RULES) && (label.front() == '-' || label.back() == '-'))
        return false;
    return true;
}

/* The STD3 rules for a label with other characters: its ASCII ones must be
   letters, digits or hyphens. */
static bool PassesStd3(const TEXT &label)
{
    for (char16_t ch : label) {
        if (ch <= 0x7F && !((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                            (ch >= '0' && ch <= '9') || ch == '-'))
            return false;
    }
    return true;
}

/* ---- Conversions ------------------------------------------------------- */

enum IDNOPERATION { IDN_TO_ASCII, IDN_NAMEPREP, IDN_TO_UNICODE };

/* A label with characters beyond ASCII, folded and encoded: its ACE form
   (or plain ASCII when folding leaves nothing else). */
static DWORD EncodeLabel(const TEXT &label, DWORD dwFlags, std::string *lpAce)
{
    if ((dwFlags & IDN_USE_STD3_ASCII_RULES) && !PassesStd3(label))
        return ERROR_INVALID_NAME;
    std::string utf8;
    if (!Utf16ToUtf8(label, &utf8))
        return ERROR_INVALID_NAME;
    int nFlags = IDN2_NFC_INPUT | IDN2_TRANSITIONAL | IDN2_NO_ALABEL_ROUNDTRIP;
    if (dwFlags & IDN_ALLOW_UNASSIGNED)
        nFlags |= IDN2_ALLOW_UNASSIGNED;
    uint8_t *lpOut = NULL;
    if (g_idn2.lpfnLookup((const uint8_t *)utf8.c_str(), &lpOut, nFlags) != 0 || lpOut == NULL)
        return ERROR_INVALID_NAME;
    lpAce->assign((const char *)lpOut);
    g_idn2.lpfnFree(lpOut);
    if (lpAce->empty() || lpAce->size() > MAX_LABEL)
        return ERROR_INVALID_NAME;
    return ERROR_SUCCESS;
}

/* An ACE label decoded, if it is a well-formed one: encoding the result
   again must give the label back. */
static DWORD DecodeLabel(const TEXT &label, TEXT *lpOut)
{
    std::string ace(label.begin(), label.end());
    char *lpszDecoded = NULL;
    if (g_idn2.lpfnToUnicode(ace.c_str(), &lpszDecoded, 0) != 0 || lpszDecoded == NULL)
        return ERROR_INVALID_NAME;
    bool fOk = Utf8ToUtf16(lpszDecoded, lpOut);
    g_idn2.lpfnFree(lpszDecoded);
    std::string again;
    if (!fOk || lpOut->empty() || EncodeLabel(*lpOut, 0, &again) != ERROR_SUCCESS || again != ace)
        return ERROR_INVALID_NAME;
    return ERROR_SUCCESS;
}

static DWORD ConvertName(IDNOPERATION op, DWORD dwFlags, const TEXT &name, TEXT *lpOut)
{
    lpOut->clear();
    bool fAscii = IsAscii(name);
    if (op == IDN_TO_UNICODE && !fAscii)
        return ERROR_INVALID_NAME;
    std::vector<TEXT> labels = SplitLabels(name);
    for (size_t n = 0; n < labels.size(); n++) {
        const TEXT &label = labels[n];
        bool fLast = n + 1 == labels.size();
        if (n > 0)
            lpOut->push_back('.');
        if (IsAscii(label)) {
            if (!IsValidAsciiLabel(label, fLast, dwFlags))
                return ERROR_INVALID_NAME;
            if (op == IDN_TO_UNICODE && label.size() >= 4 &&
                LowerAscii(label.substr(0, 4)) == u"xn--") {
                TEXT decoded;
                if (DecodeLabel(LowerAscii(label), &decoded) != ERROR_SUCCESS)
                    return ERROR_INVALID_NAME;
                *lpOut += decoded;
            } else {
                /* All-ASCII names pass unchanged; in a name with other
                   characters, folding reaches the ASCII labels too. */
                *lpOut += fAscii ? label : LowerAscii(label);
            }
            continue;
        }
        std::string ace;
        DWORD dwError = EncodeLabel(label, dwFlags, &ace);
        if (dwError != ERROR_SUCCESS)
            return dwError;
        if (op == IDN_TO_ASCII) {
            lpOut->append(ace.begin(), ace.end());
            continue;
        }
        /* Nameprep's result is the folded label itself, which is what the
           ACE form decodes to. */
        TEXT folded;
        if (ace.compare(0, 4, "xn--") == 0) {
            if (DecodeLabel(TEXT(ace.begin(), ace.end()), &folded) != ERROR_SUCCESS)
                return ERROR_INVALID_NAME;
        } else {
            folded.assign(ace.begin(), ace.end());
        }
        *lpOut += folded;
    }
    return ERROR_SUCCESS;
}

/* The common frame of the three: arguments, counts, terminator, output. */
static int Convert(IDNOPERATION op, DWORD dwFlags, LPCWSTR lpSource, int cchSource,
                   LPWSTR lpDest, int cchDest)
{
    DWORD dwError = ERROR_SUCCESS;
    if (lpSource == NULL || cchSource < -1 || cchDest < 0 || (lpDest == NULL && cchDest > 0))
        dwError = ERROR_INVALID_PARAMETER;
    else if (dwFlags & ~(DWORD)(IDN_ALLOW_UNASSIGNED | IDN_USE_STD3_ASCII_RULES))
        dwError = ERROR_INVALID_FLAGS;
    else if (cchSource == 0)
        dwError = ERROR_INVALID_NAME;
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return 0;
    }

    size_t cch = cchSource == -1 ? (size_t)lstrlenW(lpSource) + 1 : (size_t)cchSource;
    bool fTerminated = lpSource[cch - 1] == 0;
    TEXT name(reinterpret_cast<const char16_t *>(lpSource), fTerminated ? cch - 1 : cch);
    TEXT out;
    if (name.empty() || name.find(u'\0') != TEXT::npos)
        dwError = ERROR_INVALID_NAME;
    else
        dwError = ConvertName(op, dwFlags, name, &out);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return 0;
    }
    if (fTerminated)
        out.push_back(u'\0');
    if (cchDest == 0)
        return (int)out.size();
    if (out.size() > (size_t)cchDest) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpDest, out.data(), out.size() * sizeof(WCHAR));
    return (int)out.size();
}

static int WINAPI NormIdnToAscii(DWORD dwFlags, LPCWSTR lpUnicodeCharStr, int cchUnicodeChar,
                                 LPWSTR lpASCIICharStr, int cchASCIIChar)
{
    return Convert(IDN_TO_ASCII, dwFlags, lpUnicodeCharStr, cchUnicodeChar, lpASCIICharStr, cchASCIIChar);
}

static int WINAPI NormIdnToNameprepUnicode(DWORD dwFlags, LPCWSTR lpUnicodeCharStr, int cchUnicodeChar,
                                           LPWSTR lpNameprepCharStr, int cchNameprepChar)
{
    return Convert(IDN_NAMEPREP, dwFlags, lpUnicodeCharStr, cchUnicodeChar, lpNameprepCharStr,
                   cchNameprepChar);
}

static int WINAPI NormIdnToUnicode(DWORD dwFlags, LPCWSTR lpASCIICharStr, int cchASCIIChar,
                                   LPWSTR lpUnicodeCharStr, int cchUnicodeChar)
{
    return Convert(IDN_TO_UNICODE, dwFlags, lpASCIICharStr, cchASCIIChar, lpUnicodeCharStr, cchUnicodeChar);
}

/* ---- The module's export table ------------------------------------------ */

template <typename F> static FARPROC ExportOf(F *lpfn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(lpfn));
}

/* NULL (and no exports) when libidn2 cannot be opened: the module is then
   absent. */
extern "C" const PLATFORMEXPORT *PlatformNormalizeExports(int *pcExports)
{
    pthread_once(&g_idn2Once, OpenIdn2);
    if (g_idn2.hLibrary == NULL) {
        *pcExports = 0;
        return NULL;
    }
    static const PLATFORMEXPORT s_rgExports[] = {
        { "IdnToAscii", 0, ExportOf(&NormIdnToAscii) },
        { "IdnToNameprepUnicode", 0, ExportOf(&NormIdnToNameprepUnicode) },
        { "IdnToUnicode", 0, ExportOf(&NormIdnToUnicode) },
    };
    *pcExports = (int)(sizeof(s_rgExports) / sizeof(s_rgExports[0]));
    return s_rgExports;
}

#endif /* !_WIN32 */

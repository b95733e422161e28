// Internationalized host names through NORMALIZ.DLL: IdnToAscii,
// IdnToNameprepUnicode and IdnToUnicode with Windows' counting rules and
// errors. On Windows (and Wine) the system's normaliz.dll answers; on Linux
// the stand-in over libidn2, which is absent (and these tests skipped) when
// libidn2 cannot be opened.
#include "winsock_api.h"

#include <string>

#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123
#endif

namespace {

typedef std::u16string Text;

const WCHAR *W(const Text &s)
{
    return reinterpret_cast<const WCHAR *>(s.c_str());
}

struct IdnApi {
    PFN_IDNTOASCII IdnToAscii;
    PFN_IDNTONAMEPREPUNICODE IdnToNameprepUnicode;
    PFN_IDNTOUNICODE IdnToUnicode;
};

class IdnConversion : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
#if !defined(_WIN32)
        int cExports = 0;
        const PLATFORMEXPORT *rgExports = PlatformNormalizeExports(&cExports);
        if (rgExports != NULL)
            PlatformRegisterModule("NORMALIZ.DLL", rgExports, cExports);
#endif
        memset(&idn, 0, sizeof(idn));
        HMODULE h = LoadLibraryA("NORMALIZ.DLL");
        if (h != NULL) {
            *(FARPROC *)&idn.IdnToAscii = GetProcAddress(h, "IdnToAscii");
            *(FARPROC *)&idn.IdnToNameprepUnicode = GetProcAddress(h, "IdnToNameprepUnicode");
            *(FARPROC *)&idn.IdnToUnicode = GetProcAddress(h, "IdnToUnicode");
        }
    }

    void SetUp() override
    {
        if (idn.IdnToAscii == NULL)
            GTEST_SKIP() << "no NORMALIZ.DLL here (libidn2 not found)";
        ASSERT_NE(nullptr, idn.IdnToNameprepUnicode);
        ASSERT_NE(nullptr, idn.IdnToUnicode);
    }

    typedef int(WINAPI *CONVERTPROC)(DWORD, LPCWSTR, int, LPWSTR, int);

    /* Converts a terminated input; the output, or the error as "error N". */
    static Text Convert(CONVERTPROC lpfn, const Text &input, DWORD dwFlags = 0)
    {
        WCHAR rgw[512];
        SetLastError(0);
        int cch = lpfn(dwFlags, W(input), -1, rgw, 512);
        if (cch == 0) {
            std::string s = "error " + std::to_string(GetLastError());
            return Text(s.begin(), s.end());
        }
        if (cch < 1 || rgw[cch - 1] != 0)
            return u"(no terminator)";
        return Text(reinterpret_cast<const char16_t *>(rgw), cch - 1);
    }

    static IdnApi idn;
};

IdnApi IdnConversion::idn;

Text ErrorText(DWORD dwError)
{
    std::string s = "error " + std::to_string(dwError);
    return Text(s.begin(), s.end());
}

struct IdnCase {
    const char *lpszName;
    Text input;
    Text expected; // or ErrorText(n)
};

const Text kLabel63 = u"abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijk";

const IdnCase kToAsciiCases[] = {
    { "non-ASCII label", u"b\u00FCcher.example", u"xn--bcher-kva.example" },
    { "one label", u"\u0105.", u"xn--2da." },
    { "letters folded first", u"B\u00DCCHER.example", u"xn--bcher-kva.example" },
    { "ASCII labels folded with the rest", u"IMAP.B\u00FCcher.Example", u"imap.xn--bcher-kva.example" },
    { "sharp s becomes ss", u"fa\u00DF.example", u"fass.example" },
    { "ideographic full stop", u"b\u00FCcher\u3002example", u"xn--bcher-kva.example" },
    { "no STD3 rules by default", u"http://t\u0107", u"xn--http://t-78a" },
    { "all ASCII unchanged", u"imap.example.com", u"imap.example.com" },
    { "ASCII case kept", u"IMAP.Example.COM", u"IMAP.Example.COM" },
    { "ACE label unchanged", u"xn--bcher-kva.example", u"xn--bcher-kva.example" },
    { "trailing dot kept", u"b\u00FCcher.example.", u"xn--bcher-kva.example." },
    { "63-character label", kLabel63 + u".example", kLabel63 + u".example" },
    { "64-character label", kLabel63 + u"l.example", ErrorText(ERROR_INVALID_NAME) },
    { "64-character non-ASCII label", u"\u00FC" + kLabel63 + u".example", ErrorText(ERROR_INVALID_NAME) },
};

TEST_F(IdnConversion, ToAsciiEncodesNonAsciiLabels)
{
    for (const IdnCase &c : kToAsciiCases) {
        SCOPED_TRACE(c.lpszName);
        Text out = Convert(idn.IdnToAscii, c.input);
        EXPECT_TRUE(c.expected == out) << std::string(out.begin(), out.end());
    }
}

const IdnCase kNameprepCases[] = {
    // An all-ASCII name is left as it is, case included.
    { "all ASCII", u"IMAP.Example.COM", u"IMAP.Example.COM" },
    { "trailing dot", u"a.", u"a." },
    { "empty label", u"a..a", ErrorText(ERROR_INVALID_NAME) },
    { "non-ASCII folded", u"B\u00DCCHER.example", u"b\u00FCcher.example" },
    { "compatibility form", u"\uFB01sh.example", u"fish.example" },
    { "letter beyond the BMP", u"\U0001D49C.example", u"a.example" },
    { "soft hyphen dropped", u"b\u00FC\u00ADcher.example", u"b\u00FCcher.example" },
};

TEST_F(IdnConversion, NameprepFoldsAndNormalizes)
{
    for (const IdnCase &c : kNameprepCases) {
        SCOPED_TRACE(c.lpszName);
        Text out = Convert(idn.IdnToNameprepUnicode, c.input);
        EXPECT_TRUE(c.expected == out) << std::string(out.begin(), out.end());
    }
}

const IdnCase kToUnicodeCases[] = {
    { "ACE label decoded", u"xn--bcher-kva.example", u"b\u00FCcher.example" },
    { "ASCII unchanged", u"imap.example.com", u"imap.example.com" },
    { "input must be ASCII", u"b\u00FCcher.example", ErrorText(ERROR_INVALID_NAME) },
};

TEST_F(IdnConversion, ToUnicodeDecodesAceLabels)
{
    for (const IdnCase &c : kToUnicodeCases) {
        SCOPED_TRACE(c.lpszName);
        Text out = Convert(idn.IdnToUnicode, c.input);
        EXPECT_TRUE(c.expected == out) << std::string(out.begin(), out.end());
    }
}

// Counts: -1 reads to the terminator and counts it in the result; a count
// without it gives a result without it; an output count of 0 asks for the
// size.
TEST_F(IdnConversion, CountsFollowTheInput)
{
    const Text input = u"b\u00FCcher.example";
    const Text expected = u"xn--bcher-kva.example";
    WCHAR rgw[64];
    EXPECT_EQ((int)expected.size() + 1, idn.IdnToAscii(0, W(input), -1, NULL, 0));
    EXPECT_EQ((int)expected.size() + 1, idn.IdnToAscii(0, W(input), -1, rgw, 64));
    EXPECT_EQ((int)expected.size(), idn.IdnToAscii(0, W(input), (int)input.size(), NULL, 0));
    EXPECT_EQ((int)expected.size(), idn.IdnToAscii(0, W(input), (int)input.size(), rgw, 64));
    EXPECT_TRUE(expected == Text(reinterpret_cast<const char16_t *>(rgw), expected.size()));
    EXPECT_EQ(13, idn.IdnToAscii(0, W(input), 6, rgw, 64)) << "only the first label";
}

struct IdnFailureCase {
    const char *lpszName;
    DWORD dwFlags;
    const WCHAR *lpInput;
    int cchInput;
    int cchOutput;
    DWORD dwError;
};

TEST_F(IdnConversion, FailuresSetTheLastError)
{
    const Text input = u"b\u00FCcher.example";
    const IdnFailureCase kCases[] = {
        { "output too small", 0, W(input), -1, 8, ERROR_INSUFFICIENT_BUFFER },
        { "no input", 0, NULL, -1, 64, ERROR_INVALID_PARAMETER },
        { "negative count", 0, W(input), -2, 64, ERROR_INVALID_PARAMETER },
    };
    const CONVERTPROC rgProcs[] = { idn.IdnToAscii, idn.IdnToNameprepUnicode, idn.IdnToUnicode };
    for (const IdnFailureCase &c : kCases) {
        for (CONVERTPROC lpfn : rgProcs) {
            SCOPED_TRACE(testing::Message() << c.lpszName << " / function " << (lpfn == idn.IdnToAscii ? "IdnToAscii" : lpfn == idn.IdnToUnicode ? "IdnToUnicode" : "IdnToNameprepUnicode"));
            if (lpfn == idn.IdnToUnicode && c.dwError == ERROR_INSUFFICIENT_BUFFER)
                continue; // its output is shorter than its input here
            WCHAR rgw[64];
            SetLastError(0);
            EXPECT_EQ(0, lpfn(c.dwFlags, c.lpInput, c.cchInput, rgw, c.cchOutput));
            EXPECT_EQ(c.dwError, GetLastError());
        }
    }
}

// Names the encoding functions refuse. (IdnToUnicode is left out: Wine's
// answers these with other errors than Windows' documented ones.)
TEST_F(IdnConversion, BadNamesAreInvalid)
{
    const Text input = u"b\u00FCcher.example";
    const Text embeddedNul(u"t\0e\0", 4);
    const Text onlyNul(u"\0", 1);
    const Text std3(u"aa-");
    struct Case {
        const char *lpszName;
        DWORD dwFlags;
        const Text *lpInput;
        int cchInput;
    } kCases[] = {
        { "empty count", 0, &input, 0 },
        { "embedded terminator", 0, &embeddedNul, 4 },
        { "only a terminator", 0, &onlyNul, 1 },
        { "STD3: trailing hyphen", 0x2 /* IDN_USE_STD3_ASCII_RULES */, &std3, 3 },
    };
    const CONVERTPROC rgProcs[] = { idn.IdnToAscii, idn.IdnToNameprepUnicode };
    for (const Case &c : kCases) {
        for (CONVERTPROC lpfn : rgProcs) {
            SCOPED_TRACE(testing::Message() << c.lpszName << (lpfn == idn.IdnToAscii ? " / IdnToAscii" : " / IdnToNameprepUnicode"));
            WCHAR rgw[64];
            SetLastError(0);
            EXPECT_EQ(0, lpfn(c.dwFlags, W(*c.lpInput), c.cchInput, rgw, 64));
            EXPECT_EQ((DWORD)ERROR_INVALID_NAME, GetLastError());
        }
    }
}

} // namespace

// FormatMessageA / FormatMessageW. The shared cases run against the real
// Win32 API on Windows and the stand-in on Linux; the walk of the library's
// own message table is Linux-only (on Windows the table is a resource of
// the DLL, tested through the DLL).
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include "platform/messagetable.h"
#endif

namespace {

const DWORD kSystemFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
const DWORD kTableAndSystemFlags = FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_IGNORE_INSERTS;
const DWORD kLangUserDefault = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
// The customer bit is set: no system defines such a code.
const DWORD kNoSuchMessage = 0x20001234;

bool EndsWithCrLf(const std::string &s)
{
    return s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0;
}

// ---- System texts -----------------------------------------------------

TEST(PlatformFormatMessage, SystemCodeHasTextEndingInCrLf)
{
    const DWORD kCodes[] = { ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                             ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_PARAMETER,
                             ERROR_INSUFFICIENT_BUFFER };
    for (DWORD dwCode : kCodes) {
        SCOPED_TRACE(dwCode);
        char buffer[512];
        DWORD cch = FormatMessageA(kSystemFlags, NULL, dwCode,
                                   kLangUserDefault, buffer, sizeof(buffer),
                                   NULL);
        ASSERT_GT(cch, 2u) << "error " << GetLastError();
        EXPECT_EQ(strlen(buffer), cch);
        EXPECT_TRUE(EndsWithCrLf(buffer)) << buffer;
    }
}

TEST(PlatformFormatMessage, WideSystemTextEndsInCrLf)
{
    WCHAR buffer[512];
    DWORD cch = FormatMessageW(kSystemFlags, NULL, ERROR_ACCESS_DENIED, 0,
                               buffer, 512, NULL);
    ASSERT_GT(cch, 2u) << "error " << GetLastError();
    EXPECT_EQ((DWORD)lstrlenW(buffer), cch);
    EXPECT_EQ((unsigned)'\r', (unsigned)buffer[cch - 2]);
    EXPECT_EQ((unsigned)'\n', (unsigned)buffer[cch - 1]);
}

TEST(PlatformFormatMessage, TableThenSystemFindsSystemCodes)
{
    char buffer[512];
    DWORD cch = FormatMessageA(kTableAndSystemFlags, NULL, ERROR_ACCESS_DENIED,
                               kLangUserDefault, buffer, sizeof(buffer), NULL);
    EXPECT_GT(cch, 0u) << "error " << GetLastError();
}

TEST(PlatformFormatMessage, UnknownCodeIsNotFound)
{
    char buffer[512];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(kTableAndSystemFlags, NULL, kNoSuchMessage,
                                 kLangUserDefault, buffer, sizeof(buffer),
                                 NULL));
    EXPECT_EQ((DWORD)ERROR_MR_MID_NOT_FOUND, GetLastError());
}

TEST(PlatformFormatMessage, TooSmallBufferFails)
{
    char buffer[4];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(kSystemFlags, NULL, ERROR_ACCESS_DENIED,
                                 kLangUserDefault, buffer, sizeof(buffer),
                                 NULL));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(PlatformFormatMessage, AllocatedBufferIsLocalMemory)
{
    LPSTR lpsz = NULL;
    DWORD cch = FormatMessageA(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                               NULL, ERROR_ACCESS_DENIED, kLangUserDefault,
                               reinterpret_cast<LPSTR>(&lpsz), 0, NULL);
    ASSERT_GT(cch, 0u) << "error " << GetLastError();
    ASSERT_NE(nullptr, lpsz);
    EXPECT_EQ(strlen(lpsz), cch);
    EXPECT_EQ(nullptr, LocalFree(lpsz));

    LPWSTR lpszWide = NULL;
    cch = FormatMessageW(kSystemFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL,
                         ERROR_ACCESS_DENIED, kLangUserDefault,
                         reinterpret_cast<LPWSTR>(&lpszWide), 0, NULL);
    ASSERT_GT(cch, 0u) << "error " << GetLastError();
    EXPECT_EQ((DWORD)lstrlenW(lpszWide), cch);
    EXPECT_EQ(nullptr, LocalFree(lpszWide));
}

// ---- Texts from a string: escapes and inserts -------------------------

struct FromStringCase {
    const char *lpszName;
    DWORD dwFlags;      // added to FORMAT_MESSAGE_FROM_STRING
    const char *lpszFormat;
    std::vector<const char *> args;  // passed as an argument array
    const char *lpszExpected;
};

const FromStringCase kFromStringCases[] = {
    { "plain", 0, "plain text", {}, "plain text" },
    { "escapes", 0, "a%%b%nc%td", {}, "a%b\r\nc\td" },
    { "end of text", 0, "kept%0dropped", {}, "kept" },
    { "inserts in order", FORMAT_MESSAGE_ARGUMENT_ARRAY, "%1 and %2",
      { "x", "yy" }, "x and yy" },
    { "inserts reversed", FORMAT_MESSAGE_ARGUMENT_ARRAY, "%2-%1",
      { "x", "yy" }, "yy-x" },
    { "explicit string format", FORMAT_MESSAGE_ARGUMENT_ARRAY, "<%1!s!>",
      { "x" }, "<x>" },
    { "two-digit insert", FORMAT_MESSAGE_ARGUMENT_ARRAY, "%10",
      { "1", "2", "3", "4", "5", "6", "7", "8", "9", "ten" }, "ten" },
    { "ignored inserts stay", FORMAT_MESSAGE_IGNORE_INSERTS, "%1 and %2!s!",
      {}, "%1 and %2!s!" },
};

TEST(PlatformFormatMessage, FromStringTable)
{
    for (const FromStringCase &c : kFromStringCases) {
        SCOPED_TRACE(c.lpszName);
        std::vector<DWORD_PTR> args;
        for (const char *lpszArg : c.args)
            args.push_back(reinterpret_cast<DWORD_PTR>(lpszArg));
        char buffer[256];
        memset(buffer, '#', sizeof(buffer));
        DWORD cch = FormatMessageA(
            FORMAT_MESSAGE_FROM_STRING | c.dwFlags, c.lpszFormat, 0, 0, buffer,
            sizeof(buffer),
            args.empty() ? NULL : reinterpret_cast<va_list *>(args.data()));
        ASSERT_EQ(strlen(c.lpszExpected), cch) << "error " << GetLastError();
        EXPECT_STREQ(c.lpszExpected, buffer);
    }
}

// Inserts read from a va_list, as a variadic caller passes them.
DWORD FormatWithVaList(char *lpBuffer, DWORD nSize, const char *lpszFormat,
                       ...)
{
    va_list args;
    va_start(args, lpszFormat);
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_STRING, lpszFormat, 0, 0,
                               lpBuffer, nSize, &args);
    va_end(args);
    return cch;
}

TEST(PlatformFormatMessage, InsertsFromVaList)
{
    char buffer[64];
    ASSERT_EQ(7u, FormatWithVaList(buffer, sizeof(buffer), "%2 < %1",
                                   "big", "s"));
    EXPECT_STREQ("s < big", buffer);
}

TEST(PlatformFormatMessage, WideFromStringWithWideInsert)
{
    const WCHAR format[] = { '[', '%', '1', ']', 0 };
    const WCHAR insert[] = { 0x20AC, 'x', 0 };
    DWORD_PTR args[] = { reinterpret_cast<DWORD_PTR>(insert) };
    WCHAR buffer[16];
    DWORD cch = FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, format, 0,
        0, buffer, 16, reinterpret_cast<va_list *>(args));
    ASSERT_EQ(4u, cch) << "error " << GetLastError();
    const WCHAR expected[] = { '[', 0x20AC, 'x', ']', 0 };
    EXPECT_EQ(0, memcmp(expected, buffer, sizeof(expected)));
}

TEST(PlatformFormatMessage, FromStringTooSmallBufferFails)
{
    char buffer[5];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "12345", 0, 0,
                                 buffer, sizeof(buffer), NULL));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(4u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "1234", 0, 0,
                                 buffer, sizeof(buffer), NULL));
}

#if !defined(_WIN32)

// ---- The library's own table (Linux) ----------------------------------

TEST(PlatformFormatMessageTable, EveryEntryIsFoundThroughOurModule)
{
    ASSERT_GT(g_cMessageTable, 0);
    for (int i = 0; i < g_cMessageTable; i++) {
        const MESSAGETABLEENTRY &entry = g_MessageTable[i];
        SCOPED_TRACE(entry.dwMessageId);
        const HMODULE kSources[] = { PlatformSelfModule(), NULL };
        for (HMODULE hSource : kSources) {
            char buffer[1024];
            DWORD cch = FormatMessageA(kTableAndSystemFlags, hSource,
                                       entry.dwMessageId, kLangUserDefault,
                                       buffer, sizeof(buffer), NULL);
            ASSERT_EQ(strlen(entry.lpszText), cch)
                << "error " << GetLastError();
            EXPECT_STREQ(entry.lpszText, buffer);
            EXPECT_TRUE(EndsWithCrLf(buffer));
        }
    }
}

TEST(PlatformFormatMessageTable, WideTextIsTheUtf16OfTheEntry)
{
    ASSERT_GT(g_cMessageTable, 0);
    const MESSAGETABLEENTRY &entry = g_MessageTable[0];
    WCHAR expected[1024];
    int cchExpected = MultiByteToWideChar(CP_UTF8, 0, entry.lpszText, -1,
                                          expected, 1024);
    ASSERT_GT(cchExpected, 0);
    WCHAR buffer[1024];
    DWORD cch = FormatMessageW(kTableAndSystemFlags, PlatformSelfModule(),
                               entry.dwMessageId, 0x409, buffer, 1024, NULL);
    ASSERT_EQ((DWORD)(cchExpected - 1), cch) << "error " << GetLastError();
    EXPECT_EQ(0, memcmp(expected, buffer, cchExpected * sizeof(WCHAR)));
}

// The library asks with a 10-byte buffer in one case and relies on a text
// that does not fit giving 0.
TEST(PlatformFormatMessageTable, TextLongerThanTheBufferGivesZero)
{
    for (int i = 0; i < g_cMessageTable; i++) {
        const MESSAGETABLEENTRY &entry = g_MessageTable[i];
        if (strlen(entry.lpszText) < 10)
            continue;
        char buffer[10];
        SetLastError(0);
        EXPECT_EQ(0u, FormatMessageA(kTableAndSystemFlags,
                                     PlatformSelfModule(), entry.dwMessageId,
                                     kLangUserDefault, buffer, sizeof(buffer),
                                     NULL));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        return;
    }
    GTEST_SKIP() << "no entry of 10 characters or more";
}

TEST(PlatformFormatMessageTable, OnlyTheTableWithoutFromSystem)
{
    char buffer[512];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 PlatformSelfModule(), ERROR_ACCESS_DENIED, 0,
                                 buffer, sizeof(buffer), NULL));
    EXPECT_EQ((DWORD)ERROR_MR_MID_NOT_FOUND, GetLastError());
}

TEST(PlatformFormatMessageTable, ModuleWithoutTableHasNoTexts)
{
    ASSERT_TRUE(PlatformRegisterModule("TWNOTABLE9.DLL", NULL, 0));
    HMODULE hModule = LoadLibraryA("TWNOTABLE9.DLL");
    ASSERT_NE(nullptr, hModule);
    char buffer[512];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 hModule, 1, 0, buffer, sizeof(buffer), NULL));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_TYPE_NOT_FOUND, GetLastError());
    // With FROM_SYSTEM the system still answers.
    EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | kSystemFlags,
                             hModule, ERROR_ACCESS_DENIED, 0, buffer,
                             sizeof(buffer), NULL),
              0u);
    EXPECT_TRUE(FreeLibrary(hModule));
}

// Which languages Windows answers depends on what is installed; ours are
// the neutral ones and English (United States).
TEST(PlatformFormatMessageTable, OtherLanguagesAreNotFound)
{
    char buffer[512];
    const DWORD kGerman = MAKELANGID(0x07, 0x01);
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(kSystemFlags, NULL, ERROR_ACCESS_DENIED,
                                 kGerman, buffer, sizeof(buffer), NULL));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_LANG_NOT_FOUND, GetLastError());
}

TEST(PlatformFormatMessageTable, InsertWithoutArgumentsFails)
{
    char buffer[64];
    SetLastError(0);
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "%1", 0, 0,
                                 buffer, sizeof(buffer), NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

#endif  // !_WIN32

}  // namespace

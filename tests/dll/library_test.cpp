/*
 * The built library as applications see it: linked through its import
 * library (Windows) or by its soname (Linux), with the error texts of its
 * message table and, on Windows, its version record.
 */
#include "support/testutil.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#ifndef TW_SOURCE_DIR
#error "TW_SOURCE_DIR names the source tree"
#endif

namespace {

struct ErrorEntry {
    DWORD dwCode;
    std::string text;
};

/* The error texts' one source, read as the generator reads it. */
std::vector<ErrorEntry> ReadErrorSource()
{
#if defined(_WIN32)
    std::string path = std::string("Z:") + TW_SOURCE_DIR + "/resources/errors.txt";
#else
    std::string path = std::string(TW_SOURCE_DIR) + "/resources/errors.txt";
#endif
    std::ifstream in(path);
    std::vector<ErrorEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        unsigned long n;
        std::string name;
        if (!(fields >> n >> name))
            continue;
        std::string text;
        std::getline(fields, text);
        size_t start = text.find_first_not_of(' ');
        entries.push_back({(DWORD)(0x80040000 | n), start == std::string::npos ? "" : text.substr(start)});
    }
    return entries;
}

class Library : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ImapInitializeA(NULL, NULL)); }
    void TearDown() override { ImapUninitialize(); }
};

TEST_F(Library, ErrorTextAndBufferSizes)
{
    char buf[64];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(33, ImapGetErrorStringA(0x80042736, buf, sizeof buf));
    EXPECT_STREQ("Invalid handle passed to function", buf);

    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(0, ImapGetErrorStringA(0x80042736, buf, 10));
    EXPECT_EQ('\0', buf[0]) << "a buffer too small is left empty";
    EXPECT_EQ(0, ImapGetErrorStringA(0x80042736, buf, 34)) << "33 characters and the line end do not fit";
    EXPECT_EQ(33, ImapGetErrorStringA(0x80042736, NULL, 0)) << "a NULL buffer only measures";

    ImapSetLastError(0);
    EXPECT_EQ(0, ImapGetErrorStringA(0, buf, sizeof buf));
    ImapSetLastError(TW_ERROR_CONNECTION_CLOSED);
    EXPECT_EQ(29, ImapGetErrorStringA(0, buf, sizeof buf)) << "0 means the last error";
    EXPECT_STREQ("Server closed data connection", buf);

    EXPECT_EQ(0, ImapGetErrorStringA(0x8004FFFE, buf, sizeof buf)) << "no such text";
    EXPECT_STREQ("", buf);
}

TEST_F(Library, SystemCodesHaveTexts)
{
    char buf[256];
    int n = ImapGetErrorStringA(5, buf, sizeof buf);
    EXPECT_GT(n, 0);
    EXPECT_NE('\n', buf[n - 1]);
    EXPECT_NE('\r', buf[n - 1]);
}

TEST_F(Library, WideErrorText)
{
    WCHAR buf[64];
    EXPECT_EQ(33, ImapGetErrorStringW(0x80042736, buf, 64));
    EXPECT_EQ(Utf16("Invalid handle passed to function"), FromW(buf));
    EXPECT_EQ(33, ImapGetErrorStringW(0x80042736, NULL, 0));
    /* The text with its line end and terminator must fit, as in the A form. */
    EXPECT_EQ(0, ImapGetErrorStringW(0x80042736, buf, 8));
    EXPECT_EQ(0, ImapGetErrorStringW(0x80042736, buf, 34));
    EXPECT_EQ(33, ImapGetErrorStringW(0x80042736, buf, 35));
    buf[0] = u'x';
    EXPECT_EQ(0, ImapGetErrorStringW(0x80042736, buf, 0));
    EXPECT_EQ(u'x', buf[0]) << "a zero length writes nothing";
}

TEST_F(Library, ErrorTextTakesAnyLength)
{
    std::vector<char> bigA(1u << 20);
    EXPECT_EQ(33, ImapGetErrorStringA(0x80042736, bigA.data(), (int)bigA.size()));
    /* The A text is received into a buffer of the caller's length: taken
       from the heap, a huge length cannot overrun the stack. */
    std::vector<WCHAR> big(4u << 20);
    EXPECT_EQ(33, ImapGetErrorStringW(0x80042736, big.data(), (int)big.size()));
}

TEST_F(Library, EveryCodeHasItsText)
{
    std::vector<ErrorEntry> entries = ReadErrorSource();
    ASSERT_EQ(260u, entries.size());
    for (const ErrorEntry &e : entries) {
        char buf[512];
        int n = ImapGetErrorStringA(e.dwCode, buf, sizeof buf);
        EXPECT_EQ((int)e.text.size(), n) << std::hex << e.dwCode;
        EXPECT_EQ(e.text, std::string(buf)) << std::hex << e.dwCode;
    }
}

TEST_F(Library, AttachThreadMovesOwnership)
{
    EXPECT_EQ((DWORD)-1, ImapAttachThread(4095, 0));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
}

#if defined(_WIN32)
TEST_F(Library, SystemFindsTheMessageTableInTheDll)
{
    HMODULE hModule = GetModuleHandleA("TWMAPAV9.DLL");
    ASSERT_NE(nullptr, hModule);
    char buf[128];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             hModule, 0x80042736, 0x400, buf, sizeof buf, NULL);
    EXPECT_EQ(35u, n);
    EXPECT_STREQ("Invalid handle passed to function\r\n", buf);
    n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, hModule, 0x80042710, 0x409,
                       buf, sizeof buf, NULL);
    EXPECT_STREQ("No error\r\n", buf);
}

TEST_F(Library, VersionRecord)
{
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(GetModuleHandleA("TWMAPAV9.DLL"), path, sizeof path));
    DWORD dwHandle = 0;
    DWORD cb = GetFileVersionInfoSizeA(path, &dwHandle);
    ASSERT_NE(0u, cb);
    std::vector<char> info(cb);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, cb, info.data()));
    VS_FIXEDFILEINFO *lpFixed = nullptr;
    UINT uLen = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (LPVOID *)&lpFixed, &uLen));
    EXPECT_EQ(MAKELONG(5, 9), lpFixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(3421, 9530), lpFixed->dwFileVersionLS);
    char *lpDesc = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileDescription", (LPVOID *)&lpDesc, &uLen));
    EXPECT_STREQ("Tidewire Internet Message Access Protocol Library", lpDesc);
}
#endif

} // namespace

#include "twplatform.h"

namespace {

/* An allocating download hands over a global-memory block that the
   application frees itself: the functions are there for it on both
   targets. */
TEST(PlatformForApplications, GlobalMemoryRoundTrip)
{
    HGLOBAL h = GlobalAlloc(GHND, 64);
    ASSERT_NE(nullptr, h);
    char *p = (char *)GlobalLock(h);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, p[63]);
    GlobalUnlock(h);
    EXPECT_LE(64u, (unsigned)GlobalSize(h));
    EXPECT_EQ(nullptr, GlobalFree(h));
}

} // namespace

/*
 * The last error: forming codes, per-thread slots, the system's copy.
 */
#include "support/testutil.h"
#include "platform/platform.h"

#include <thread>

namespace {

TEST(LastError, LowWordsAreFormedIntoLibraryCodes)
{
    LibraryScope lib;
    ASSERT_TRUE(lib.ok);
    struct { DWORD dwIn, dwStored; } cases[] = {
        {10038, 0x80042736},     /* a low word gains the facility */
        {0x80042736, 0x80042736}, /* a full code is kept */
        {0xFFFF, 0x8004FFFF},
        {0x10000, 0x10000},       /* above a low word: unchanged */
        {0, 0},                   /* clears */
    };
    for (const auto &c : cases) {
        ImapSetLastError(c.dwIn);
        EXPECT_LAST_ERROR(c.dwStored);
        EXPECT_EQ(c.dwStored, GetLastError()) << "the system's last error gets the same code";
    }
}

TEST(LastError, EachThreadSeesItsOwn)
{
    LibraryScope lib;
    ASSERT_TRUE(lib.ok);
    ImapSetLastError(TW_ERROR_INVALID_HANDLE);
    DWORD dwOther = 0;
    std::thread t([&] {
        ImapSetLastError(TW_ERROR_OPERATION_TIMEOUT);
        dwOther = ImapGetLastError();
    });
    t.join();
    EXPECT_EQ(TwHex(TW_ERROR_OPERATION_TIMEOUT), TwHex(dwOther));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
}

TEST(LastError, ReadingKeepsTheSystemLastError)
{
    LibraryScope lib;
    ASSERT_TRUE(lib.ok);
    ImapSetLastError(TW_ERROR_INVALID_HANDLE);
    SetLastError(5);
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
    EXPECT_EQ(5u, GetLastError());
}

TEST(LastError, ErrorStringLeavesTheLastErrorAlone)
{
    LibraryScope lib;
    ASSERT_TRUE(lib.ok);
    ImapSetLastError(TW_ERROR_INVALID_HANDLE);
    char buf[8];
    ImapGetErrorStringA(0x8004FFFE, buf, sizeof buf); /* no such text */
    ImapGetErrorStringA(TW_ERROR_INVALID_HANDLE, buf, sizeof buf); /* too small */
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
    EXPECT_EQ(TW_ERROR_INVALID_HANDLE, GetLastError());
}

} // namespace

// The flag word codec: flag lists from the server to IMAP_FLAG_ bits, and
// bits to the flag lists of STORE and APPEND.
#include "message/flags.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

const DWORD kNamedBits = IMAP_FLAG_ANSWERED | IMAP_FLAG_DRAFT | IMAP_FLAG_URGENT |
                         IMAP_FLAG_SEEN | IMAP_FLAG_RECENT | IMAP_FLAG_DELETED |
                         IMAP_FLAG_NOINFERIORS | IMAP_FLAG_NOSELECT |
                         IMAP_FLAG_MARKED | IMAP_FLAG_UNMARKED;

const char kAllNames[] =
    "(\\ANSWERED \\DRAFT \\FLAGGED \\SEEN \\RECENT \\DELETED"
    " \\NOINFERIORS \\NOSELECT \\MARKED \\UNMARKED)";

// Text placed so that its terminator is the last readable byte: the page
// after it is inaccessible, so a parser that reads one byte too far faults
// instead of passing by luck.
class GuardedText {
public:
    explicit GuardedText(const std::string &text)
    {
#if defined(_WIN32)
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        m_cbPage = si.dwPageSize;
        m_lpBase = (char *)VirtualAlloc(NULL, 2 * m_cbPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        DWORD dwOld;
        if (m_lpBase != NULL && !VirtualProtect(m_lpBase + m_cbPage, m_cbPage, PAGE_NOACCESS, &dwOld)) {
            VirtualFree(m_lpBase, 0, MEM_RELEASE);
            m_lpBase = NULL;
        }
#else
        m_cbPage = (size_t)sysconf(_SC_PAGESIZE);
        void *lpv = mmap(NULL, 2 * m_cbPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_lpBase = lpv == MAP_FAILED ? NULL : (char *)lpv;
        if (m_lpBase != NULL && mprotect(m_lpBase + m_cbPage, m_cbPage, PROT_NONE) != 0) {
            munmap(m_lpBase, 2 * m_cbPage);
            m_lpBase = NULL;
        }
#endif
        if (m_lpBase != NULL && text.size() < m_cbPage) {
            m_lpszText = m_lpBase + m_cbPage - (text.size() + 1);
            memcpy(m_lpszText, text.c_str(), text.size() + 1);
        }
    }
    ~GuardedText()
    {
        if (m_lpBase == NULL)
            return;
#if defined(_WIN32)
        VirtualFree(m_lpBase, 0, MEM_RELEASE);
#else
        munmap(m_lpBase, 2 * m_cbPage);
#endif
    }
    GuardedText(const GuardedText &) = delete;
    GuardedText &operator=(const GuardedText &) = delete;

    // NULL when the guard could not be set up.
    const char *Text() const { return m_lpszText; }

private:
    char *m_lpBase = NULL;
    char *m_lpszText = NULL;
    size_t m_cbPage = 0;
};

struct ParseCase {
    const char *lpszText;
    DWORD dwExpected;
};

const ParseCase kParseCases[] = {
    // system flags and mailbox attributes
    {"(\\Seen \\Deleted)", IMAP_FLAG_SEEN | IMAP_FLAG_DELETED},
    {"(\\Answered \\Flagged \\Draft $Forwarded)", IMAP_FLAG_ANSWERED | IMAP_FLAG_URGENT | IMAP_FLAG_DRAFT},
    {"(\\Noselect \\HasNoChildren)", IMAP_FLAG_NOSELECT},
    {"(\\Recent)", IMAP_FLAG_RECENT},
    {"(\\Marked \\Noinferiors)", IMAP_FLAG_MARKED | IMAP_FLAG_NOINFERIORS},
    {"(\\Unmarked)", IMAP_FLAG_UNMARKED},
    {"(\\Seen \\Seen \\SEEN)", IMAP_FLAG_SEEN},

    // case is ignored
    {"(\\seen)", IMAP_FLAG_SEEN},
    {"(\\uNmArKeD \\noSELECT)", IMAP_FLAG_UNMARKED | IMAP_FLAG_NOSELECT},

    // names are compared as prefixes
    {"(\\Seenly)", IMAP_FLAG_SEEN},
    {"(\\Recentish \\Draft)", IMAP_FLAG_RECENT | IMAP_FLAG_DRAFT},
    {"(\\Seen\\Deleted)", IMAP_FLAG_SEEN | IMAP_FLAG_DELETED},

    // unknown system flags and keywords add nothing
    {"(\\*)", 0},
    {"()", 0},
    {"(\\Junk \\Seen)", IMAP_FLAG_SEEN},
    {"(\\HasChildren \\Marked)", IMAP_FLAG_MARKED},
    {"($Forwarded \\Answered NonJunk)", IMAP_FLAG_ANSWERED},
    {"(\\ \\Draft)", IMAP_FLAG_DRAFT},
    {"(\\Seen \xE9t\xE9 \xFF \\Draft)", IMAP_FLAG_SEEN | IMAP_FLAG_DRAFT},

    // white space between names
    {"(  \\Seen\t\\Draft\r\n\\Recent )", IMAP_FLAG_SEEN | IMAP_FLAG_DRAFT | IMAP_FLAG_RECENT},

    // the first list in the text is the one read
    {"", 0},
    {"\\Seen \\Deleted", 0},
    {"FLAGS (\\Draft)", IMAP_FLAG_DRAFT},
    {" (\\Seen \\Answered) UID 5)", IMAP_FLAG_SEEN | IMAP_FLAG_ANSWERED},
    {"OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Limited", IMAP_FLAG_DELETED | IMAP_FLAG_SEEN},
    {"(\\Seen \\Draft", IMAP_FLAG_SEEN | IMAP_FLAG_DRAFT},

    // nothing after the closing parenthesis counts, wherever it stands:
    // after a name, after white space, or glued to a keyword or unknown flag
    {"(\\Seen $Junk) UID 5 (\\Deleted)", IMAP_FLAG_SEEN},
    {"(\\Seen $Junk) \\Deleted", IMAP_FLAG_SEEN},
    {"(\\Seen \\Junk) \\Answered", IMAP_FLAG_SEEN},
    {"(\\Seen ) \\Deleted", IMAP_FLAG_SEEN},
    {"(\\Seen\r\n) \\Draft", IMAP_FLAG_SEEN},
    {"( ) \\Deleted", 0},
    {"($Junk) \\Seen", 0},
    {"(\\*) \\Seen", 0},
    {"[PERMANENTFLAGS (\\Deleted \\*)] \\Seen", IMAP_FLAG_DELETED},
    {"(\\Seen) \\Deleted", IMAP_FLAG_SEEN},
    {"() \\Deleted", 0},

    // text that ends early
    {"(", 0},
    {"( ", 0},
    {"(\\", 0},
    {"(\\S", 0},
    {"(\\Seen \\", IMAP_FLAG_SEEN},
    {"(\\Seen $", IMAP_FLAG_SEEN},
    {"x(", 0},
};

TEST(FlagsParse, Table)
{
    for (const auto &c : kParseCases) {
        EXPECT_EQ(c.dwExpected, ParseFlagList(c.lpszText)) << "text: " << c.lpszText;
    }
}

TEST(FlagsParse, NullTextIsNoFlags)
{
    EXPECT_EQ(0u, ParseFlagList(NULL));
}

// Every row, and every prefix of it, ends at an inaccessible page; a cut can
// only lose flags that the whole text has, never add one.
TEST(FlagsParse, NeverReadsPastTheTerminator)
{
    for (const auto &c : kParseCases) {
        std::string text(c.lpszText);
        for (size_t cch = 0; cch <= text.size(); cch++) {
            GuardedText guarded(text.substr(0, cch));
            ASSERT_NE(nullptr, guarded.Text());
            DWORD dwFlags = ParseFlagList(guarded.Text());
            EXPECT_EQ(0u, dwFlags & ~c.dwExpected)
                << "text: " << c.lpszText << " cut after " << cch << " characters";
            if (cch == text.size()) {
                EXPECT_EQ(c.dwExpected, dwFlags) << "text: " << c.lpszText;
            }
        }
    }
}

TEST(FlagsParse, NeverYieldsUnnamedBits)
{
    const char *texts[] = {"(\\Seen \\Deleted \\Answered \\Flagged \\Draft \\Recent"
                           " \\Noinferiors \\Noselect \\Marked \\Unmarked \\* \\Junk $Label1)",
                           kAllNames};
    for (const char *lpszText : texts) {
        EXPECT_EQ(kNamedBits, ParseFlagList(lpszText)) << "text: " << lpszText;
    }
}

TEST(FlagsTable, NamesEachBitOnceInAscendingOrder)
{
    DWORD dwSeen = 0;
    int i = 0;
    for (; FLAGNAMES[i].lpszName != NULL; i++) {
        DWORD dwFlag = FLAGNAMES[i].dwFlag;
        EXPECT_EQ(0u, dwFlag & (dwFlag - 1)) << "entry " << i << " is not one bit";
        EXPECT_GT(dwFlag, dwSeen) << "entry " << i << " out of order";
        dwSeen |= dwFlag;
        const char *p = FLAGNAMES[i].lpszName;
        EXPECT_NE('\0', *p) << "entry " << i;
        for (; *p != '\0'; p++)
            EXPECT_TRUE(*p >= 'A' && *p <= 'Z') << "entry " << i << ": " << FLAGNAMES[i].lpszName;
    }
    EXPECT_EQ(FLAGNAMES_COUNT, i);
    EXPECT_EQ(0u, FLAGNAMES[i].dwFlag);
    EXPECT_EQ(kNamedBits, dwSeen);
}

struct FormatCase {
    DWORD dwFlags;
    const char *lpszExpected;
};

TEST(FlagsFormat, Table)
{
    const FormatCase cases[] = {
        {IMAP_FLAG_SEEN | IMAP_FLAG_DELETED, "(\\SEEN \\DELETED)"},
        {IMAP_FLAG_ANSWERED | IMAP_FLAG_URGENT, "(\\ANSWERED \\FLAGGED)"},
        {IMAP_FLAG_NONE, "()"},
        {IMAP_FLAG_NOINFERIORS, "(\\NOINFERIORS)"},
        {IMAP_FLAG_UNMARKED | IMAP_FLAG_DRAFT, "(\\DRAFT \\UNMARKED)"},
        {kNamedBits, kAllNames},
        // bits without a name are left out
        {0x10 | IMAP_FLAG_SEEN, "(\\SEEN)"},
        {~kNamedBits, "()"},
        {0xFFFFFFFF, kAllNames},
    };
    for (const auto &c : cases) {
        char szBuffer[FLAGLIST_BUFFER_SIZE + 16];
        memset(szBuffer, '#', sizeof szBuffer);
        int cch = FormatFlagList(c.dwFlags, szBuffer);
        int cchExpected = (int)strlen(c.lpszExpected);
        EXPECT_EQ(cchExpected, cch) << "flags 0x" << std::hex << c.dwFlags;
        EXPECT_STREQ(c.lpszExpected, szBuffer) << "flags 0x" << std::hex << c.dwFlags;
        for (size_t i = (size_t)cchExpected + 1; i < sizeof szBuffer; i++)
            ASSERT_EQ('#', szBuffer[i]) << "flags 0x" << std::hex << c.dwFlags << ": byte " << i << " written";
    }
}

TEST(FlagsFormat, AllNamesFitTheBuffer)
{
    char szBuffer[FLAGLIST_BUFFER_SIZE];
    EXPECT_EQ(91, FormatFlagList(kNamedBits, szBuffer));
    EXPECT_LT(91, FLAGLIST_BUFFER_SIZE);
}

TEST(FlagsFormat, NullBufferIsZero)
{
    EXPECT_EQ(0, FormatFlagList(kNamedBits, NULL));
    EXPECT_EQ(0, FormatFlagList(0, NULL));
}

// Every set of named bits survives formatting and parsing back, in the
// formatter's upper case and in lower case.
TEST(FlagsRoundTrip, EverySubsetOfTheNamedBits)
{
    for (unsigned nSubset = 0; nSubset < (1u << FLAGNAMES_COUNT); nSubset++) {
        DWORD dwFlags = 0;
        for (int i = 0; i < FLAGNAMES_COUNT; i++) {
            if (nSubset & (1u << i))
                dwFlags |= FLAGNAMES[i].dwFlag;
        }
        char szBuffer[FLAGLIST_BUFFER_SIZE];
        int cch = FormatFlagList(dwFlags, szBuffer);
        ASSERT_GT(cch, 0) << "flags 0x" << std::hex << dwFlags;
        ASSERT_EQ((size_t)cch, strlen(szBuffer)) << "flags 0x" << std::hex << dwFlags;
        EXPECT_EQ(dwFlags, ParseFlagList(szBuffer)) << szBuffer;

        for (char *p = szBuffer; *p != '\0'; p++) {
            if (*p >= 'A' && *p <= 'Z')
                *p = (char)(*p + ('a' - 'A'));
        }
        EXPECT_EQ(dwFlags, ParseFlagList(szBuffer)) << szBuffer;
    }
}

} // namespace

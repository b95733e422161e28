/*
 * testutil.h - small helpers shared by the test programs (header only, so
 * that the programs linked with the shared library can use them too).
 */
#ifndef TW_TESTS_TESTUTIL_H
#define TW_TESTS_TESTUTIL_H

#include "twmapav9.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

/* An error code that prints in hex in failure messages. */
struct TwHex {
    explicit TwHex(unsigned long v) : value(v) {}
    unsigned long value;
    bool operator==(const TwHex &o) const { return value == o.value; }
};
inline void PrintTo(const TwHex &h, std::ostream *os)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lX", h.value);
    *os << buf;
}

/* Checks the calling thread's last library error. */
#define EXPECT_LAST_ERROR(expected) EXPECT_EQ(TwHex(expected), TwHex(ImapGetLastError()))

/* UTF-16 text from UTF-8 (up to three-byte sequences; enough for tests). */
inline std::u16string Utf16(const char *lpszUtf8)
{
    std::u16string out;
    const unsigned char *p = (const unsigned char *)lpszUtf8;
    while (*p) {
        unsigned c = *p++;
        if (c >= 0xE0) {
            c = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else if (c >= 0xC0) {
            c = ((c & 0x1F) << 6) | (p[0] & 0x3F);
            p += 1;
        }
        out.push_back((char16_t)c);
    }
    return out;
}

/* WCHAR is wchar_t on Windows and char16_t on Linux; both are UTF-16. */
inline const WCHAR *W(const std::u16string &s) { return (const WCHAR *)s.c_str(); }
inline std::u16string FromW(const WCHAR *p) { return std::u16string((const char16_t *)p); }

/* Keeps the library initialized for the scope of a test. */
class LibraryScope {
public:
    LibraryScope() : ok(ImapInitializeA(NULL, NULL) != FALSE) {}
    ~LibraryScope() { if (ok) ImapUninitialize(); }
    LibraryScope(const LibraryScope &) = delete;
    LibraryScope &operator=(const LibraryScope &) = delete;
    const bool ok;
};

#endif

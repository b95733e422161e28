/*
 * Host names and addresses: normalization, the syntax test, numeric
 * addresses and socket addresses.
 */
#include "support/netfixture.h"

namespace {

class HostName : public NetTest {};

TEST_F(HostName, NormalizationTable)
{
    std::string label63(63, 'a'), label64(64, 'a');
    struct { const char *lpszIn; const char *lpszOut; } cases[] = {
        /* trimming and case */
        {"  Mail.Example.COM.  ", "mail.example.com"},
        {"imap.example.com trailing words", "imap.example.com"},
        {"\t\r\nimap.example.com", "imap.example.com"},
        /* length: two characters are refused, three pass */
        {"ab", nullptr},
        {"a.b", "a.b"},
        {"ab.", nullptr},
        /* labels of 63 and 64 characters */
        {nullptr, nullptr}, /* placeholders filled below */
        {nullptr, nullptr},
        /* characters */
        {"mail_server.example", nullptr},
        {"-mail.example", nullptr},
        {".mail.example", nullptr},
        /* numeric addresses in canonical form */
        {"127.0.0.1", "127.0.0.1"},
        {"fe80::1", "fe80::1"},
        {"fe80:0:0:0:0:0:0:1", "fe80::1"},
        {"FE80::1", nullptr}, /* upper-case hex is no address text, and ':' no name */
        {"::1", "::1"},
    };
    std::string in63 = label63 + ".example", in64 = label64 + ".example";
    cases[6] = {in63.c_str(), in63.c_str()};
    cases[7] = {in64.c_str(), nullptr};
    for (const auto &c : cases) {
        char out[256];
        char *lp = NormalizeHostName(c.lpszIn, out);
        if (c.lpszOut == nullptr) {
            EXPECT_EQ(nullptr, lp) << c.lpszIn;
        } else {
            ASSERT_NE(nullptr, lp) << c.lpszIn;
            EXPECT_STREQ(c.lpszOut, out) << c.lpszIn;
        }
    }
}

TEST_F(HostName, SyntaxTest)
{
    struct { const char *lpszName; BOOL bValid; } cases[] = {
        {"mail.example", TRUE}, {"mail..example", TRUE}, {"mail-.example", TRUE}, {"a.b", TRUE},
        {"ab", FALSE}, {"-mail.example", FALSE}, {".mail.example", FALSE}, {"mail_x.example", FALSE},
        {"mail example", FALSE}, {NULL, FALSE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.bValid, IsValidHostName(c.lpszName)) << (c.lpszName ? c.lpszName : "NULL");
}

TEST_F(HostName, LongNames)
{
    /* The longest name a resolver takes is 253 characters; 256 are never
       copied. */
    std::string name;
    while (name.size() < 253)
        name += name.size() % 50 == 49 ? '.' : 'x';
    char out[256];
    EXPECT_NE(nullptr, NormalizeHostName(name.c_str(), out));
    EXPECT_STREQ(name.c_str(), out);
    EXPECT_EQ(nullptr, NormalizeHostName((name + "yyy").c_str(), out));
    EXPECT_EQ(nullptr, NormalizeHostName(nullptr, out));
    EXPECT_STREQ("", out);
}

TEST_F(HostName, InternationalNameBecomesAscii)
{
    if (g_SocketInterface.IdnToAscii == NULL)
        GTEST_SKIP() << "no IDN support on this system";
    char out[256];
    ASSERT_NE(nullptr, NormalizeHostName("b\xC3\xBC" "cher.example", out));
    EXPECT_STREQ("xn--bcher-kva.example", out);
    /* A broken UTF-8 sequence is refused. */
    EXPECT_EQ(nullptr, NormalizeHostName("b\xC3" "cher.example", out));
}

TEST_F(HostName, InternationalNameRefusedWithoutIdn)
{
    PFN_IDNTOASCII lpfnSaved = g_SocketInterface.IdnToAscii;
    g_SocketInterface.IdnToAscii = NULL;
    char out[256];
    EXPECT_EQ(nullptr, NormalizeHostName("b\xC3\xBC" "cher.example", out));
    EXPECT_NE(nullptr, NormalizeHostName("mail.example", out));
    g_SocketInterface.IdnToAscii = lpfnSaved;
}

TEST_F(HostName, IPv4TextLikeInetAddr)
{
    /* The parser of systems without inet_pton: decimal or 0x parts, no
       octal, inet_addr's combining rules. */
    struct { const char *lpszText; DWORD dwHost; } cases[] = {
        {"127.0.0.1", 0x7F000001}, {"0x7f.1", 0x7F000001}, {"10.0x10.1", 0x0A100001},
        {"010.1.1.1", 0x0A010101}, {"1.2.3.4 tail", 0x01020304}, {"16909060", 0x01020304},
        {"1.2.3.256", INADDR_NONE}, {"256.1.1.1", INADDR_NONE}, {"1.2.3.4.5", INADDR_NONE},
        {"1.2.3.4:143", INADDR_NONE}, {"1.16777216", INADDR_NONE}, {"255.255.255.255", INADDR_NONE},
    };
    for (const auto &c : cases) {
        DWORD dw = ParseIPv4Text(c.lpszText);
        DWORD dwExpected = c.dwHost == INADDR_NONE ? INADDR_NONE : HostToNetLong(c.dwHost);
        EXPECT_EQ(dwExpected, dw) << c.lpszText;
    }
    EXPECT_EQ(INADDR_NONE, ParseIPv4Text(NULL));
}

TEST_F(HostName, SocketAddressLayouts)
{
    BYTE buf[SOCKADDR_BUFFER_SIZE];
    int cb = -1;
    INTERNET_ADDRESS ip4 = {AF_INET, {127, 0, 0, 1}};
    EXPECT_EQ(AF_INET, BuildSocketAddress(buf, &cb, &ip4, 0x10000 + 143)) << "only the low 16 bits count";
    EXPECT_EQ(16, cb);
    const BYTE want4[] = {2, 0, 0, 143, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(want4, buf, sizeof want4));

    INTERNET_ADDRESS ip6 = {AF_INET6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(AF_INET6, BuildSocketAddress(buf, &cb, &ip6, 993));
    EXPECT_EQ(28, cb);
    EXPECT_EQ(23, buf[0] | (buf[1] << 8));
    EXPECT_EQ(0x03, buf[2]);
    EXPECT_EQ(0xE1, buf[3]);
    EXPECT_EQ(0, memcmp(ip6.ipNumber, buf + 8, 16));

    INTERNET_ADDRESS none = {0, {0}}, other = {17, {0}};
    EXPECT_EQ(0, BuildSocketAddress(buf, &cb, &none, 143));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_ADDRESS);
    EXPECT_EQ(0, BuildSocketAddress(buf, &cb, &other, 143));
    EXPECT_LAST_ERROR(TW_ERROR_PROTOCOL_FAMILY);
    EXPECT_EQ(0, BuildSocketAddress(NULL, &cb, &ip4, 143));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
}

TEST_F(HostName, ByteOrderWithAndWithoutEntryPoints)
{
    u_long l1 = HostToNetLong(0x01020304);
    u_short s1 = HostToNetShort(0x0102);
    PFN_HTONL lpfnL = g_SocketInterface.htonl;
    PFN_HTONS lpfnS = g_SocketInterface.htons;
    g_SocketInterface.htonl = NULL;
    g_SocketInterface.htons = NULL;
    u_long l2 = HostToNetLong(0x01020304);
    u_short s2 = HostToNetShort(0x0102);
    g_SocketInterface.htonl = lpfnL;
    g_SocketInterface.htons = lpfnS;
    const BYTE wantL[] = {1, 2, 3, 4}, wantS[] = {1, 2};
    EXPECT_EQ(0, memcmp(wantL, &l1, 4));
    EXPECT_EQ(0, memcmp(wantL, &l2, 4));
    EXPECT_EQ(0, memcmp(wantS, &s1, 2));
    EXPECT_EQ(0, memcmp(wantS, &s2, 2));
}

} // namespace

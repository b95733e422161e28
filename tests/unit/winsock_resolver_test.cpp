// Windows Sockets name and address services through WS2_32.DLL:
// getaddrinfo, freeaddrinfo, getnameinfo, gethostbyname, getservbyname,
// inet_pton, inet_ntop, inet_addr, inet_ntoa, byte order and the protocol
// catalogue (WSAEnumProtocolsA). Winsock's results and error numbers on
// both targets.
//
// Only numeric addresses and "localhost" (IPv4) are resolved, so that no
// query leaves the machine.
#include "winsock_api.h"

#include <string>

namespace {

class WinsockResolver : public WinsockFixture {};

std::string Bytes(const void *lpv, size_t cb)
{
    std::string s;
    char sz[4];
    for (size_t i = 0; i < cb; i++) {
        snprintf(sz, sizeof(sz), "%s%02x", i ? " " : "", ((const unsigned char *)lpv)[i]);
        s += sz;
    }
    return s;
}

// ---- getaddrinfo ------------------------------------------------------

struct AddrInfoCase {
    const char *lpszNode;
    const char *lpszService;
    int nFamily, nSockType, nFlags;
    int nError;              // 0: succeeds
    int nResultFamily;
    size_t cbAddress;
    const char *lpszAddress; // bytes of the first address, as Bytes() shows them
    u_short uPort;
};

const AddrInfoCase kAddrInfoCases[] = {
    // Numeric addresses of both families.
    { "127.0.0.1", NULL, AF_UNSPEC, SOCK_STREAM, AI_NUMERICHOST, 0, AF_INET, 16, "7f 00 00 01", 0 },
    { "127.0.0.1", "143", AF_INET, SOCK_STREAM, 0, 0, AF_INET, 16, "7f 00 00 01", 143 },
    { "::1", NULL, AF_UNSPEC, SOCK_STREAM, AI_NUMERICHOST, 0, AF_INET6, 28,
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01", 0 },
    { "::1", "993", AF_INET6, SOCK_STREAM, AI_NUMERICHOST, 0, AF_INET6, 28,
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01", 993 },
    { "localhost", NULL, AF_INET, SOCK_STREAM, 0, 0, AF_INET, 16, "7f 00 00 01", 0 },
    { NULL, "143", AF_INET, SOCK_STREAM, AI_PASSIVE, 0, AF_INET, 16, "00 00 00 00", 143 },

    // Failures, each with its Winsock number.
    { "imap.example", NULL, AF_UNSPEC, SOCK_STREAM, AI_NUMERICHOST, WSAHOST_NOT_FOUND, 0, 0, NULL, 0 },
    { NULL, NULL, AF_UNSPEC, SOCK_STREAM, 0, WSAHOST_NOT_FOUND, 0, 0, NULL, 0 },
    { "127.0.0.1", NULL, 99, SOCK_STREAM, AI_NUMERICHOST, WSAEAFNOSUPPORT, 0, 0, NULL, 0 },
    { "127.0.0.1", NULL, AF_INET, 99, AI_NUMERICHOST, WSAESOCKTNOSUPPORT, 0, 0, NULL, 0 },
    { "127.0.0.1", "no-such-service-here", AF_INET, SOCK_STREAM, AI_NUMERICHOST, WSATYPE_NOT_FOUND, 0, 0, NULL, 0 },
    { NULL, "143", AF_INET, SOCK_STREAM, AI_CANONNAME, WSAEINVAL, 0, 0, NULL, 0 }, // a name for no node
};

TEST_F(WinsockResolver, GetAddrInfoTranslatesHintsAndResults)
{
    for (const AddrInfoCase &c : kAddrInfoCases) {
        SCOPED_TRACE(testing::Message() << (c.lpszNode ? c.lpszNode : "(null)") << " / "
                                        << (c.lpszService ? c.lpszService : "(null)")
                                        << " family " << c.nFamily << " flags " << c.nFlags);
        ADDRINFOA hints;
        memset(&hints, 0, sizeof(hints));
        hints.ai_family = c.nFamily;
        hints.ai_socktype = c.nSockType;
        hints.ai_flags = c.nFlags;
        PADDRINFOA lpResult = NULL;
        ws.WSASetLastError(kNoErrorYet);
        int nResult = ws.getaddrinfo(c.lpszNode, c.lpszService, &hints, &lpResult);
        int nError = ws.WSAGetLastError();
        if (c.nError != 0) {
            EXPECT_EQ(c.nError, nResult);
            EXPECT_EQ(c.nError, nError) << "the result is also the last error";
            EXPECT_EQ(nullptr, lpResult);
            continue;
        }
        ASSERT_EQ(0, nResult);
        ASSERT_NE(nullptr, lpResult);
        EXPECT_EQ(c.nResultFamily, lpResult->ai_family);
        EXPECT_EQ(c.nSockType, lpResult->ai_socktype);
        EXPECT_EQ(c.cbAddress, lpResult->ai_addrlen);
        ASSERT_NE(nullptr, lpResult->ai_addr);
        EXPECT_EQ(c.nResultFamily, lpResult->ai_addr->sa_family);
        if (c.nResultFamily == AF_INET) {
            const SOCKADDR_IN *sin = (const SOCKADDR_IN *)lpResult->ai_addr;
            EXPECT_EQ(c.lpszAddress, Bytes(&sin->sin_addr, 4));
            EXPECT_EQ(c.uPort, ws.ntohs(sin->sin_port));
        } else {
            const SOCKADDR_IN6 *sin6 = (const SOCKADDR_IN6 *)lpResult->ai_addr;
            EXPECT_EQ(c.lpszAddress, Bytes(&sin6->sin6_addr, 16));
            EXPECT_EQ(c.uPort, ws.ntohs(sin6->sin6_port));
        }
        ws.freeaddrinfo(lpResult);
    }
}

// Without a socket type in the hints, the type and protocol of the result
// are the hints' ones. (How many entries per address then come back is
// left open: Wine gives more than one, as libc does.)
TEST_F(WinsockResolver, GetAddrInfoWithoutSocketTypeKeepsTheHints)
{
    ADDRINFOA hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_protocol = IPPROTO_TCP;
    PADDRINFOA lpResult = NULL;
    ASSERT_EQ(0, ws.getaddrinfo("127.0.0.1", NULL, &hints, &lpResult));
    for (PADDRINFOA lp = lpResult; lp != NULL; lp = lp->ai_next) {
        EXPECT_EQ(AF_INET, lp->ai_family);
        EXPECT_EQ(0, lp->ai_socktype);
        EXPECT_EQ(IPPROTO_TCP, lp->ai_protocol);
    }
    ws.freeaddrinfo(lpResult);

    lpResult = NULL;
    ASSERT_EQ(0, ws.getaddrinfo("127.0.0.1", NULL, NULL, &lpResult));
    ASSERT_NE(nullptr, lpResult);
    EXPECT_EQ(AF_INET, lpResult->ai_family);
    ASSERT_NE(nullptr, lpResult->ai_addr);
    EXPECT_EQ("7f 00 00 01", Bytes(&((const SOCKADDR_IN *)lpResult->ai_addr)->sin_addr, 4));
    ws.freeaddrinfo(lpResult);
}

TEST_F(WinsockResolver, CanonicalNameComesBeforeTheAddress)
{
    ADDRINFOA hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_CANONNAME;
    PADDRINFOA lpResult = NULL;
    ASSERT_EQ(0, ws.getaddrinfo("localhost", NULL, &hints, &lpResult));
    ASSERT_NE(nullptr, lpResult);
    ASSERT_NE(nullptr, lpResult->ai_canonname);
    EXPECT_STREQ("localhost", lpResult->ai_canonname);
    EXPECT_EQ(IPPROTO_TCP, lpResult->ai_protocol);
    ASSERT_NE(nullptr, lpResult->ai_addr);
    EXPECT_EQ(AF_INET, lpResult->ai_addr->sa_family);
    ws.freeaddrinfo(lpResult);
    ws.freeaddrinfo(NULL);
}

// ---- getnameinfo ------------------------------------------------------

TEST_F(WinsockResolver, GetNameInfoFormatsNumericNames)
{
    SOCKADDR_IN sin = V4(INADDR_LOOPBACK, 143);
    char szHost[NI_MAXHOST], szService[NI_MAXSERV];
    ASSERT_EQ(0, ws.getnameinfo((const struct sockaddr *)&sin, sizeof(sin), szHost, sizeof(szHost),
                                szService, sizeof(szService), NI_NUMERICHOST | NI_NUMERICSERV));
    EXPECT_STREQ("127.0.0.1", szHost);
    EXPECT_STREQ("143", szService);

    SOCKADDR_IN6 sin6 = V6Loopback(993);
    ASSERT_EQ(0, ws.getnameinfo((const struct sockaddr *)&sin6, sizeof(sin6), szHost, sizeof(szHost),
                                NULL, 0, NI_NUMERICHOST));
    EXPECT_STREQ("::1", szHost);

    // Another family is refused. (Windows also sets the last error; Wine
    // only returns the number.)
    sin.sin_family = 99;
    EXPECT_EQ(WSAEAFNOSUPPORT, ws.getnameinfo((const struct sockaddr *)&sin, sizeof(sin), szHost,
                                              sizeof(szHost), NULL, 0, NI_NUMERICHOST));
}

// ---- gethostbyname and getservbyname ----------------------------------

TEST_F(WinsockResolver, GetHostByNameGivesAnIPv4Entry)
{
    const char *const kNames[] = { "127.0.0.1", "localhost" };
    for (const char *lpszName : kNames) {
        SCOPED_TRACE(lpszName);
        struct hostent *lpHost = ws.gethostbyname(lpszName);
        ASSERT_NE(nullptr, lpHost) << "error " << Error();
        EXPECT_EQ(AF_INET, lpHost->h_addrtype);
        EXPECT_EQ(4, lpHost->h_length);
        ASSERT_NE(nullptr, lpHost->h_name);
        EXPECT_STRNE("", lpHost->h_name);
        ASSERT_NE(nullptr, lpHost->h_aliases);
        ASSERT_NE(nullptr, lpHost->h_addr_list);
        ASSERT_NE(nullptr, lpHost->h_addr_list[0]);
        EXPECT_EQ("7f 00 00 01", Bytes(lpHost->h_addr_list[0], 4));
    }
    EXPECT_STREQ("127.0.0.1", ws.gethostbyname("127.0.0.1")->h_name);
}

TEST_F(WinsockResolver, GetServByNameOfAnUnknownServiceFails)
{
    EXPECT_WSA_FAILURE((struct servent *)NULL, WSANO_DATA, ws.getservbyname("no-such-service-here", "tcp"));
}

// ---- inet_pton and inet_ntop ------------------------------------------

struct PtonCase {
    int nFamily;
    const char *lpszText;
    int nResult;
    const char *lpszBytes; // when nResult is 1
};

const PtonCase kPtonCases[] = {
    { AF_INET, "127.0.0.1", 1, "7f 00 00 01" },
    { AF_INET, "255.255.255.255", 1, "ff ff ff ff" },
    { AF_INET, "0.0.0.0", 1, "00 00 00 00" },
    { AF_INET, "1.2.3", 0, NULL },
    { AF_INET, "1.2.3.256", 0, NULL },
    { AF_INET, "1.2.3.4 ", 0, NULL },
    { AF_INET, "", 0, NULL },
    { AF_INET, "::1", 0, NULL },
    { AF_INET6, "::1", 1, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01" },
    { AF_INET6, "2001:db8::a:b", 1, "20 01 0d b8 00 00 00 00 00 00 00 00 00 0a 00 0b" },
    { AF_INET6, "::ffff:192.0.2.1", 1, "00 00 00 00 00 00 00 00 00 00 ff ff c0 00 02 01" },
    { AF_INET6, "1::2::3", 0, NULL },
    { AF_INET6, "12345::", 0, NULL },
    { AF_INET6, "127.0.0.1", 0, NULL },
};

TEST_F(WinsockResolver, InetPtonParsesBothFamilies)
{
    for (const PtonCase &c : kPtonCases) {
        SCOPED_TRACE(testing::Message() << c.nFamily << " \"" << c.lpszText << "\"");
        unsigned char rgb[16];
        memset(rgb, 0xA5, sizeof(rgb));
        ws.WSASetLastError(kNoErrorYet);
        EXPECT_EQ(c.nResult, ws.inet_pton(c.nFamily, c.lpszText, rgb));
        EXPECT_EQ(kNoErrorYet, ws.WSAGetLastError()) << "a result of 0 or 1 sets no error";
        if (c.nResult == 1) {
            EXPECT_EQ(c.lpszBytes, Bytes(rgb, c.nFamily == AF_INET ? 4 : 16));
        }
    }
    unsigned char rgb[16];
    EXPECT_WSA_FAILURE(-1, WSAEAFNOSUPPORT, ws.inet_pton(99, "127.0.0.1", rgb));
    EXPECT_WSA_FAILURE(-1, WSAEFAULT, ws.inet_pton(AF_INET, NULL, rgb));
    EXPECT_WSA_FAILURE(-1, WSAEFAULT, ws.inet_pton(AF_INET, "127.0.0.1", NULL));
}

struct NtopCase {
    int nFamily;
    unsigned char rgb[16];
    const char *lpszText;
};

const NtopCase kNtopCases[] = {
    { AF_INET, { 127, 0, 0, 1 }, "127.0.0.1" },
    { AF_INET, { 255, 255, 255, 255 }, "255.255.255.255" },
    { AF_INET6, { 0 }, "::" },
    { AF_INET6, { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 }, "::1" },
    { AF_INET6, { 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0a, 0, 0x0b }, "2001:db8::a:b" },
    { AF_INET6, { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1 }, "::ffff:192.0.2.1" },
    { AF_INET6, { 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 }, "fe80::1" },
    { AF_INET6, { 0, 1, 0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7 }, "1:0:2:3:4:5:6:7" },
    { AF_INET6, { 0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3 }, "1:0:0:2::3" },
};

TEST_F(WinsockResolver, InetNtopFormatsBothFamilies)
{
    for (const NtopCase &c : kNtopCases) {
        SCOPED_TRACE(c.lpszText);
        char sz[INET6_ADDRSTRLEN];
        const char *lpsz = ws.inet_ntop(c.nFamily, c.rgb, sz, sizeof(sz));
        ASSERT_EQ(sz, lpsz) << "error " << Error();
        EXPECT_STREQ(c.lpszText, sz);
    }
    const unsigned char rgbLoopback[4] = { 127, 0, 0, 1 };
    char sz[INET6_ADDRSTRLEN];
    EXPECT_WSA_FAILURE((const char *)NULL, WSAEAFNOSUPPORT, ws.inet_ntop(99, rgbLoopback, sz, sizeof(sz)));
    // Too small a buffer: Windows says ERROR_INVALID_PARAMETER (87); Wine
    // hands on the NTSTATUS behind it (STATUS_INVALID_PARAMETER).
    ws.WSASetLastError(kNoErrorYet);
    EXPECT_EQ(nullptr, ws.inet_ntop(AF_INET, rgbLoopback, sz, 9));
    int nError = ws.WSAGetLastError();
    EXPECT_TRUE(nError == ERROR_INVALID_PARAMETER || nError == (int)0xC000000D) << nError;
}

// ---- inet_addr and inet_ntoa -------------------------------------------

struct InetAddrCase {
    const char *lpszText;
    const char *lpszBytes; // NULL: INADDR_NONE
};

const InetAddrCase kInetAddrCases[] = {
    { "127.0.0.1", "7f 00 00 01" },
    { "10.1", "0a 00 00 01" },          // a.b: b fills three bytes
    { "10.1.2", "0a 01 00 02" },        // a.b.c: c fills two bytes
    { "0x7f.1", "7f 00 00 01" },        // hexadecimal part
    { "1.2.3.256", NULL },
    { "one.two", NULL },
};

TEST_F(WinsockResolver, InetAddrAndNtoaConvert)
{
    for (const InetAddrCase &c : kInetAddrCases) {
        SCOPED_TRACE(c.lpszText);
        unsigned long ulAddress = ws.inet_addr(c.lpszText);
        if (c.lpszBytes == NULL) {
            EXPECT_EQ(0xFFFFFFFFul, ulAddress);
        } else {
            u_long ul = (u_long)ulAddress;
            EXPECT_EQ(c.lpszBytes, Bytes(&ul, 4));
        }
    }
    struct in_addr in;
    in.s_addr = ws.htonl(0xC0000201);
    EXPECT_STREQ("192.0.2.1", ws.inet_ntoa(in));
}

// ---- Byte order -------------------------------------------------------

TEST_F(WinsockResolver, ByteOrderIsBigEndian)
{
    u_short us = ws.htons(0x1234);
    EXPECT_EQ("12 34", Bytes(&us, 2));
    u_long ul = ws.htonl(0x01020304);
    EXPECT_EQ("01 02 03 04", Bytes(&ul, 4));
    EXPECT_EQ(0x1234, ws.ntohs(us));
    EXPECT_EQ(0x01020304u, ws.ntohl(ul));
}

// ---- Protocol catalogue -----------------------------------------------

TEST_F(WinsockResolver, EnumProtocolsAsksForRoomFirst)
{
    DWORD cbBuffer = 0;
    EXPECT_WSA_FAILURE(SOCKET_ERROR, WSAENOBUFS, ws.WSAEnumProtocolsA(NULL, NULL, &cbBuffer));
    ASSERT_GT(cbBuffer, 0u);
    EXPECT_EQ(0u, cbBuffer % sizeof(WSAPROTOCOL_INFOA));

    std::vector<WSAPROTOCOL_INFOA> rgInfo(cbBuffer / sizeof(WSAPROTOCOL_INFOA));
    DWORD cbSmall = sizeof(WSAPROTOCOL_INFOA) - 1;
    EXPECT_WSA_FAILURE(SOCKET_ERROR, WSAENOBUFS, ws.WSAEnumProtocolsA(NULL, rgInfo.data(), &cbSmall));
    EXPECT_EQ(cbBuffer, cbSmall);
    int cInfo = ws.WSAEnumProtocolsA(NULL, rgInfo.data(), &cbBuffer);
    EXPECT_EQ((int)rgInfo.size(), cInfo);
}

// The library's question: is there a TCP provider for IPv4, for IPv6?
TEST_F(WinsockResolver, EnumProtocolsFindsTcpProviders)
{
    int rgProtocols[] = { IPPROTO_TCP, IPPROTO_UDP, 0 };
    std::vector<WSAPROTOCOL_INFOA> rgInfo(32);
    DWORD cbBuffer = 11904;
    ASSERT_LE(cbBuffer, rgInfo.size() * sizeof(WSAPROTOCOL_INFOA));
    int cInfo = ws.WSAEnumProtocolsA(rgProtocols, rgInfo.data(), &cbBuffer);
    ASSERT_GT(cInfo, 0) << "error " << Error();
    bool fTcp4 = false, fTcp6 = false;
    for (int i = 0; i < cInfo; i++) {
        const WSAPROTOCOL_INFOA &info = rgInfo[i];
        EXPECT_TRUE(info.iProtocol == IPPROTO_TCP || info.iProtocol == IPPROTO_UDP) << info.iProtocol;
        EXPECT_LT(strlen(info.szProtocol), sizeof(info.szProtocol));
        if (info.iSocketType == SOCK_STREAM && info.iProtocol == IPPROTO_TCP) {
            fTcp4 |= info.iAddressFamily == AF_INET;
            fTcp6 |= info.iAddressFamily == AF_INET6;
        }
    }
    EXPECT_TRUE(fTcp4);
    SOCKET s6 = Keep(ws.socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP));
    EXPECT_EQ(s6 != INVALID_SOCKET, fTcp6);

    int rgNone[] = { 255, 0 };
    cbBuffer = 11904;
    EXPECT_EQ(0, ws.WSAEnumProtocolsA(rgNone, rgInfo.data(), &cbBuffer));
}

} // namespace

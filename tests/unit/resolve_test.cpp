/*
 * Resolution order and failures, with a fake resolver in the socket
 * interface table: tests never ask the system's resolver for names other
 * than numeric addresses and "localhost".
 */
#include "support/netfixture.h"

#include <map>
#include <vector>

namespace {

/* Answers by name and family; a missing entry is WSAHOST_NOT_FOUND. */
struct FakeAnswer {
    const char *lpszName;
    int nFamily;
    int nError;          /* 0: answer with the address below */
    BYTE rgbAddress[16];
};

const FakeAnswer kAnswers[] = {
    {"dual.example", AF_INET, 0, {192, 0, 2, 7}},
    {"dual.example", AF_INET6, 0, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}},
    {"six.example", AF_INET6, 0, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}},
    {"four.example", AF_INET, 0, {192, 0, 2, 4}},
    {"flaky.example", AF_INET, WSATRY_AGAIN, {0}},
    {"flaky.example", AF_INET6, 0, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9}},
};

std::vector<int> g_families; /* the families asked, in order */

struct FakeResult {
    ADDRINFOA ai;
    union {
        struct sockaddr_in sin;
        struct sockaddr_in6 sin6;
    };
};

int WINAPI FakeGetaddrinfo(const char *lpszNode, const char *, const ADDRINFOA *lpHints, PADDRINFOA *lplpResult)
{
    int nFamily = lpHints != NULL ? lpHints->ai_family : 0;
    g_families.push_back(nFamily);
    for (const FakeAnswer &a : kAnswers) {
        if (strcmp(a.lpszName, lpszNode) != 0 || (nFamily != 0 && a.nFamily != nFamily))
            continue;
        if (a.nError != 0)
            return a.nError;
        FakeResult *r = new FakeResult();
        r->ai.ai_family = a.nFamily;
        r->ai.ai_addr = (struct sockaddr *)&r->sin;
        if (a.nFamily == AF_INET) {
            r->sin.sin_family = AF_INET;
            memcpy(&r->sin.sin_addr, a.rgbAddress, 4);
            r->ai.ai_addrlen = sizeof(r->sin);
        } else {
            r->sin6.sin6_family = AF_INET6;
            memcpy(&r->sin6.sin6_addr, a.rgbAddress, 16);
            r->ai.ai_addrlen = sizeof(r->sin6);
        }
        *lplpResult = &r->ai;
        return 0;
    }
    return WSAHOST_NOT_FOUND;
}

void WINAPI FakeFreeaddrinfo(PADDRINFOA lp)
{
    delete (FakeResult *)lp;
}

class Resolve : public NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        m_saved = g_SocketInterface;
        g_SocketInterface.getaddrinfo = FakeGetaddrinfo;
        g_SocketInterface.freeaddrinfo = FakeFreeaddrinfo;
        g_families.clear();
    }
    void TearDown() override
    {
        g_SocketInterface = m_saved;
        NetTest::TearDown();
    }
    SOCKETINTERFACE m_saved;
};

TEST_F(Resolve, IPv4FirstAndIPv6OnlyWhenIPv4IsNotFound)
{
    struct { const char *lpszName; int nAsk; int nFamily; std::vector<int> asked; BYTE bLast; } cases[] = {
        {"dual.example", 0, AF_INET, {AF_INET}, 7},
        {"six.example", 0, AF_INET6, {AF_INET, AF_INET6}, 6},
        {"dual.example", AF_INET6, AF_INET6, {AF_INET6}, 7},
        {"four.example", AF_INET6, -1, {AF_INET6}, 0},     /* IPv6 only: an IPv4-only name fails */
        {"flaky.example", 0, -1, {AF_INET}, 0},            /* any other error ends the resolution */
        {"unknown.example", 0, -1, {AF_INET, AF_INET6}, 0},
    };
    for (const auto &c : cases) {
        g_families.clear();
        INTERNET_ADDRESS ip;
        int nFamily = ResolveInternetAddress(c.nAsk, &ip, c.lpszName);
        EXPECT_EQ(c.nFamily, nFamily) << c.lpszName << " asked for " << c.nAsk;
        EXPECT_EQ(c.asked, g_families) << c.lpszName;
        if (nFamily < 0) {
            EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
            continue;
        }
        EXPECT_EQ(nFamily, ip.ipFamily);
        EXPECT_EQ(c.bLast, ip.ipNumber[nFamily == AF_INET ? 3 : 15]) << c.lpszName;
    }
}

TEST_F(Resolve, ResolverErrorIsTheSocketError)
{
    ADDRINFOA *lp = NULL;
    EXPECT_EQ(WSATRY_AGAIN, ResolveHostName(NULL, "flaky.example", &lp));
    EXPECT_EQ((DWORD)WSATRY_AGAIN, GetSocketError());
    EXPECT_EQ(0, ResolveHostName(NULL, "four.example", &lp));
    FreeResolvedAddress(lp);
    FreeResolvedAddress(NULL);
}

TEST_F(Resolve, BadArguments)
{
    INTERNET_ADDRESS ip;
    EXPECT_EQ(-1, ResolveInternetAddress(0, &ip, ""));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
    EXPECT_EQ(-1, ResolveInternetAddress(0, &ip, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
    EXPECT_EQ(-1, ResolveInternetAddress(0, NULL, "four.example"));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
}

TEST_F(Resolve, RealResolverForLoopback)
{
    g_SocketInterface = m_saved;
    INTERNET_ADDRESS ip;
    ASSERT_EQ(AF_INET, ResolveInternetAddress(0, &ip, "127.0.0.1"));
    EXPECT_EQ(0, memcmp("\x7f\0\0\x01", ip.ipNumber, 4));
    ASSERT_EQ(AF_INET, ResolveInternetAddress(AF_INET, &ip, "localhost"));
    EXPECT_EQ(127, ip.ipNumber[0]);
    ASSERT_EQ(AF_INET6, ResolveInternetAddress(AF_INET6, &ip, "::1"));
    EXPECT_EQ(1, ip.ipNumber[15]);
}

} // namespace

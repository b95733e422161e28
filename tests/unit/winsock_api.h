/*
 * winsock_api.h - the socket entry points for the Winsock tests, reached as
 * the library reaches them: LoadLibraryA("WS2_32.DLL") and GetProcAddress
 * into the function types of net/netiface.h. On Windows that is the
 * system's ws2_32, so the same expectations check the Linux stand-in against
 * the real thing.
 */
#ifndef TW_TESTS_WINSOCK_API_H
#define TW_TESTS_WINSOCK_API_H

#include "net/netiface.h"

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#if !defined(_WIN32)
extern "C" const PLATFORMEXPORT *PlatformWinsockExports(int *pcExports);
extern "C" const PLATFORMEXPORT *PlatformNormalizeExports(int *pcExports);
#endif

struct WinsockApi {
    PFN_ACCEPT accept;
    PFN_BIND bind;
    PFN_CLOSESOCKET closesocket;
    PFN_CONNECT connect;
    PFN_GETHOSTBYNAME gethostbyname;
    PFN_GETPEERNAME getpeername;
    PFN_GETSERVBYNAME getservbyname;
    PFN_GETSOCKNAME getsockname;
    PFN_GETSOCKOPT getsockopt;
    PFN_HTONL htonl;
    PFN_HTONS htons;
    PFN_HTONL ntohl;
    PFN_HTONS ntohs;
    PFN_INET_ADDR inet_addr;
    PFN_INET_NTOA inet_ntoa;
    PFN_IOCTLSOCKET ioctlsocket;
    PFN_LISTEN listen;
    PFN_RECV recv;
    PFN_SELECT select;
    PFN_SEND send;
    PFN_SETSOCKOPT setsockopt;
    PFN_SHUTDOWN shutdown;
    PFN_SOCKET socket;
    PFN_WSACLEANUP WSACleanup;
    PFN_WSAENUMPROTOCOLSA WSAEnumProtocolsA;
    PFN_WSAGETLASTERROR WSAGetLastError;
    PFN_WSASETLASTERROR WSASetLastError;
    PFN_WSASTARTUP WSAStartup;
    PFN_FREEADDRINFO freeaddrinfo;
    PFN_GETADDRINFO getaddrinfo;
    PFN_GETNAMEINFO getnameinfo;
    PFN_INET_NTOP inet_ntop;
    PFN_INET_PTON inet_pton;
    HMODULE hModule;
};

/* Loads WS2_32.DLL once per process and looks every entry point up. On
   Linux the stand-in is registered first, should the loader not know it. */
inline const WinsockApi &Ws2()
{
    static WinsockApi api;
    static bool fLoaded = false;
    if (!fLoaded) {
#if !defined(_WIN32)
        int cExports = 0;
        const PLATFORMEXPORT *rgExports = PlatformWinsockExports(&cExports);
        PlatformRegisterModule("WS2_32.DLL", rgExports, cExports);
#endif
        memset(&api, 0, sizeof(api));
        HMODULE h = LoadLibraryA("WS2_32.DLL");
        api.hModule = h;
        if (h != NULL) {
#define WS2_LOOKUP(field) (*(FARPROC *)&api.field = GetProcAddress(h, #field))
            WS2_LOOKUP(accept); WS2_LOOKUP(bind); WS2_LOOKUP(closesocket);
            WS2_LOOKUP(connect); WS2_LOOKUP(gethostbyname); WS2_LOOKUP(getpeername);
            WS2_LOOKUP(getservbyname); WS2_LOOKUP(getsockname); WS2_LOOKUP(getsockopt);
            WS2_LOOKUP(htonl); WS2_LOOKUP(htons); WS2_LOOKUP(ntohl); WS2_LOOKUP(ntohs);
            WS2_LOOKUP(inet_addr); WS2_LOOKUP(inet_ntoa); WS2_LOOKUP(ioctlsocket);
            WS2_LOOKUP(listen); WS2_LOOKUP(recv); WS2_LOOKUP(select); WS2_LOOKUP(send);
            WS2_LOOKUP(setsockopt); WS2_LOOKUP(shutdown); WS2_LOOKUP(socket);
            WS2_LOOKUP(WSACleanup); WS2_LOOKUP(WSAEnumProtocolsA);
            WS2_LOOKUP(WSAGetLastError); WS2_LOOKUP(WSASetLastError);
            WS2_LOOKUP(WSAStartup); WS2_LOOKUP(freeaddrinfo); WS2_LOOKUP(getaddrinfo);
            WS2_LOOKUP(getnameinfo); WS2_LOOKUP(inet_ntop); WS2_LOOKUP(inet_pton);
#undef WS2_LOOKUP
        }
        fLoaded = true;
    }
    return api;
}

/* Checks a call that must fail: its result and the thread's socket error,
   which is set to a marker first so that a failure that sets nothing shows. */
const int kNoErrorYet = 0x7E57;

#define EXPECT_WSA_FAILURE(expectedResult, expectedError, call)                        \
    do {                                                                               \
        Ws2().WSASetLastError(kNoErrorYet);                                            \
        auto result_ = (call);                                                         \
        int error_ = Ws2().WSAGetLastError();                                          \
        EXPECT_EQ((expectedResult), result_) << #call << " returned " << result_      \
                                             << " with error " << error_;              \
        EXPECT_EQ((int)(expectedError), error_) << #call << " returned " << result_;   \
    } while (0)

/* A started Winsock for the length of a test; sockets made through Open are
   closed at the end. */
class WinsockFixture : public ::testing::Test {
protected:
    const WinsockApi &ws = Ws2();

    void SetUp() override
    {
        ASSERT_NE(nullptr, ws.hModule) << "WS2_32.DLL: error " << GetLastError();
        ASSERT_NE(nullptr, ws.WSAStartup);
        WSADATA data;
        ASSERT_EQ(0, ws.WSAStartup(MAKEWORD(2, 2), &data));
        fStarted = true;
    }

    void TearDown() override
    {
        for (SOCKET s : sockets)
            ws.closesocket(s);
        sockets.clear();
        if (fStarted)
            ws.WSACleanup();
    }

    /* Remembers a socket for closing at the end; returns it. */
    SOCKET Keep(SOCKET s)
    {
        if (s != INVALID_SOCKET)
            sockets.push_back(s);
        return s;
    }

    /* Closes a kept socket now. */
    int Close(SOCKET s)
    {
        for (size_t i = 0; i < sockets.size(); i++) {
            if (sockets[i] == s) {
                sockets.erase(sockets.begin() + (long)i);
                break;
            }
        }
        return ws.closesocket(s);
    }

    SOCKET Open(int nFamily = AF_INET)
    {
        return Keep(ws.socket(nFamily, SOCK_STREAM, IPPROTO_TCP));
    }

    int Error() const { return ws.WSAGetLastError(); }

    SOCKADDR_IN V4(u_long ulHostOrder, u_short uPort) const
    {
        SOCKADDR_IN sin;
        memset(&sin, 0, sizeof(sin));
        sin.sin_family = AF_INET;
        sin.sin_port = ws.htons(uPort);
        sin.sin_addr.s_addr = ws.htonl(ulHostOrder);
        return sin;
    }

    SOCKADDR_IN6 V6Loopback(u_short uPort) const
    {
        SOCKADDR_IN6 sin6;
        memset(&sin6, 0, sizeof(sin6));
        sin6.sin6_family = AF_INET6;
        sin6.sin6_port = ws.htons(uPort);
        sin6.sin6_addr.s6_addr[15] = 1;
        return sin6;
    }

    bool fStarted = false;
    std::vector<SOCKET> sockets;
};

#endif

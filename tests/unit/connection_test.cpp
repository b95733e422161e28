/*
 * Connecting a session's socket: refused, timed out, connected; and the
 * socket interface table's missing-entry behaviour.
 */
#include "support/netfixture.h"
#include "frame/frame.h"
#include "frame/trace.h"

#include <chrono>
#include <thread>
#include <vector>


namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class Connection : public NetTest {};

int WINAPI NotFound(const char *, const char *, const ADDRINFOA *, PADDRINFOA *)
{
    return WSAHOST_NOT_FOUND;
}

TEST_F(Connection, ConnectsAndClosesTheSocket)
{
    ScriptedPeer peer;
    peer.ExpectClose();
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h) << TwHex(ImapGetLastError()).value;
    CLIENTSESSION *lp = FindSession(h);
    EXPECT_EQ(AF_INET, lp->ipRemoteAddress.ipFamily);
    EXPECT_FALSE(ImapIsBlocking(h));
    EXPECT_EQ(IMAP_STATUS_CONNECT, ImapGetStatus(h)) << "connected, greeting not yet read";
    ReleaseSession(h);
    EXPECT_TRUE(peer.Finish()) << "the socket is closed with the session";
    EXPECT_EQ("", peer.Error());
}

TEST_F(Connection, RefusedConnection)
{
    /* A port that was just in use and is now closed refuses. */
    int nPort;
    {
        ScriptedPeer gone;
        nPort = gone.Port();
    }
    HCLIENT h = NewSession("127.0.0.1", nPort);
    EXPECT_FALSE(OpenConnection(h, NULL, 9215, 0));
    EXPECT_LAST_ERROR(TW_ERROR_CONNECTION_REFUSED);
}

TEST_F(Connection, ConnectTimesOut)
{
    HangingListener server;
    if (!server.Hangs())
        GTEST_SKIP() << "this system completes every loopback connect";
    HCLIENT h = NewSession("127.0.0.1", server.Port(), 1);
    auto t0 = Clock::now();
    EXPECT_FALSE(OpenConnection(h, NULL, 9215, 0));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_TIMEOUT);
    long long ms = MillisecondsSince(t0);
    EXPECT_GE(ms, 900);
    EXPECT_LT(ms, 3000);
}

TEST_F(Connection, CancelEndsAConnectWait)
{
    HangingListener server;
    if (!server.Hangs())
        GTEST_SKIP() << "this system completes every loopback connect";
    HCLIENT h = NewSession("127.0.0.1", server.Port(), 0); /* 0: the connect waits 20 s */
    std::thread canceller([h] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ImapCancel(h);
    });
    auto t0 = Clock::now();
    EXPECT_FALSE(OpenConnection(h, NULL, 9215, 0));
    long long ms = MillisecondsSince(t0);
    canceller.join();
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_CANCELED);
    EXPECT_LT(ms, 1500);
}

TEST_F(Connection, UnresolvableNameFailsAsInvalidHostName)
{
    HCLIENT h = NewSession("nonexistent.invalid", 143);
    SOCKETINTERFACE saved = g_SocketInterface;
    g_SocketInterface.getaddrinfo = NotFound;
    EXPECT_FALSE(OpenConnection(h, NULL, 9215, 0));
    g_SocketInterface = saved;
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
}

TEST_F(Connection, MissingEntryPointsReportNotInitialized)
{
    SOCKETINTERFACE saved = g_SocketInterface;
    g_SocketInterface.recv = NULL;
    g_SocketInterface.send = NULL;
    g_SocketInterface.select = NULL;
    char buf[4];
    EXPECT_EQ(SOCKET_ERROR, SocketRecv(INVALID_SOCKET, buf, 4));
    EXPECT_EQ((DWORD)WSANOTINITIALISED, GetSocketError());
    EXPECT_EQ(SOCKET_ERROR, SocketSend(INVALID_SOCKET, buf, 4));
    EXPECT_EQ(SOCKET_ERROR, SocketSelect(0, NULL, NULL, NULL, NULL));
    SetSocketError(WSANOTINITIALISED);
    EXPECT_EQ(TwHex(TW_ERROR_NETWORK_NOT_INITIALIZED), TwHex(FoldSocketError()));
    EXPECT_LAST_ERROR(TW_ERROR_NETWORK_NOT_INITIALIZED);
    g_SocketInterface = saved;
}

TEST_F(Connection, NetworkStartsAndReleasesInPairs)
{
    /* The fixture's initialization started it once. */
    EXPECT_EQ(0u, StartNetworkInterface());
    EXPECT_EQ(0, ReleaseNetworkInterface());
    EXPECT_NE(nullptr, g_SocketInterface.WSAStartup) << "the table stays filled";
}

} // namespace

namespace {

int g_nSelectHooks, g_nRecvHooks, g_nRecvResult;

void WINAPI SelectHook(int, int, fd_set *, fd_set *, fd_set *, const struct timeval *)
{
    g_nSelectHooks++;
    SetSocketError(12345); /* a hook must not change what the caller sees */
}

void WINAPI RecvHook(int nResult, SOCKET, char *, int, int)
{
    g_nRecvHooks++;
    g_nRecvResult = nResult;
}

TEST_F(Connection, TraceHooksSeeSocketCalls)
{
    ScriptedPeer peer;
    peer.Send("* OK\r\n").Pause(200);
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    SOCKET s = FindSession(h)->hSocket;
    g_rgTraceEntries[TRACE_SELECT - TRACE_FIRST_ORDINAL] = (FARPROC)(void (*)(void))SelectHook;
    g_rgTraceEntries[TRACE_RECV - TRACE_FIRST_ORDINAL] = (FARPROC)(void (*)(void))RecvHook;

    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    struct timeval tv = {1, 0};
    EXPECT_EQ(1, SocketSelect(64, &set, NULL, NULL, &tv));
    EXPECT_EQ(0, g_nSelectHooks) << "a select that does not fail is not reported";
    fd_set empty;
    FD_ZERO(&empty);
    EXPECT_EQ(SOCKET_ERROR, SocketSelect(64, &empty, &empty, &empty, &tv));
    DWORD dwError = GetSocketError();
    EXPECT_EQ(1, g_nSelectHooks);
    EXPECT_NE(12345u, dwError);

    char buf[16];
    EXPECT_EQ(6, SocketRecv(s, buf, sizeof buf));
    EXPECT_EQ(1, g_nRecvHooks);
    EXPECT_EQ(6, g_nRecvResult);

    for (auto &e : g_rgTraceEntries)
        e = NULL;
}

} // namespace

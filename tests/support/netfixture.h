/*
 * netfixture.h - sessions connected to a scripted peer through the
 * library's own connection code, for tests below the protocol engine.
 */
#ifndef TW_TESTS_NETFIXTURE_H
#define TW_TESTS_NETFIXTURE_H

#include "support/peer.h"
#include "support/testutil.h"
#include "net/connection.h"
#include "net/netiface.h"

#include <cstring>

class NetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ImapInitializeA(NULL, NULL)); }
    void TearDown() override { ImapUninitialize(); }

    /* A session for host:port, not yet connected. */
    static HCLIENT NewSession(const char *lpszHost, int nPort, int nTimeout = 2, DWORD dwOptions = 0)
    {
        HCLIENT h = AllocateSession();
        CLIENTSESSION *lp = FindSession(h);
        if (lp == nullptr)
            return INVALID_CLIENT;
        strncpy(lp->szHostName, lpszHost, sizeof(lp->szHostName) - 1);
        lp->nRemotePort = nPort;
        lp->nTimeout = nTimeout;
        lp->dwOptions = dwOptions;
        return h;
    }

    /* A session connected to the peer, with no greeting pending. */
    static HCLIENT Connect(ScriptedPeer &peer, int nTimeout = 2)
    {
        HCLIENT h = NewSession("127.0.0.1", peer.Port(), nTimeout);
        if (h == INVALID_CLIENT || !OpenConnection(h, NULL, 9215, 0))
            return INVALID_CLIENT;
        FindSession(h)->bCommandPending = FALSE;
        return h;
    }

    /* Starts the peer and connects to it with ImapConnect. */
    static HCLIENT ConnectImap(ScriptedPeer &peer, DWORD dwOptions = 0)
    {
        peer.Start();
        HCLIENT h = ImapConnectA("127.0.0.1", peer.Port(), 2, dwOptions, NULL);
        EXPECT_NE(INVALID_CLIENT, h) << TwHex(ImapGetLastError()).value;
        return h;
    }

    /* One ImapRead into a buffer of cb bytes, as a string; empty on error. */
    static std::string Read(HCLIENT h, int cb = 1024)
    {
        std::string buf((size_t)cb, '\0');
        int n = ImapRead(h, (LPBYTE)&buf[0], cb);
        return n > 0 ? buf.substr(0, (size_t)n) : std::string();
    }
};

#endif

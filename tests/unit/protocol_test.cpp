/*
 * The protocol engine on the wire: command lines, the response reader,
 * the connection sequence and authentication, against scripted peers.
 */
#include "support/dialects.h"
#include "support/netfixture.h"
#include "net/stream.h"
#include "protocol/engine.h"
#include "protocol/strings.h"

#include <string>
#include <vector>

namespace {

class Protocol : public NetTest {
protected:
    /* What the client sent after the connection sequence. */
    static std::string AfterConnect(const ScriptedPeer &peer)
    {
        std::string all = peer.Received();
        size_t at = all.find("CAPABILITY\r\n");
        return at == std::string::npos ? all : all.substr(at + 12);
    }
};

TEST_F(Protocol, ConnectReadsGreetingAndCapabilities)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot());
    peer.Start();
    HCLIENT h = ImapConnectA("127.0.0.1", peer.Port(), 7200, 0, NULL);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(3600, ImapGetTimeout(h)) << "the longest time-out is an hour";
    EXPECT_TRUE(ImapIsConnected(h));
    EXPECT_EQ(IMAP_STATUS_IDLE, ImapGetStatus(h));
    char caps[1024];
    EXPECT_EQ((int)strlen(Dovecot().lpszCapability), ImapGetCapabilityA(h, caps, sizeof caps));
    EXPECT_STREQ(Dovecot().lpszCapability, caps);
    EXPECT_EQ("A0001 CAPABILITY\r\n", peer.Received()) << "no ID unless asked";
}

TEST_F(Protocol, TagsCountToA9999AndWrap)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A9999 NOOP").Send("A9999 OK\r\n")
        .Expect("A0001 NOOP").Send("A0001 OK\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    FindSession(h)->nCommandTag = 9998;
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", ""));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Protocol, CommandLineKeepsCaseAndAddsNoTrailingSpace)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 noop").Send("A0002 OK NOOP completed.\r\n")
        .Expect("A0003 EXAMINE INBOX").Send("A0003 OK done\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "noop", ""));
    EXPECT_EQ(22, FindSession(h)->nCommandId);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandW(h, W(Utf16("EXAMINE")), W(Utf16("INBOX"))));
    EXPECT_EQ(10, FindSession(h)->nCommandId);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("A0002 noop\r\nA0003 EXAMINE INBOX\r\n", AfterConnect(peer));
}

TEST_F(Protocol, LengthLimitLeavesTheTagAlone)
{
    std::string command(1000, 'X');
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot()).Expect("A0002 " + command + " 1234567").Send("A0002 BAD no\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(-1, ImapCommandA(h, command.c_str(), "12345678"));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(1u, FindSession(h)->nCommandTag);
    EXPECT_EQ(-1, ImapCommandA(h, command.c_str(), "1234567")) << "sent, answered BAD";
    EXPECT_LAST_ERROR(TW_ERROR_COMMAND_NOT_IMPLEMENTED);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Protocol, LineEndsInTheTextAreRefused)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 APPEND INBOX {3+}").Expect("abc").Send("A0002 OK appended\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    struct { const char *lpszCommand, *lpszParam; } bad[] = {
        {"NOOP\r\nA0099 DELETE INBOX", NULL},
        {"NOOP", "x\r\nA0099 DELETE INBOX"},
        {"NOOP", "x\nDELETE"},
        {"NOOP", "x\r"},
        {"APPEND", "INBOX {3}\r\nabc"},   /* a synchronizing literal needs the server's go */
        {"APPEND", "INBOX {9+}\r\nabc"},  /* fewer bytes than announced */
        {"APPEND", "INBOX {3+}\r\nabc\r\nA0099 LOGOUT"},
    };
    for (const auto &c : bad) {
        EXPECT_EQ(-1, ImapCommandA(h, c.lpszCommand, c.lpszParam)) << c.lpszCommand;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(1u, FindSession(h)->nCommandTag) << "nothing was sent";
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "APPEND", "INBOX {3+}\r\nabc"));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("A0002 APPEND INBOX {3+}\r\nabc\r\n", AfterConnect(peer));
}

TEST_F(Protocol, ContinuationAndNoWithAlert)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 APPEND INBOX {5}").Send("+ Ready for literal data\r\n")
        .Expect("hello").Send("A0002 OK APPEND completed\r\n")
        .Expect("A0003 DELETE INBOX").Send("A0003 NO [ALERT] denied\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_CONTINUE, ImapCommandA(h, "APPEND", "INBOX {5}"));
    char text[64];
    EXPECT_EQ(22, ImapGetResultStringA(h, text, sizeof text));
    EXPECT_STREQ("Ready for literal data", text);
    EXPECT_EQ(7, ImapWrite(h, (const BYTE *)"hello\r\n", 7)) << "the session is idle again";
    FindSession(h)->bCommandPending = TRUE;
    EXPECT_EQ(IMAP_RESULT_OK, ImapGetResultCode(h));

    EXPECT_EQ(-1, ImapCommandA(h, "DELETE", "INBOX"));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_COMMAND);
    EXPECT_EQ(14, ImapGetResultStringA(h, text, sizeof text));
    EXPECT_STREQ("[ALERT] denied", text);
    EXPECT_EQ(5, ImapGetResultStringA(h, text, 6)) << "truncated to the buffer";
    WCHAR wide[8];
    EXPECT_EQ(8, ImapGetResultStringW(h, wide, 8)) << "the A form's count, in UTF-8 bytes";
    EXPECT_EQ(Utf16("[ALERT]"), FromW(wide));
    EXPECT_EQ(-1, ImapGetResultStringA(h, text, 0));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(0, ImapGetResultStringW(h, wide, 0));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
}

TEST_F(Protocol, ReaderStoresWhatSelectionCarries)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 SELECT INBOX")
        .Send("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
              "* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Flags permitted.\r\n"
              "* 172 EXISTS\r\n* 1 RECENT\r\n"
              "* OK [UNSEEN 12] First unseen.\r\n* OK [UIDVALIDITY 3000000000] UIDs valid\r\n"
              "* OK [UIDNEXT 4392] Predicted next UID\r\n"
              "A0002 OK [READ-WRITE] SELECT completed\r\n")
        .Expect("A0003 NOOP")
        .Send("* 17 EXISTS\r\n* OK [UIDNEXT 9] ignored outside a selection\r\nA0003 OK [READ-ONLY] done\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "SELECT", "INBOX"));
    CLIENTSESSION *lp = FindSession(h);
    EXPECT_EQ(172, lp->nMessages);
    EXPECT_EQ(1, lp->nRecentMessages);
    EXPECT_EQ(12, lp->nUnseenMessageId);
    EXPECT_EQ(2147483647u, lp->dwMailboxUID) << "saturates at the signed 32-bit limit";
    EXPECT_EQ(4392u, lp->dwNextMessageUID);
    EXPECT_EQ((DWORD)IMAP_ACCESS_READWRITE, lp->dwAccessMode);
    EXPECT_EQ((DWORD)(IMAP_FLAG_ANSWERED | IMAP_FLAG_URGENT | IMAP_FLAG_DELETED | IMAP_FLAG_SEEN | IMAP_FLAG_DRAFT),
              lp->dwFlags);
    EXPECT_EQ((DWORD)(IMAP_FLAG_DELETED | IMAP_FLAG_SEEN), lp->dwPermanentFlags);

    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_EQ(17, lp->nMessages);
    EXPECT_EQ(4392u, lp->dwNextMessageUID);
    EXPECT_EQ((DWORD)IMAP_ACCESS_READWRITE, lp->dwAccessMode);
}

TEST_F(Protocol, CapabilityStoredOnlyForCapability)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 NOOP").Send("* CAPABILITY IMAP4rev1 ONLY-DURING-NOOP\r\nA0002 OK\r\n")
        .Expect("A0003 capability").Send("* CAPABILITY IMAP4rev1 NEW\r\nA0003 OK\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_STREQ(Dovecot().lpszCapability, FindSession(h)->szCapability);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "capability", NULL));
    EXPECT_STREQ("IMAP4rev1 NEW", FindSession(h)->szCapability);
    char caps[14];
    EXPECT_EQ(-1, ImapGetCapabilityA(h, caps, 13)) << "the list is never cut";
    EXPECT_LAST_ERROR(TW_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(13, ImapGetCapabilityA(h, caps, 14));
    WCHAR wide[20];
    EXPECT_EQ(13, ImapGetCapabilityW(h, wide, 20));
    EXPECT_EQ(Utf16("IMAP4rev1 NEW"), FromW(wide));
    EXPECT_EQ(-1, ImapGetCapabilityW(h, wide, 0));
    EXPECT_LAST_ERROR(TW_ERROR_BUFFER_TOO_SMALL);
}

TEST_F(Protocol, StreamModeHandsOutEachLine)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 LIST \"\" \"*\"")
        .Send("* LIST (\\HasNoChildren) \"/\" INBOX\r\n* LIST () \"/\" Archive\r\n"
              "* LIST (\\Noselect) \"/\" Work\r\nA0002 OK List completed.\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    FindSession(h)->bStreamResponses = TRUE;
    EXPECT_EQ(0, ImapCommandA(h, "LIST", "\"\" \"*\""));
    const char *names[] = {"(\\HasNoChildren) \"/\" INBOX", "() \"/\" Archive", "(\\Noselect) \"/\" Work"};
    for (const char *lpszText : names) {
        EXPECT_EQ(12, ImapGetResultCode(h));
        EXPECT_STREQ(lpszText, FindSession(h)->szResultString);
        EXPECT_TRUE(FindSession(h)->bCommandPending);
    }
    EXPECT_EQ(IMAP_RESULT_OK, ImapGetResultCode(h));
    EXPECT_FALSE(FindSession(h)->bCommandPending);
    EXPECT_FALSE(FindSession(h)->bStreamResponses);
}

TEST_F(Protocol, NormalModeReadsAnnouncedLiterals)
{
    /* A name that starts with "A" inside a literal must not end the
       command, and the literal's line end must not either. */
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 LIST \"\" \"*\"")
        .Send("* LIST () \"/\" {19}\r\nA0002 OK not really\r\n"
              "* LIST () \"/\" {4}\r\nAB\r\n {3}\r\nxyz\r\n"
              ")\r\nA0002 OK List completed.\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "LIST", "\"\" \"*\""));
    EXPECT_STREQ("List completed.", FindSession(h)->szResultString);
}

TEST_F(Protocol, LateCompletionIsDropped)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 NOOP").Pause(1500).Send("A0002 OK late\r\n")
        .Expect("A0003 NOOP").Send("A0003 OK mine\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    ImapSetTimeout(h, 1);
    EXPECT_EQ(-1, ImapCommandA(h, "NOOP", NULL));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_TIMEOUT);
    ImapSetTimeout(h, 3);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_STREQ("mine", FindSession(h)->szResultString);
}

TEST_F(Protocol, UnknownAndOddLines)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 NOOP").Send("A0002 PONG\r\n")
        .Expect("A0003 NOOP").Send("A0003 OK\r\n")
        .Expect("A0004 NOOP").Send("garbage here\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_UNKNOWN, ImapCommandA(h, "NOOP", NULL));
    EXPECT_LAST_ERROR(TW_ERROR_UNEXPECTED_SERVER_RESPONSE);
    EXPECT_STREQ("PONG", FindSession(h)->szResultString);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_STREQ("", FindSession(h)->szResultString);
    EXPECT_EQ(IMAP_RESULT_UNKNOWN, ImapCommandA(h, "NOOP", NULL));
    EXPECT_STREQ("garbage here\r\n", FindSession(h)->szResultString);
}

TEST_F(Protocol, RefusedGreetingsCloseTheSocket)
{
    for (const char *lpszGreeting : {"* PREAUTH [CAPABILITY IMAP4rev1] Logged in as tw\r\n", "* BYE go away\r\n"}) {
        ScriptedPeer peer;
        peer.Send(lpszGreeting).ExpectClose();
        peer.Start();
        EXPECT_EQ(INVALID_CLIENT, ImapConnectA("127.0.0.1", peer.Port(), 2, 0, NULL)) << lpszGreeting;
        EXPECT_LAST_ERROR(TW_ERROR_UNEXPECTED_SERVER_RESPONSE);
        EXPECT_TRUE(peer.Finish());
        EXPECT_EQ("", peer.Error()) << lpszGreeting;
        EXPECT_EQ("", peer.Received()) << "nothing is sent after a refused greeting";
    }
}

TEST_F(Protocol, IdentifySendsIdOnlyWhenOffered)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 ID (\"name\" \"Tidewire\" \"version\" \"9.5\" \"vendor\" \"Marrowby\")")
        .Send("* ID NIL\r\nA0002 NO not today\r\n");
    HCLIENT h = ConnectImap(peer, IMAP_OPTION_IDENTIFY);
    ASSERT_NE(INVALID_CLIENT, h) << "a refused ID does not fail the connection";
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());

    /* IDLE is not ID: capabilities are whole words. */
    ScriptedPeer other;
    ScriptConnect(other, Plainish()).ExpectClose();
    HCLIENT h2 = ConnectImap(other, IMAP_OPTION_IDENTIFY);
    ASSERT_NE(INVALID_CLIENT, h2);
    ReleaseSession(h2);
    EXPECT_TRUE(other.Finish());
    EXPECT_EQ("A0001 CAPABILITY\r\n", other.Received());
}

TEST_F(Protocol, ConnectRefusals)
{
    EXPECT_EQ(INVALID_CLIENT, ImapConnectA("ab", 143, 2, 0, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
    EXPECT_EQ(INVALID_CLIENT, ImapConnectA(NULL, 143, 2, 0, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HOSTNAME);
    EXPECT_EQ(INVALID_CLIENT, ImapConnectA("127.0.0.1", 993, 2, 0, NULL)) << "993 means implicit TLS";
    EXPECT_LAST_ERROR(TW_ERROR_SECURITY_NOT_INITIALIZED);
    for (int nPort : {-1, 0x10000 + 143}) {
        EXPECT_EQ(INVALID_CLIENT, ImapConnectA("127.0.0.1", nPort, 2, 0, NULL)) << nPort;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(INVALID_CLIENT, ImapConnectA("127.0.0.1", 143, -1, 0, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(0u, GetSessionTableSize()) << "refused before a session exists";
    EXPECT_EQ(INVALID_CLIENT, ImapAsyncConnectA("127.0.0.1", 143, 2, 0, NULL, (HWND)1, 1024));
    EXPECT_LAST_ERROR(TW_ERROR_NOT_IMPLEMENTED);
}

TEST_F(Protocol, PartialSendsAreCompleted)
{
    /* A stream that takes three bytes per send, with "would block" between. */
    struct Trickle {
        static int Send(CLIENTSESSION *lp, const char *lpBuffer, int cb, PFN_STREAMSEND next)
        {
            static int nCalls;
            if (++nCalls % 2 == 0) {
                SetSocketError(WSAEWOULDBLOCK);
                return SOCKET_ERROR;
            }
            return next(lp, lpBuffer, cb < 3 ? cb : 3);
        }
    };
    static const STREAMFILTER filter = {nullptr, Trickle::Send};
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot()).Expect("A0002 EXAMINE \"Some Mailbox\"").Send("A0002 OK done\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    SetStreamFilter(&filter);
    int nResult = ImapCommandA(h, "EXAMINE", "\"Some Mailbox\"");
    SetStreamFilter(nullptr);
    EXPECT_EQ(IMAP_RESULT_OK, nResult);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Protocol, DisconnectLogsOutAndCloses)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 LOGOUT").Send("* BYE Logging out\r\nA0002 OK Logout completed.\r\n").ExpectClose();
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(0, ImapDisconnect(h));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
    EXPECT_EQ(-1, ImapDisconnect(h));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);

    /* A server that has already gone: still 0. */
    ScriptedPeer gone;
    ScriptConnect(gone, Dovecot()).Close();
    HCLIENT h2 = ConnectImap(gone);
    ASSERT_NE(INVALID_CLIENT, h2);
    EXPECT_TRUE(gone.Finish());
    EXPECT_EQ(0, ImapDisconnect(h2));
}

struct SeenEvent {
    UINT nEvent;
    DWORD dwError, dwParam;
};
std::vector<SeenEvent> g_seen;

void CALLBACK RecordEvent(HCLIENT, UINT nEvent, DWORD dwError, DWORD dwParam)
{
    g_seen.push_back({nEvent, dwError, dwParam});
}

TEST_F(Protocol, CommandEventReachesRegisteredCallback)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 NOOP").Send("A0002 OK\r\n")
        .Expect("A0003 DELETE x").Send("A0003 NO nope\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(0, ImapRegisterEvent(h, IMAP_EVENT_COMMAND, RecordEvent, 7));
    ImapCommandA(h, "NOOP", NULL);
    ImapCommandA(h, "DELETE", "x");
    ASSERT_EQ(2u, g_seen.size());
    EXPECT_EQ((UINT)IMAP_EVENT_COMMAND, g_seen[0].nEvent);
    EXPECT_EQ(0u, g_seen[0].dwError);
    EXPECT_EQ(7u, g_seen[0].dwParam);
    EXPECT_EQ(TwHex(TW_ERROR_INVALID_COMMAND), TwHex(g_seen[1].dwError));
    EXPECT_EQ(0, ImapDisableEvents(h));
    EXPECT_EQ(0, ImapFreezeEvents(h, TRUE));
    EXPECT_FALSE(FindSession(h)->bEventsFrozen) << "nothing to freeze without socket notifications";
}

} // namespace

#if !defined(_WIN32)
namespace {

/* Every allocation of a connection failed in turn: a clean error, never a
   half-made session (AddressSanitizer checks that nothing leaks). */
TEST_F(Protocol, ConnectSurvivesEachFailedAllocation)
{
    for (int n = 0; n < 8; n++) {
        ScriptedPeer peer;
        ScriptConnect(peer, Dovecot());
        peer.SetStepTimeout(500);
        peer.Start();
        PlatformFailAllocationAfter(n);
        HCLIENT h = ImapConnectW(W(Utf16("127.0.0.1")), peer.Port(), 2, 0, NULL);
        DWORD dwError = ImapGetLastError();
        PlatformFailAllocationAfter(-1);
        if (h == INVALID_CLIENT) {
            EXPECT_TRUE(dwError == TW_ERROR_OUT_OF_MEMORY || dwError == TW_ERROR_INVALID_HOSTNAME)
                << n << ": " << TwHex(dwError).value;
        } else {
            EXPECT_EQ(0, ImapDisconnect(h)) << n;
        }
        peer.Finish(1000);
    }
}

} // namespace
#endif

namespace {

/* A server that sends what no server should: each line is read, the
   session survives, and the next command still works. */
TEST_F(Protocol, HostileLinesAreSurvived)
{
    std::string longLine(9000, 'x');
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 NOOP")
        .Send("* 99999999999999999999 EXISTS\r\n"
              "* OK [UIDNEXT 123\r\n"
              "* OK [" + std::string(300, 'C') + " " + std::string(9000, 'a') + "]\r\n"
              "* " + longLine + "\r\n"
              "* FLAGS (\\Seen \\\r\n"
              "* LIST () \"/\" {0}\r\n\r\n"
              "A0002 OK survived\r\n")
        .Expect("A0003 NOOP").Send("A0003 OK again\r\n");
    peer.Send(std::string("* 3 EXISTS\r\n"));
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_EQ(2147483647, FindSession(h)->nMessages);
    EXPECT_STREQ("survived", FindSession(h)->szResultString);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

} // namespace

namespace {

TEST_F(Protocol, LongAnswerLinesDoNotEndTheCommand)
{
    /* A SEARCH answer of thousands of numbers is longer than the line
       buffer; so can a completion's text be. */
    std::string numbers;
    for (int i = 1; i <= 5000; i++)
        numbers += " " + std::to_string(i);
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 SEARCH ALL").Send("* SEARCH" + numbers + "\r\nA0002 OK Search completed\r\n")
        .Expect("A0003 NOOP").Send("A0003 OK" + numbers + "\r\n")
        .Expect("A0004 NOOP").Send("A0004 OK short\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "SEARCH", "ALL"));
    EXPECT_STREQ("Search completed", FindSession(h)->szResultString);
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL));
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(h, "NOOP", NULL)) << "the rest of the long completion was dropped";
    EXPECT_STREQ("short", FindSession(h)->szResultString);
}

} // namespace

/*
 * The raw data channel against a scripted peer: line splitting and
 * buffering, closed connections, waits, time-outs, cancellation and the
 * transfer figures.
 */
#include "support/netfixture.h"
#include "net/stream.h"
#include "net/waiting.h"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class Channel : public NetTest {};

TEST_F(Channel, TwoLinesInOnePacketComeOutOneByOne)
{
    ScriptedPeer peer;
    peer.Send("* OK first\r\n* OK second\r\n").Pause(300).Close();
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ("* OK first\r\n", Read(h));
    /* The second line is served from the buffer: the socket is not read. */
    EXPECT_EQ(FindSession(h)->cbReceived, 13);
    EXPECT_EQ("* OK second\r\n", Read(h));
    EXPECT_EQ(0, FindSession(h)->cbReceived);
}

TEST_F(Channel, LongLineTakesSeveralCalls)
{
    ScriptedPeer peer;
    peer.Send("0123456789abcdef\r\nnext\r\n");
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ("01234567", Read(h, 8));
    EXPECT_EQ("89abcdef", Read(h, 8));
    EXPECT_EQ("\r\n", Read(h, 8));
    EXPECT_EQ("next\r\n", Read(h, 8));
}

TEST_F(Channel, LineSplitAcrossPacketsIsJoined)
{
    ScriptedPeer peer;
    peer.SendSplit("* 1 EXISTS\r\n", {1, 5, 11}, 30);
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ("* 1 EXISTS\r\n", Read(h));
}

/* A stream that delivers one byte per receive. */
int OneByteAtATime(CLIENTSESSION *lp, char *lpBuffer, int, PFN_STREAMRECV next)
{
    return next(lp, lpBuffer, 1);
}

TEST_F(Channel, StreamFilterSplitsEveryReceive)
{
    static const STREAMFILTER filter = {OneByteAtATime, nullptr};
    ScriptedPeer peer;
    peer.Send("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    SetStreamFilter(&filter);
    std::string line = Read(h);
    SetStreamFilter(nullptr);
    EXPECT_EQ("* OK [CAPABILITY IMAP4rev1] ready\r\n", line);
}

TEST_F(Channel, ClosedConnectionNowAndLater)
{
    ScriptedPeer peer;
    peer.Send("* BYE\r\n").Close();
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ("* BYE\r\n", Read(h));
    for (int i = 0; i < 3; i++) {
        BYTE b[16];
        EXPECT_EQ(-1, ImapRead(h, b, sizeof b));
        EXPECT_LAST_ERROR(TW_ERROR_CONNECTION_CLOSED);
    }
}

TEST_F(Channel, BytesBeforeACloseAreNotLost)
{
    /* A partial line and then the end of the connection: the caller gets
       the bytes, and the next call reports the close. */
    ScriptedPeer peer;
    peer.Send("* partial").Pause(100).Close();
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    std::string got;
    for (int i = 0; i < 3 && got.size() < 9; i++)
        got += Read(h);
    EXPECT_EQ("* partial", got);
    BYTE b[16];
    EXPECT_EQ(-1, ImapRead(h, b, sizeof b));
    EXPECT_LAST_ERROR(TW_ERROR_CONNECTION_CLOSED);
}

TEST_F(Channel, ReadTimesOut)
{
    ScriptedPeer peer;
    peer.Pause(2500);
    peer.Start();
    HCLIENT h = Connect(peer, 1);
    ASSERT_NE(INVALID_CLIENT, h);
    BYTE b[16];
    auto t0 = Clock::now();
    EXPECT_EQ(-1, ImapRead(h, b, sizeof b));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_TIMEOUT);
    EXPECT_GE(MillisecondsSince(t0), 900);
    EXPECT_EQ(IMAP_STATUS_IDLE, ImapGetStatus(h));
    EXPECT_FALSE(ImapIsBlocking(h));
}

TEST_F(Channel, CancelFromAnotherThreadEndsAnUnboundedRead)
{
    ScriptedPeer peer;
    peer.Pause(2500);
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    ASSERT_EQ(0, ImapSetTimeout(h, 0)); /* no limit: only the cancel ends it */
    Clock::time_point tCancel;
    std::thread canceller([&] {
        for (int i = 0; i < 100 && !ImapIsBlocking(h); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(IMAP_STATUS_READ, ImapGetStatus(h));
        tCancel = Clock::now();
        EXPECT_EQ(0, ImapCancel(h));
    });
    BYTE b[16];
    EXPECT_EQ(-1, ImapRead(h, b, sizeof b));
    long long ms = MillisecondsSince(tCancel);
    canceller.join();
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_CANCELED);
    EXPECT_LT(ms, 500) << "the cancel takes effect within a wait slice";
    EXPECT_EQ(0, FindSession(h)->bCanceled) << "an honoured cancel is cleared";
}

UINT g_nLastEvent;
DWORD g_dwLastEventError;

void CALLBACK OnEvent(HCLIENT, UINT nEvent, DWORD dwError, DWORD)
{
    g_nLastEvent = nEvent;
    g_dwLastEventError = dwError;
}

TEST_F(Channel, CancelWithNothingRunningCancelsTheNextRead)
{
    ScriptedPeer peer;
    peer.Send("* OK\r\n");
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    ImapRegisterEvent(h, IMAP_EVENT_CANCEL | IMAP_EVENT_TIMEOUT, OnEvent, 0);
    EXPECT_EQ(0, ImapCancel(h));
    BYTE b[16];
    EXPECT_EQ(-1, ImapRead(h, b, sizeof b));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_CANCELED);
    EXPECT_EQ((UINT)IMAP_EVENT_CANCEL, g_nLastEvent);
    EXPECT_EQ(TwHex(TW_ERROR_OPERATION_CANCELED), TwHex(g_dwLastEventError));
    EXPECT_EQ("* OK\r\n", Read(h)) << "the data is still there";
    EXPECT_EQ(-1, ImapCancel(INVALID_CLIENT));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_NOT_BLOCKING);
}

TEST_F(Channel, WriteSendsAndRefusesWhatItMust)
{
    ScriptedPeer peer;
    peer.Expect("A0001 NOOP");
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    const BYTE line[] = "A0001 NOOP\r\n";
    for (int cb : {0, -5}) {
        EXPECT_EQ(-1, ImapWrite(h, line, cb)) << cb;
        EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(-1, ImapWrite(h, NULL, 4));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
    FindSession(h)->bCommandPending = TRUE;
    EXPECT_EQ(-1, ImapWrite(h, line, 12));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_IN_PROGRESS);
    FindSession(h)->bCommandPending = FALSE;
    ImapRegisterEvent(h, IMAP_EVENT_CANCEL, OnEvent, 0);
    g_nLastEvent = 0;
    EXPECT_EQ(0, ImapCancel(h));
    EXPECT_EQ(-1, ImapWrite(h, line, 12)) << "a pending cancel ends the next write";
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_CANCELED);
    EXPECT_EQ((UINT)IMAP_EVENT_CANCEL, g_nLastEvent);
    EXPECT_FALSE(ImapIsBlocking(h));
    EXPECT_EQ(12, ImapWrite(h, line, 12));
    EXPECT_EQ(IMAP_STATUS_IDLE, ImapGetStatus(h));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
    EXPECT_EQ("A0001 NOOP\r\n", peer.Received());
}

TEST_F(Channel, ReadableAndWritableTimeValues)
{
    ScriptedPeer peer;
    peer.Pause(300).Send("* OK data\r\n").Pause(500);
    peer.Start();
    HCLIENT h = Connect(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    FindSession(h)->bConnected = TRUE;

    DWORD dwAvail = 99;
    auto t0 = Clock::now();
    EXPECT_FALSE(ImapIsReadable(h, 0, &dwAvail)); /* a quarter second */
    long long ms = MillisecondsSince(t0);
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 290 + 500);
    EXPECT_EQ(0u, dwAvail);

    EXPECT_TRUE(ImapIsReadable(h, 1500, &dwAvail));
    EXPECT_EQ(11u, dwAvail);

    t0 = Clock::now();
    EXPECT_TRUE(ImapIsWritable(h, 0));
    EXPECT_LT(MillisecondsSince(t0), 200) << "a zero write time-out only polls";

    FindSession(h)->bBlocking = 1;
    EXPECT_FALSE(ImapIsReadable(h, 10, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_IN_PROGRESS);
    EXPECT_FALSE(ImapIsWritable(h, 10));
    EXPECT_LAST_ERROR(TW_ERROR_OPERATION_IN_PROGRESS);
    FindSession(h)->bBlocking = 0;
}

TEST_F(Channel, TimeoutIsClampedToAnHour)
{
    HCLIENT h = AllocateSession();
    struct { int nIn; int nResult; int nStored; } cases[] = {
        {7200, 0, 3600}, {3600, 0, 3600}, {0, 0, 0}, {45, 0, 45}, {-1, -1, 45},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.nResult, ImapSetTimeout(h, c.nIn)) << c.nIn;
        EXPECT_EQ(c.nStored, ImapGetTimeout(h)) << c.nIn;
    }
    EXPECT_EQ(-1, ImapGetTimeout(h + 1));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
}

TEST_F(Channel, OtherThreadsMayOnlyAskTheSharedState)
{
    HCLIENT h = AllocateSession();
    std::thread t([h] {
        EXPECT_EQ(IMAP_STATUS_UNUSED, ImapGetStatus(h));
        EXPECT_FALSE(ImapIsBlocking(h));
        EXPECT_EQ(-1, ImapGetTimeout(h));
        EXPECT_LAST_ERROR(TW_ERROR_NOT_HANDLE_OWNER);
        BYTE b[4];
        EXPECT_EQ(-1, ImapRead(h, b, 4));
        EXPECT_LAST_ERROR(TW_ERROR_NOT_HANDLE_OWNER);
    });
    t.join();
    EXPECT_FALSE(ImapIsBlocking(h + 1000));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
}

TEST_F(Channel, TransferFigures)
{
    HCLIENT h = AllocateSession();
    CLIENTSESSION *lp = FindSession(h);
    IMAPTRANSFERSTATUS st;
    EXPECT_EQ(1, ImapGetTransferStatus(h, &st)) << "nothing opened yet";
    EXPECT_EQ(0u, st.dwBytesTotal);
    EXPECT_EQ(0u, st.dwTimeEstimated);

    /* 250 of 600 bytes in 10.9 seconds. */
    lp->nOpenMessageId = 4;
    lp->dwMessageLength = 600;
    lp->dwMessageRead = 250;
    lp->dwTransferStart = 1000;
    lp->dwTransferEnd = 1000 + 10900;
    EXPECT_EQ(0, ImapGetTransferStatus(h, &st));
    EXPECT_EQ(4, st.nMessageId);
    EXPECT_EQ(600u, st.dwBytesTotal);
    EXPECT_EQ(250u, st.dwBytesCopied);
    EXPECT_EQ(25u, st.dwBytesPerSecond);
    EXPECT_EQ(10u, st.dwTimeElapsed);
    EXPECT_EQ(14u, st.dwTimeEstimated);

    lp->dwTransferEnd = 1000 + 900; /* within the first second */
    EXPECT_EQ(0, ImapGetTransferStatus(h, &st));
    EXPECT_EQ(0u, st.dwTimeElapsed);
    EXPECT_EQ(0u, st.dwBytesPerSecond);
    EXPECT_EQ(0u, st.dwTimeEstimated);

    lp->dwMessageRead = 0; /* two seconds, nothing copied */
    lp->dwTransferEnd = 1000 + 2000;
    EXPECT_EQ(0, ImapGetTransferStatus(h, &st));
    EXPECT_EQ(3600u, st.dwTimeEstimated);

    lp->bUploading = 1;
    lp->dwMessageRead = 700; /* more than announced: the total follows */
    EXPECT_EQ(0, ImapGetTransferStatus(h, &st));
    EXPECT_EQ(0, st.nMessageId);
    EXPECT_EQ(700u, st.dwBytesTotal);

    EXPECT_EQ(-1, ImapGetTransferStatus(h, NULL));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
}

TEST_F(Channel, SocketSetMembership)
{
    fd_set set;
    FD_ZERO(&set);
    EXPECT_FALSE(IsSocketInSet(&set, (SOCKET)5));
    FD_SET((SOCKET)5, &set);
    FD_SET((SOCKET)9, &set);
    EXPECT_TRUE(IsSocketInSet(&set, (SOCKET)9));
    EXPECT_TRUE(IsSocketInSet(&set, (SOCKET)5));
    EXPECT_FALSE(IsSocketInSet(&set, (SOCKET)7));
    EXPECT_FALSE(IsSocketInSet(NULL, (SOCKET)5));
}

} // namespace

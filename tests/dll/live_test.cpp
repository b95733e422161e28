/*
 * Against a real Dovecot on loopback, through the built library: connect,
 * capabilities before and after login, the login mechanisms, a wrong
 * password, raw commands and disconnect.
 */
#include "live/live.h"
#include "support/testutil.h"

#include <cstring>
#include <string>

namespace {

class LiveSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ImapInitializeA(NULL, NULL));
        m_bInit = true;
    }
    void TearDown() override
    {
        if (m_h != INVALID_CLIENT)
            ImapDisconnect(m_h);
        if (m_bInit)
            ImapUninitialize();
    }
    bool Connect(DWORD dwOptions = 0)
    {
        m_h = ImapConnectA(Live().host.c_str(), Live().port, 5, dwOptions, NULL);
        EXPECT_NE(INVALID_CLIENT, m_h) << TwHex(ImapGetLastError()).value;
        return m_h != INVALID_CLIENT;
    }
    std::string Capabilities()
    {
        char caps[1024];
        return ImapGetCapabilityA(m_h, caps, sizeof caps) >= 0 ? caps : "";
    }
    static bool HasWord(const std::string &list, const std::string &word)
    {
        return (" " + list + " ").find(" " + word + " ") != std::string::npos;
    }

    HCLIENT m_h = INVALID_CLIENT;
    bool m_bInit = false;
};

TEST_F(LiveSession, LoginRefreshesCapabilities)
{
    REQUIRE_LIVE();
    ASSERT_TRUE(Connect(IMAP_OPTION_IDENTIFY));
    EXPECT_TRUE(ImapIsConnected(m_h));
    std::string before = Capabilities();
    EXPECT_TRUE(HasWord(before, "AUTH=PLAIN")) << before;
    EXPECT_TRUE(HasWord(before, "SASL-IR")) << before;
    EXPECT_FALSE(HasWord(before, "UNSELECT")) << "announced only after login";

    EXPECT_EQ(1, ImapLoginA(m_h, IMAP_AUTH_LOGIN, Live().User(1).name.c_str(), Live().User(1).password.c_str()));
    EXPECT_LAST_ERROR(0);
    std::string after = Capabilities();
    EXPECT_TRUE(HasWord(after, "UNSELECT")) << after;
    EXPECT_TRUE(HasWord(after, "IDLE")) << after;
    EXPECT_FALSE(HasWord(after, "AUTH=PLAIN")) << after;
}

TEST_F(LiveSession, MechanismsAndQuoting)
{
    REQUIRE_LIVE();
    struct { int idAuth; int nUser; } cases[] = {
        {IMAP_AUTH_PLAIN, 1}, {IMAP_AUTH_LOGIN, 3} /* a password with a quote and a backslash */,
        {IMAP_AUTH_PLAIN, 3},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(Connect());
        const LiveUser &u = Live().User(c.nUser);
        EXPECT_EQ(1, ImapLoginA(m_h, c.idAuth, u.name.c_str(), u.password.c_str()))
            << c.idAuth << " " << u.name << " " << TwHex(ImapGetLastError()).value;
        EXPECT_EQ(0, ImapDisconnect(m_h));
        m_h = INVALID_CLIENT;
    }
}

TEST_F(LiveSession, WrongPasswordLeavesTheSessionUsable)
{
    REQUIRE_LIVE();
    ASSERT_TRUE(Connect());
    const LiveUser &u = Live().User(1);
    EXPECT_EQ(-1, ImapLoginA(m_h, IMAP_AUTH_LOGIN, u.name.c_str(), "not-the-password"));
    EXPECT_LAST_ERROR(TW_ERROR_AUTHENTICATION_FAILED);
    EXPECT_EQ(-1, ImapLoginA(m_h, IMAP_AUTH_PLAIN, u.name.c_str(), "still-wrong"));
    EXPECT_LAST_ERROR(TW_ERROR_AUTHENTICATION_FAILED);
    EXPECT_EQ(1, ImapLoginW(m_h, IMAP_AUTH_LOGIN, W(Utf16(u.name.c_str())), W(Utf16(u.password.c_str()))));
}

TEST_F(LiveSession, RawCommandsRoundTrip)
{
    REQUIRE_LIVE();
    ASSERT_TRUE(Connect());
    const LiveUser &u = Live().User(1);
    ASSERT_EQ(1, ImapLoginA(m_h, IMAP_AUTH_LOGIN, u.name.c_str(), u.password.c_str()));
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(m_h, "NOOP", NULL));
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(m_h, "EXAMINE", "INBOX"));
    char text[256];
    ImapGetResultStringA(m_h, text, sizeof text);
    EXPECT_NE(nullptr, strstr(text, "READ-ONLY")) << text;

    EXPECT_EQ(-1, ImapCommandA(m_h, "EXAMINE", "\"No Such Box\""));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_COMMAND);
    EXPECT_EQ(-1, ImapCommandA(m_h, "FROBNICATE", NULL));
    EXPECT_LAST_ERROR(TW_ERROR_COMMAND_NOT_IMPLEMENTED);

    /* A listing read line by line in stream mode would need the session
       record; here the whole answer is read in normal mode. */
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandW(m_h, W(Utf16("LIST")), W(Utf16("\"\" \"*\""))));
    EXPECT_EQ(IMAP_RESULT_OK, ImapCommandA(m_h, "STATUS", "INBOX (MESSAGES)"));
}

TEST_F(LiveSession, DisconnectEndsTheHandle)
{
    REQUIRE_LIVE();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(0, ImapDisconnect(m_h));
    EXPECT_FALSE(ImapIsConnected(m_h));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_HANDLE);
    m_h = INVALID_CLIENT;
}

} // namespace

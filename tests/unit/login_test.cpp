/*
 * Authentication on the wire: argument checks, LOGIN quoting, SASL
 * initial responses, refusals that send nothing; and the string forms.
 */
#include "support/dialects.h"
#include "support/netfixture.h"
#include "protocol/engine.h"
#include "protocol/strings.h"

#include <string>

namespace {

class Login : public NetTest {};

TEST(LoginStrings, QuotingTable)
{
    struct { const char *lpszIn; int nResult; const char *lpszOut; } cases[] = {
        {"tw1", 1, "\"tw1\""},
        {"pa\"ss", 1, "\"pa\\\"ss\""},          /* a double quote is escaped */
        {"pa\\word", 1, "\"pa\\\\word\""},      /* a backslash before a letter is doubled */
        {"pa\\\"ss", 1, "\"pa\\\"ss\""},        /* an escaped pair stays as it is */
        {"it's", 1, "\"it's\""},                /* an apostrophe is no quoted-special */
        {"'secret'", 0, "'secret'"},            /* already quoted: sent as given */
        {"\"quoted\"", 0, "\"quoted\""},
        {"\"", 1, "\"\\\"\""},                  /* a lone quote is not a quoted word */
    };
    for (const auto &c : cases) {
        char out[QUOTED_BUFFER_SIZE] = "untouched";
        EXPECT_EQ(c.nResult, QuoteString(out, c.lpszIn)) << c.lpszIn;
        EXPECT_STREQ(c.lpszOut, out) << c.lpszIn;
    }
    char out[QUOTED_BUFFER_SIZE] = "untouched";
    EXPECT_EQ(0, QuoteString(out, ""));
    EXPECT_STREQ("untouched", out);
    std::string longest(125, 'x'), tooLong(126, 'x');
    EXPECT_EQ(1, QuoteString(out, longest.c_str()));
    EXPECT_EQ(0, QuoteString(out, tooLong.c_str()));
    EXPECT_STREQ("", out);
    strcpy(out, "a\"b");
    EXPECT_EQ(1, QuoteString(out, out)) << "in place";
    EXPECT_STREQ("\"a\\\"b\"", out);
}

TEST(LoginStrings, Base64)
{
    LibraryScope lib;
    struct { const char *lpszIn; int cb; const char *lpszOut; } cases[] = {
        {"", 0, ""}, {"f", 1, "Zg=="}, {"fo", 2, "Zm8="}, {"foo", 3, "Zm9v"}, {"foob", 4, "Zm9vYg=="},
        {"\0tw1\0tw1pass", 12, "AHR3MQB0dzFwYXNz"},
    };
    for (const auto &c : cases) {
        char out[BASE64_BUFFER_SIZE];
        EXPECT_EQ((int)strlen(c.lpszOut), Base64Encode((const BYTE *)c.lpszIn, out, c.cb)) << c.lpszOut;
        EXPECT_STREQ(c.lpszOut, out);
    }
    std::string big(683, 'x');
    char out[BASE64_BUFFER_SIZE];
    EXPECT_EQ(912, Base64Encode((const BYTE *)big.data(), out, 682));
    EXPECT_EQ(-1, Base64Encode((const BYTE *)big.data(), out, 683));
    EXPECT_LAST_ERROR(TW_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(-1, Base64Encode(NULL, out, 1));
    EXPECT_LAST_ERROR(TW_ERROR_INVALID_PARAMETER);
}

TEST_F(Login, LoginQuotesAndRefreshesCapabilities)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 LOGIN \"tw3\" \"pa\\\"ss\\\\word\"").Send("A0002 OK Logged in\r\n")
        .Expect("A0003 CAPABILITY").Send("* CAPABILITY IMAP4rev1 IDLE MOVE\r\nA0003 OK\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(1, ImapLoginA(h, IMAP_AUTH_LOGIN, "tw3", "pa\"ss\\word"));
    EXPECT_LAST_ERROR(0);
    EXPECT_STREQ("IMAP4rev1 IDLE MOVE", FindSession(h)->szCapability);
    EXPECT_EQ(-1, ImapLoginA(h, IMAP_AUTH_LOGIN, "tw3", "x"));
    EXPECT_LAST_ERROR(TW_ERROR_ALREADY_AUTHENTICATED);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Login, PlainSendsTheInitialResponse)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 AUTHENTICATE PLAIN AHR3MQB0dzFwYXNz").Send("A0002 OK Logged in\r\n")
        .Expect("A0003 CAPABILITY").Send("* CAPABILITY IMAP4rev1\r\nA0003 OK\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(1, ImapLoginW(h, IMAP_AUTH_PLAIN, W(Utf16("tw1")), W(Utf16("tw1pass"))));
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Login, RejectedLoginKeepsTheSession)
{
    ScriptedPeer peer;
    ScriptConnect(peer, Dovecot())
        .Expect("A0002 LOGIN \"tw1\" \"wrong\"").Send("A0002 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n")
        .Expect("A0003 LOGIN \"tw1\" \"tw1pass\"").Send("A0003 OK\r\n")
        .Expect("A0004 CAPABILITY").Send("* CAPABILITY IMAP4rev1\r\nA0004 OK\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(-1, ImapLoginA(h, IMAP_AUTH_LOGIN, "tw1", "wrong"));
    EXPECT_LAST_ERROR(TW_ERROR_AUTHENTICATION_FAILED);
    EXPECT_EQ(1, ImapLoginA(h, IMAP_AUTH_LOGIN, "tw1", "tw1pass"));
}

TEST_F(Login, RefusalsSendNothing)
{
    std::string user64(64, 'u'), user65(65, 'u');
    ScriptedPeer peer;
    ScriptConnect(peer, Plainish()).ExpectClose();
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    struct { int idAuth; const char *lpszUser, *lpszPassword; DWORD dwError; } cases[] = {
        {IMAP_AUTH_LOGIN, user65.c_str(), "pw", TW_ERROR_INVALID_USERNAME},
        {IMAP_AUTH_LOGIN, "", "pw", TW_ERROR_INVALID_USERNAME},
        {IMAP_AUTH_LOGIN, NULL, "pw", TW_ERROR_INVALID_USERNAME},
        {IMAP_AUTH_LOGIN, "tw1", "", TW_ERROR_INVALID_PASSWORD},
        {IMAP_AUTH_LOGIN, "tw1\r\nA0009 DELETE INBOX", "pw", TW_ERROR_INVALID_USERNAME},
        {IMAP_AUTH_LOGIN, "tw1", "pw\nx", TW_ERROR_INVALID_PASSWORD},
        {IMAP_AUTH_PLAIN, "tw1", "pw", TW_ERROR_INVALID_AUTHENTICATION_TYPE},     /* no SASL-IR */
        {IMAP_AUTH_CRAM_MD5, "tw1", "pw", TW_ERROR_OPTION_NOT_SUPPORTED},         /* offered, not done */
        {IMAP_AUTH_NTLM, "tw1", "pw", TW_ERROR_INVALID_AUTHENTICATION_TYPE},
        {IMAP_AUTH_ANONYMOUS, "trace", NULL, TW_ERROR_INVALID_AUTHENTICATION_TYPE},
        {7, "tw1", "pw", TW_ERROR_INVALID_AUTHENTICATION_TYPE},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(-1, ImapLoginA(h, c.idAuth, c.lpszUser, c.lpszPassword)) << c.idAuth;
        EXPECT_LAST_ERROR(c.dwError);
    }
    ReleaseSession(h);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("A0001 CAPABILITY\r\n", peer.Received());
    EXPECT_EQ(64u, user64.size());
}

TEST_F(Login, AnonymousAndLongestNames)
{
    std::string user64(64, 'u'), pass64(64, 'p');
    ScriptedPeer peer;
    ScriptConnect(peer, Dialect{"* OK hi\r\n", "IMAP4rev1 SASL-IR AUTH=ANONYMOUS"})
        .Expect("A0002 AUTHENTICATE ANONYMOUS dHJhY2U=").Send("A0002 NO not now\r\n")
        .Expect("A0003 LOGIN \"" + user64 + "\" \"" + pass64 + "\"").Send("A0003 NO\r\n");
    HCLIENT h = ConnectImap(peer);
    ASSERT_NE(INVALID_CLIENT, h);
    EXPECT_EQ(-1, ImapLoginA(h, IMAP_AUTH_ANONYMOUS, "trace", NULL)) << "the password is not looked at";
    EXPECT_LAST_ERROR(TW_ERROR_AUTHENTICATION_FAILED);
    EXPECT_EQ(-1, ImapLoginA(h, IMAP_AUTH_LOGIN, user64.c_str(), pass64.c_str()));
    EXPECT_LAST_ERROR(TW_ERROR_AUTHENTICATION_FAILED);
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ("", peer.Error());
}

TEST_F(Login, CapabilityWordsAreWhole)
{
    EXPECT_TRUE(HasCapability("IMAP4rev1 ID IDLE", "id"));
    EXPECT_FALSE(HasCapability("IMAP4rev1 IDLE", "ID"));
    EXPECT_FALSE(HasCapability("AUTH=PLAINISH", "AUTH=PLAIN"));
    EXPECT_TRUE(HasCapability("  AUTH=PLAIN  ", "auth=plain"));
    EXPECT_FALSE(HasCapability("", "ID"));
    EXPECT_FALSE(HasCapability(NULL, "ID"));
    EXPECT_NE(nullptr, FindTextNoCase("* OK [ALERT] x", "alert"));
    EXPECT_EQ(nullptr, FindTextNoCase("", "x"));
}

} // namespace

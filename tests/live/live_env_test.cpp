/*
 * live_env_test.cpp - the live-test fixture itself: reading ports.env, and
 * the settings of the server that tests/live/dovecot.sh started.
 */
#include "live/live.h"

#include <cstdio>
#include <fstream>

namespace {

/* Writes text to a scratch file beside the working directory. */
std::string WriteScratch(const char *name, const std::string &text)
{
    std::ofstream out(name, std::ios::binary);
    out << text;
    return name;
}

} // namespace

TEST(LiveEnv, ParsesKeysQuotesCommentsAndCrlf)
{
    std::string path = WriteScratch("live_env_test.env",
                                    "# comment\r\n"
                                    "TW_LIVE_HOST=127.0.0.1\r\n"
                                    "\r\n"
                                    "TW_LIVE_IMAP_PORT=20143\r\n"
                                    "TW_LIVE_USER1=tw1\r\n"
                                    "TW_LIVE_PASS1=tw1pass\r\n"
                                    "TW_LIVE_USER2=tw3\r\n"
                                    "TW_LIVE_PASS2='pa\"ss\\word'\r\n"
                                    "TW_LIVE_EMPTY=\r\n"
                                    "no equals sign\r\n");
    LiveServer srv = LiveLoad(path);
    std::remove(path.c_str());
    ASSERT_TRUE(srv.ok) << srv.why;
    EXPECT_EQ("127.0.0.1", srv.host);
    EXPECT_EQ(20143, srv.port);
    ASSERT_EQ(2u, srv.users.size());
    EXPECT_EQ("tw1", srv.User(1).name);
    EXPECT_EQ("tw1pass", srv.User(1).password);
    EXPECT_EQ("tw3", srv.User(2).name);
    EXPECT_EQ("pa\"ss\\word", srv.User(2).password);
    EXPECT_EQ("", srv.User(3).name);
    EXPECT_EQ("", srv.Value("TW_LIVE_EMPTY", "x"));
    EXPECT_EQ("x", srv.Value("TW_LIVE_MISSING", "x"));
}

TEST(LiveEnv, MissingFileOrPortIsNotOk)
{
    LiveServer none = LiveLoad("live_env_test.absent");
    EXPECT_FALSE(none.ok);
    EXPECT_NE(std::string::npos, none.why.find("live_env_test.absent")) << none.why;

    std::string path = WriteScratch("live_env_test.env", "TW_LIVE_HOST=127.0.0.1\n");
    LiveServer noport = LiveLoad(path);
    std::remove(path.c_str());
    EXPECT_FALSE(noport.ok);
    EXPECT_NE(std::string::npos, LiveMissingText(noport).find("dovecot.sh start")) << LiveMissingText(noport);
}

/* The server started for this test run, with the users of tests/live/mail/layout.txt. */
TEST(LiveEnv, RunningServer)
{
    REQUIRE_LIVE();
    const LiveServer &srv = Live();
    EXPECT_EQ("127.0.0.1", srv.host);
    ASSERT_GE(srv.users.size(), 3u);
    EXPECT_EQ("tw1", srv.User(1).name);
    EXPECT_EQ("tw1pass", srv.User(1).password);
    EXPECT_EQ("tw2", srv.User(2).name);
    EXPECT_EQ("tw3", srv.User(3).name);
    EXPECT_EQ("pa\"ss\\word", srv.User(3).password);
}

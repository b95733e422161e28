/*
 * live.h - finds the Dovecot server of the live tests (started by
 * tests/live/dovecot.sh) for the GoogleTest programs of both targets.
 *
 * The server's settings are the KEY=VALUE lines of its ports.env file, named
 * by the environment variable TW_LIVE_ENV or, without it, by the macro
 * TW_LIVE_ENV_DEFAULT fixed at compile time. Under Wine a Unix path
 * ("/work/...") is opened as "Z:/work/...", Wine's drive for the root.
 *
 *   TEST(LiveLogin, Plain)
 *   {
 *       REQUIRE_LIVE();
 *       const LiveServer &srv = Live();
 *       connect to srv.host : srv.port, log in as srv.User(1) ...
 *   }
 *
 * REQUIRE_LIVE() skips the test when no server is running, or fails it when
 * the environment variable CI is "true": in CI a missing server is an error.
 */
#ifndef TW_TESTS_LIVE_H
#define TW_TESTS_LIVE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

struct LiveUser {
    std::string name;
    std::string password;
};

struct LiveServer {
    bool ok = false;            /* a settings file with host and port was read */
    std::string path;           /* the settings file looked for */
    std::string why;            /* when !ok: what is missing */
    std::string host;           /* TW_LIVE_HOST */
    int port = 0;               /* TW_LIVE_IMAP_PORT */
    std::vector<LiveUser> users; /* TW_LIVE_USERn / TW_LIVE_PASSn, n = 1, 2, ... */
    std::map<std::string, std::string> values; /* every line of the file */

    /* The value of KEY, or fallback when the file has no such line. */
    std::string Value(const std::string &key, const std::string &fallback = std::string()) const
    {
        auto it = values.find(key);
        return it == values.end() ? fallback : it->second;
    }

    /* User n (1-based, as in the file); an empty user when there is none. */
    const LiveUser &User(size_t n) const
    {
        static const LiveUser none;
        return n >= 1 && n <= users.size() ? users[n - 1] : none;
    }
};

/* A path from the environment or the build, as this program must open it. */
inline std::string LiveNativePath(const std::string &path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/')
        return "Z:" + path;
#endif
    return path;
}

/* Reads a ports.env file: KEY=VALUE lines, '#' comments, a value in single
   quotes loses them (that is how the file stays readable by sh). */
inline LiveServer LiveLoad(const std::string &path)
{
    LiveServer srv;
    srv.path = path;
    if (path.empty()) {
        srv.why = "neither TW_LIVE_ENV nor TW_LIVE_ENV_DEFAULT names the server's ports.env";
        return srv;
    }
    std::ifstream in(LiveNativePath(path));
    if (!in) {
        srv.why = "no file " + path + " (the server is not running)";
        return srv;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'')
            value = value.substr(1, value.size() - 2);
        srv.values[line.substr(0, eq)] = value;
    }
    srv.host = srv.Value("TW_LIVE_HOST");
    srv.port = std::atoi(srv.Value("TW_LIVE_IMAP_PORT").c_str());
    for (size_t n = 1;; n++) {
        std::string key = std::to_string(n);
        auto user = srv.values.find("TW_LIVE_USER" + key);
        if (user == srv.values.end())
            break;
        srv.users.push_back({user->second, srv.Value("TW_LIVE_PASS" + key)});
    }
    if (srv.host.empty() || srv.port <= 0 || srv.port > 65535)
        srv.why = path + " names no TW_LIVE_HOST and TW_LIVE_IMAP_PORT";
    else
        srv.ok = true;
    return srv;
}

/* The running server, looked up once per process. */
inline const LiveServer &Live()
{
    static const LiveServer srv = [] {
        const char *env = std::getenv("TW_LIVE_ENV");
        if (env != nullptr && *env != '\0')
            return LiveLoad(env);
#ifdef TW_LIVE_ENV_DEFAULT
        return LiveLoad(TW_LIVE_ENV_DEFAULT);
#else
        return LiveLoad(std::string());
#endif
    }();
    return srv;
}

/* True when a missing server must fail the test rather than skip it. */
inline bool LiveRequired()
{
    const char *ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

/* Why the live tests cannot run, and how to make them. */
inline std::string LiveMissingText(const LiveServer &srv)
{
    std::string dir = "BUILD_DIR/live";
    const std::string suffix = "/ports.env";
    if (srv.path.size() > suffix.size() && srv.path.compare(srv.path.size() - suffix.size(), suffix.size(), suffix) == 0)
        dir = srv.path.substr(0, srv.path.size() - suffix.size());
    return "live IMAP server not available: " + srv.why +
           ". Run the tests through ctest (fixture live_start), or start it with"
           " 'bash tests/live/dovecot.sh start " + dir + "' (as root) and stop it with"
           " 'bash tests/live/dovecot.sh stop " + dir + "'; TW_LIVE_ENV names another ports.env.";
}

/* First statement of a live test: skips it (or fails it under CI=true) when
   no server is running. Usable in a TEST body and in SetUp(). */
#define REQUIRE_LIVE()                                                                             \
    do {                                                                                           \
        const LiveServer &tw_live_ = Live();                                                       \
        if (!tw_live_.ok) {                                                                        \
            if (LiveRequired())                                                                    \
                FAIL() << LiveMissingText(tw_live_);                                               \
            else                                                                                   \
                GTEST_SKIP() << LiveMissingText(tw_live_);                                         \
        }                                                                                          \
    } while (0)

#endif

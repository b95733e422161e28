/*
 * peer.cpp - the scripted peer over the system's own sockets (Winsock on
 * Windows, BSD sockets on Linux), independent of the library under test.
 */
#include "support/peer.h"

#include <chrono>
#include <regex>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
typedef int socklen_t;
typedef SOCKET NativeSocket;
#define CLOSE_SOCKET closesocket
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int NativeSocket;
#define CLOSE_SOCKET close
#define INVALID_SOCKET (-1)
#endif

namespace {

/* Waits until the socket is readable, at most nMs; true when it is. */
bool WaitReadable(intptr_t s, int nMs)
{
#if defined(_WIN32)
    fd_set set;
    FD_ZERO(&set);
    FD_SET((SOCKET)s, &set);
    timeval tv = {nMs / 1000, (nMs % 1000) * 1000};
    return select(0, &set, NULL, NULL, &tv) == 1;
#else
    pollfd p = {(int)s, POLLIN, 0};
    return poll(&p, 1, nMs) == 1;
#endif
}

#if defined(_WIN32)
struct WinsockStartup {
    WinsockStartup() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
    ~WinsockStartup() { WSACleanup(); }
};
#endif

} // namespace

ScriptedPeer::ScriptedPeer()
{
#if defined(_WIN32)
    static WinsockStartup startup;
#endif
    intptr_t s = (intptr_t)socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t cb = sizeof(sin);
    if (s == (intptr_t)INVALID_SOCKET || bind((NativeSocket)s, (sockaddr *)&sin, sizeof(sin)) != 0 ||
        listen((NativeSocket)s, 1) != 0 ||
        getsockname((NativeSocket)s, (sockaddr *)&sin, &cb) != 0) {
        m_error = "peer: cannot listen on 127.0.0.1";
        return;
    }
    m_hListen = s;
    m_nPort = ntohs(sin.sin_port);
}

ScriptedPeer::~ScriptedPeer()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_hClient != -1)
        CLOSE_SOCKET((NativeSocket)m_hClient);
    if (m_hListen != -1)
        CLOSE_SOCKET((NativeSocket)m_hListen);
}

ScriptedPeer &ScriptedPeer::Send(const std::string &bytes)
{
    m_steps.push_back({Step::SEND, bytes, {}, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::SendSplit(const std::string &bytes, const std::vector<size_t> &cuts, int nPauseMs)
{
    m_steps.push_back({Step::SEND, bytes, cuts, nPauseMs});
    return *this;
}

ScriptedPeer &ScriptedPeer::Expect(const std::string &line)
{
    m_steps.push_back({Step::EXPECT, line, {}, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::ExpectMatch(const std::string &pattern)
{
    m_steps.push_back({Step::EXPECT_MATCH, pattern, {}, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::Pause(int nMs)
{
    m_steps.push_back({Step::PAUSE, "", {}, nMs});
    return *this;
}

ScriptedPeer &ScriptedPeer::ExpectClose()
{
    m_steps.push_back({Step::EXPECT_CLOSE, "", {}, 0});
    return *this;
}

ScriptedPeer &ScriptedPeer::Close()
{
    m_steps.push_back({Step::CLOSE, "", {}, 0});
    return *this;
}

void ScriptedPeer::Start()
{
    m_thread = std::thread([this] { Run(); });
}

bool ScriptedPeer::Finish(int nTimeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!m_bDone && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return m_bDone;
}

std::string ScriptedPeer::Received() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_received;
}

std::string ScriptedPeer::Error() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_error;
}

std::string ScriptedPeer::Tag() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_tag;
}

void ScriptedPeer::Fail(const std::string &why)
{
    std::lock_guard<std::mutex> g(m_lock);
    if (m_error.empty())
        m_error = why;
}

std::string ScriptedPeer::WithTag(const std::string &text) const
{
    std::string out = text;
    std::string tag = Tag();
    for (size_t at = out.find("{tag}"); at != std::string::npos; at = out.find("{tag}", at + tag.size()))
        out.replace(at, 5, tag);
    return out;
}

/* Reads one line (up to CR LF, which is removed); false on a time-out or a
   closed connection. */
bool ScriptedPeer::ReadLine(std::string *lpLine)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nStepTimeoutMs);
    for (;;) {
        size_t eol = m_pending.find("\r\n");
        if (eol != std::string::npos) {
            *lpLine = m_pending.substr(0, eol);
            m_pending.erase(0, eol + 2);
            return true;
        }
        int nLeft = (int)std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (nLeft <= 0 || !WaitReadable(m_hClient, nLeft))
            return false;
        char buf[4096];
        int n = (int)recv((NativeSocket)m_hClient, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        m_pending.append(buf, (size_t)n);
        std::lock_guard<std::mutex> g(m_lock);
        m_received.append(buf, (size_t)n);
    }
}

bool ScriptedPeer::SendAll(const std::string &bytes)
{
    size_t off = 0;
    while (off < bytes.size()) {
        int n = (int)send((NativeSocket)m_hClient, bytes.data() + off, (int)(bytes.size() - off), 0);
        if (n <= 0)
            return false;
        off += (size_t)n;
    }
    return true;
}

void ScriptedPeer::Run()
{
    if (m_hListen == -1 || !WaitReadable(m_hListen, m_nStepTimeoutMs)) {
        Fail("peer: no client connected");
        m_bDone = true;
        return;
    }
    m_hClient = (intptr_t)accept((NativeSocket)m_hListen, NULL, NULL);
    for (size_t i = 0; i < m_steps.size() && Error().empty(); i++) {
        const Step &step = m_steps[i];
        std::string line;
        switch (step.kind) {
        case Step::SEND: {
            std::string bytes = WithTag(step.text);
            size_t from = 0;
            for (size_t cut : step.cuts) {
                if (!SendAll(bytes.substr(from, cut - from)))
                    Fail("peer: send failed");
                std::this_thread::sleep_for(std::chrono::milliseconds(step.nMs));
                from = cut;
            }
            if (!SendAll(bytes.substr(from)))
                Fail("peer: send failed");
            break;
        }
        case Step::EXPECT: {
            if (!ReadLine(&line)) {
                Fail("peer: expected \"" + step.text + "\", got nothing");
                break;
            }
            size_t at = step.text.find("{tag}");
            if (at != std::string::npos && line.compare(0, at, step.text, 0, at) == 0) {
                size_t end = at;
                while (end < line.size() && isalnum((unsigned char)line[end]))
                    end++;
                {
                    std::lock_guard<std::mutex> g(m_lock);
                    m_tag = line.substr(at, end - at);
                }
            }
            std::string want = WithTag(step.text);
            if (line != want)
                Fail("peer: expected \"" + want + "\", got \"" + line + "\"");
            break;
        }
        case Step::EXPECT_MATCH: {
            std::smatch m;
            if (!ReadLine(&line)) {
                Fail("peer: expected a line matching " + step.text + ", got nothing");
            } else if (!std::regex_match(line, m, std::regex(step.text))) {
                Fail("peer: \"" + line + "\" does not match " + step.text);
            } else if (m.size() > 1) {
                std::lock_guard<std::mutex> g(m_lock);
                m_tag = m[1];
            }
            break;
        }
        case Step::PAUSE:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.nMs));
            break;
        case Step::EXPECT_CLOSE: {
            bool bClosed = false;
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nStepTimeoutMs);
            while (!bClosed && std::chrono::steady_clock::now() < deadline) {
                if (!WaitReadable(m_hClient, 50))
                    continue;
                char buf[4096];
                int n = (int)recv((NativeSocket)m_hClient, buf, sizeof buf, 0);
                if (n <= 0) {
                    bClosed = true;
                } else {
                    std::lock_guard<std::mutex> g(m_lock);
                    m_received.append(buf, (size_t)n);
                }
            }
            if (!bClosed)
                Fail("peer: the client did not close the connection");
            break;
        }
        case Step::CLOSE:
            CLOSE_SOCKET((NativeSocket)m_hClient);
            m_hClient = -1;
            break;
        }
    }
    m_bDone = true;
}

HangingListener::HangingListener()
{
#if defined(_WIN32)
    static WinsockStartup startup;
#endif
    NativeSocket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t cb = sizeof(sin);
    if (bind(s, (sockaddr *)&sin, sizeof(sin)) != 0 || listen(s, 0) != 0 ||
        getsockname(s, (sockaddr *)&sin, &cb) != 0) {
        CLOSE_SOCKET(s);
        return;
    }
    m_hListen = (intptr_t)s;
    m_nPort = ntohs(sin.sin_port);
    /* Connect until one does not complete within 200 ms, a bounded number
       of times. */
    for (int i = 0; i < 64 && !m_bHangs; i++) {
        NativeSocket c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#if defined(_WIN32)
        u_long one = 1;
        ioctlsocket(c, FIONBIO, &one);
#else
        int one = 1;
        ioctl(c, FIONBIO, &one);
#endif
        connect(c, (sockaddr *)&sin, sizeof(sin));
        m_fillers.push_back((intptr_t)c);
        fd_set w;
        FD_ZERO(&w);
        FD_SET(c, &w);
        timeval tv = {0, 200000};
        m_bHangs = select((int)c + 1, NULL, &w, NULL, &tv) == 0;
    }
}

HangingListener::~HangingListener()
{
    for (intptr_t c : m_fillers)
        CLOSE_SOCKET((NativeSocket)c);
    if (m_hListen != -1)
        CLOSE_SOCKET((NativeSocket)m_hListen);
}

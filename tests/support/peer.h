/*
 * peer.h - a scripted IMAP peer for wire tests.
 *
 * The peer listens on 127.0.0.1 (an ephemeral port), accepts one client and
 * runs a script of steps on its own thread: send bytes, expect a client
 * line (exact, or a pattern that captures the tag), pause, close. It
 * records every byte the client sent, so a test can assert the exact
 * command lines. Each wait of the peer is bounded (two seconds by default),
 * so a broken client cannot hang a test.
 *
 * In sent bytes and expected lines, "{tag}" stands for the last captured
 * tag; in an expected line it captures the client's tag (letters and
 * digits) at that place.
 */
#ifndef TW_TESTS_PEER_H
#define TW_TESTS_PEER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    int Port() const { return m_nPort; }

    ScriptedPeer &Send(const std::string &bytes);
    /* Sends the bytes in pieces cut at the given offsets, pausing between. */
    ScriptedPeer &SendSplit(const std::string &bytes, const std::vector<size_t> &cuts, int nPauseMs = 20);
    /* The next client line (without CR LF) must equal this. */
    ScriptedPeer &Expect(const std::string &line);
    /* The next client line must match this regular expression (whole line);
       its first group, if any, becomes the tag. */
    ScriptedPeer &ExpectMatch(const std::string &pattern);
    ScriptedPeer &Pause(int nMs);
    /* Waits until the client has closed its side (recv returns 0). */
    ScriptedPeer &ExpectClose();
    ScriptedPeer &Close();

    /* Accepts a client and runs the script on the peer's thread. */
    void Start();
    /* Waits for the end of the script; false when it did not end in time. */
    bool Finish(int nTimeoutMs = 3000);

    std::string Received() const;
    /* The first step that failed, or empty. */
    std::string Error() const;
    std::string Tag() const;

    /* Time-out of each of the peer's own waits. */
    void SetStepTimeout(int nMs) { m_nStepTimeoutMs = nMs; }

private:
    struct Step {
        enum Kind { SEND, EXPECT, EXPECT_MATCH, PAUSE, EXPECT_CLOSE, CLOSE } kind;
        std::string text;
        std::vector<size_t> cuts;
        int nMs;
    };

    void Run();
    bool ReadLine(std::string *lpLine);
    bool SendAll(const std::string &bytes);
    std::string WithTag(const std::string &text) const;
    void Fail(const std::string &why);

    intptr_t m_hListen = -1;
    intptr_t m_hClient = -1;
    int m_nPort = 0;
    int m_nStepTimeoutMs = 2000;
    std::vector<Step> m_steps;
    std::thread m_thread;
    std::atomic<bool> m_bDone{false};
    mutable std::mutex m_lock;
    std::string m_received;
    std::string m_pending; /* received but not yet consumed by a step */
    std::string m_error;
    std::string m_tag;
};

/* A listener on 127.0.0.1 that never accepts, its backlog filled, so that
   one more connect hangs in the handshake. */
class HangingListener {
public:
    HangingListener();
    ~HangingListener();
    HangingListener(const HangingListener &) = delete;
    HangingListener &operator=(const HangingListener &) = delete;
    int Port() const { return m_nPort; }
    /* False when this system completed every connect tried. */
    bool Hangs() const { return m_bHangs; }

private:
    intptr_t m_hListen = -1;
    std::vector<intptr_t> m_fillers;
    int m_nPort = 0;
    bool m_bHangs = false;
};

#endif

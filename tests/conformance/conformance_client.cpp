/*
 * conformance_client.cpp - drives the shared library, as an application
 * would, through one recorded server session of the conformance corpus
 * (RFC 3501 greeting, CAPABILITY, LOGIN, AUTHENTICATE PLAIN with and
 * without SASL-IR per RFC 4959, raw commands, BYE).
 *
 *   conformance_client SCENARIO PORT
 *
 * SCENARIO names a script in the table below; the program runs its steps
 * against 127.0.0.1:PORT, where run_conformance.py has started the replay
 * server for that scenario. Each script states what a correct client
 * concludes from the session; the server's verdict says whether the bytes
 * the library sent were the expected ones. The last line of output is
 * "RESULT ok" (exit status 0) or "RESULT fail: <what differed>" (1); 2 for
 * bad arguments or an unknown scenario.
 *
 * Only the public header is used, so the program links against
 * libtwmapav9.so.9 or TWMAPAV9.DLL exactly as an application does.
 */
#include "twmapav9.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

/* Every call blocks at most this long; the replay server gives up on a
   silent client after 5 seconds, so the server always ends first. */
const int SESSION_TIMEOUT = 15;
const char *const SERVER_ADDRESS = "127.0.0.1";
const char *const USER_NAME = "username";
const char *const PASSWORD = "password";
/* AUTHENTICATE PLAIN of USER_NAME and PASSWORD: NUL user NUL password. */
const char *const PLAIN_RESPONSE = "AHVzZXJuYW1lAHBhc3N3b3Jk";
/* Bounds of the raw read of a completion. */
const int MAX_RAW_LINES = 64;
const int LINE_BUFFER_SIZE = 8192;
const int CAPABILITY_BUFFER_SIZE = 4096;
const int TEXT_BUFFER_SIZE = 1024;

/* Not a library code: any of the errors that mean the server closed or
   reset the connection. */
const DWORD ANY_DISCONNECT_ERROR = 1;

enum StepKind {
    STEP_CONNECT,           /* ImapConnect succeeds */
    STEP_CONNECT_FAILS,     /* ImapConnect gives INVALID_CLIENT and error */
    STEP_LOGIN,             /* ImapLogin(value) returns 1 */
    STEP_LOGIN_FAILS,       /* ImapLogin(value) returns -1 with error */
    STEP_CAPABILITY_HAS,    /* the capability list names text (any case) */
    STEP_CAPABILITY_LACKS,  /* ... does not name it */
    STEP_COMMAND,           /* ImapCommand(text, param) returns value */
    STEP_COMMAND_FAILS,     /* ImapCommand(text, param) returns -1 with error */
    STEP_RESULT_CODE,       /* ImapGetResultCode returns value */
    STEP_RESULT_TEXT_HAS,   /* ImapGetResultString contains text */
    STEP_WRITE_LINE,        /* ImapWrite of text and CR LF */
    STEP_READ_COMPLETION,   /* ImapRead up to the tagged line; its status is text */
    STEP_DISCONNECT,        /* ImapDisconnect (LOGOUT) */
};

struct Step {
    StepKind kind;
    const char *text;
    const char *param;
    int value;
    DWORD error; /* 0: not checked */
};

Step Connect() { return {STEP_CONNECT, nullptr, nullptr, 0, 0}; }
Step ConnectFails(DWORD error) { return {STEP_CONNECT_FAILS, nullptr, nullptr, 0, error}; }
Step Login(int auth) { return {STEP_LOGIN, nullptr, nullptr, auth, 0}; }
Step LoginFails(int auth, DWORD error) { return {STEP_LOGIN_FAILS, nullptr, nullptr, auth, error}; }
Step CapabilityHas(const char *token) { return {STEP_CAPABILITY_HAS, token, nullptr, 0, 0}; }
Step CapabilityLacks(const char *token) { return {STEP_CAPABILITY_LACKS, token, nullptr, 0, 0}; }
Step Command(const char *command, const char *param, int result)
{
    return {STEP_COMMAND, command, param, result, 0};
}
Step CommandFails(const char *command, const char *param, DWORD error)
{
    return {STEP_COMMAND_FAILS, command, param, 0, error};
}
Step ResultCode(int code) { return {STEP_RESULT_CODE, nullptr, nullptr, code, 0}; }
Step ResultTextHas(const char *text) { return {STEP_RESULT_TEXT_HAS, text, nullptr, 0, 0}; }
Step WriteLine(const char *text) { return {STEP_WRITE_LINE, text, nullptr, 0, 0}; }
Step ReadCompletion(const char *status) { return {STEP_READ_COMPLETION, status, nullptr, 0, 0}; }
Step Disconnect() { return {STEP_DISCONNECT, nullptr, nullptr, 0, 0}; }

struct Scenario {
    const char *name;
    std::vector<Step> steps;
};

/* The scripts: what a correct client does and concludes in each session.
   Where the library sends CAPABILITY of its own (after the greeting and
   after a login), the scenarios have optional steps for it. Where the
   library falls short of a script today, the driver's table records how the
   run ends instead (cyrus-authenticate-capability-code,
   icloud-authenticate-list, strato-authenticate-list, dovecot-noop-alert).
   Checks that need calls the library does not have yet (listing records)
   stop at what a raw command shows. */
const Scenario g_rgScenarios[] = {
    /* Greetings: the list kept is the CAPABILITY answer, not the greeting's
       code (which differs here: STARTTLS only in the code, AUTH=PLAIN only
       in the answer). */
    {"courier-greeting-capability",
     {Connect(), CapabilityHas("AUTH=PLAIN"), CapabilityHas("ACL2=UNION"), CapabilityHas("THREAD=REFERENCES"),
      CapabilityLacks("STARTTLS"), Disconnect()}},
    {"exchange2003-greeting", {Connect(), CapabilityHas("IMAP4rev1"), CapabilityHas("IMAP4"), Disconnect()}},
    {"protonmail-greeting-capability",
     {Connect(), CapabilityHas("APPENDLIMIT"), CapabilityHas("XSTOP"), CapabilityHas("AUTH=LOGIN"), Disconnect()}},
    {"qqmail-greeting",
     {Connect(), CapabilityHas("IMAP4rev1"), CapabilityHas("AUTH=PLAIN"), CapabilityHas("NAMESPACE"), Disconnect()}},
    /* Capability names compare without regard to case: IMAP4REV1. */
    {"uw-greeting-uppercase-rev",
     {Connect(), CapabilityHas("IMAP4rev1"), CapabilityHas("SASL-IR"), CapabilityHas("LOGIN-REFERRALS"),
      Disconnect()}},
    /* A PREAUTH greeting is refused: the library does not take over an
       authenticated connection, and sends nothing. */
    {"dovecot-preauth-greeting", {ConnectFails(TW_ERROR_UNEXPECTED_SERVER_RESPONSE)}},
    {"uw-preauth-greeting", {ConnectFails(TW_ERROR_UNEXPECTED_SERVER_RESPONSE)}},

    /* LOGIN and AUTHENTICATE PLAIN with SASL-IR. */
    {"dovecot-login-capability-code",
     {Connect(), CapabilityHas("AUTH=PLAIN"), Login(IMAP_AUTH_LOGIN), CapabilityHas("SPECIAL-USE"),
      CapabilityHas("QRESYNC"), CapabilityLacks("AUTH=PLAIN"), CapabilityLacks("Logged"), Disconnect()}},
    {"exchange-login",
     {Connect(), CapabilityLacks("MOVE"), Login(IMAP_AUTH_LOGIN), CapabilityHas("MOVE"), CapabilityHas("LITERAL+"),
      CapabilityHas("CLIENTACCESSRULES"), Disconnect()}},
    {"exchange-authenticate-failed",
     {Connect(), LoginFails(IMAP_AUTH_PLAIN, TW_ERROR_AUTHENTICATION_FAILED), ResultTextHas("AUTHENTICATE failed."),
      Login(IMAP_AUTH_LOGIN), CapabilityHas("MOVE"), Disconnect()}},
    {"gmail-authenticate-plain",
     {Connect(), Login(IMAP_AUTH_PLAIN), CapabilityHas("UIDPLUS"), CapabilityHas("APPENDLIMIT=35651584"),
      CapabilityLacks("AUTH=PLAIN"), Disconnect()}},
    {"gmail-login-capability-logout",
     {Connect(), CapabilityHas("AUTH=PLAIN"), CapabilityHas("SASL-IR"), Login(IMAP_AUTH_LOGIN),
      CapabilityHas("X-GM-EXT-1"), CapabilityHas("UIDPLUS"), CapabilityHas("MOVE"),
      CapabilityHas("APPENDLIMIT=35651584"), CapabilityLacks("AUTH=PLAIN"), CapabilityLacks("SASL-IR"),
      Disconnect()}},
    {"gmail-login-rejected",
     {Connect(), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[AUTHENTICATIONFAILED] Invalid credentials (Failure)"),
      LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[ALERT] Please log in via your web browser"), Command("NOOP", nullptr, IMAP_RESULT_OK),
      Disconnect()}},
    {"yahoo-login-failed",
     {Connect(), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[AUTHENTICATIONFAILED] LOGIN Invalid credentials"), Command("NOOP", nullptr, IMAP_RESULT_OK),
      Disconnect()}},
    /* The list after the login is the OK's [CAPABILITY] code; no CAPABILITY
       answer follows in this session. */
    {"cyrus-authenticate-capability-code",
     {Connect(), CapabilityHas("STARTTLS"), Login(IMAP_AUTH_PLAIN), CapabilityHas("LOGINDISABLED"),
      CapabilityLacks("STARTTLS"), CapabilityLacks("AUTH=PLAIN"), Disconnect()}},
    {"rfc9051-login-response-codes",
     {Connect(), CapabilityHas("IMAP4rev2"), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[UNAVAILABLE]"), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[AUTHENTICATIONFAILED]"), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[EXPIRED]"), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[PRIVACYREQUIRED]"), LoginFails(IMAP_AUTH_LOGIN, TW_ERROR_AUTHENTICATION_FAILED),
      ResultTextHas("[CONTACTADMIN]"), Login(IMAP_AUTH_LOGIN), Disconnect()}},

    /* Lower-case keywords: "* capability ..." is the capability list (LOGIN
       is only in that line, not in the greeting's code). The two "* List"
       lines are checked only as far as a raw LIST shows. */
    {"lowercase-capability-list",
     {Connect(), CapabilityHas("IMAP4rev1"), CapabilityHas("SPECIAL-USE"), CapabilityHas("LOGIN"),
      Login(IMAP_AUTH_LOGIN),
      CapabilityHas("special-use"), Command("LIST", "\"\" \"*\"", IMAP_RESULT_OK), ResultTextHas("List"),
      Disconnect()}},
    /* AUTH=PLAIN is named only in the greeting's [CAPABILITY] code here.
       INBOX's \Noinferiors and "/" need the listing calls; here the raw
       LIST must complete. */
    {"icloud-authenticate-list",
     {Connect(), Login(IMAP_AUTH_PLAIN), CapabilityHas("LIST-STATUS"),
      Command("LIST", "\"\" \"INBOX\"", IMAP_RESULT_OK), ResultTextHas("LIST completed"), Disconnect()}},

    /* AUTHENTICATE PLAIN without SASL-IR: ImapLogin declines the mechanism
       without sending anything (RFC 4959: no initial response unless the
       server offers SASL-IR); the application then runs the exchange itself
       through the continuation, ImapWrite and ImapRead. */
    {"yandex-authenticate-continuation",
     {Connect(), CapabilityHas("AUTH=PLAIN"), CapabilityLacks("SASL-IR"),
      LoginFails(IMAP_AUTH_PLAIN, TW_ERROR_INVALID_AUTHENTICATION_TYPE),
      Command("AUTHENTICATE", "PLAIN", IMAP_RESULT_CONTINUE), WriteLine(PLAIN_RESPONSE), ReadCompletion("OK"),
      Disconnect()}},
    /* The greeting's [CAPABILITY] code is the only list before the login. */
    {"strato-authenticate-list",
     {Connect(), CapabilityHas("AUTH=PLAIN"), LoginFails(IMAP_AUTH_PLAIN, TW_ERROR_INVALID_AUTHENTICATION_TYPE),
      Command("AUTHENTICATE", "PLAIN", IMAP_RESULT_CONTINUE), WriteLine(PLAIN_RESPONSE), ReadCompletion("OK"),
      Command("CAPABILITY", nullptr, IMAP_RESULT_OK), CapabilityHas("STATUS=SIZE"),
      Command("LIST", "\"\" \"INBOX\"", IMAP_RESULT_OK), Disconnect()}},

    /* Raw commands in the selected state. */
    {"gmail-bad-command",
     {Connect(), Login(IMAP_AUTH_LOGIN), Command("SELECT", "\"UnitTests\"", IMAP_RESULT_OK),
      CommandFails("SEARCH", "ALL", TW_ERROR_COMMAND_NOT_IMPLEMENTED), ResultCode(IMAP_RESULT_BAD),
      ResultTextHas("Could not parse command"), Command("NOOP", nullptr, IMAP_RESULT_OK),
      Disconnect()}},
    /* The alert arrives as an untagged OK before the NOOP's completion. */
    {"dovecot-noop-alert",
     {Connect(), Login(IMAP_AUTH_LOGIN), Command("SELECT", "\"UnitTests.Messages\"", IMAP_RESULT_OK),
      Command("NOOP", nullptr, IMAP_RESULT_OK), ResultTextHas("System shutdown in 10 minutes"), Disconnect()}},
    /* BYE in place of an answer, then the server closes: the NOOP fails
       with a disconnect error and the result text is the BYE's. (ImapIsConnected
       says whether the greeting was read, so it stays TRUE.) */
    {"rfc3501-bye-autologout",
     {Connect(), Login(IMAP_AUTH_LOGIN), Command("SELECT", "\"INBOX\"", IMAP_RESULT_OK),
      CommandFails("NOOP", nullptr, ANY_DISCONNECT_ERROR), ResultTextHas("Autologout; idle for too long"),
      Disconnect()}},
    {"exchange-bye-mid-session",
     {Connect(), Login(IMAP_AUTH_LOGIN), Command("SELECT", "\"INBOX\"", IMAP_RESULT_OK),
      CommandFails("NOOP", nullptr, ANY_DISCONNECT_ERROR), ResultTextHas("Connection is closed. 13"),
      Disconnect()}},
};

const DWORD g_rgDisconnectErrors[] = {
    TW_ERROR_CONNECTION_CLOSED,  TW_ERROR_CONNECTION_RESET, TW_ERROR_CONNECTION_ABORTED, TW_ERROR_REMOTE_SHUTDOWN,
    TW_ERROR_CONNECTION_SHUTDOWN, TW_ERROR_NOT_CONNECTED,  TW_ERROR_NETWORK_RESET,
};

std::string Format(const char *format, ...)
{
    char sz[TEXT_BUFFER_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(sz, sizeof(sz), format, args);
    va_end(args);
    return sz;
}

/* "0x80042743 (text)" for a last-error value. */
std::string DescribeError(DWORD error)
{
    if (error == 0)
        return "0 (none)";
    char szText[TEXT_BUFFER_SIZE] = "";
    if (ImapGetErrorStringA(error, szText, (INT)sizeof(szText)) <= 0)
        szText[0] = '\0';
    return Format("0x%08X (%s)", (unsigned)error, szText);
}

bool ErrorMatches(DWORD expected, DWORD actual)
{
    if (expected == 0)
        return true;
    if (expected != ANY_DISCONNECT_ERROR)
        return expected == actual;
    for (DWORD e : g_rgDisconnectErrors)
        if (e == actual)
            return true;
    return false;
}

std::string DescribeExpectedError(DWORD expected)
{
    return expected == ANY_DISCONNECT_ERROR ? std::string("a disconnect error") : DescribeError(expected);
}

const char *AuthName(int auth)
{
    switch (auth) {
    case IMAP_AUTH_LOGIN:
        return "LOGIN";
    case IMAP_AUTH_PLAIN:
        return "PLAIN";
    default:
        return "?";
    }
}

/* Whether the space-separated list names token, compared without regard
   to case as capability names are. */
bool ListHasToken(const char *list, const char *token)
{
    size_t cchToken = strlen(token);
    const char *p = list;
    for (;;) {
        while (*p == ' ')
            p++;
        if (*p == '\0')
            return false;
        const char *end = p;
        while (*end != '\0' && *end != ' ')
            end++;
        if ((size_t)(end - p) == cchToken) {
            size_t i = 0;
            while (i < cchToken && toupper((unsigned char)p[i]) == toupper((unsigned char)token[i]))
                i++;
            if (i == cchToken)
                return true;
        }
        p = end;
    }
}

class Runner {
public:
    explicit Runner(int port) : m_port(port) {}

    ~Runner()
    {
        if (m_hClient != INVALID_CLIENT)
            ImapDisconnect(m_hClient);
    }

    /* The empty string when the step holds, else what differed. */
    std::string Run(const Step &step)
    {
        m_note.clear();
        switch (step.kind) {
        case STEP_CONNECT:
            m_hClient = ImapConnectA(SERVER_ADDRESS, m_port, SESSION_TIMEOUT, IMAP_OPTION_NONE, NULL);
            if (m_hClient == INVALID_CLIENT)
                return "connect failed, last error " + DescribeError(ImapGetLastError());
            return "";
        case STEP_CONNECT_FAILS: {
            m_hClient = ImapConnectA(SERVER_ADDRESS, m_port, SESSION_TIMEOUT, IMAP_OPTION_NONE, NULL);
            DWORD error = ImapGetLastError();
            if (m_hClient != INVALID_CLIENT)
                return "connect succeeded, expected a failure with " + DescribeExpectedError(step.error);
            if (!ErrorMatches(step.error, error))
                return "connect failed with " + DescribeError(error) + ", expected " +
                       DescribeExpectedError(step.error);
            m_note = "last error " + DescribeError(error);
            return "";
        }
        case STEP_LOGIN:
        case STEP_LOGIN_FAILS: {
            int result = ImapLoginA(m_hClient, step.value, USER_NAME, PASSWORD);
            DWORD error = ImapGetLastError();
            if (step.kind == STEP_LOGIN) {
                if (result != 1)
                    return Format("returned %d, expected 1; last error ", result) + DescribeError(error) +
                           "; result text \"" + ResultText() + "\"";
                return "";
            }
            if (result != IMAP_ERROR)
                return Format("returned %d, expected -1", result);
            if (!ErrorMatches(step.error, error))
                return "last error " + DescribeError(error) + ", expected " + DescribeExpectedError(step.error);
            m_note = "last error " + DescribeError(error);
            return "";
        }
        case STEP_CAPABILITY_HAS:
        case STEP_CAPABILITY_LACKS: {
            char szList[CAPABILITY_BUFFER_SIZE];
            int cch = ImapGetCapabilityA(m_hClient, szList, (INT)sizeof(szList));
            if (cch < 0)
                return "ImapGetCapability failed, last error " + DescribeError(ImapGetLastError());
            bool has = ListHasToken(szList, step.text);
            if (has != (step.kind == STEP_CAPABILITY_HAS))
                return Format("capability list \"%s\" %s", szList, has ? "has it" : "lacks it");
            return "";
        }
        case STEP_COMMAND:
        case STEP_COMMAND_FAILS: {
            int result = ImapCommandA(m_hClient, step.text, step.param);
            DWORD error = ImapGetLastError();
            int expected = step.kind == STEP_COMMAND ? step.value : IMAP_ERROR;
            if (result != expected)
                return Format("returned %d, expected %d; last error ", result, expected) + DescribeError(error) +
                       "; result text \"" + ResultText() + "\"";
            if (step.kind == STEP_COMMAND_FAILS && !ErrorMatches(step.error, error))
                return "last error " + DescribeError(error) + ", expected " + DescribeExpectedError(step.error);
            if (step.kind == STEP_COMMAND_FAILS)
                m_note = "last error " + DescribeError(error);
            return "";
        }
        case STEP_RESULT_CODE: {
            int code = ImapGetResultCode(m_hClient);
            if (code != step.value)
                return Format("result code %d, expected %d", code, step.value);
            return "";
        }
        case STEP_RESULT_TEXT_HAS: {
            std::string text = ResultText();
            if (text.find(step.text) == std::string::npos)
                return "result text is \"" + text + "\"";
            return "";
        }
        case STEP_WRITE_LINE: {
            std::string line = std::string(step.text) + "\r\n";
            int cb = ImapWrite(m_hClient, (LPCBYTE)line.data(), (INT)line.size());
            if (cb != (int)line.size())
                return Format("ImapWrite returned %d of %d bytes; last error ", cb, (int)line.size()) +
                       DescribeError(ImapGetLastError());
            return "";
        }
        case STEP_READ_COMPLETION:
            return ReadCompletion(step.text);
        case STEP_DISCONNECT: {
            HCLIENT hClient = m_hClient;
            m_hClient = INVALID_CLIENT;
            if (ImapDisconnect(hClient) != 0)
                return "ImapDisconnect failed, last error " + DescribeError(ImapGetLastError());
            return "";
        }
        }
        return "unknown step";
    }

    /* What the last step that held observed, worth showing (or empty). */
    const std::string &Note() const { return m_note; }

private:
    std::string ResultText()
    {
        char szText[TEXT_BUFFER_SIZE] = "";
        if (ImapGetResultStringA(m_hClient, szText, (INT)sizeof(szText)) < 0)
            return "(no result text)";
        return szText;
    }

    /* Reads server lines with ImapRead, skipping untagged ones, up to the
       tagged completion; its status word must be status. */
    std::string ReadCompletion(const char *status)
    {
        std::vector<char> buffer(LINE_BUFFER_SIZE + 1);
        std::string line;
        for (int nLines = 0; nLines < MAX_RAW_LINES;) {
            int cb = ImapRead(m_hClient, (LPBYTE)buffer.data(), LINE_BUFFER_SIZE);
            if (cb <= 0)
                return Format("ImapRead returned %d after %d lines; last error ", cb, nLines) +
                       DescribeError(ImapGetLastError());
            line.append(buffer.data(), (size_t)cb);
            if (line.empty() || line.back() != '\n')
                continue; /* the rest of the line comes with the next read */
            nLines++;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            printf("  < %s\n", line.c_str());
            if (line.compare(0, 2, "* ") == 0) {
                line.clear();
                continue;
            }
            size_t tagEnd = line.find(' ');
            if (line.empty() || line[0] == '+' || tagEnd == std::string::npos)
                return "expected a tagged completion, got \"" + line + "\"";
            size_t statusEnd = line.find(' ', tagEnd + 1);
            std::string word = line.substr(tagEnd + 1, statusEnd == std::string::npos ? std::string::npos
                                                                                       : statusEnd - tagEnd - 1);
            if (!ListHasToken(word.c_str(), status))
                return "completion \"" + line + "\", expected " + status;
            return "";
        }
        return Format("no tagged completion in %d lines", MAX_RAW_LINES);
    }

    int m_port;
    HCLIENT m_hClient = INVALID_CLIENT;
    std::string m_note;
};

std::string DescribeStep(const Step &step)
{
    switch (step.kind) {
    case STEP_CONNECT:
        return "CONNECT";
    case STEP_CONNECT_FAILS:
        return "CONNECT_FAILS";
    case STEP_LOGIN:
        return Format("LOGIN(%s)", AuthName(step.value));
    case STEP_LOGIN_FAILS:
        return Format("LOGIN_FAILS(%s)", AuthName(step.value));
    case STEP_CAPABILITY_HAS:
        return Format("CAPABILITY_HAS(%s)", step.text);
    case STEP_CAPABILITY_LACKS:
        return Format("CAPABILITY_LACKS(%s)", step.text);
    case STEP_COMMAND:
        return Format("COMMAND(%s%s%s)", step.text, step.param ? " " : "", step.param ? step.param : "");
    case STEP_COMMAND_FAILS:
        return Format("COMMAND_FAILS(%s%s%s)", step.text, step.param ? " " : "", step.param ? step.param : "");
    case STEP_RESULT_CODE:
        return Format("RESULT_CODE(%d)", step.value);
    case STEP_RESULT_TEXT_HAS:
        return Format("RESULT_TEXT_HAS(%s)", step.text);
    case STEP_WRITE_LINE:
        return "WRITE_LINE";
    case STEP_READ_COMPLETION:
        return Format("READ_COMPLETION(%s)", step.text);
    case STEP_DISCONNECT:
        return "DISCONNECT";
    }
    return "?";
}

const Scenario *FindScenario(const char *name)
{
    for (const Scenario &s : g_rgScenarios)
        if (strcmp(s.name, name) == 0)
            return &s;
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc == 2 && strcmp(argv[1], "--list") == 0) {
        for (const Scenario &s : g_rgScenarios)
            printf("%s\n", s.name);
        return 0;
    }
    if (argc != 3) {
        fprintf(stderr, "usage: conformance_client SCENARIO PORT | --list\n");
        return 2;
    }
    const Scenario *scenario = FindScenario(argv[1]);
    char *end = NULL;
    long port = strtol(argv[2], &end, 10);
    if (scenario == nullptr) {
        printf("RESULT fail: no script for scenario %s\n", argv[1]);
        return 2;
    }
    if (end == argv[2] || *end != '\0' || port < 1 || port > 65535) {
        printf("RESULT fail: bad port %s\n", argv[2]);
        return 2;
    }

    if (!ImapInitializeA(NULL, NULL)) {
        printf("RESULT fail: ImapInitialize failed, last error %s\n", DescribeError(ImapGetLastError()).c_str());
        return 1;
    }
    std::string failure;
    {
        Runner runner((int)port);
        int n = 0;
        for (const Step &step : scenario->steps) {
            n++;
            std::string what = runner.Run(step);
            if (what.empty())
                printf("  step %d %s: ok%s%s\n", n, DescribeStep(step).c_str(), runner.Note().empty() ? "" : ", ",
                       runner.Note().c_str());
            else
                printf("  step %d %s: %s\n", n, DescribeStep(step).c_str(), what.c_str());
            if (!what.empty()) {
                failure = Format("step %d %s: ", n, DescribeStep(step).c_str()) + what;
                break;
            }
        }
    }
    ImapUninitialize();

    if (!failure.empty()) {
        printf("RESULT fail: %s\n", failure.c_str());
        return 1;
    }
    printf("RESULT ok\n");
    return 0;
}

/*
 * twimap - the library's command-line client.
 *
 *   twimap version                          the library's version
 *   twimap error CODE                       the text of an error code
 *   twimap capability HOST PORT             the server's capabilities
 *   twimap login HOST PORT USER PASSWORD [plain]
 *                                           logs in, shows the new capabilities
 *   twimap raw HOST PORT USER PASSWORD LINE...
 *                                           logs in, sends each LINE as a
 *                                           command and prints the whole answer
 */
#include "twmapav9.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int Usage(void)
{
    fprintf(stderr,
            "usage: twimap version\n"
            "       twimap error CODE\n"
            "       twimap capability HOST PORT\n"
            "       twimap login HOST PORT USER PASSWORD [plain]\n"
            "       twimap raw HOST PORT USER PASSWORD LINE...\n");
    return 2;
}

static int Fail(const char *lpszWhat)
{
    char text[256];
    DWORD dwError = ImapGetLastError();
    if (ImapGetErrorStringA(dwError, text, sizeof text) <= 0)
        snprintf(text, sizeof text, "error 0x%08lX", (unsigned long)dwError);
    fprintf(stderr, "twimap: %s: %s\n", lpszWhat, text);
    return 1;
}

static int ShowVersion(void)
{
    INITDATA data;
    memset(&data, 0, sizeof(data));
    data.dwSize = sizeof(data);
    if (!ImapInitializeA(NULL, &data))
        return Fail("cannot initialize the library");
    printf("%s %lu.%lu build %lu\n", data.szDescription, (unsigned long)data.dwVersionMajor,
           (unsigned long)data.dwVersionMinor, (unsigned long)data.dwVersionBuild);
    ImapUninitialize();
    return 0;
}

static int ShowError(const char *lpszCode)
{
    char *lpEnd = NULL;
    unsigned long n = strtoul(lpszCode, &lpEnd, 0);
    if (lpEnd == lpszCode || *lpEnd != '\0')
        return Usage();
    if (n <= 0xFFFF && n != 0)
        n |= 0x80040000UL;
    char text[512];
    if (ImapGetErrorStringA((DWORD)n, text, sizeof text) <= 0) {
        fprintf(stderr, "twimap: no text for 0x%08lX\n", n);
        return 1;
    }
    printf("0x%08lX %s\n", n, text);
    return 0;
}

static void PrintCapabilities(HCLIENT h, const char *lpszWhen)
{
    char caps[1024];
    if (ImapGetCapabilityA(h, caps, sizeof caps) >= 0)
        printf("capabilities %s: %s\n", lpszWhen, caps);
}

/* Sends one command line through the raw channel and prints every line of
   the answer up to its completion. */
static bool RawCommand(HCLIENT h, int nTag, const char *lpszLine)
{
    char szTag[16];
    snprintf(szTag, sizeof szTag, "T%d", nTag);
    std::string line = std::string(szTag) + " " + lpszLine + "\r\n";
    if (ImapWrite(h, (const BYTE *)line.data(), (int)line.size()) != (int)line.size())
        return false;
    printf("> %s", line.c_str());
    std::string answer;
    for (int nLines = 0; nLines < 100000; nLines++) {
        BYTE buf[8192];
        int n = ImapRead(h, buf, sizeof buf - 1);
        if (n <= 0)
            return false;
        answer.append((const char *)buf, (size_t)n);
        if (answer.back() != '\n')
            continue;
        printf("< %s", answer.c_str());
        bool bDone = answer.compare(0, strlen(szTag) + 1, std::string(szTag) + " ") == 0;
        answer.clear();
        if (bDone)
            return true;
    }
    return false;
}

static int Session(int argc, char **argv)
{
    const char *lpszVerb = argv[1];
    if (argc < 4)
        return Usage();
    const char *lpszHost = argv[2];
    int nPort = atoi(argv[3]);
    bool bLogin = strcmp(lpszVerb, "capability") != 0;
    if (bLogin && argc < 6)
        return Usage();
    if (!ImapInitializeA(NULL, NULL))
        return Fail("cannot initialize the library");
    int nResult = 0;
    HCLIENT h = ImapConnectA(lpszHost, nPort, 10, IMAP_OPTION_IDENTIFY, NULL);
    if (h == INVALID_CLIENT) {
        nResult = Fail("cannot connect");
    } else {
        PrintCapabilities(h, "before login");
        if (bLogin) {
            bool bPlain = strcmp(lpszVerb, "login") == 0 && argc > 6 && strcmp(argv[6], "plain") == 0;
            if (ImapLoginA(h, bPlain ? IMAP_AUTH_PLAIN : IMAP_AUTH_LOGIN, argv[4], argv[5]) != 1) {
                nResult = Fail("cannot log in");
            } else {
                printf("logged in as %s\n", argv[4]);
                PrintCapabilities(h, "after login");
                for (int i = 6; strcmp(lpszVerb, "raw") == 0 && i < argc && nResult == 0; i++)
                    if (!RawCommand(h, i - 5, argv[i]))
                        nResult = Fail("command failed");
            }
        }
        ImapDisconnect(h);
    }
    ImapUninitialize();
    return nResult;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "version") == 0)
        return ShowVersion();
    if (argc == 3 && strcmp(argv[1], "error") == 0)
        return ShowError(argv[2]);
    if (argc >= 2 && (strcmp(argv[1], "capability") == 0 || strcmp(argv[1], "login") == 0 ||
                      strcmp(argv[1], "raw") == 0))
        return Session(argc, argv);
    return Usage();
}

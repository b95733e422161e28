/*
 * twimap - the library's command-line client.
 *
 *   twimap version          the library's version and description
 *   twimap error CODE       the text of an error code (hex or decimal)
 */
#include "twmapav9.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static int Usage(void)
{
    fprintf(stderr, "usage: twimap version\n       twimap error CODE\n");
    return 2;
}

static int ShowVersion(void)
{
    INITDATA data;
    memset(&data, 0, sizeof(data));
    data.dwSize = sizeof(data);
    if (!ImapInitializeA(NULL, &data)) {
        char text[256];
        ImapGetErrorStringA(0, text, sizeof text);
        fprintf(stderr, "twimap: cannot initialize the library: %s\n", text);
        return 1;
    }
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

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "version") == 0)
        return ShowVersion();
    if (argc == 3 && strcmp(argv[1], "error") == 0)
        return ShowError(argv[2]);
    return Usage();
}

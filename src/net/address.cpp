/*
 * address.cpp - numeric addresses, name resolution (IPv4 first) and the
 * socket addresses a connection is made to.
 */
#include "net/connection.h"
#include "frame/frame.h"

#include <stdio.h>
#include <string.h>

#define MAX_CANONICAL_NAME 1023

/* The fallback resolver's one entry, allocated in one block. */
struct FALLBACKADDRINFO {
    ADDRINFOA ai;
    struct sockaddr_in sin;
    char szCanonName[MAX_CANONICAL_NAME + 1];
};

int ParseAddressText(int nFamily, const char *lpszText, void *lpAddress)
{
    if (lpszText == NULL || lpAddress == NULL) {
        SetSocketError(WSAEINVAL);
        return -1;
    }
    if (g_SocketInterface.inet_pton != NULL)
        return g_SocketInterface.inet_pton(nFamily, lpszText, lpAddress);
    if (g_SocketInterface.getaddrinfo != NULL && g_SocketInterface.freeaddrinfo != NULL) {
        ADDRINFOA hints;
        memset(&hints, 0, sizeof(hints));
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_family = nFamily;
        ADDRINFOA *lpResult = NULL;
        if (g_SocketInterface.getaddrinfo(lpszText, NULL, &hints, &lpResult) != 0)
            return 0;
        int nResult = 1;
        if (nFamily == AF_INET)
            memcpy(lpAddress, &((struct sockaddr_in *)lpResult->ai_addr)->sin_addr, 4);
        else if (nFamily == AF_INET6)
            memcpy(lpAddress, &((struct sockaddr_in6 *)lpResult->ai_addr)->sin6_addr, 16);
        else {
            SetSocketError(WSAEAFNOSUPPORT);
            nResult = -1;
        }
        g_SocketInterface.freeaddrinfo(lpResult);
        return nResult;
    }
    if (nFamily == AF_INET) {
        DWORD dwAddress = ParseIPv4Text(lpszText);
        if (dwAddress == INADDR_NONE)
            return 0;
        memcpy(lpAddress, &dwAddress, 4);
        return 1;
    }
    SetSocketError(WSAEAFNOSUPPORT);
    return -1;
}

char *FormatAddressText(int nFamily, const void *lpAddress, char *lpszOut)
{
    if (lpAddress == NULL || lpszOut == NULL) {
        SetSocketError(WSAEINVAL);
        return NULL;
    }
    if (g_SocketInterface.inet_ntop != NULL)
        return (char *)g_SocketInterface.inet_ntop(nFamily, (void *)lpAddress, lpszOut, HOSTNAME_BUFFER_SIZE);
    if (g_SocketInterface.getnameinfo != NULL) {
        BYTE rgbAddress[SOCKADDR_BUFFER_SIZE];
        memset(rgbAddress, 0, sizeof(rgbAddress));
        int cbAddress;
        if (nFamily == AF_INET) {
            struct sockaddr_in *lpsin = (struct sockaddr_in *)rgbAddress;
            lpsin->sin_family = AF_INET;
            memcpy(&lpsin->sin_addr, lpAddress, 4);
            cbAddress = sizeof(struct sockaddr_in);
        } else if (nFamily == AF_INET6) {
            struct sockaddr_in6 *lpsin6 = (struct sockaddr_in6 *)rgbAddress;
            lpsin6->sin6_family = AF_INET6;
            memcpy(&lpsin6->sin6_addr, lpAddress, 16);
            cbAddress = sizeof(struct sockaddr_in6);
        } else {
            SetSocketError(WSAEINVAL);
            return NULL;
        }
        g_SocketInterface.getnameinfo((struct sockaddr *)rgbAddress, cbAddress, lpszOut, HOSTNAME_BUFFER_SIZE,
                                      NULL, 0, NI_NUMERICHOST);
        return lpszOut;
    }
    if (nFamily == AF_INET) {
        DWORD dwAddress;
        memcpy(&dwAddress, lpAddress, 4);
        strncpy(lpszOut, FormatIPv4Text(dwAddress), HOSTNAME_MAX_LENGTH);
        lpszOut[HOSTNAME_MAX_LENGTH] = '\0';
        return lpszOut;
    }
    SetSocketError(WSAEAFNOSUPPORT);
    return NULL;
}

DWORD ParseIPv4Text(const char *lpszText)
{
    if (lpszText == NULL)
        return INADDR_NONE;
    DWORD rgParts[4];
    int nParts = 0;
    const char *p = lpszText;
    for (;;) {
        DWORD dwValue = 0;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
            p += 2;
            for (;; p++) {
                char c = *p;
                if (c >= '0' && c <= '9')
                    dwValue = dwValue * 16 + (DWORD)(c - '0');
                else if (c >= 'a' && c <= 'f')
                    dwValue = dwValue * 16 + (DWORD)(c - 'a' + 10);
                else if (c >= 'A' && c <= 'F')
                    dwValue = dwValue * 16 + (DWORD)(c - 'A' + 10);
                else
                    break;
            }
        } else {
            if (*p == '0')
                p++; /* no octal: a single leading zero is skipped */
            for (; *p >= '0' && *p <= '9'; p++)
                dwValue = dwValue * 10 + (DWORD)(*p - '0');
        }
        rgParts[nParts++] = dwValue;
        if (*p != '.')
            break;
        if (nParts > 3 || dwValue > 255)
            return INADDR_NONE;
        p++;
    }
    if (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
        return INADDR_NONE;

    DWORD dwHost;
    switch (nParts) {
    case 1:
        dwHost = rgParts[0];
        break;
    case 2:
        if (rgParts[1] > 0xFFFFFF)
            return INADDR_NONE;
        dwHost = (rgParts[0] << 24) | rgParts[1];
        break;
    case 3:
        if (rgParts[2] > 0xFFFF)
            return INADDR_NONE;
        dwHost = (rgParts[0] << 24) | (rgParts[1] << 16) | rgParts[2];
        break;
    default:
        if (rgParts[3] > 255)
            return INADDR_NONE;
        dwHost = (rgParts[0] << 24) | (rgParts[1] << 16) | (rgParts[2] << 8) | rgParts[3];
        break;
    }
    return HostToNetLong(dwHost);
}

const char *FormatIPv4Text(DWORD dwAddress)
{
    if (g_SocketInterface.inet_ntoa != NULL) {
        struct in_addr in;
        in.s_addr = dwAddress;
        return g_SocketInterface.inet_ntoa(in);
    }
    static char szText[16];
    const BYTE *b = (const BYTE *)&dwAddress;
    snprintf(szText, sizeof(szText), "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return szText;
}

/* Resolution without getaddrinfo: gethostbyname, IPv4 only, one entry. */
static int ResolveWithoutGetaddrinfo(const ADDRINFOA *lpHints, const char *lpszNode, ADDRINFOA **lplpResult)
{
    if (g_SocketInterface.gethostbyname == NULL || g_SocketInterface.getservbyname == NULL)
        return WSANOTINITIALISED;
    if (lplpResult == NULL)
        return WSAEINVAL;
    if (lpHints->ai_family == AF_INET6 || (lpszNode != NULL && strchr(lpszNode, ':') != NULL))
        return WSAEAFNOSUPPORT;
    *lplpResult = NULL;
    FALLBACKADDRINFO *lpEntry = (FALLBACKADDRINFO *)LocalAlloc(LMEM_ZEROINIT, sizeof(FALLBACKADDRINFO));
    if (lpEntry == NULL)
        return ERROR_NOT_ENOUGH_MEMORY;
    lpEntry->ai.ai_family = AF_INET;
    lpEntry->ai.ai_socktype = lpHints->ai_socktype;
    lpEntry->ai.ai_protocol = lpHints->ai_protocol;
    lpEntry->ai.ai_addrlen = sizeof(struct sockaddr_in);
    lpEntry->ai.ai_addr = (struct sockaddr *)&lpEntry->sin;
    lpEntry->sin.sin_family = AF_INET;

    DWORD dwAddress = ParseIPv4Text(lpszNode);
    if (dwAddress == INADDR_NONE && (lpHints->ai_flags & AI_NUMERICHOST)) {
        LocalFree(lpEntry);
        return WSAHOST_NOT_FOUND;
    }
    struct hostent *lpHost = lpszNode != NULL ? g_SocketInterface.gethostbyname(lpszNode) : NULL;
    if (lpHost == NULL || lpHost->h_addr_list == NULL || lpHost->h_addr_list[0] == NULL) {
        LocalFree(lpEntry);
        return WSAHOST_NOT_FOUND;
    }
    memcpy(&lpEntry->sin.sin_addr, lpHost->h_addr_list[0], 4);
    if ((lpHints->ai_flags & AI_CANONNAME) && lpHost->h_name != NULL) {
        strncpy(lpEntry->szCanonName, lpHost->h_name, MAX_CANONICAL_NAME);
        lpEntry->ai.ai_canonname = lpEntry->szCanonName;
    }
    *lplpResult = &lpEntry->ai;
    return 0;
}

int ResolveHostName(const ADDRINFOA *lpHints, const char *lpszNode, ADDRINFOA **lplpResult)
{
    ADDRINFOA hints;
    memset(&hints, 0, sizeof(hints));
    if (lpHints != NULL) {
        hints.ai_flags = lpHints->ai_flags;
        hints.ai_family = lpHints->ai_family;
        hints.ai_socktype = lpHints->ai_socktype;
        hints.ai_protocol = lpHints->ai_protocol;
    }
    int nError;
    if (g_SocketInterface.getaddrinfo == NULL) {
        nError = ResolveWithoutGetaddrinfo(&hints, lpszNode, lplpResult);
    } else if (hints.ai_family != AF_UNSPEC) {
        nError = g_SocketInterface.getaddrinfo(lpszNode, NULL, &hints, lplpResult);
    } else {
        /* IPv4 first; IPv6 only when the name has no IPv4 address at all. */
        hints.ai_family = AF_INET;
        nError = g_SocketInterface.getaddrinfo(lpszNode, NULL, &hints, lplpResult);
        if (nError == WSAHOST_NOT_FOUND) {
            hints.ai_family = AF_INET6;
            nError = g_SocketInterface.getaddrinfo(lpszNode, NULL, &hints, lplpResult);
        }
    }
    TraceResolved(nError, lpszNode, NULL, &hints, lplpResult);
    SetSocketError((DWORD)nError);
    return nError;
}

void FreeResolvedAddress(ADDRINFOA *lpResult)
{
    if (lpResult == NULL)
        return;
    if (g_SocketInterface.getaddrinfo != NULL && g_SocketInterface.freeaddrinfo != NULL)
        g_SocketInterface.freeaddrinfo(lpResult);
    else
        LocalFree(lpResult);
}

int ResolveInternetAddress(int nFamily, INTERNET_ADDRESS *lpAddress, const char *lpszHostName)
{
    if (lpszHostName == NULL || lpszHostName[0] == '\0') {
        ImapSetLastError(TW_ERROR_INVALID_HOSTNAME);
        return -1;
    }
    if (lpAddress == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return -1;
    }
    memset(lpAddress, 0, sizeof(*lpAddress));
    ADDRINFOA hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = nFamily;
    ADDRINFOA *lpResult = NULL;
    if (ResolveHostName(&hints, lpszHostName, &lpResult) != 0 || lpResult == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_HOSTNAME);
        return -1;
    }
    int nFound = lpResult->ai_family;
    if (nFound == AF_INET && lpResult->ai_addr != NULL) {
        memcpy(lpAddress->ipNumber, &((struct sockaddr_in *)lpResult->ai_addr)->sin_addr, 4);
    } else if (nFound == AF_INET6 && lpResult->ai_addr != NULL) {
        memcpy(lpAddress->ipNumber, &((struct sockaddr_in6 *)lpResult->ai_addr)->sin6_addr, 16);
    } else {
        FreeResolvedAddress(lpResult);
        ImapSetLastError(TW_ERROR_INVALID_ADDRESS);
        return -1;
    }
    lpAddress->ipFamily = nFound;
    FreeResolvedAddress(lpResult);
    return nFound;
}

int BuildSocketAddress(void *lpBuffer, int *lpnLength, const INTERNET_ADDRESS *lpAddress, int nPort)
{
    if (lpBuffer == NULL || lpnLength == NULL) {
        ImapSetLastError(TW_ERROR_INVALID_PARAMETER);
        return 0;
    }
    memset(lpBuffer, 0, SOCKADDR_BUFFER_SIZE);
    *lpnLength = 0;
    if (lpAddress == NULL || lpAddress->ipFamily == 0) {
        ImapSetLastError(TW_ERROR_INVALID_ADDRESS);
        return 0;
    }
    u_short wPort = HostToNetShort((u_short)nPort);
    if (lpAddress->ipFamily == AF_INET) {
        struct sockaddr_in *lpsin = (struct sockaddr_in *)lpBuffer;
        lpsin->sin_family = AF_INET;
        lpsin->sin_port = wPort;
        memcpy(&lpsin->sin_addr, lpAddress->ipNumber, 4);
        *lpnLength = sizeof(struct sockaddr_in);
        return AF_INET;
    }
    if (lpAddress->ipFamily == AF_INET6) {
        struct sockaddr_in6 *lpsin6 = (struct sockaddr_in6 *)lpBuffer;
        lpsin6->sin6_family = AF_INET6;
        lpsin6->sin6_port = wPort;
        memcpy(&lpsin6->sin6_addr, lpAddress->ipNumber, 16);
        *lpnLength = sizeof(struct sockaddr_in6);
        return AF_INET6;
    }
    ImapSetLastError(TW_ERROR_PROTOCOL_FAMILY);
    return 0;
}

/* The protocol catalogue, asked once; a failed query is asked again. */
#define PROTOCOL_CACHE_ENTRIES 32
static LONG volatile g_nProtocols = -1;
static WSAPROTOCOL_INFOA g_rgProtocols[PROTOCOL_CACHE_ENTRIES];

BOOL IsIPv6Available(void)
{
    if (g_SocketInterface.WSAEnumProtocolsA == NULL) {
        SetSocketError(WSANOTINITIALISED);
        return FALSE;
    }
    const OSVERSIONINFOA *lpVersion = GetSystemVersion();
    if (lpVersion->dwMajorVersion == 5 && lpVersion->dwMinorVersion == 0) {
        SetSocketError(WSAEAFNOSUPPORT);
        return FALSE;
    }
    if (AtomicRead(&g_nProtocols) == -1) {
        int rgProtocols[] = {IPPROTO_TCP, IPPROTO_UDP, 0};
        DWORD cb = sizeof(g_rgProtocols);
        int n = g_SocketInterface.WSAEnumProtocolsA(rgProtocols, g_rgProtocols, &cb);
        AtomicWrite(&g_nProtocols, n < 0 ? -1 : n);
    }
    int n = AtomicRead(&g_nProtocols);
    for (int i = 0; i < n && i < PROTOCOL_CACHE_ENTRIES; i++) {
        if (g_rgProtocols[i].iAddressFamily == AF_INET6 && g_rgProtocols[i].iSocketType == SOCK_STREAM &&
            g_rgProtocols[i].iProtocol == IPPROTO_TCP)
            return TRUE;
    }
    SetSocketError(WSAEPROTONOSUPPORT);
    return FALSE;
}

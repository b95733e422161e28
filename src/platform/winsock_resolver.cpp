/*
 * winsock_resolver.cpp - the name and address services of the WS2_32.DLL
 * stand-in (Linux): getaddrinfo, freeaddrinfo, getnameinfo, gethostbyname,
 * getservbyname, inet_pton, inet_ntop, inet_addr, inet_ntoa and byte order
 * (RFC 3493 interfaces in their Winsock form).
 *
 * The lookups are libc's; what goes in and out is Winsock's: hints and
 * flags in the Windows numbering, results in freshly allocated Winsock
 * ADDRINFOA records (ai_canonname before ai_addr) that only freeaddrinfo
 * here frees, host and service entries in the Winsock layout kept per
 * thread, and errors as Winsock numbers (11001 and friends).
 */
#if !defined(_WIN32)

#include "platform/winsock_internal_posix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* ---- Byte order -------------------------------------------------------- */

uint32_t WINAPI WsaHtonl(uint32_t ul) { return htonl(ul); }
uint16_t WINAPI WsaHtons(uint16_t us) { return htons(us); }
uint32_t WINAPI WsaNtohl(uint32_t ul) { return ntohl(ul); }
uint16_t WINAPI WsaNtohs(uint16_t us) { return ntohs(us); }

/* ---- Resolver errors --------------------------------------------------- */

struct EAIMAP {
    int nEai;
    int nError;
};

static const EAIMAP g_rgEaiMap[] = {
    { EAI_AGAIN, WS2_WSATRY_AGAIN },
    { EAI_BADFLAGS, WS2_WSAEINVAL },
    { EAI_FAIL, WS2_WSANO_RECOVERY },
    { EAI_FAMILY, WS2_WSAEAFNOSUPPORT },
    { EAI_MEMORY, WS2_NOT_ENOUGH_MEMORY },
    { EAI_NONAME, WS2_WSAHOST_NOT_FOUND },
    { EAI_SERVICE, WS2_WSATYPE_NOT_FOUND },
    { EAI_SOCKTYPE, WS2_WSAESOCKTNOSUPPORT },
    { EAI_NODATA, WS2_WSANO_DATA },         /* the name has no address of that family */
    { EAI_ADDRFAMILY, WS2_WSAHOST_NOT_FOUND }, /* a numeric address of the other family */
    { EAI_OVERFLOW, WS2_WSAEFAULT },       /* getnameinfo: a buffer too small */
};

/* The Winsock number of a getaddrinfo or getnameinfo failure. A code
   without one is a failure that cannot be recovered from. */
static int ErrorFromEai(int nEai, int nErrno)
{
    if (nEai == EAI_SYSTEM)
        return WsaErrorFromErrno(nErrno);
    for (const EAIMAP &map : g_rgEaiMap) {
        if (map.nEai == nEai)
            return map.nError;
    }
    return WS2_WSANO_RECOVERY;
}

/* ---- getaddrinfo and freeaddrinfo -------------------------------------- */

struct FLAGMAP {
    int nFlag;      /* Winsock's */
    int nPosixFlag; /* 0: accepted, no counterpart */
};

/* Flags that only choose among Windows namespace providers are accepted
   and have no effect. AI_FQDN asks for the full name as the canonical
   one, which is what AI_CANONNAME gives here. */
static const FLAGMAP g_rgAddrInfoFlags[] = {
    { WS2_AI_PASSIVE, AI_PASSIVE },
    { WS2_AI_CANONNAME, AI_CANONNAME },
    { WS2_AI_NUMERICHOST, AI_NUMERICHOST },
    { WS2_AI_NUMERICSERV, AI_NUMERICSERV },
    { WS2_AI_ALL, AI_ALL },
    { WS2_AI_ADDRCONFIG, AI_ADDRCONFIG },
    { WS2_AI_V4MAPPED, AI_V4MAPPED },
    { WS2_AI_FQDN, AI_CANONNAME },
    { WS2_AI_NON_AUTHORITATIVE, 0 },
    { WS2_AI_SECURE, 0 },
    { WS2_AI_RETURN_PREFERRED_NAMES, 0 },
    { WS2_AI_FILESERVER, 0 },
    { WS2_AI_DISABLE_IDN_ENCODING, 0 },
};

struct TYPEMAP {
    int nType;
    int nPosixType;
};

static const TYPEMAP g_rgSocketTypes[] = {
    { WS2_SOCK_STREAM, SOCK_STREAM },
    { WS2_SOCK_DGRAM, SOCK_DGRAM },
    { WS2_SOCK_RAW, SOCK_RAW },
};

static int WinsockSocketType(int nPosixType)
{
    for (const TYPEMAP &map : g_rgSocketTypes) {
        if (map.nPosixType == nPosixType)
            return map.nType;
    }
    return 0;
}

/* One result record, with its address and canonical name in the same
   block. */
static struct WS2_addrinfo *NewAddrInfo(const struct addrinfo *lpai, const char *lpszCanonName,
                                        int nFlags, int nType, int nProtocol)
{
    const size_t cbRecord = (sizeof(struct WS2_addrinfo) + 7) & ~(size_t)7;
    const size_t cbAddress = sizeof(struct WS2_sockaddr_in6);
    size_t cbName = lpszCanonName ? strlen(lpszCanonName) + 1 : 0;
    unsigned char *lpb = (unsigned char *)calloc(1, cbRecord + cbAddress + cbName);
    if (lpb == NULL)
        return NULL;
    struct WS2_addrinfo *lpRecord = (struct WS2_addrinfo *)lpb;
    int cbWinsock = (int)cbAddress;
    WsaAddressFromPosix(lpai->ai_addr, lpai->ai_addrlen, lpb + cbRecord, &cbWinsock);
    lpRecord->ai_flags = nFlags;
    lpRecord->ai_family = lpai->ai_family == AF_INET6 ? WS2_AF_INET6 : WS2_AF_INET;
    lpRecord->ai_socktype = nType;
    lpRecord->ai_protocol = nProtocol;
    lpRecord->ai_addrlen = (size_t)cbWinsock;
    lpRecord->ai_addr = (struct WS2_sockaddr *)(lpb + cbRecord);
    if (lpszCanonName != NULL) {
        lpRecord->ai_canonname = (char *)(lpb + cbRecord + cbAddress);
        memcpy(lpRecord->ai_canonname, lpszCanonName, cbName);
    }
    return lpRecord;
}

void WINAPI WsaFreeAddrInfo(struct WS2_addrinfo *lpList)
{
    while (lpList != NULL) {
        struct WS2_addrinfo *lpNext = lpList->ai_next;
        free(lpList);
        lpList = lpNext;
    }
}

/* Whether an earlier record of the list has the same address. */
static bool HasAddress(const struct WS2_addrinfo *lpList, const struct WS2_addrinfo *lpRecord)
{
    for (; lpList != NULL; lpList = lpList->ai_next) {
        if (lpList->ai_addrlen == lpRecord->ai_addrlen &&
            memcmp(lpList->ai_addr, lpRecord->ai_addr, lpRecord->ai_addrlen) == 0)
            return true;
    }
    return false;
}

static int GetAddrInfoBody(const char *lpszNode, const char *lpszService,
                           const struct WS2_addrinfo *lpHints, struct WS2_addrinfo **lplpResult)
{
    if (!WsaIsStarted())
        return WS2_WSANOTINITIALISED;
    if (lplpResult == NULL)
        return WS2_WSAEINVAL;
    *lplpResult = NULL;
    if (lpszNode == NULL && lpszService == NULL)
        return WS2_WSAHOST_NOT_FOUND;

    /* No hints are hints of zeros: any family, type and protocol. */
    struct WS2_addrinfo zero;
    memset(&zero, 0, sizeof(zero));
    if (lpHints == NULL)
        lpHints = &zero;
    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    if (lpHints->ai_family == WS2_AF_UNSPEC)
        hints.ai_family = AF_UNSPEC;
    else if ((hints.ai_family = WsaPosixFamily(lpHints->ai_family)) < 0)
        return WS2_WSAEAFNOSUPPORT;
    if (lpHints->ai_socktype != 0) {
        for (const TYPEMAP &map : g_rgSocketTypes) {
            if (map.nType == lpHints->ai_socktype)
                hints.ai_socktype = map.nPosixType;
        }
        if (hints.ai_socktype == 0)
            return WS2_WSAESOCKTNOSUPPORT;
    }
    hints.ai_protocol = lpHints->ai_protocol; /* IPPROTO_TCP and _UDP agree */
    int nFlags = lpHints->ai_flags;
    for (const FLAGMAP &map : g_rgAddrInfoFlags) {
        if (nFlags & map.nFlag) {
            hints.ai_flags |= map.nPosixFlag;
            nFlags &= ~map.nFlag;
        }
    }
    if (nFlags != 0)
        return WS2_WSAEINVAL;

    struct addrinfo *lpList = NULL;
    int nEai = getaddrinfo(lpszNode, lpszService, &hints, &lpList);
    if (nEai != 0)
        return ErrorFromEai(nEai, errno);

    /* Winsock gives one record per address when no socket type is asked
       for, with type and protocol as asked; libc one per type. */
    bool fAnyType = lpHints->ai_socktype == 0;
    struct WS2_addrinfo *lpFirst = NULL, **lplpNext = &lpFirst;
    int nError = 0;
    for (const struct addrinfo *lpai = lpList; lpai != NULL; lpai = lpai->ai_next) {
        if (lpai->ai_family != AF_INET && lpai->ai_family != AF_INET6)
            continue;
        struct WS2_addrinfo *lpRecord = NewAddrInfo(
            lpai, lpFirst == NULL ? lpai->ai_canonname : NULL, lpHints->ai_flags,
            fAnyType ? 0 : WinsockSocketType(lpai->ai_socktype),
            fAnyType ? lpHints->ai_protocol : lpai->ai_protocol);
        if (lpRecord == NULL) {
            nError = WS2_NOT_ENOUGH_MEMORY;
            break;
        }
        if (fAnyType && HasAddress(lpFirst, lpRecord)) {
            free(lpRecord);
            continue;
        }
        *lplpNext = lpRecord;
        lplpNext = &lpRecord->ai_next;
    }
    freeaddrinfo(lpList);
    if (nError == 0 && lpFirst == NULL)
        nError = WS2_WSAHOST_NOT_FOUND;
    if (nError != 0) {
        WsaFreeAddrInfo(lpFirst);
        return nError;
    }
    *lplpResult = lpFirst;
    return 0;
}

/* Blocks while the name is looked up. The result is returned and is also
   the thread's last error (0 on success), as Winsock has it. */
int WINAPI WsaGetAddrInfo(const char *lpszNode, const char *lpszService,
                          const struct WS2_addrinfo *lpHints, struct WS2_addrinfo **lplpResult)
{
    int nError = GetAddrInfoBody(lpszNode, lpszService, lpHints, lplpResult);
    SetLastError((DWORD)nError);
    return nError;
}

/* ---- getnameinfo ------------------------------------------------------- */

static const FLAGMAP g_rgNameInfoFlags[] = {
    { WS2_NI_NOFQDN, NI_NOFQDN },
    { WS2_NI_NUMERICHOST, NI_NUMERICHOST },
    { WS2_NI_NAMEREQD, NI_NAMEREQD },
    { WS2_NI_NUMERICSERV, NI_NUMERICSERV },
    { WS2_NI_DGRAM, NI_DGRAM },
};

static int GetNameInfoBody(const struct WS2_sockaddr *lpAddress, int cbAddress,
                           char *lpszHost, DWORD cchHost, char *lpszService,
                           DWORD cchService, int nFlags)
{
    if (!WsaIsStarted())
        return WS2_WSANOTINITIALISED;
    struct sockaddr_storage ss;
    socklen_t cb = 0;
    int nError = WsaAddressToPosix(lpAddress, cbAddress, &ss, &cb);
    if (nError != 0)
        return nError;
    int nPosixFlags = 0;
    for (const FLAGMAP &map : g_rgNameInfoFlags) {
        if (nFlags & map.nFlag) {
            nPosixFlags |= map.nPosixFlag;
            nFlags &= ~map.nFlag;
        }
    }
    if (nFlags != 0)
        return WS2_WSAEINVAL;
    int nEai = getnameinfo((struct sockaddr *)&ss, cb, lpszHost, lpszHost ? cchHost : 0,
                           lpszService, lpszService ? cchService : 0, nPosixFlags);
    return nEai == 0 ? 0 : ErrorFromEai(nEai, errno);
}

/* Blocks while the address is looked up (unless NI_NUMERICHOST). Returns
   0 or a Winsock number, which a failure also sets as the last error. */
int WINAPI WsaGetNameInfo(const struct WS2_sockaddr *lpAddress, int cbAddress,
                          char *lpszHost, DWORD cchHost, char *lpszService,
                          DWORD cchService, int nFlags)
{
    int nError = GetNameInfoBody(lpAddress, cbAddress, lpszHost, cchHost,
                                 lpszService, cchService, nFlags);
    if (nError != 0)
        SetLastError((DWORD)nError);
    return nError;
}

/* ---- gethostbyname and getservbyname ----------------------------------- */

/* Addresses a host entry holds at most. */
static const int MAX_HOST_ADDRESSES = 32;
static const int MAX_SERVICE_ALIASES = 16;

/* The host entry of a thread, overwritten by its next call, as Winsock's. */
struct HOSTENTRY {
    struct WS2_hostent host;
    char *rgpszAliases[1];
    char *rgpAddresses[MAX_HOST_ADDRESSES + 1];
    unsigned char rgbAddresses[MAX_HOST_ADDRESSES][4];
    char szName[1025];
};

struct SERVICEENTRY {
    struct WS2_servent service;
    char *rgpszAliases[MAX_SERVICE_ALIASES + 1];
    char rgchStrings[1024];
};

static thread_local HOSTENTRY t_HostEntry;
static thread_local SERVICEENTRY t_ServiceEntry;

/* IPv4 only. A NULL name is this machine's. NULL with WSAHOST_NOT_FOUND,
   WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA when the name does not
   resolve. Blocks while the name is looked up. */
struct WS2_hostent *WINAPI WsaGetHostByName(const char *lpszName)
{
    if (!WsaIsStarted()) {
        WsaFail(WS2_WSANOTINITIALISED);
        return NULL;
    }
    char szLocal[256];
    if (lpszName == NULL) {
        if (gethostname(szLocal, sizeof(szLocal)) != 0) {
            WsaFail(WS2_WSANO_RECOVERY);
            return NULL;
        }
        szLocal[sizeof(szLocal) - 1] = '\0';
        lpszName = szLocal;
    }

    struct addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    struct addrinfo *lpList = NULL;
    int nEai = getaddrinfo(lpszName, NULL, &hints, &lpList);
    if (nEai != 0) {
        int nError = ErrorFromEai(nEai, errno);
        if (nEai == EAI_NODATA || nEai == EAI_ADDRFAMILY)
            nError = WS2_WSANO_DATA;
        else if (nError != WS2_WSAHOST_NOT_FOUND && nError != WS2_WSATRY_AGAIN)
            nError = WS2_WSANO_RECOVERY;
        WsaFail(nError);
        return NULL;
    }

    HOSTENTRY &entry = t_HostEntry;
    memset(&entry, 0, sizeof(entry));
    const char *lpszCanon = lpList->ai_canonname ? lpList->ai_canonname : lpszName;
    snprintf(entry.szName, sizeof(entry.szName), "%s", lpszCanon);
    int cAddresses = 0;
    for (const struct addrinfo *lpai = lpList; lpai != NULL && cAddresses < MAX_HOST_ADDRESSES;
         lpai = lpai->ai_next) {
        const struct sockaddr_in *lpsin = (const struct sockaddr_in *)lpai->ai_addr;
        unsigned char *lpb = entry.rgbAddresses[cAddresses];
        memcpy(lpb, &lpsin->sin_addr, 4);
        bool fSeen = false;
        for (int n = 0; n < cAddresses; n++)
            fSeen |= memcmp(entry.rgbAddresses[n], lpb, 4) == 0;
        if (!fSeen)
            entry.rgpAddresses[cAddresses++] = (char *)lpb;
    }
    freeaddrinfo(lpList);
    entry.host.h_name = entry.szName;
    entry.host.h_aliases = entry.rgpszAliases;
    entry.host.h_addrtype = WS2_AF_INET;
    entry.host.h_length = 4;
    entry.host.h_addr_list = entry.rgpAddresses;
    return &entry.host;
}

/* Appends a string to the entry's string space; NULL when it is full. */
static char *CopyServiceString(SERVICEENTRY &entry, size_t *lpcbUsed, const char *lpsz)
{
    size_t cb = strlen(lpsz) + 1;
    if (*lpcbUsed + cb > sizeof(entry.rgchStrings))
        return NULL;
    char *lpszCopy = entry.rgchStrings + *lpcbUsed;
    memcpy(lpszCopy, lpsz, cb);
    *lpcbUsed += cb;
    return lpszCopy;
}

/* From the system's services database. NULL with WSANO_DATA when the
   service is not there. */
struct WS2_servent *WINAPI WsaGetServByName(const char *lpszName, const char *lpszProto)
{
    if (!WsaIsStarted()) {
        WsaFail(WS2_WSANOTINITIALISED);
        return NULL;
    }
    struct servent se, *lpse = NULL;
    char rgchBuffer[4096];
    if (lpszName == NULL ||
        getservbyname_r(lpszName, lpszProto, &se, rgchBuffer, sizeof(rgchBuffer), &lpse) != 0 ||
        lpse == NULL) {
        WsaFail(WS2_WSANO_DATA);
        return NULL;
    }
    SERVICEENTRY &entry = t_ServiceEntry;
    memset(&entry, 0, sizeof(entry));
    size_t cbUsed = 0;
    entry.service.s_name = CopyServiceString(entry, &cbUsed, se.s_name);
    entry.service.s_proto = CopyServiceString(entry, &cbUsed, se.s_proto);
    entry.service.s_port = (int16_t)se.s_port; /* network order in both */
    int cAliases = 0;
    for (char **lplpsz = se.s_aliases; lplpsz && *lplpsz && cAliases < MAX_SERVICE_ALIASES; lplpsz++) {
        char *lpszAlias = CopyServiceString(entry, &cbUsed, *lplpsz);
        if (lpszAlias == NULL)
            break;
        entry.rgpszAliases[cAliases++] = lpszAlias;
    }
    entry.service.s_aliases = entry.rgpszAliases;
    if (entry.service.s_name == NULL || entry.service.s_proto == NULL) {
        WsaFail(WS2_WSANO_DATA);
        return NULL;
    }
    return &entry.service;
}

/* ---- Address text ------------------------------------------------------- */

/* 1 and the address, 0 for text that is no address of the family (the
   last error left alone), -1 with WSAEFAULT or WSAEAFNOSUPPORT. */
int WINAPI WsaInetPton(int nFamily, const char *lpszText, void *lpAddress)
{
    if (lpszText == NULL || lpAddress == NULL)
        return WsaFail(WS2_WSAEFAULT);
    int nPosixFamily = WsaPosixFamily(nFamily);
    if (nPosixFamily < 0)
        return WsaFail(WS2_WSAEAFNOSUPPORT);
    return inet_pton(nPosixFamily, lpszText, lpAddress);
}

/* The text in lpszBuffer, or NULL with WSAEAFNOSUPPORT, or with
   ERROR_INVALID_PARAMETER when the buffer is missing or too small. */
const char *WINAPI WsaInetNtop(int nFamily, const void *lpAddress, char *lpszBuffer, size_t cchBuffer)
{
    int nPosixFamily = WsaPosixFamily(nFamily);
    if (nPosixFamily < 0) {
        WsaFail(WS2_WSAEAFNOSUPPORT);
        return NULL;
    }
    if (lpAddress == NULL || lpszBuffer == NULL) {
        WsaFail(WS2_INVALID_PARAMETER);
        return NULL;
    }
    socklen_t cch = cchBuffer > 0x7FFFFFFF ? 0x7FFFFFFF : (socklen_t)cchBuffer;
    if (inet_ntop(nPosixFamily, lpAddress, lpszBuffer, cch) == NULL) {
        WsaFail(WS2_INVALID_PARAMETER);
        return NULL;
    }
    return lpszBuffer;
}

/* The address in network order, or INADDR_NONE (0xFFFFFFFF). The BSD
   forms are accepted: one to four parts, decimal, octal or hexadecimal. */
unsigned long WINAPI WsaInetAddr(const char *lpszText)
{
    struct in_addr in;
    if (lpszText == NULL || inet_aton(lpszText, &in) == 0)
        return 0xFFFFFFFFul;
    return (unsigned long)in.s_addr;
}

/* Dotted text in a buffer of the calling thread's, overwritten by its next
   call. */
char *WINAPI WsaInetNtoa(struct WS2_in_addr in)
{
    static thread_local char t_szText[16];
    snprintf(t_szText, sizeof(t_szText), "%u.%u.%u.%u", in.s_b[0], in.s_b[1], in.s_b[2], in.s_b[3]);
    return t_szText;
}

#endif /* !_WIN32 */

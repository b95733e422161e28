/*
 * winsock_posix.h - the Windows Sockets numbers and layouts that the Linux
 * stand-in (winsock.cpp, winsock_resolver.cpp) exchanges with its callers,
 * under names of their own (WS2_...).
 *
 * The stand-in's sources include the POSIX socket headers, whose names
 * (AF_INET6, sockaddr_in6, fd_set, ...) mean the Linux values. So they never
 * see the library's Winsock declarations (winsock_types.h); they read and
 * write the caller's records through these mirrors and translate at the
 * boundary. Only fixed-size types are used, so the header also compiles
 * beside the real Winsock headers, where a test compares every size, offset
 * and number with them.
 */
#ifndef TW_PLATFORM_WINSOCK_POSIX_H
#define TW_PLATFORM_WINSOCK_POSIX_H

#include <stddef.h>
#include <stdint.h>

typedef uintptr_t WS2_SOCKET;
#define WS2_INVALID_SOCKET (~(WS2_SOCKET)0)
#define WS2_SOCKET_ERROR (-1)

/* ---- Families, types, protocols ---------------------------------------- */

#define WS2_AF_UNSPEC 0
#define WS2_AF_INET 2
#define WS2_AF_INET6 23
#define WS2_SOCK_STREAM 1
#define WS2_SOCK_DGRAM 2
#define WS2_SOCK_RAW 3
#define WS2_IPPROTO_IP 0
#define WS2_IPPROTO_TCP 6
#define WS2_IPPROTO_UDP 17
#define WS2_IPPROTO_IPV6 41

/* ---- Socket options ---------------------------------------------------- */

#define WS2_SOL_SOCKET 0xFFFF
#define WS2_SO_DEBUG 0x0001
#define WS2_SO_ACCEPTCONN 0x0002
#define WS2_SO_REUSEADDR 0x0004
#define WS2_SO_KEEPALIVE 0x0008
#define WS2_SO_DONTROUTE 0x0010
#define WS2_SO_BROADCAST 0x0020
#define WS2_SO_LINGER 0x0080
#define WS2_SO_OOBINLINE 0x0100
#define WS2_SO_DONTLINGER ((int)(~WS2_SO_LINGER))
#define WS2_SO_SNDBUF 0x1001
#define WS2_SO_RCVBUF 0x1002
#define WS2_SO_SNDTIMEO 0x1005
#define WS2_SO_RCVTIMEO 0x1006
#define WS2_SO_ERROR 0x1007
#define WS2_SO_TYPE 0x1008
#define WS2_TCP_NODELAY 0x0001
#define WS2_IPV6_PROTECTION_LEVEL 23
#define WS2_IPV6_V6ONLY 27

#define WS2_SD_RECEIVE 0
#define WS2_SD_SEND 1
#define WS2_SD_BOTH 2

/* ioctlsocket commands; compared in their low 32 bits, since the caller's
   long is 32 bits on Windows and 64 here. */
#define WS2_FIONREAD 0x4004667Fu
#define WS2_FIONBIO 0x8004667Eu

#define WS2_MSG_OOB 0x1
#define WS2_MSG_PEEK 0x2
#define WS2_MSG_DONTROUTE 0x4
#define WS2_MSG_WAITALL 0x8

/* ---- Records ----------------------------------------------------------- */

#define WS2_FD_SETSIZE 64
struct WS2_fd_set {
    uint32_t fd_count;
    WS2_SOCKET fd_array[WS2_FD_SETSIZE];
};

struct WS2_timeval {
    int32_t tv_sec;
    int32_t tv_usec;
};

/* Both addresses are kept in network byte order, as bytes. */
struct WS2_in_addr {
    uint8_t s_b[4];
};

struct WS2_in6_addr {
    uint8_t s6_b[16];
};

struct WS2_sockaddr {
    uint16_t sa_family;
    char sa_data[14];
};

struct WS2_sockaddr_in {
    int16_t sin_family;
    uint16_t sin_port;
    struct WS2_in_addr sin_addr;
    char sin_zero[8];
};

struct WS2_sockaddr_in6 {
    int16_t sin6_family;
    uint16_t sin6_port;
    uint32_t sin6_flowinfo;
    struct WS2_in6_addr sin6_addr;
    uint32_t sin6_scope_id;
};

struct WS2_linger {
    uint16_t l_onoff;
    uint16_t l_linger;
};

struct WS2_hostent {
    char *h_name;
    char **h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    char **h_addr_list;
};

struct WS2_servent {
    char *s_name;
    char **s_aliases;
#if UINTPTR_MAX > 0xFFFFFFFFu
    char *s_proto;
    int16_t s_port;
#else
    int16_t s_port;
    char *s_proto;
#endif
};

/* ai_canonname comes before ai_addr, unlike POSIX. */
struct WS2_addrinfo {
    int32_t ai_flags;
    int32_t ai_family;
    int32_t ai_socktype;
    int32_t ai_protocol;
    size_t ai_addrlen;
    char *ai_canonname;
    struct WS2_sockaddr *ai_addr;
    struct WS2_addrinfo *ai_next;
};

#define WS2_AI_PASSIVE 0x00000001
#define WS2_AI_CANONNAME 0x00000002
#define WS2_AI_NUMERICHOST 0x00000004
#define WS2_AI_NUMERICSERV 0x00000008
#define WS2_AI_ALL 0x00000100
#define WS2_AI_ADDRCONFIG 0x00000400
#define WS2_AI_V4MAPPED 0x00000800
#define WS2_AI_NON_AUTHORITATIVE 0x00004000
#define WS2_AI_SECURE 0x00008000
#define WS2_AI_RETURN_PREFERRED_NAMES 0x00010000
#define WS2_AI_FQDN 0x00020000
#define WS2_AI_FILESERVER 0x00040000
#define WS2_AI_DISABLE_IDN_ENCODING 0x00080000

#define WS2_NI_NOFQDN 0x01
#define WS2_NI_NUMERICHOST 0x02
#define WS2_NI_NAMEREQD 0x04
#define WS2_NI_NUMERICSERV 0x08
#define WS2_NI_DGRAM 0x10

#define WS2_WSADESCRIPTION_LEN 256
#define WS2_WSASYS_STATUS_LEN 128
struct WS2_WSADATA {
    uint16_t wVersion;
    uint16_t wHighVersion;
#if UINTPTR_MAX > 0xFFFFFFFFu
    uint16_t iMaxSockets;
    uint16_t iMaxUdpDg;
    char *lpVendorInfo;
    char szDescription[WS2_WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WS2_WSASYS_STATUS_LEN + 1];
#else
    char szDescription[WS2_WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WS2_WSASYS_STATUS_LEN + 1];
    uint16_t iMaxSockets;
    uint16_t iMaxUdpDg;
    char *lpVendorInfo;
#endif
};

struct WS2_GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

#define WS2_MAX_PROTOCOL_CHAIN 7
#define WS2_WSAPROTOCOL_LEN 255
struct WS2_WSAPROTOCOLCHAIN {
    int32_t ChainLen;
    uint32_t ChainEntries[WS2_MAX_PROTOCOL_CHAIN];
};

struct WS2_WSAPROTOCOL_INFOA {
    uint32_t dwServiceFlags1;
    uint32_t dwServiceFlags2;
    uint32_t dwServiceFlags3;
    uint32_t dwServiceFlags4;
    uint32_t dwProviderFlags;
    struct WS2_GUID ProviderId;
    uint32_t dwCatalogEntryId;
    struct WS2_WSAPROTOCOLCHAIN ProtocolChain;
    int32_t iVersion;
    int32_t iAddressFamily;
    int32_t iMaxSockAddr;
    int32_t iMinSockAddr;
    int32_t iSocketType;
    int32_t iProtocol;
    int32_t iProtocolMaxOffset;
    int32_t iNetworkByteOrder;
    int32_t iSecurityScheme;
    uint32_t dwMessageSize;
    uint32_t dwProviderReserved;
    char szProtocol[WS2_WSAPROTOCOL_LEN + 1];
};

/* dwServiceFlags1 and dwProviderFlags bits. */
#define WS2_XP1_GUARANTEED_DELIVERY 0x00000002
#define WS2_XP1_GUARANTEED_ORDER 0x00000004
#define WS2_XP1_GRACEFUL_CLOSE 0x00000020
#define WS2_XP1_EXPEDITED_DATA 0x00000040
#define WS2_XP1_IFS_HANDLES 0x00020000
#define WS2_PFL_MATCHES_PROTOCOL_ZERO 0x00000008
#define WS2_BASE_PROTOCOL 1

/* ---- Error numbers ----------------------------------------------------- */

#define WS2_NOT_ENOUGH_MEMORY 8 /* WSA_NOT_ENOUGH_MEMORY, EAI_MEMORY */
#define WS2_INVALID_PARAMETER 87
#define WS2_WSAEINTR 10004
#define WS2_WSAEBADF 10009
#define WS2_WSAEACCES 10013
#define WS2_WSAEFAULT 10014
#define WS2_WSAEINVAL 10022
#define WS2_WSAEMFILE 10024
#define WS2_WSAEWOULDBLOCK 10035
#define WS2_WSAEINPROGRESS 10036
#define WS2_WSAEALREADY 10037
#define WS2_WSAENOTSOCK 10038
#define WS2_WSAEDESTADDRREQ 10039
#define WS2_WSAEMSGSIZE 10040
#define WS2_WSAEPROTOTYPE 10041
#define WS2_WSAENOPROTOOPT 10042
#define WS2_WSAEPROTONOSUPPORT 10043
#define WS2_WSAESOCKTNOSUPPORT 10044
#define WS2_WSAEOPNOTSUPP 10045
#define WS2_WSAEPFNOSUPPORT 10046
#define WS2_WSAEAFNOSUPPORT 10047
#define WS2_WSAEADDRINUSE 10048
#define WS2_WSAEADDRNOTAVAIL 10049
#define WS2_WSAENETDOWN 10050
#define WS2_WSAENETUNREACH 10051
#define WS2_WSAENETRESET 10052
#define WS2_WSAECONNABORTED 10053
#define WS2_WSAECONNRESET 10054
#define WS2_WSAENOBUFS 10055
#define WS2_WSAEISCONN 10056
#define WS2_WSAENOTCONN 10057
#define WS2_WSAESHUTDOWN 10058
#define WS2_WSAETOOMANYREFS 10059
#define WS2_WSAETIMEDOUT 10060
#define WS2_WSAECONNREFUSED 10061
#define WS2_WSAELOOP 10062
#define WS2_WSAENAMETOOLONG 10063
#define WS2_WSAEHOSTDOWN 10064
#define WS2_WSAEHOSTUNREACH 10065
#define WS2_WSAENOTEMPTY 10066
#define WS2_WSAEPROCLIM 10067
#define WS2_WSAEUSERS 10068
#define WS2_WSAEDQUOT 10069
#define WS2_WSAESTALE 10070
#define WS2_WSAEREMOTE 10071
#define WS2_WSASYSNOTREADY 10091
#define WS2_WSAVERNOTSUPPORTED 10092
#define WS2_WSANOTINITIALISED 10093
#define WS2_WSATYPE_NOT_FOUND 10109
#define WS2_WSAHOST_NOT_FOUND 11001
#define WS2_WSATRY_AGAIN 11002
#define WS2_WSANO_RECOVERY 11003
#define WS2_WSANO_DATA 11004

#endif

/*
 * winsock_types.h - Windows Sockets 2 types and constants on Linux.
 *
 * The library sees Windows values and layouts only: address family numbers,
 * option levels, ioctl codes, error numbers and structures are those of
 * Winsock. The stand-in (winsock.cpp) translates at its boundary to the
 * POSIX ones, so nothing here may clash with libc's names: this header is
 * never included together with <sys/socket.h> or <netdb.h>.
 */
#ifndef TW_PLATFORM_WINSOCK_TYPES_H
#define TW_PLATFORM_WINSOCK_TYPES_H

#include "twtypes.h"

/*
 * libc defines some of the same names (struct timeval, fd_set and the FD_
 * macros come with almost every system header). Those headers are read
 * first, here, and the Winsock types take names of their own, so that both
 * can be present in one translation unit and the library still sees only
 * the Winsock layouts. Library code never includes the socket headers of
 * libc (<sys/socket.h>, <netinet/in.h>, <netdb.h>).
 */
#include <sys/types.h>
#include <sys/select.h>
#include <sys/time.h>
#include <time.h>
#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET
#define fd_set WSA_fd_set
#define timeval WSA_timeval
#define in_addr WSA_in_addr
#define in6_addr WSA_in6_addr
#define sockaddr WSA_sockaddr
#define sockaddr_in WSA_sockaddr_in
#define sockaddr_in6 WSA_sockaddr_in6
#define sockaddr_storage WSA_sockaddr_storage
#define linger WSA_linger
#define hostent WSA_hostent
#define servent WSA_servent
#define protoent WSA_protoent
#define addrinfo WSA_addrinfo

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET (~(SOCKET)0)
#define SOCKET_ERROR (-1)

/* Winsock's u_long is 32 bits; libc's (from <sys/types.h>) is a long.
   u_short, u_int and u_char agree and come from libc. */
#define u_long WSA_u_long
typedef uint32_t u_long;

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define PF_INET AF_INET
#define PF_INET6 AF_INET6
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define IPPROTO_IPV6 41

#define SOL_SOCKET 0xFFFF
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_DONTLINGER ((int)(~SO_LINGER))
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001

#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

#define IOCPARM_MASK 0x7f
#define IOC_VOID 0x20000000
#define IOC_OUT 0x40000000
#define IOC_IN 0x80000000
#define _IOR(x, y, t) (IOC_OUT | (((long)sizeof(t) & IOCPARM_MASK) << 16) | ((x) << 8) | (y))
#define _IOW(x, y, t) (IOC_IN | (((long)sizeof(t) & IOCPARM_MASK) << 16) | ((x) << 8) | (y))
#define FIONREAD 0x4004667FL
#define FIONBIO ((long)0x8004667E)

#define MSG_OOB 0x1
#define MSG_PEEK 0x2

#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define WSAGETSELECTEVENT(l) ((WORD)(l))
#define WSAGETSELECTERROR(l) ((WORD)((DWORD)(l) >> 16))
#define WSAMAKESELECTREPLY(e, err) ((LPARAM)(DWORD)(((WORD)(e)) | (((DWORD)(WORD)(err)) << 16)))

#define FD_SETSIZE 64
typedef struct fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
} fd_set;

#define FD_CLR(fd, set)                                                          \
    do {                                                                         \
        u_int __i;                                                               \
        for (__i = 0; __i < ((fd_set *)(set))->fd_count; __i++) {                \
            if (((fd_set *)(set))->fd_array[__i] == (fd)) {                      \
                while (__i < ((fd_set *)(set))->fd_count - 1) {                  \
                    ((fd_set *)(set))->fd_array[__i] = ((fd_set *)(set))->fd_array[__i + 1]; \
                    __i++;                                                       \
                }                                                                \
                ((fd_set *)(set))->fd_count--;                                   \
                break;                                                           \
            }                                                                    \
        }                                                                        \
    } while (0)
#define FD_SET(fd, set)                                                          \
    do {                                                                         \
        u_int __i;                                                               \
        for (__i = 0; __i < ((fd_set *)(set))->fd_count; __i++)                  \
            if (((fd_set *)(set))->fd_array[__i] == (fd))                        \
                break;                                                           \
        if (__i == ((fd_set *)(set))->fd_count && ((fd_set *)(set))->fd_count < FD_SETSIZE) { \
            ((fd_set *)(set))->fd_array[__i] = (fd);                             \
            ((fd_set *)(set))->fd_count++;                                       \
        }                                                                        \
    } while (0)
#define FD_ZERO(set) (((fd_set *)(set))->fd_count = 0)

struct timeval {
    LONG tv_sec;
    LONG tv_usec;
};

struct in_addr {
    union {
        struct { u_char s_b1, s_b2, s_b3, s_b4; } S_un_b;
        struct { u_short s_w1, s_w2; } S_un_w;
        u_long S_addr;
    } S_un;
};
#define s_addr S_un.S_addr
typedef struct in_addr IN_ADDR;

struct in6_addr {
    union {
        u_char Byte[16];
        u_short Word[8];
    } u;
};
#define s6_addr u.Byte
typedef struct in6_addr IN6_ADDR;

#define INADDR_ANY ((u_long)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef struct sockaddr SOCKADDR;

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};
typedef struct sockaddr_in SOCKADDR_IN;

struct sockaddr_in6 {
    short sin6_family;
    u_short sin6_port;
    u_long sin6_flowinfo;
    struct in6_addr sin6_addr;
    u_long sin6_scope_id;
};
typedef struct sockaddr_in6 SOCKADDR_IN6;

/* Large enough for any address the library handles (Winsock's 128). */
struct sockaddr_storage {
    short ss_family;
    char __ss_pad1[6];
    LONGLONG __ss_align;
    char __ss_pad2[112];
};
typedef struct sockaddr_storage SOCKADDR_STORAGE;

struct linger {
    u_short l_onoff;
    u_short l_linger;
};

struct hostent {
    char *h_name;
    char **h_aliases;
    short h_addrtype;
    short h_length;
    char **h_addr_list;
};
#define h_addr h_addr_list[0]

struct servent {
    char *s_name;
    char **s_aliases;
#if UINTPTR_MAX > 0xFFFFFFFFu
    char *s_proto;
    short s_port;
#else
    short s_port;
    char *s_proto;
#endif
};

struct protoent {
    char *p_name;
    char **p_aliases;
    short p_proto;
};

/* Winsock's order: ai_canonname comes before ai_addr. */
typedef struct addrinfo {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    char *ai_canonname;
    struct sockaddr *ai_addr;
    struct addrinfo *ai_next;
} ADDRINFOA, *PADDRINFOA;

#define AI_PASSIVE 0x01
#define AI_CANONNAME 0x02
#define AI_NUMERICHOST 0x04
#define AI_ADDRCONFIG 0x0400
#define NI_NUMERICHOST 0x02
#define NI_NUMERICSERV 0x08
#define NI_MAXHOST 1025
#define NI_MAXSERV 32
#define INET_ADDRSTRLEN 22
#define INET6_ADDRSTRLEN 65

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
#if UINTPTR_MAX > 0xFFFFFFFFu
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
#else
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
#endif
} WSADATA, *LPWSADATA;

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;

#define MAX_PROTOCOL_CHAIN 7
#define WSAPROTOCOL_LEN 255
typedef struct _WSAPROTOCOLCHAIN {
    int ChainLen;
    DWORD ChainEntries[MAX_PROTOCOL_CHAIN];
} WSAPROTOCOLCHAIN;

typedef struct _WSAPROTOCOL_INFOA {
    DWORD dwServiceFlags1;
    DWORD dwServiceFlags2;
    DWORD dwServiceFlags3;
    DWORD dwServiceFlags4;
    DWORD dwProviderFlags;
    GUID ProviderId;
    DWORD dwCatalogEntryId;
    WSAPROTOCOLCHAIN ProtocolChain;
    int iVersion;
    int iAddressFamily;
    int iMaxSockAddr;
    int iMinSockAddr;
    int iSocketType;
    int iProtocol;
    int iProtocolMaxOffset;
    int iNetworkByteOrder;
    int iSecurityScheme;
    DWORD dwMessageSize;
    DWORD dwProviderReserved;
    CHAR szProtocol[WSAPROTOCOL_LEN + 1];
} WSAPROTOCOL_INFOA, *LPWSAPROTOCOL_INFOA;

/* Windows Sockets error numbers. */
#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEPFNOSUPPORT 10046
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETOOMANYREFS 10059
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAELOOP 10062
#define WSAENAMETOOLONG 10063
#define WSAEHOSTDOWN 10064
#define WSAEHOSTUNREACH 10065
#define WSAENOTEMPTY 10066
#define WSAEPROCLIM 10067
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093
#define WSAEDISCON 10101
#define WSAHOST_NOT_FOUND 11001
#define WSATRY_AGAIN 11002
#define WSANO_RECOVERY 11003
#define WSANO_DATA 11004
#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY 8
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_SERVICE WSATYPE_NOT_FOUND
#define EAI_SOCKTYPE WSAESOCKTNOSUPPORT
#define WSATYPE_NOT_FOUND 10109

#ifndef MAKEWORD
#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#endif
#endif

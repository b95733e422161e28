/*
 * netiface.h - the socket interface table and its call wrappers.
 *
 * The library has no link-time dependency on the socket library: the first
 * ImapInitialize loads WS2_32.DLL (and NORMALIZ.DLL when present) by name
 * and keeps every entry point in one process-wide table, written once and
 * only read afterwards. All socket work goes through the wrappers below;
 * each reports 10093 (WSANOTINITIALISED) when its entry point is missing.
 */
#ifndef TW_NET_NETIFACE_H
#define TW_NET_NETIFACE_H

#include "platform/platform.h"

typedef SOCKET(WINAPI *PFN_ACCEPT)(SOCKET, struct sockaddr *, int *);
typedef int(WINAPI *PFN_BIND)(SOCKET, const struct sockaddr *, int);
typedef int(WINAPI *PFN_CLOSESOCKET)(SOCKET);
typedef int(WINAPI *PFN_CONNECT)(SOCKET, const struct sockaddr *, int);
typedef struct hostent *(WINAPI *PFN_GETHOSTBYADDR)(const char *, int, int);
typedef struct hostent *(WINAPI *PFN_GETHOSTBYNAME)(const char *);
typedef int(WINAPI *PFN_GETHOSTNAME)(char *, int);
typedef int(WINAPI *PFN_GETPEERNAME)(SOCKET, struct sockaddr *, int *);
typedef struct protoent *(WINAPI *PFN_GETPROTOBYNAME)(const char *);
typedef struct protoent *(WINAPI *PFN_GETPROTOBYNUMBER)(int);
typedef struct servent *(WINAPI *PFN_GETSERVBYNAME)(const char *, const char *);
typedef struct servent *(WINAPI *PFN_GETSERVBYPORT)(int, const char *);
typedef int(WINAPI *PFN_GETSOCKNAME)(SOCKET, struct sockaddr *, int *);
typedef int(WINAPI *PFN_GETSOCKOPT)(SOCKET, int, int, char *, int *);
typedef u_long(WINAPI *PFN_HTONL)(u_long);
typedef u_short(WINAPI *PFN_HTONS)(u_short);
typedef unsigned long(WINAPI *PFN_INET_ADDR)(const char *);
typedef char *(WINAPI *PFN_INET_NTOA)(struct in_addr);
typedef int(WINAPI *PFN_IOCTLSOCKET)(SOCKET, long, u_long *);
typedef int(WINAPI *PFN_LISTEN)(SOCKET, int);
typedef int(WINAPI *PFN_RECV)(SOCKET, char *, int, int);
typedef int(WINAPI *PFN_RECVFROM)(SOCKET, char *, int, int, struct sockaddr *, int *);
typedef int(WINAPI *PFN_SELECT)(int, fd_set *, fd_set *, fd_set *, const struct timeval *);
typedef int(WINAPI *PFN_SEND)(SOCKET, const char *, int, int);
typedef int(WINAPI *PFN_SENDTO)(SOCKET, const char *, int, int, const struct sockaddr *, int);
typedef int(WINAPI *PFN_SETSOCKOPT)(SOCKET, int, int, const char *, int);
typedef int(WINAPI *PFN_SHUTDOWN)(SOCKET, int);
typedef SOCKET(WINAPI *PFN_SOCKET)(int, int, int);
typedef int(WINAPI *PFN_WSAASYNCSELECT)(SOCKET, HWND, UINT, long);
typedef int(WINAPI *PFN_WSACLEANUP)(void);
typedef int(WINAPI *PFN_WSAENUMPROTOCOLSA)(int *, LPWSAPROTOCOL_INFOA, LPDWORD);
typedef int(WINAPI *PFN_WSAGETLASTERROR)(void);
typedef void(WINAPI *PFN_WSASETLASTERROR)(int);
typedef int(WINAPI *PFN_WSASTARTUP)(WORD, LPWSADATA);
typedef void(WINAPI *PFN_FREEADDRINFO)(PADDRINFOA);
typedef int(WINAPI *PFN_GETADDRINFO)(const char *, const char *, const ADDRINFOA *, PADDRINFOA *);
typedef int(WINAPI *PFN_GETNAMEINFO)(const struct sockaddr *, int, char *, DWORD, char *, DWORD, int);
typedef const char *(WINAPI *PFN_INET_NTOP)(int, const void *, char *, size_t);
typedef int(WINAPI *PFN_INET_PTON)(int, const char *, void *);
typedef int(WINAPI *PFN_IDNTOASCII)(DWORD, LPCWSTR, int, LPWSTR, int);
typedef int(WINAPI *PFN_IDNTONAMEPREPUNICODE)(DWORD, LPCWSTR, int, LPWSTR, int);
typedef int(WINAPI *PFN_IDNTOUNICODE)(DWORD, LPCWSTR, int, LPWSTR, int);

/* Entry points the library calls; the others of the system's socket
   library are looked up for completeness only and kept as FARPROC. */
struct SOCKETINTERFACE {
    FARPROC accept, bind;
    PFN_CLOSESOCKET closesocket;
    PFN_CONNECT connect;
    FARPROC gethostbyaddr;
    PFN_GETHOSTBYNAME gethostbyname;
    FARPROC gethostname, getpeername, getprotobyname, getprotobynumber;
    PFN_GETSERVBYNAME getservbyname;
    FARPROC getservbyport, getsockname;
    PFN_GETSOCKOPT getsockopt;
    PFN_HTONL htonl;
    PFN_HTONS htons;
    FARPROC inet_addr;
    PFN_INET_NTOA inet_ntoa;
    PFN_IOCTLSOCKET ioctlsocket;
    FARPROC listen, ntohl, ntohs;
    PFN_RECV recv;
    FARPROC recvfrom;
    PFN_SELECT select;
    PFN_SEND send;
    FARPROC sendto;
    PFN_SETSOCKOPT setsockopt;
    PFN_SHUTDOWN shutdown;
    PFN_SOCKET socket;
    FARPROC WSAAccept, WSAAddressToStringA, WSAAsyncGetHostByAddr, WSAAsyncGetHostByName,
        WSAAsyncGetProtoByName, WSAAsyncGetProtoByNumber, WSAAsyncGetServByName, WSAAsyncGetServByPort;
    PFN_WSAASYNCSELECT WSAAsyncSelect;
    FARPROC WSACancelAsyncRequest;
    PFN_WSACLEANUP WSACleanup;
    FARPROC WSAEnumNetworkEvents;
    PFN_WSAENUMPROTOCOLSA WSAEnumProtocolsA;
    FARPROC WSAEventSelect;
    PFN_WSAGETLASTERROR WSAGetLastError;
    FARPROC WSAIoctl;
    PFN_WSASETLASTERROR WSASetLastError;
    PFN_WSASTARTUP WSAStartup;
    FARPROC WSAStringToAddressA;
    /* resolver group: all or none */
    PFN_FREEADDRINFO freeaddrinfo;
    PFN_GETADDRINFO getaddrinfo;
    PFN_GETNAMEINFO getnameinfo;
    PFN_INET_NTOP inet_ntop;
    PFN_INET_PTON inet_pton;
    /* IDN group from NORMALIZ.DLL: all or none, keyed on IdnToAscii */
    PFN_IDNTOASCII IdnToAscii;
    PFN_IDNTONAMEPREPUNICODE IdnToNameprepUnicode;
    PFN_IDNTOUNICODE IdnToUnicode;
};

/* The process-wide table. Written only during the first start; tests may
   replace entries (a fake resolver, say) while no session uses them. */
extern SOCKETINTERFACE g_SocketInterface;

/* Loads and starts the socket interface (once per successful ImapInitialize).
   Returns 0 or a Windows Sockets error number (10091 when the interface
   cannot be loaded). */
DWORD StartNetworkInterface(void);

/* WSACleanup's result, or -1 with 10093 when nothing is started. */
int ReleaseNetworkInterface(void);

/* The WSADATA filled by the last start. */
LPWSADATA GetNetworkStartupRecord(void);

/* The cached operating-system version record, filled on first use. */
const OSVERSIONINFOA *GetSystemVersion(void);

/* The socket layer's last error: WSAGetLastError(), or GetLastError() when
   the table is not loaded. */
DWORD GetSocketError(void);
void SetSocketError(DWORD dwError);
/* Sets the socket layer's last error to 10060 (WSAETIMEDOUT). */
void SetSocketTimedOut(void);

/* Wrappers: -1 with 10093 when the entry point is missing, otherwise the
   entry point's result unchanged. */
int SocketRecv(SOCKET s, char *lpBuffer, int cbBuffer);
int SocketSend(SOCKET s, const char *lpBuffer, int cbBuffer);
int SocketSelect(int nfds, fd_set *lpRead, fd_set *lpWrite, fd_set *lpExcept, const struct timeval *lpTimeout);
int SocketIoctl(SOCKET s, long nCommand, u_long *lpArgument);
int SocketConnect(SOCKET s, const struct sockaddr *lpAddress, int cbAddress);
int SocketPendingError(SOCKET s, char *lpValue, int *lpcbValue);
int SocketAsyncSelect(SOCKET s, HWND hwnd, UINT uMsg, long lEvents);

/* Trace hooks of the composite socket operations (socket creation, close,
   resolution), for the trace library when it is loaded. */
void TraceSocketCreated(SOCKET s, int nFamily, int nType, int nProtocol);
void TraceSocketClosed(int nResult, SOCKET s);
void TraceResolved(int nResult, const char *lpszNode, const char *lpszService, const ADDRINFOA *lpHints,
                   ADDRINFOA **lplpResult);

/* Byte order; they reverse the bytes themselves when the entry point is
   missing. */
u_long HostToNetLong(u_long x);
u_short HostToNetShort(u_short x);

#endif

/*
 * winsock_internal_posix.h - what the two halves of the WS2_32.DLL stand-in
 * (winsock.cpp: start-up, socket handles, calls on sockets, select, the
 * export table; winsock_resolver.cpp: names, addresses and byte order)
 * share. Included only by them: it brings the POSIX socket headers, whose
 * names mean the Linux values, and never the library's Winsock ones.
 */
#ifndef TW_PLATFORM_WINSOCK_INTERNAL_POSIX_H
#define TW_PLATFORM_WINSOCK_INTERNAL_POSIX_H

#include "twtypes.h"
#include "platform/winsock_posix.h"

#include <sys/socket.h>

/* The thread's last error, which is also WSAGetLastError's (kernel_*.cpp). */
extern "C" {
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
}

/* Whether WSAStartup has succeeded more often than WSACleanup. */
bool WsaIsStarted(void);

/* The Winsock number for an errno value. A value without one is logged
   once and reported as WSAENETDOWN, never as success. */
int WsaErrorFromErrno(int nErrno);

/* Sets the thread's last error to a Winsock number; returns SOCKET_ERROR. */
int WsaFail(int nError);

/* The POSIX family of a Winsock one (AF_INET, AF_INET6), or -1. */
int WsaPosixFamily(int nWinsockFamily);

/* A Winsock socket address (family 2 or 23) as a POSIX one. 0, or
   WSAEFAULT for a NULL address or one shorter than its family's record,
   WSAEAFNOSUPPORT for another family. */
int WsaAddressToPosix(const void *lpAddress, int cbAddress,
                      struct sockaddr_storage *lpss, socklen_t *lpcb);

/* A POSIX socket address as a Winsock one in a buffer of *lpcbAddress
   bytes; *lpcbAddress becomes its size. 0, or WSAEFAULT when the buffer or
   its size is missing or too small, WSAEAFNOSUPPORT for another family. */
int WsaAddressFromPosix(const struct sockaddr *lpsa, socklen_t cb,
                        void *lpAddress, int *lpcbAddress);

/* The name, address and byte-order entry points (winsock_resolver.cpp). */
struct WS2_hostent *WINAPI WsaGetHostByName(const char *lpszName);
struct WS2_servent *WINAPI WsaGetServByName(const char *lpszName, const char *lpszProto);
int WINAPI WsaGetAddrInfo(const char *lpszNode, const char *lpszService,
                          const struct WS2_addrinfo *lpHints, struct WS2_addrinfo **lplpResult);
void WINAPI WsaFreeAddrInfo(struct WS2_addrinfo *lpList);
int WINAPI WsaGetNameInfo(const struct WS2_sockaddr *lpAddress, int cbAddress,
                          char *lpszHost, DWORD cchHost, char *lpszService,
                          DWORD cchService, int nFlags);
const char *WINAPI WsaInetNtop(int nFamily, const void *lpAddress, char *lpszBuffer, size_t cchBuffer);
int WINAPI WsaInetPton(int nFamily, const char *lpszText, void *lpAddress);
unsigned long WINAPI WsaInetAddr(const char *lpszText);
char *WINAPI WsaInetNtoa(struct WS2_in_addr in);
uint32_t WINAPI WsaHtonl(uint32_t ul);
uint16_t WINAPI WsaHtons(uint16_t us);
uint32_t WINAPI WsaNtohl(uint32_t ul);
uint16_t WINAPI WsaNtohs(uint16_t us);

#endif

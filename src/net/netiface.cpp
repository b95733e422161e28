/*
 * netiface.cpp - loading the socket interface table, starting and releasing
 * Windows Sockets, the socket layer's last error and the call wrappers.
 */
#include "net/netiface.h"
#include "frame/trace.h"

#include <string.h>

SOCKETINTERFACE g_SocketInterface;

static OSVERSIONINFOA g_osvi; /* dwOSVersionInfoSize 0 until filled */
static HMODULE g_hSocketLibrary;
static HMODULE g_hNormalizeLibrary;
static LONG volatile g_nStartCount;
static WSADATA g_wsaData;

/* Looks an entry point up by name into a table field. */
#define LOOKUP(module, field) \
    (*(FARPROC *)&g_SocketInterface.field = GetProcAddress((module), #field))

const OSVERSIONINFOA *GetSystemVersion(void)
{
    if (g_osvi.dwOSVersionInfoSize == 0) {
        g_osvi.dwOSVersionInfoSize = sizeof(g_osvi);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
        GetVersionExA(&g_osvi);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    }
    return &g_osvi;
}

static void LoadSocketTable(HMODULE h, const OSVERSIONINFOA *lpVersion)
{
    LOOKUP(h, accept); LOOKUP(h, bind); LOOKUP(h, closesocket); LOOKUP(h, connect);
    LOOKUP(h, gethostbyaddr); LOOKUP(h, gethostbyname); LOOKUP(h, gethostname);
    LOOKUP(h, getpeername); LOOKUP(h, getprotobyname); LOOKUP(h, getprotobynumber);
    LOOKUP(h, getservbyname); LOOKUP(h, getservbyport); LOOKUP(h, getsockname);
    LOOKUP(h, getsockopt); LOOKUP(h, htonl); LOOKUP(h, htons); LOOKUP(h, inet_addr);
    LOOKUP(h, inet_ntoa); LOOKUP(h, ioctlsocket); LOOKUP(h, listen); LOOKUP(h, ntohl);
    LOOKUP(h, ntohs); LOOKUP(h, recv); LOOKUP(h, recvfrom); LOOKUP(h, select);
    LOOKUP(h, send); LOOKUP(h, sendto); LOOKUP(h, setsockopt); LOOKUP(h, shutdown);
    LOOKUP(h, socket); LOOKUP(h, WSAAccept); LOOKUP(h, WSAAddressToStringA);
    LOOKUP(h, WSAAsyncGetHostByAddr); LOOKUP(h, WSAAsyncGetHostByName);
    LOOKUP(h, WSAAsyncGetProtoByName); LOOKUP(h, WSAAsyncGetProtoByNumber);
    LOOKUP(h, WSAAsyncGetServByName); LOOKUP(h, WSAAsyncGetServByPort);
    LOOKUP(h, WSAAsyncSelect); LOOKUP(h, WSACancelAsyncRequest); LOOKUP(h, WSACleanup);
    LOOKUP(h, WSAEnumNetworkEvents); LOOKUP(h, WSAEnumProtocolsA); LOOKUP(h, WSAEventSelect);
    LOOKUP(h, WSAGetLastError); LOOKUP(h, WSAIoctl); LOOKUP(h, WSASetLastError);
    LOOKUP(h, WSAStartup); LOOKUP(h, WSAStringToAddressA);

    /* getaddrinfo and its family exist from Windows 5.1 on. */
    if ((lpVersion->dwMajorVersion == 5 && lpVersion->dwMinorVersion > 0) || lpVersion->dwMajorVersion >= 6) {
        LOOKUP(h, freeaddrinfo); LOOKUP(h, getaddrinfo); LOOKUP(h, getnameinfo);
        LOOKUP(h, inet_ntop); LOOKUP(h, inet_pton);
    }
    if (g_SocketInterface.getaddrinfo == NULL) {
        g_SocketInterface.freeaddrinfo = NULL;
        g_SocketInterface.getnameinfo = NULL;
        g_SocketInterface.inet_ntop = NULL;
        g_SocketInterface.inet_pton = NULL;
    }
}

static void LoadNormalizeTable(HMODULE h)
{
    LOOKUP(h, IdnToAscii); LOOKUP(h, IdnToNameprepUnicode); LOOKUP(h, IdnToUnicode);
    if (g_SocketInterface.IdnToAscii == NULL) {
        g_SocketInterface.IdnToNameprepUnicode = NULL;
        g_SocketInterface.IdnToUnicode = NULL;
    }
}

DWORD StartNetworkInterface(void)
{
    const OSVERSIONINFOA *lpVersion = GetSystemVersion();
    if (lpVersion->dwPlatformId != VER_PLATFORM_WIN32_NT || lpVersion->dwMajorVersion < 5) {
        SetSocketError(WSASYSNOTREADY);
        return WSASYSNOTREADY;
    }

    /* The table is filled once per process; a later start only calls
       WSAStartup again. */
    if (g_hSocketLibrary == NULL) {
        HMODULE h = LoadLibraryA("WS2_32.DLL");
        if (h == NULL) {
            SetSocketError(WSASYSNOTREADY);
            return WSASYSNOTREADY;
        }
        LoadSocketTable(h, lpVersion);
        g_hSocketLibrary = h;
    }
    if (g_hNormalizeLibrary == NULL) {
        g_hNormalizeLibrary = LoadLibraryA("NORMALIZ.DLL");
        if (g_hNormalizeLibrary != NULL)
            LoadNormalizeTable(g_hNormalizeLibrary);
    }
    if (g_SocketInterface.WSAStartup == NULL || g_SocketInterface.WSACleanup == NULL) {
        SetSocketError(WSASYSNOTREADY);
        return WSASYSNOTREADY;
    }

    /* A counter driven below zero by surplus releases is raised to 1. */
    while (InterlockedIncrement(&g_nStartCount) < 1)
        ;
    SetSocketError(0);
    return (DWORD)g_SocketInterface.WSAStartup(MAKEWORD(2, 2), &g_wsaData);
}

int ReleaseNetworkInterface(void)
{
    if (g_SocketInterface.WSACleanup == NULL || InterlockedDecrement(&g_nStartCount) < 0) {
        SetSocketError(WSANOTINITIALISED);
        return -1;
    }
    return g_SocketInterface.WSACleanup();
}

LPWSADATA GetNetworkStartupRecord(void)
{
    return &g_wsaData;
}

DWORD GetSocketError(void)
{
    if (g_SocketInterface.WSAGetLastError != NULL)
        return (DWORD)g_SocketInterface.WSAGetLastError();
    return GetLastError();
}

void SetSocketError(DWORD dwError)
{
    if (g_SocketInterface.WSASetLastError != NULL)
        g_SocketInterface.WSASetLastError((int)dwError);
    else
        SetLastError(dwError);
}

void SetSocketTimedOut(void)
{
    SetSocketError(WSAETIMEDOUT);
}

/* A wrapper whose entry point is missing reports the interface as not
   initialized. */
#define REQUIRE(field)                          \
    if (g_SocketInterface.field == NULL) {      \
        SetSocketError(WSANOTINITIALISED);      \
        return SOCKET_ERROR;                    \
    }

/* Reports a socket call to the trace library: its result, then its own
   arguments. The hook changes neither the result nor the socket error. */
template <typename... ARGS>
static void TraceSocketCall(int nOrdinal, ARGS... args)
{
    FARPROC lpfn = TraceEntry(nOrdinal);
    if (lpfn == NULL)
        return;
    typedef void(WINAPI * PFN_HOOK)(ARGS...);
    DWORD dwError = GetSocketError();
    ((PFN_HOOK)(void (*)(void))lpfn)(args...);
    SetSocketError(dwError);
}

int SocketRecv(SOCKET s, char *lpBuffer, int cbBuffer)
{
    REQUIRE(recv);
    int n = g_SocketInterface.recv(s, lpBuffer, cbBuffer, 0);
    TraceSocketCall(TRACE_RECV, n, s, lpBuffer, cbBuffer, 0);
    return n;
}

int SocketSend(SOCKET s, const char *lpBuffer, int cbBuffer)
{
    REQUIRE(send);
    int n = g_SocketInterface.send(s, lpBuffer, cbBuffer, 0);
    TraceSocketCall(TRACE_SEND, n, s, lpBuffer, cbBuffer, 0);
    return n;
}

int SocketSelect(int nfds, fd_set *lpRead, fd_set *lpWrite, fd_set *lpExcept, const struct timeval *lpTimeout)
{
    REQUIRE(select);
    int n = g_SocketInterface.select(nfds, lpRead, lpWrite, lpExcept, lpTimeout);
    if (n == SOCKET_ERROR)
        TraceSocketCall(TRACE_SELECT, n, nfds, lpRead, lpWrite, lpExcept, lpTimeout);
    return n;
}

int SocketIoctl(SOCKET s, long nCommand, u_long *lpArgument)
{
    REQUIRE(ioctlsocket);
    int n = g_SocketInterface.ioctlsocket(s, nCommand, lpArgument);
    TraceSocketCall(TRACE_IOCTLSOCKET, n, s, nCommand, lpArgument);
    return n;
}

int SocketConnect(SOCKET s, const struct sockaddr *lpAddress, int cbAddress)
{
    REQUIRE(connect);
    int n = g_SocketInterface.connect(s, lpAddress, cbAddress);
    TraceSocketCall(TRACE_CONNECT, n, s, lpAddress, cbAddress);
    return n;
}

int SocketPendingError(SOCKET s, char *lpValue, int *lpcbValue)
{
    REQUIRE(getsockopt);
    int n = g_SocketInterface.getsockopt(s, SOL_SOCKET, SO_ERROR, lpValue, lpcbValue);
    TraceSocketCall(TRACE_GETSOCKOPT, n, s, (int)SOL_SOCKET, (int)SO_ERROR, lpValue, lpcbValue);
    return n;
}

int SocketAsyncSelect(SOCKET s, HWND hwnd, UINT uMsg, long lEvents)
{
    REQUIRE(WSAAsyncSelect);
    int n = g_SocketInterface.WSAAsyncSelect(s, hwnd, uMsg, lEvents);
    TraceSocketCall(TRACE_ASYNCSELECT, n, s, hwnd, uMsg, lEvents);
    return n;
}

void TraceSocketCreated(SOCKET s, int nFamily, int nType, int nProtocol)
{
    TraceSocketCall(TRACE_SOCKET, s, nFamily, nType, nProtocol);
}

void TraceSocketClosed(int nResult, SOCKET s)
{
    TraceSocketCall(TRACE_CLOSESOCKET, nResult, s);
}

void TraceResolved(int nResult, const char *lpszNode, const char *lpszService, const ADDRINFOA *lpHints,
                   ADDRINFOA **lplpResult)
{
    TraceSocketCall(TRACE_GETADDRINFO, nResult, lpszNode, lpszService, lpHints, lplpResult);
}

u_long HostToNetLong(u_long x)
{
    if (g_SocketInterface.htonl != NULL)
        return g_SocketInterface.htonl(x);
    const BYTE b[4] = {(BYTE)(x >> 24), (BYTE)(x >> 16), (BYTE)(x >> 8), (BYTE)x};
    u_long r;
    memcpy(&r, b, 4);
    return r;
}

u_short HostToNetShort(u_short x)
{
    if (g_SocketInterface.htons != NULL)
        return g_SocketInterface.htons(x);
    const BYTE b[2] = {(BYTE)(x >> 8), (BYTE)x};
    u_short r;
    memcpy(&r, b, 2);
    return r;
}

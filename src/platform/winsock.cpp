/*
 * winsock.cpp - WS2_32.DLL on Linux: Windows Sockets 2.2 over BSD sockets.
 *
 * PlatformWinsockExports gives the loader the module's export table, which
 * maps each Winsock name to a stand-in with a name of its own (WsaSocket
 * for "socket", ...), so nothing here clashes with libc. Callers see
 * Winsock only:
 *   - a SOCKET is a handle from a table, a multiple of 4 that carries a
 *     serial number, never a descriptor; INVALID_SOCKET is all ones, and an
 *     unknown or closed handle gives WSAENOTSOCK;
 *   - families, levels, options, ioctl commands and flags are the Windows
 *     numbers and the records (fd_set, linger, time-outs in milliseconds,
 *     socket addresses) the Windows layouts, read and written through the
 *     mirrors of winsock_posix.h and translated here by tables;
 *   - a failure sets the thread's last error to a Winsock number mapped
 *     from errno by a table; a successful call leaves it alone.
 * Where Winsock and POSIX differ, Winsock's behaviour is the one given: a
 * non-blocking connect reports WSAEWOULDBLOCK; one that fails shows in
 * select's exception set (and not as writable) and keeps its error in
 * SO_ERROR for as long as the socket lives; listen and getsockname want a
 * bound socket; an accepted socket keeps the listener's non-blocking mode;
 * recv after a reset goes on reporting WSAECONNRESET, and after a receive
 * shutdown WSAESHUTDOWN; a blocking send returns when everything is taken;
 * send never raises SIGPIPE; IPv6 sockets start IPv6-only; a time-out from
 * SO_RCVTIMEO or SO_SNDTIMEO is WSAETIMEDOUT; closesocket ends the calls
 * that other threads are blocked in on the socket (they fail with
 * WSAEINTR), and the last WSACleanup closes every socket.
 *
 * Every call on sockets needs a WSAStartup first (WSANOTINITIALISED).
 * Names and addresses are in winsock_resolver.cpp. WSAAsyncSelect, which
 * needs windows, is not here.
 */
#if !defined(_WIN32)

#include "platform/winsock_internal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <vector>

/* The loader's export record, as platform.h declares it. */
typedef INT_PTR (WINAPI *FARPROC)(void);
typedef struct _PLATFORMEXPORT {
    LPCSTR lpszName;
    WORD wOrdinal;
    FARPROC lpfn;
} PLATFORMEXPORT;

extern "C" const PLATFORMEXPORT *PlatformWinsockExports(int *pcExports);

/* ---- Errors ------------------------------------------------------------ */

struct ERRNOMAP {
    int nErrno;
    int nError;
};

/* EAGAIN, EINPROGRESS, EPIPE and ECONNABORTED mean different things in
   different calls; the calls that see them decide first. */
static const ERRNOMAP g_rgErrnoMap[] = {
    { EINTR, WS2_WSAEINTR },
    { EBADF, WS2_WSAENOTSOCK },
    { EACCES, WS2_WSAEACCES },
    { EPERM, WS2_WSAEACCES },
    { EFAULT, WS2_WSAEFAULT },
    { EINVAL, WS2_WSAEINVAL },
    { EMFILE, WS2_WSAEMFILE },
    { ENFILE, WS2_WSAEMFILE },
    { EAGAIN, WS2_WSAEWOULDBLOCK },
#if EWOULDBLOCK != EAGAIN
    { EWOULDBLOCK, WS2_WSAEWOULDBLOCK },
#endif
    { EINPROGRESS, WS2_WSAEINPROGRESS },
    { EALREADY, WS2_WSAEALREADY },
    { ENOTSOCK, WS2_WSAENOTSOCK },
    { EDESTADDRREQ, WS2_WSAEDESTADDRREQ },
    { EMSGSIZE, WS2_WSAEMSGSIZE },
    { EPROTOTYPE, WS2_WSAEPROTOTYPE },
    { ENOPROTOOPT, WS2_WSAENOPROTOOPT },
    { EPROTONOSUPPORT, WS2_WSAEPROTONOSUPPORT },
    { ESOCKTNOSUPPORT, WS2_WSAESOCKTNOSUPPORT },
    { EOPNOTSUPP, WS2_WSAEOPNOTSUPP },
#if ENOTSUP != EOPNOTSUPP
    { ENOTSUP, WS2_WSAEOPNOTSUPP },
#endif
    { EPFNOSUPPORT, WS2_WSAEPFNOSUPPORT },
    { EAFNOSUPPORT, WS2_WSAEAFNOSUPPORT },
    { EADDRINUSE, WS2_WSAEADDRINUSE },
    { EADDRNOTAVAIL, WS2_WSAEADDRNOTAVAIL },
    { ENETDOWN, WS2_WSAENETDOWN },
    { ENETUNREACH, WS2_WSAENETUNREACH },
    { ENETRESET, WS2_WSAENETRESET },
    { ECONNABORTED, WS2_WSAECONNABORTED },
    { ECONNRESET, WS2_WSAECONNRESET },
    { EPIPE, WS2_WSAESHUTDOWN },
    { ENOBUFS, WS2_WSAENOBUFS },
    { ENOMEM, WS2_WSAENOBUFS },
    { EISCONN, WS2_WSAEISCONN },
    { ENOTCONN, WS2_WSAENOTCONN },
    { ESHUTDOWN, WS2_WSAESHUTDOWN },
    { ETOOMANYREFS, WS2_WSAETOOMANYREFS },
    { ETIMEDOUT, WS2_WSAETIMEDOUT },
    { ECONNREFUSED, WS2_WSAECONNREFUSED },
    { ELOOP, WS2_WSAELOOP },
    { ENAMETOOLONG, WS2_WSAENAMETOOLONG },
    { EHOSTDOWN, WS2_WSAEHOSTDOWN },
    { EHOSTUNREACH, WS2_WSAEHOSTUNREACH },
    { ENOTEMPTY, WS2_WSAENOTEMPTY },
    { EUSERS, WS2_WSAEUSERS },
    { EDQUOT, WS2_WSAEDQUOT },
    { ESTALE, WS2_WSAESTALE },
    { EREMOTE, WS2_WSAEREMOTE },
    { EPROTO, WS2_WSAECONNRESET },
};

/* Reported once per value, on the standard error stream. */
static void LogUnmappedErrno(int nErrno)
{
    static std::atomic<unsigned char> s_rgfLogged[256];
    if (nErrno >= 0 && nErrno < 256 && s_rgfLogged[nErrno].exchange(1) != 0)
        return;
    fprintf(stderr, "twmapav9: WS2_32: errno %d has no Windows Sockets number; reported as %d\n",
            nErrno, WS2_WSAENETDOWN);
}

int WsaErrorFromErrno(int nErrno)
{
    for (const ERRNOMAP &map : g_rgErrnoMap) {
        if (map.nErrno == nErrno)
            return map.nError;
    }
    LogUnmappedErrno(nErrno);
    return WS2_WSAENETDOWN;
}

int WsaFail(int nError)
{
    SetLastError((DWORD)nError);
    return WS2_SOCKET_ERROR;
}

/* ---- Start-up count ---------------------------------------------------- */

static std::atomic<int> g_cStartups(0);

bool WsaIsStarted(void)
{
    return g_cStartups.load() > 0;
}

/* ---- Socket addresses -------------------------------------------------- */

int WsaPosixFamily(int nWinsockFamily)
{
    if (nWinsockFamily == WS2_AF_INET)
        return AF_INET;
    if (nWinsockFamily == WS2_AF_INET6)
        return AF_INET6;
    return -1;
}

int WsaAddressToPosix(const void *lpAddress, int cbAddress,
                      struct sockaddr_storage *lpss, socklen_t *lpcb)
{
    if (lpAddress == NULL || cbAddress < (int)sizeof(uint16_t))
        return WS2_WSAEFAULT;
    uint16_t wFamily;
    memcpy(&wFamily, lpAddress, sizeof(wFamily));
    memset(lpss, 0, sizeof(*lpss));
    if (wFamily == WS2_AF_INET) {
        if (cbAddress < (int)sizeof(struct WS2_sockaddr_in))
            return WS2_WSAEFAULT;
        struct WS2_sockaddr_in win;
        memcpy(&win, lpAddress, sizeof(win));
        struct sockaddr_in *lpsin = (struct sockaddr_in *)lpss;
        lpsin->sin_family = AF_INET;
        lpsin->sin_port = win.sin_port;
        memcpy(&lpsin->sin_addr, win.sin_addr.s_b, sizeof(win.sin_addr.s_b));
        *lpcb = sizeof(*lpsin);
        return 0;
    }
    if (wFamily == WS2_AF_INET6) {
        /* The record without its scope (24 bytes) is Windows 2000's. */
        if (cbAddress < (int)offsetof(struct WS2_sockaddr_in6, sin6_scope_id))
            return WS2_WSAEFAULT;
        struct WS2_sockaddr_in6 win;
        memset(&win, 0, sizeof(win));
        memcpy(&win, lpAddress, cbAddress < (int)sizeof(win) ? (size_t)cbAddress : sizeof(win));
        struct sockaddr_in6 *lpsin6 = (struct sockaddr_in6 *)lpss;
        lpsin6->sin6_family = AF_INET6;
        lpsin6->sin6_port = win.sin6_port;
        lpsin6->sin6_flowinfo = win.sin6_flowinfo;
        memcpy(&lpsin6->sin6_addr, win.sin6_addr.s6_b, sizeof(win.sin6_addr.s6_b));
        lpsin6->sin6_scope_id = win.sin6_scope_id;
        *lpcb = sizeof(*lpsin6);
        return 0;
    }
    return WS2_WSAEAFNOSUPPORT;
}

int WsaAddressFromPosix(const struct sockaddr *lpsa, socklen_t cb,
                        void *lpAddress, int *lpcbAddress)
{
    if (lpAddress == NULL || lpcbAddress == NULL)
        return WS2_WSAEFAULT;
    if (lpsa->sa_family == AF_INET && cb >= sizeof(struct sockaddr_in)) {
        if (*lpcbAddress < (int)sizeof(struct WS2_sockaddr_in))
            return WS2_WSAEFAULT;
        const struct sockaddr_in *lpsin = (const struct sockaddr_in *)lpsa;
        struct WS2_sockaddr_in win;
        memset(&win, 0, sizeof(win));
        win.sin_family = WS2_AF_INET;
        win.sin_port = lpsin->sin_port;
        memcpy(win.sin_addr.s_b, &lpsin->sin_addr, sizeof(win.sin_addr.s_b));
        memcpy(lpAddress, &win, sizeof(win));
        *lpcbAddress = sizeof(win);
        return 0;
    }
    if (lpsa->sa_family == AF_INET6 && cb >= sizeof(struct sockaddr_in6)) {
        if (*lpcbAddress < (int)sizeof(struct WS2_sockaddr_in6))
            return WS2_WSAEFAULT;
        const struct sockaddr_in6 *lpsin6 = (const struct sockaddr_in6 *)lpsa;
        struct WS2_sockaddr_in6 win;
        memset(&win, 0, sizeof(win));
        win.sin6_family = WS2_AF_INET6;
        win.sin6_port = lpsin6->sin6_port;
        win.sin6_flowinfo = lpsin6->sin6_flowinfo;
        memcpy(win.sin6_addr.s6_b, &lpsin6->sin6_addr, sizeof(win.sin6_addr.s6_b));
        win.sin6_scope_id = lpsin6->sin6_scope_id;
        memcpy(lpAddress, &win, sizeof(win));
        *lpcbAddress = sizeof(win);
        return 0;
    }
    return WS2_WSAEAFNOSUPPORT;
}

/* Winsock refuses to connect to the unspecified address or port 0, where
   Linux would go to the local host. */
static bool IsUnspecifiedPeer(const struct sockaddr_storage &ss)
{
    if (ss.ss_family == AF_INET) {
        const struct sockaddr_in &sin = (const struct sockaddr_in &)ss;
        return sin.sin_port == 0 || sin.sin_addr.s_addr == htonl(INADDR_ANY);
    }
    const struct sockaddr_in6 &sin6 = (const struct sockaddr_in6 &)ss;
    return sin6.sin6_port == 0 || IN6_IS_ADDR_UNSPECIFIED(&sin6.sin6_addr);
}

/* ---- Socket handles ---------------------------------------------------- */

/* Enough for any number of sessions the library holds at once. */
static const int MAX_SOCKETS = 4096;
/* Serial numbers wrap below this, which keeps handles below 2^31. */
static const DWORD SERIAL_LIMIT = 0x1FFFF;
/* select takes up to this many sockets per set (Winsock's FD_SETSIZE is
   only the default size of the record). */
static const uint32_t MAX_SELECT_SOCKETS = 1024;

enum SOCKSTATE {
    SOCKSTATE_OPEN,       /* neither connected nor listening */
    SOCKSTATE_LISTENING,
    SOCKSTATE_CONNECTING, /* a non-blocking connect is under way */
    SOCKSTATE_FAILED,     /* it failed with nConnectError */
    SOCKSTATE_CONNECTED,
};

struct SOCKETSLOT {
    bool fInUse;       /* holds a descriptor, or is closing it */
    bool fOpen;        /* the handle is valid: false from closesocket on */
    int fd;
    DWORD dwSerial;    /* part of the handle; changes with each use */
    int cUsers;        /* calls under way on it */
    int nFamily;       /* AF_INET or AF_INET6 */
    SOCKSTATE state;
    int nConnectError; /* Winsock number, SOCKSTATE_FAILED */
    bool fRecvShut, fSendShut, fReset;
    DWORD dwRcvTimeout, dwSndTimeout; /* milliseconds, as set */
    DWORD cbRcvBuf, cbSndBuf;         /* as set; 0: the system's */
};

static SOCKETSLOT g_rgSockets[MAX_SOCKETS];
static int g_iNextSlot;
static pthread_mutex_t g_SocketLock = PTHREAD_MUTEX_INITIALIZER;

static WS2_SOCKET HandleOf(int i, DWORD dwSerial)
{
    return (WS2_SOCKET)(((uintptr_t)dwSerial * MAX_SOCKETS + (uintptr_t)i + 1) * 4);
}

/* Under g_SocketLock: the slot of a valid handle, or -1. */
static int SlotOf(WS2_SOCKET s)
{
    if (s == 0 || (s & 3) != 0 || s > 0x7FFFFFFF)
        return -1;
    uintptr_t v = s / 4 - 1;
    int i = (int)(v % MAX_SOCKETS);
    const SOCKETSLOT &slot = g_rgSockets[i];
    if (!slot.fInUse || !slot.fOpen || slot.dwSerial != (DWORD)(v / MAX_SOCKETS))
        return -1;
    return i;
}

/* A new handle for fd, or INVALID_SOCKET when the table is full. An
   accepted socket inherits the options its listener (iParent) keeps. */
static WS2_SOCKET NewSocket(int fd, int nFamily, SOCKSTATE state, int iParent)
{
    WS2_SOCKET s = WS2_INVALID_SOCKET;
    pthread_mutex_lock(&g_SocketLock);
    for (int n = 0; n < MAX_SOCKETS; n++) {
        int i = (g_iNextSlot + n) % MAX_SOCKETS;
        SOCKETSLOT &slot = g_rgSockets[i];
        if (slot.fInUse)
            continue;
        DWORD dwSerial = (slot.dwSerial + 1) % SERIAL_LIMIT;
        slot = SOCKETSLOT();
        slot.fInUse = true;
        slot.fOpen = true;
        slot.fd = fd;
        slot.dwSerial = dwSerial;
        slot.nFamily = nFamily;
        slot.state = state;
        if (iParent >= 0) {
            const SOCKETSLOT &parent = g_rgSockets[iParent];
            slot.dwRcvTimeout = parent.dwRcvTimeout;
            slot.dwSndTimeout = parent.dwSndTimeout;
            slot.cbRcvBuf = parent.cbRcvBuf;
            slot.cbSndBuf = parent.cbSndBuf;
        }
        /* Freed slots are taken last, so that a stale handle stays
           invalid for long. */
        g_iNextSlot = (i + 1) % MAX_SOCKETS;
        s = HandleOf(i, dwSerial);
        break;
    }
    pthread_mutex_unlock(&g_SocketLock);
    return s;
}

/* Under g_SocketLock: once the handle is closed and no call holds the slot,
   takes its descriptor for closing (-1: nothing to close now). The slot
   stays in use until ReleaseSlot, so that its number is not handed out
   while the descriptor is still open. */
static int TakeDescriptor(SOCKETSLOT &slot)
{
    if (slot.fOpen || slot.cUsers > 0 || slot.fd < 0)
        return -1;
    int fd = slot.fd;
    slot.fd = -1;
    return fd;
}

/* Closes a descriptor taken by TakeDescriptor, outside the lock (a close
   may wait for lingering data), and frees its slot. */
static void ReleaseSlot(int i, int fd)
{
    if (fd < 0)
        return;
    close(fd);
    pthread_mutex_lock(&g_SocketLock);
    g_rgSockets[i].fInUse = false;
    pthread_mutex_unlock(&g_SocketLock);
}

/* Under g_SocketLock: invalidates the handle of slot i. Calls blocked on the
   socket are woken by shutting it down; the last of them closes it. */
static int CloseHandleOfSlot(int i)
{
    SOCKETSLOT &slot = g_rgSockets[i];
    slot.fOpen = false;
    if (slot.cUsers > 0)
        shutdown(slot.fd, SHUT_RDWR);
    return TakeDescriptor(slot);
}

/* One call's hold on a socket: its descriptor stays open, even through a
   closesocket from another thread, until the hold ends. */
class SocketUse {
public:
    explicit SocketUse(WS2_SOCKET s) : m_i(-1), m_fd(-1), m_nError(0)
    {
        if (!WsaIsStarted()) {
            m_nError = WS2_WSANOTINITIALISED;
            return;
        }
        pthread_mutex_lock(&g_SocketLock);
        int i = SlotOf(s);
        if (i < 0) {
            m_nError = WS2_WSAENOTSOCK;
        } else {
            g_rgSockets[i].cUsers++;
            m_i = i;
            m_fd = g_rgSockets[i].fd;
        }
        pthread_mutex_unlock(&g_SocketLock);
    }

    ~SocketUse()
    {
        if (m_i < 0)
            return;
        pthread_mutex_lock(&g_SocketLock);
        g_rgSockets[m_i].cUsers--;
        int fd = TakeDescriptor(g_rgSockets[m_i]);
        pthread_mutex_unlock(&g_SocketLock);
        ReleaseSlot(m_i, fd);
    }

    SocketUse(const SocketUse &) = delete;
    SocketUse &operator=(const SocketUse &) = delete;

    /* 0, or why the handle cannot be used. */
    int Error() const { return m_nError; }
    /* Fails the call with that reason. */
    int Fail() const { return WsaFail(m_nError); }
    int Index() const { return m_i; }
    int Fd() const { return m_fd; }

    /* Whether another thread closed the handle meanwhile. */
    bool Closed() const
    {
        pthread_mutex_lock(&g_SocketLock);
        bool fClosed = !g_rgSockets[m_i].fOpen;
        pthread_mutex_unlock(&g_SocketLock);
        return fClosed;
    }

    SOCKSTATE State() const
    {
        pthread_mutex_lock(&g_SocketLock);
        SOCKSTATE state = g_rgSockets[m_i].state;
        pthread_mutex_unlock(&g_SocketLock);
        return state;
    }

    void SetState(SOCKSTATE state, int nConnectError = 0) const
    {
        pthread_mutex_lock(&g_SocketLock);
        g_rgSockets[m_i].state = state;
        g_rgSockets[m_i].nConnectError = nConnectError;
        pthread_mutex_unlock(&g_SocketLock);
    }

    /* A copy of the slot's bookkeeping. */
    SOCKETSLOT Snapshot() const
    {
        pthread_mutex_lock(&g_SocketLock);
        SOCKETSLOT slot = g_rgSockets[m_i];
        pthread_mutex_unlock(&g_SocketLock);
        return slot;
    }

    /* Changes the slot's bookkeeping under the lock. */
    template <typename F> void Update(F change) const
    {
        pthread_mutex_lock(&g_SocketLock);
        change(g_rgSockets[m_i]);
        pthread_mutex_unlock(&g_SocketLock);
    }

    bool IsNonBlocking() const
    {
        int nFlags = fcntl(m_fd, F_GETFL);
        return nFlags >= 0 && (nFlags & O_NONBLOCK) != 0;
    }

private:
    int m_i;
    int m_fd;
    int m_nError;
};

/* The pending error of a descriptor, as a Winsock number (0: none). Reading
   clears it. */
static int TakePosixError(int fd)
{
    int nErrno = 0;
    socklen_t cb = sizeof(nErrno);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &nErrno, &cb) != 0)
        nErrno = errno;
    return nErrno != 0 ? WsaErrorFromErrno(nErrno) : 0;
}

/* Under g_SocketLock: settles a non-blocking connect from poll's events.
   Returns the state afterwards. */
static SOCKSTATE SettleConnect(SOCKETSLOT &slot, short nEvents)
{
    if (slot.state != SOCKSTATE_CONNECTING)
        return slot.state;
    if (nEvents & (POLLERR | POLLHUP)) {
        int nError = TakePosixError(slot.fd);
        slot.state = SOCKSTATE_FAILED;
        slot.nConnectError = nError != 0 ? nError : WS2_WSAECONNREFUSED;
    } else if (nEvents & POLLOUT) {
        slot.state = SOCKSTATE_CONNECTED;
    }
    return slot.state;
}

/* Looks, without waiting, whether a non-blocking connect has ended. */
static void PollConnect(const SocketUse &use)
{
    if (use.State() != SOCKSTATE_CONNECTING)
        return;
    struct pollfd pfd = { use.Fd(), POLLOUT, 0 };
    if (poll(&pfd, 1, 0) == 1)
        use.Update([&](SOCKETSLOT &slot) { SettleConnect(slot, pfd.revents); });
}

/* Whether a socket has a local address (Linux gives an unbound one port 0). */
static bool IsBound(int fd)
{
    struct sockaddr_storage ss;
    socklen_t cb = sizeof(ss);
    if (getsockname(fd, (struct sockaddr *)&ss, &cb) != 0)
        return false;
    if (ss.ss_family == AF_INET)
        return ((struct sockaddr_in *)&ss)->sin_port != 0;
    if (ss.ss_family == AF_INET6)
        return ((struct sockaddr_in6 *)&ss)->sin6_port != 0;
    return false;
}

/* ---- Creating, binding, listening, accepting, connecting ---------------- */

/* Stream sockets over TCP only: the library makes no others. */
static WS2_SOCKET WINAPI WsaSocket(int nFamily, int nType, int nProtocol)
{
    if (!WsaIsStarted()) {
        WsaFail(WS2_WSANOTINITIALISED);
        return WS2_INVALID_SOCKET;
    }
    /* Without a family, a TCP socket is IPv4's, the first provider. */
    int nPosixFamily = (nFamily == WS2_AF_UNSPEC && nProtocol == WS2_IPPROTO_TCP)
                           ? AF_INET : WsaPosixFamily(nFamily);
    int nError = 0;
    if (nPosixFamily < 0)
        nError = nFamily == WS2_AF_UNSPEC ? WS2_WSAEINVAL : WS2_WSAEAFNOSUPPORT;
    else if (nType != WS2_SOCK_STREAM)
        nError = WS2_WSAESOCKTNOSUPPORT;
    else if (nProtocol != 0 && nProtocol != WS2_IPPROTO_TCP)
        nError = WS2_WSAEPROTONOSUPPORT;
    if (nError != 0) {
        WsaFail(nError);
        return WS2_INVALID_SOCKET;
    }

    int fd = socket(nPosixFamily, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        WsaFail(WsaErrorFromErrno(errno));
        return WS2_INVALID_SOCKET;
    }
    if (nPosixFamily == AF_INET6) {
        /* Winsock's IPv6 sockets do not take IPv4 traffic until asked. */
        int nOn = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &nOn, sizeof(nOn));
    }
    WS2_SOCKET s = NewSocket(fd, nPosixFamily, SOCKSTATE_OPEN, -1);
    if (s == WS2_INVALID_SOCKET) {
        close(fd);
        WsaFail(WS2_WSAEMFILE);
    }
    return s;
}

static int WINAPI WsaCloseSocket(WS2_SOCKET s)
{
    if (!WsaIsStarted())
        return WsaFail(WS2_WSANOTINITIALISED);
    pthread_mutex_lock(&g_SocketLock);
    int i = SlotOf(s);
    int fd = i >= 0 ? CloseHandleOfSlot(i) : -1;
    pthread_mutex_unlock(&g_SocketLock);
    if (i < 0)
        return WsaFail(WS2_WSAENOTSOCK);
    ReleaseSlot(i, fd);
    return 0;
}

static int WINAPI WsaBind(WS2_SOCKET s, const struct WS2_sockaddr *lpName, int cbName)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    struct sockaddr_storage ss;
    socklen_t cb = 0;
    int nError = WsaAddressToPosix(lpName, cbName, &ss, &cb);
    if (nError != 0)
        return WsaFail(nError);
    if (bind(use.Fd(), (struct sockaddr *)&ss, cb) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    return 0;
}

/* A socket must be bound first: Linux would bind it to any port itself. */
static int WINAPI WsaListen(WS2_SOCKET s, int nBacklog)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    SOCKSTATE state = use.State();
    if (state == SOCKSTATE_CONNECTED || state == SOCKSTATE_CONNECTING)
        return WsaFail(WS2_WSAEINVAL);
    if (!IsBound(use.Fd()))
        return WsaFail(WS2_WSAEINVAL);
    if (listen(use.Fd(), nBacklog) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    use.SetState(SOCKSTATE_LISTENING);
    return 0;
}

/* Blocks unless the listener is non-blocking; the new socket takes the
   listener's mode. An address buffer too small for the family fails
   before a connection is taken. */
static WS2_SOCKET WINAPI WsaAccept(WS2_SOCKET s, struct WS2_sockaddr *lpAddress, int *lpcbAddress)
{
    SocketUse use(s);
    int nError = use.Error();
    SOCKETSLOT slot = nError == 0 ? use.Snapshot() : SOCKETSLOT();
    if (nError == 0 && slot.state != SOCKSTATE_LISTENING)
        nError = WS2_WSAEINVAL;
    if (nError == 0 && lpAddress != NULL) {
        int cbNeeded = slot.nFamily == AF_INET6 ? (int)sizeof(struct WS2_sockaddr_in6)
                                                : (int)sizeof(struct WS2_sockaddr_in);
        if (lpcbAddress == NULL || *lpcbAddress < cbNeeded)
            nError = WS2_WSAEFAULT;
    }
    if (nError != 0) {
        WsaFail(nError);
        return WS2_INVALID_SOCKET;
    }

    struct sockaddr_storage ss;
    socklen_t cb;
    int fd;
    do {
        cb = sizeof(ss);
        fd = accept4(use.Fd(), (struct sockaddr *)&ss, &cb, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR && !use.Closed());
    if (fd < 0) {
        int nErrno = errno;
        if (use.Closed())
            nError = WS2_WSAEINTR;
        else if (nErrno == EAGAIN || nErrno == EWOULDBLOCK)
            nError = WS2_WSAEWOULDBLOCK;
        else if (nErrno == ECONNABORTED)
            nError = WS2_WSAECONNRESET; /* the peer gave up before accept */
        else
            nError = WsaErrorFromErrno(nErrno);
        WsaFail(nError);
        return WS2_INVALID_SOCKET;
    }
    if (use.IsNonBlocking())
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    WS2_SOCKET sNew = NewSocket(fd, slot.nFamily, SOCKSTATE_CONNECTED, use.Index());
    if (sNew == WS2_INVALID_SOCKET) {
        close(fd);
        WsaFail(WS2_WSAEMFILE);
        return WS2_INVALID_SOCKET;
    }
    if (lpAddress != NULL)
        WsaAddressFromPosix((struct sockaddr *)&ss, cb, lpAddress, lpcbAddress);
    return sNew;
}

/* Waits for a blocking connect that a signal interrupted, or that
   SO_SNDTIMEO cut short (Winsock's connect has no such limit). */
static int FinishBlockingConnect(const SocketUse &use)
{
    struct pollfd pfd = { use.Fd(), POLLOUT, 0 };
    while (poll(&pfd, 1, -1) < 0 && errno == EINTR && !use.Closed())
        ;
    if (use.Closed())
        return WS2_WSAEINTR;
    return TakePosixError(use.Fd());
}

/* Blocking: returns when connected or failed. Non-blocking: SOCKET_ERROR
   with WSAEWOULDBLOCK, and the outcome shows in select and SO_ERROR, also
   when Linux knows it at once (a refusal on the loopback interface). */
static int WINAPI WsaConnect(WS2_SOCKET s, const struct WS2_sockaddr *lpName, int cbName)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    struct sockaddr_storage ss;
    socklen_t cb = 0;
    int nError = WsaAddressToPosix(lpName, cbName, &ss, &cb);
    if (nError != 0)
        return WsaFail(nError);
    if (IsUnspecifiedPeer(ss))
        return WsaFail(WS2_WSAEADDRNOTAVAIL);
    /* Linux answers the first connect after a non-blocking one has
       completed with 0; Winsock says WSAEISCONN. */
    PollConnect(use);
    SOCKSTATE state = use.State();
    if (state == SOCKSTATE_LISTENING)
        return WsaFail(WS2_WSAEINVAL);
    if (state == SOCKSTATE_CONNECTED)
        return WsaFail(WS2_WSAEISCONN);

    bool fNonBlocking = use.IsNonBlocking();
    if (connect(use.Fd(), (struct sockaddr *)&ss, cb) == 0) {
        use.SetState(SOCKSTATE_CONNECTED);
        return 0;
    }
    int nErrno = errno;
    if (fNonBlocking) {
        switch (nErrno) {
        case EINPROGRESS:
            use.SetState(SOCKSTATE_CONNECTING);
            return WsaFail(WS2_WSAEWOULDBLOCK);
        case ECONNREFUSED:
            use.SetState(SOCKSTATE_FAILED, WS2_WSAECONNREFUSED);
            return WsaFail(WS2_WSAEWOULDBLOCK);
        case EISCONN:
            use.SetState(SOCKSTATE_CONNECTED);
            return WsaFail(WS2_WSAEISCONN);
        default:
            break;
        }
    } else if (nErrno == EINTR || nErrno == EINPROGRESS) {
        nError = FinishBlockingConnect(use);
        if (nError == 0) {
            use.SetState(SOCKSTATE_CONNECTED);
            return 0;
        }
        return WsaFail(nError);
    }
    if (use.Closed())
        return WsaFail(WS2_WSAEINTR);
    if (nErrno == EISCONN)
        use.SetState(SOCKSTATE_CONNECTED);
    return WsaFail(WsaErrorFromErrno(nErrno));
}

static int WINAPI WsaGetSockName(WS2_SOCKET s, struct WS2_sockaddr *lpName, int *lpcbName)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (lpName == NULL || lpcbName == NULL)
        return WsaFail(WS2_WSAEFAULT);
    if (!IsBound(use.Fd()))
        return WsaFail(WS2_WSAEINVAL);
    struct sockaddr_storage ss;
    socklen_t cb = sizeof(ss);
    if (getsockname(use.Fd(), (struct sockaddr *)&ss, &cb) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    int nError = WsaAddressFromPosix((struct sockaddr *)&ss, cb, lpName, lpcbName);
    return nError != 0 ? WsaFail(nError) : 0;
}

static int WINAPI WsaGetPeerName(WS2_SOCKET s, struct WS2_sockaddr *lpName, int *lpcbName)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (lpName == NULL || lpcbName == NULL)
        return WsaFail(WS2_WSAEFAULT);
    struct sockaddr_storage ss;
    socklen_t cb = sizeof(ss);
    if (getpeername(use.Fd(), (struct sockaddr *)&ss, &cb) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    int nError = WsaAddressFromPosix((struct sockaddr *)&ss, cb, lpName, lpcbName);
    return nError != 0 ? WsaFail(nError) : 0;
}

/* ---- Sending and receiving --------------------------------------------- */

/* Why a connected-stream call cannot go ahead on this socket, or 0. */
static int StreamCheck(const SOCKETSLOT &slot, bool fSending)
{
    if (slot.fReset)
        return WS2_WSAECONNRESET;
    if (fSending ? slot.fSendShut : slot.fRecvShut)
        return WS2_WSAESHUTDOWN;
    if (slot.state == SOCKSTATE_OPEN || slot.state == SOCKSTATE_LISTENING ||
        slot.state == SOCKSTATE_FAILED)
        return WS2_WSAENOTCONN;
    return 0;
}

/* The Winsock number for a failed recv or send; a reset is remembered. */
static int StreamError(const SocketUse &use, int nErrno, bool fSending)
{
    if (use.Closed())
        return WS2_WSAEINTR;
    if (nErrno == EAGAIN || nErrno == EWOULDBLOCK)
        return use.IsNonBlocking() ? WS2_WSAEWOULDBLOCK : WS2_WSAETIMEDOUT;
    if (nErrno == EPIPE && fSending && use.Snapshot().fSendShut)
        return WS2_WSAESHUTDOWN;
    if (nErrno == ECONNRESET || nErrno == EPIPE) {
        use.Update([](SOCKETSLOT &slot) { slot.fReset = true; });
        return WS2_WSAECONNRESET;
    }
    return WsaErrorFromErrno(nErrno);
}

/* Blocks on a blocking socket until data, the end of the stream or the
   receive time-out. Flags MSG_OOB, MSG_PEEK, MSG_WAITALL. */
static int WINAPI WsaRecv(WS2_SOCKET s, char *lpBuffer, int cbBuffer, int nFlags)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (cbBuffer < 0 || (lpBuffer == NULL && cbBuffer > 0))
        return WsaFail(WS2_WSAEFAULT);
    int nError = StreamCheck(use.Snapshot(), false);
    if (nError != 0)
        return WsaFail(nError);

    int nPosixFlags = 0;
    if (nFlags & WS2_MSG_OOB)
        nPosixFlags |= MSG_OOB;
    if (nFlags & WS2_MSG_PEEK)
        nPosixFlags |= MSG_PEEK;
    if (nFlags & WS2_MSG_WAITALL)
        nPosixFlags |= MSG_WAITALL;
    ssize_t n;
    do {
        n = recv(use.Fd(), lpBuffer, (size_t)cbBuffer, nPosixFlags);
    } while (n < 0 && errno == EINTR && !use.Closed());
    if (n < 0)
        return WsaFail(StreamError(use, errno, false));
    if (n == 0 && cbBuffer > 0 && use.Closed())
        return WsaFail(WS2_WSAEINTR);
    return (int)n;
}

/* On a blocking socket returns when everything is taken (or the send
   time-out ends it); a partial count comes back only when a failure
   follows data already sent. Flags MSG_OOB, MSG_DONTROUTE. */
static int WINAPI WsaSend(WS2_SOCKET s, const char *lpBuffer, int cbBuffer, int nFlags)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (cbBuffer < 0 || (lpBuffer == NULL && cbBuffer > 0))
        return WsaFail(WS2_WSAEFAULT);
    int nError = StreamCheck(use.Snapshot(), true);
    if (nError != 0)
        return WsaFail(nError);

    int nPosixFlags = MSG_NOSIGNAL;
    if (nFlags & WS2_MSG_OOB)
        nPosixFlags |= MSG_OOB;
    if (nFlags & WS2_MSG_DONTROUTE)
        nPosixFlags |= MSG_DONTROUTE;
    bool fBlocking = !use.IsNonBlocking();
    int cbSent = 0;
    int nErrno = 0;
    do {
        ssize_t n = send(use.Fd(), lpBuffer + cbSent, (size_t)(cbBuffer - cbSent), nPosixFlags);
        if (n < 0) {
            if (errno == EINTR && !use.Closed())
                continue;
            nErrno = errno;
            break;
        }
        cbSent += (int)n;
    } while (fBlocking && cbSent < cbBuffer);
    if (nErrno != 0 && cbSent == 0)
        return WsaFail(StreamError(use, nErrno, true));
    return cbSent;
}

static int WINAPI WsaShutdown(WS2_SOCKET s, int nHow)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    int nPosixHow;
    switch (nHow) {
    case WS2_SD_RECEIVE: nPosixHow = SHUT_RD; break;
    case WS2_SD_SEND: nPosixHow = SHUT_WR; break;
    case WS2_SD_BOTH: nPosixHow = SHUT_RDWR; break;
    default: return WsaFail(WS2_WSAEINVAL);
    }
    if (use.State() == SOCKSTATE_LISTENING)
        return WsaFail(WS2_WSAENOTCONN);
    if (shutdown(use.Fd(), nPosixHow) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    use.Update([nHow](SOCKETSLOT &slot) {
        slot.fRecvShut |= nHow != WS2_SD_SEND;
        slot.fSendShut |= nHow != WS2_SD_RECEIVE;
    });
    return 0;
}

/* FIONBIO and FIONREAD; other commands are not supported (WSAEOPNOTSUPP,
   as Winsock answers for a command it does not know). The command's low
   32 bits count: the caller's long is 32 bits wide on Windows. */
static int WINAPI WsaIoctlSocket(WS2_SOCKET s, long nCommand, uint32_t *lpArgument)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    uint32_t dwCommand = (uint32_t)nCommand;
    if (dwCommand != WS2_FIONBIO && dwCommand != WS2_FIONREAD)
        return WsaFail(WS2_WSAEOPNOTSUPP);
    if (lpArgument == NULL)
        return WsaFail(WS2_WSAEFAULT);
    if (dwCommand == WS2_FIONBIO) {
        int nFlags = fcntl(use.Fd(), F_GETFL);
        if (nFlags < 0)
            return WsaFail(WsaErrorFromErrno(errno));
        nFlags = *lpArgument ? (nFlags | O_NONBLOCK) : (nFlags & ~O_NONBLOCK);
        if (fcntl(use.Fd(), F_SETFL, nFlags) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        return 0;
    }
    /* A listener has nothing to read; Linux would refuse the question. */
    int cbPending = 0;
    if (use.State() != SOCKSTATE_LISTENING && ioctl(use.Fd(), FIONREAD, &cbPending) != 0)
        return WsaFail(WsaErrorFromErrno(errno));
    *lpArgument = (uint32_t)cbPending;
    return 0;
}

/* ---- Socket options ---------------------------------------------------- */

enum OPTIONKIND {
    OPTION_BOOL,       /* a BOOL: 4 bytes, or 1 byte when the caller gives less */
    OPTION_BOOLEAN,    /* Winsock answers with a one-byte BOOLEAN */
    OPTION_BUFFER,     /* an int; reads back what was set */
    OPTION_TIMEOUT,    /* a DWORD of milliseconds; POSIX has a timeval */
    OPTION_LINGER,     /* struct linger of two u_short; POSIX has two ints */
    OPTION_DONTLINGER, /* a BOOL: linger off */
    OPTION_ERROR,      /* the pending error as a Winsock number */
    OPTION_TYPE,       /* the socket type as a Winsock number */
};

struct SOCKOPTION {
    int nLevel, nName;           /* Winsock's */
    int nPosixLevel, nPosixName;
    OPTIONKIND kind;
    bool fSettable;
};

static const SOCKOPTION g_rgOptions[] = {
    { WS2_SOL_SOCKET, WS2_SO_ACCEPTCONN, SOL_SOCKET, SO_ACCEPTCONN, OPTION_BOOL, false },
    { WS2_SOL_SOCKET, WS2_SO_REUSEADDR, SOL_SOCKET, SO_REUSEADDR, OPTION_BOOL, true },
    { WS2_SOL_SOCKET, WS2_SO_KEEPALIVE, SOL_SOCKET, SO_KEEPALIVE, OPTION_BOOLEAN, true },
    { WS2_SOL_SOCKET, WS2_SO_DONTROUTE, SOL_SOCKET, SO_DONTROUTE, OPTION_BOOLEAN, true },
    { WS2_SOL_SOCKET, WS2_SO_BROADCAST, SOL_SOCKET, SO_BROADCAST, OPTION_BOOL, true },
    { WS2_SOL_SOCKET, WS2_SO_OOBINLINE, SOL_SOCKET, SO_OOBINLINE, OPTION_BOOL, true },
    { WS2_SOL_SOCKET, WS2_SO_LINGER, SOL_SOCKET, SO_LINGER, OPTION_LINGER, true },
    { WS2_SOL_SOCKET, WS2_SO_DONTLINGER, SOL_SOCKET, SO_LINGER, OPTION_DONTLINGER, true },
    { WS2_SOL_SOCKET, WS2_SO_SNDBUF, SOL_SOCKET, SO_SNDBUF, OPTION_BUFFER, true },
    { WS2_SOL_SOCKET, WS2_SO_RCVBUF, SOL_SOCKET, SO_RCVBUF, OPTION_BUFFER, true },
    { WS2_SOL_SOCKET, WS2_SO_SNDTIMEO, SOL_SOCKET, SO_SNDTIMEO, OPTION_TIMEOUT, true },
    { WS2_SOL_SOCKET, WS2_SO_RCVTIMEO, SOL_SOCKET, SO_RCVTIMEO, OPTION_TIMEOUT, true },
    { WS2_SOL_SOCKET, WS2_SO_ERROR, SOL_SOCKET, SO_ERROR, OPTION_ERROR, false },
    { WS2_SOL_SOCKET, WS2_SO_TYPE, SOL_SOCKET, SO_TYPE, OPTION_TYPE, false },
    { WS2_IPPROTO_TCP, WS2_TCP_NODELAY, IPPROTO_TCP, TCP_NODELAY, OPTION_BOOLEAN, true },
    { WS2_IPPROTO_IPV6, WS2_IPV6_V6ONLY, IPPROTO_IPV6, IPV6_V6ONLY, OPTION_BOOL, true },
};

/* Levels whose other options are merely unsupported (WSAENOPROTOOPT);
   another level is invalid (WSAEINVAL). IPV6_PROTECTION_LEVEL, for one,
   has no counterpart here. */
static const int g_rgOptionLevels[] = {
    WS2_SOL_SOCKET, WS2_IPPROTO_IP, WS2_IPPROTO_TCP, WS2_IPPROTO_UDP, WS2_IPPROTO_IPV6,
};

static const SOCKOPTION *FindOption(int nLevel, int nName, int *lpnError)
{
    for (const SOCKOPTION &option : g_rgOptions) {
        if (option.nLevel == nLevel && option.nName == nName)
            return &option;
    }
    *lpnError = WS2_WSAEINVAL;
    for (int nKnown : g_rgOptionLevels) {
        if (nKnown == nLevel)
            *lpnError = WS2_WSAENOPROTOOPT;
    }
    return NULL;
}

static int WINAPI WsaGetSockOpt(WS2_SOCKET s, int nLevel, int nName, char *lpValue, int *lpcbValue)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (lpValue == NULL || lpcbValue == NULL)
        return WsaFail(WS2_WSAEFAULT);
    int nError = 0;
    const SOCKOPTION *lpOption = FindOption(nLevel, nName, &nError);
    if (lpOption == NULL)
        return WsaFail(nError);
    bool fBool = lpOption->kind == OPTION_BOOL || lpOption->kind == OPTION_BOOLEAN ||
                 lpOption->kind == OPTION_DONTLINGER;
    if (*lpcbValue < (fBool ? 1 : 4))
        return WsaFail(WS2_WSAEFAULT);

    int32_t nValue = 0;
    switch (lpOption->kind) {
    case OPTION_BOOL:
    case OPTION_BOOLEAN:
    case OPTION_BUFFER:
    case OPTION_TYPE: {
        int n = 0;
        socklen_t cb = sizeof(n);
        SOCKETSLOT slot = use.Snapshot();
        DWORD cbSet = lpOption->nPosixName == SO_RCVBUF ? slot.cbRcvBuf : slot.cbSndBuf;
        if (lpOption->kind == OPTION_BUFFER && cbSet != 0) {
            n = (int)cbSet;
        } else if (getsockopt(use.Fd(), lpOption->nPosixLevel, lpOption->nPosixName, &n, &cb) != 0) {
            return WsaFail(WsaErrorFromErrno(errno));
        }
        if (lpOption->kind == OPTION_TYPE)
            nValue = n == SOCK_STREAM ? WS2_SOCK_STREAM : n == SOCK_DGRAM ? WS2_SOCK_DGRAM : WS2_SOCK_RAW;
        else if (lpOption->kind == OPTION_BUFFER)
            nValue = n;
        else
            nValue = n != 0;
        break;
    }
    case OPTION_TIMEOUT: {
        SOCKETSLOT slot = use.Snapshot();
        nValue = (int32_t)(lpOption->nPosixName == SO_RCVTIMEO ? slot.dwRcvTimeout : slot.dwSndTimeout);
        break;
    }
    case OPTION_LINGER:
    case OPTION_DONTLINGER: {
        struct linger lg;
        socklen_t cb = sizeof(lg);
        if (getsockopt(use.Fd(), SOL_SOCKET, SO_LINGER, &lg, &cb) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        if (lpOption->kind == OPTION_DONTLINGER) {
            nValue = lg.l_onoff == 0;
            break;
        }
        struct WS2_linger win;
        win.l_onoff = lg.l_onoff != 0;
        win.l_linger = (uint16_t)(lg.l_linger > 0xFFFF ? 0xFFFF : lg.l_linger);
        memcpy(lpValue, &win, sizeof(win));
        *lpcbValue = sizeof(win);
        return 0;
    }
    case OPTION_ERROR: {
        /* A failed connect keeps its error; Winsock does not clear it. */
        PollConnect(use);
        SOCKETSLOT slot = use.Snapshot();
        nValue = slot.state == SOCKSTATE_FAILED ? slot.nConnectError : TakePosixError(use.Fd());
        /* Reading took the reset from Linux; recv and send go on
           reporting it. */
        if (nValue == WS2_WSAECONNRESET)
            use.Update([](SOCKETSLOT &changed) { changed.fReset = true; });
        break;
    }
    }
    if (lpOption->kind == OPTION_BOOLEAN || (fBool && *lpcbValue < 4)) {
        lpValue[0] = (char)nValue;
        *lpcbValue = 1;
    } else {
        memcpy(lpValue, &nValue, sizeof(nValue));
        *lpcbValue = sizeof(nValue);
    }
    return 0;
}

static int WINAPI WsaSetSockOpt(WS2_SOCKET s, int nLevel, int nName, const char *lpValue, int cbValue)
{
    SocketUse use(s);
    if (use.Error())
        return use.Fail();
    if (lpValue == NULL)
        return WsaFail(WS2_WSAEFAULT);
    int nError = 0;
    const SOCKOPTION *lpOption = FindOption(nLevel, nName, &nError);
    if (lpOption == NULL)
        return WsaFail(nError);
    if (!lpOption->fSettable)
        return WsaFail(WS2_WSAENOPROTOOPT);
    bool fBool = lpOption->kind == OPTION_BOOL || lpOption->kind == OPTION_BOOLEAN ||
                 lpOption->kind == OPTION_DONTLINGER;
    if (cbValue < (fBool ? 1 : 4))
        return WsaFail(WS2_WSAEFAULT);

    /* A BOOL shorter than 4 bytes is as long as the caller says. */
    int32_t nValue = 0;
    memcpy(&nValue, lpValue, cbValue < 4 ? (size_t)cbValue : sizeof(nValue));
    int nPosix = 0;
    switch (lpOption->kind) {
    case OPTION_BOOL:
    case OPTION_BOOLEAN:
        nPosix = nValue != 0;
        if (setsockopt(use.Fd(), lpOption->nPosixLevel, lpOption->nPosixName, &nPosix, sizeof(nPosix)) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        return 0;
    case OPTION_BUFFER:
        nPosix = nValue;
        if (setsockopt(use.Fd(), SOL_SOCKET, lpOption->nPosixName, &nPosix, sizeof(nPosix)) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        use.Update([&](SOCKETSLOT &slot) {
            (lpOption->nPosixName == SO_RCVBUF ? slot.cbRcvBuf : slot.cbSndBuf) = (DWORD)nValue;
        });
        return 0;
    case OPTION_TIMEOUT: {
        DWORD dwMillis = (DWORD)nValue;
        struct timeval tv;
        tv.tv_sec = (time_t)(dwMillis / 1000);
        tv.tv_usec = (suseconds_t)(dwMillis % 1000) * 1000;
        if (setsockopt(use.Fd(), SOL_SOCKET, lpOption->nPosixName, &tv, sizeof(tv)) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        use.Update([&](SOCKETSLOT &slot) {
            (lpOption->nPosixName == SO_RCVTIMEO ? slot.dwRcvTimeout : slot.dwSndTimeout) = dwMillis;
        });
        return 0;
    }
    case OPTION_LINGER:
    case OPTION_DONTLINGER: {
        struct linger lg;
        socklen_t cb = sizeof(lg);
        if (lpOption->kind == OPTION_LINGER) {
            struct WS2_linger win;
            memcpy(&win, lpValue, sizeof(win));
            lg.l_onoff = win.l_onoff != 0;
            lg.l_linger = win.l_linger;
        } else {
            if (getsockopt(use.Fd(), SOL_SOCKET, SO_LINGER, &lg, &cb) != 0)
                return WsaFail(WsaErrorFromErrno(errno));
            lg.l_onoff = nValue == 0;
        }
        if (setsockopt(use.Fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof(lg)) != 0)
            return WsaFail(WsaErrorFromErrno(errno));
        return 0;
    }
    case OPTION_ERROR:
    case OPTION_TYPE:
        break;
    }
    return WsaFail(WS2_WSAENOPROTOOPT);
}

/* ---- select ------------------------------------------------------------ */

enum { SELECT_READ = 1, SELECT_WRITE = 2, SELECT_EXCEPT = 4 };

/* One distinct socket of a select, held for the length of the wait. */
struct SELECTENTRY {
    WS2_SOCKET s;
    int i;
    int fd;
    unsigned fSets;   /* SELECT_ bits: the sets it is in */
    unsigned fReady;  /* the sets it is ready for */
    bool fIgnored;    /* woke poll with nothing Winsock reports */
};

/* Holds every socket of a select, and lets go of them at the end. */
class SelectHolds {
public:
    std::vector<SELECTENTRY> entries;

    ~SelectHolds()
    {
        for (const SELECTENTRY &e : entries) {
            pthread_mutex_lock(&g_SocketLock);
            g_rgSockets[e.i].cUsers--;
            int fd = TakeDescriptor(g_rgSockets[e.i]);
            pthread_mutex_unlock(&g_SocketLock);
            ReleaseSlot(e.i, fd);
        }
    }

    SELECTENTRY *Find(WS2_SOCKET s)
    {
        for (SELECTENTRY &e : entries) {
            if (e.s == s)
                return &e;
        }
        return NULL;
    }
};

/* Under g_SocketLock: what poll must watch for on a socket. */
static short WatchedEvents(const SOCKETSLOT &slot, unsigned fSets)
{
    short nEvents = 0;
    switch (slot.state) {
    case SOCKSTATE_CONNECTING:
        nEvents = POLLOUT; /* the end of the connect, either way */
        break;
    case SOCKSTATE_LISTENING:
        if (fSets & SELECT_READ)
            nEvents = POLLIN;
        break;
    case SOCKSTATE_CONNECTED:
        if (fSets & SELECT_READ)
            nEvents |= POLLIN | POLLRDHUP;
        if (fSets & SELECT_WRITE)
            nEvents |= POLLOUT;
        if (fSets & SELECT_EXCEPT)
            nEvents |= POLLPRI;
        break;
    default:
        break; /* a fresh socket, or a failed connect: nothing to wait for */
    }
    return nEvents;
}

/* Under g_SocketLock: the sets a socket is ready for, from poll's events,
   as Winsock sees it: readable when data, the end of the stream, a reset or
   a connection to accept is there; writable when a connect has succeeded
   or there is room to send; exceptional when a connect has failed or
   out-of-band data is there. */
static unsigned ReadySets(SOCKETSLOT &slot, short nEvents)
{
    switch (SettleConnect(slot, nEvents)) {
    case SOCKSTATE_LISTENING:
        return (nEvents & (POLLIN | POLLERR | POLLHUP)) ? SELECT_READ : 0;
    case SOCKSTATE_FAILED:
        return SELECT_EXCEPT;
    case SOCKSTATE_CONNECTED: {
        unsigned fReady = 0;
        if (nEvents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))
            fReady |= SELECT_READ;
        if (nEvents & POLLOUT)
            fReady |= SELECT_WRITE;
        if (nEvents & POLLPRI)
            fReady |= SELECT_EXCEPT;
        return fReady;
    }
    default:
        return 0;
    }
}

static long long MonotonicMillis(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* nfds is ignored. A NULL time-out waits for ever, {0, 0} only looks. The
   sets are rewritten to hold the ready sockets, in their order; the result
   counts each ready socket once per set. */
static int WINAPI WsaSelect(int nfds, struct WS2_fd_set *lpRead, struct WS2_fd_set *lpWrite,
                            struct WS2_fd_set *lpExcept, const struct WS2_timeval *lpTimeout)
{
    if (!WsaIsStarted())
        return WsaFail(WS2_WSANOTINITIALISED);
    struct WS2_fd_set *const rgSets[3] = { lpRead, lpWrite, lpExcept };
    uint32_t cTotal = 0;
    for (const struct WS2_fd_set *lpSet : rgSets) {
        if (lpSet == NULL)
            continue;
        if (lpSet->fd_count > MAX_SELECT_SOCKETS)
            return WsaFail(WS2_WSAEINVAL);
        cTotal += lpSet->fd_count;
    }
    if (cTotal == 0)
        return WsaFail(WS2_WSAEINVAL);

    SelectHolds holds;
    holds.entries.reserve(cTotal);
    int nError = 0;
    pthread_mutex_lock(&g_SocketLock);
    for (int k = 0; k < 3 && nError == 0; k++) {
        if (rgSets[k] == NULL)
            continue;
        for (uint32_t j = 0; j < rgSets[k]->fd_count; j++) {
            WS2_SOCKET s = rgSets[k]->fd_array[j];
            SELECTENTRY *lpEntry = holds.Find(s);
            if (lpEntry == NULL) {
                int i = SlotOf(s);
                if (i < 0) {
                    nError = WS2_WSAENOTSOCK;
                    break;
                }
                g_rgSockets[i].cUsers++;
                holds.entries.push_back({ s, i, g_rgSockets[i].fd, 0, 0, false });
                lpEntry = &holds.entries.back();
            }
            lpEntry->fSets |= 1u << k;
        }
    }
    pthread_mutex_unlock(&g_SocketLock);
    if (nError != 0)
        return WsaFail(nError);

    /* A negative time-out only looks, like a zero one. */
    long long llDeadline = -1;
    if (lpTimeout != NULL) {
        long long llMillis = (long long)lpTimeout->tv_sec * 1000 + ((long long)lpTimeout->tv_usec + 999) / 1000;
        llDeadline = MonotonicMillis() + (llMillis > 0 ? llMillis : 0);
    }
    std::vector<struct pollfd> rgPoll(holds.entries.size());
    int cReady = 0;
    for (;;) {
        bool fAtOnce = false;
        pthread_mutex_lock(&g_SocketLock);
        for (size_t n = 0; n < holds.entries.size(); n++) {
            SELECTENTRY &e = holds.entries[n];
            const SOCKETSLOT &slot = g_rgSockets[e.i];
            short nEvents = WatchedEvents(slot, e.fSets);
            if (slot.state == SOCKSTATE_FAILED && (e.fSets & SELECT_EXCEPT))
                fAtOnce = true;
            rgPoll[n].fd = (nEvents != 0 && !e.fIgnored) ? e.fd : -1;
            rgPoll[n].events = nEvents;
            rgPoll[n].revents = 0;
        }
        pthread_mutex_unlock(&g_SocketLock);

        int msWait = -1;
        if (fAtOnce) {
            msWait = 0;
        } else if (llDeadline >= 0) {
            long long llLeft = llDeadline - MonotonicMillis();
            msWait = llLeft <= 0 ? 0 : llLeft > 0x7FFFFFFF ? 0x7FFFFFFF : (int)llLeft;
        }
        int nPolled = poll(rgPoll.data(), rgPoll.size(), msWait);
        if (nPolled < 0 && errno != EINTR)
            return WsaFail(WsaErrorFromErrno(errno));

        cReady = 0;
        pthread_mutex_lock(&g_SocketLock);
        for (size_t n = 0; n < holds.entries.size(); n++) {
            SELECTENTRY &e = holds.entries[n];
            SOCKETSLOT &slot = g_rgSockets[e.i];
            SOCKSTATE before = slot.state;
            short nEvents = nPolled > 0 ? rgPoll[n].revents : 0;
            e.fReady = ReadySets(slot, nEvents) & e.fSets;
            for (unsigned f = e.fReady; f != 0; f &= f - 1)
                cReady++;
            /* Level-triggered events Winsock would not report (a hang-up
               on a socket that never connected, say) would wake poll at
               once again: stop watching that socket in this call. */
            if (e.fReady == 0 && nEvents != 0 && slot.state == before)
                e.fIgnored = true;
        }
        pthread_mutex_unlock(&g_SocketLock);
        if (cReady > 0)
            break;
        if (llDeadline >= 0 && MonotonicMillis() >= llDeadline)
            break;
    }

    for (int k = 0; k < 3; k++) {
        struct WS2_fd_set *lpSet = rgSets[k];
        if (lpSet == NULL)
            continue;
        /* A socket listed twice is kept once. */
        uint32_t cKept = 0;
        for (uint32_t j = 0; j < lpSet->fd_count; j++) {
            WS2_SOCKET s = lpSet->fd_array[j];
            bool fKept = false;
            for (uint32_t n = 0; n < cKept && !fKept; n++)
                fKept = lpSet->fd_array[n] == s;
            if (!fKept && (holds.Find(s)->fReady & (1u << k)))
                lpSet->fd_array[cKept++] = s;
        }
        lpSet->fd_count = cKept;
    }
    return cReady;
}

/* ---- Start-up, last error, protocol catalogue -------------------------- */

static const char kDescription[] = "Tidewire Windows Sockets 2.2 over BSD sockets";
static const char kSystemStatus[] = "Running";

/* Version 1.0 and up is accepted; the record reports the requested version
   up to 2.2 (1.x above 1.1 as 1.1), and 2.2 as the highest. */
static int WINAPI WsaStartup(WORD wVersionRequested, struct WS2_WSADATA *lpData)
{
    BYTE bMajor = (BYTE)(wVersionRequested & 0xFF);
    BYTE bMinor = (BYTE)(wVersionRequested >> 8);
    WORD wVersion = 0x0202;
    if (bMajor == 1)
        wVersion = bMinor == 0 ? 0x0001 : 0x0101;
    else if (bMajor == 2 && bMinor <= 2)
        wVersion = wVersionRequested;
    if (lpData != NULL) {
        memset(lpData, 0, sizeof(*lpData));
        lpData->wVersion = wVersion;
        lpData->wHighVersion = 0x0202;
        /* Winsock 1 callers read these limits; Winsock 2 reports none. */
        lpData->iMaxSockets = bMajor == 1 ? 32767 : 0;
        lpData->iMaxUdpDg = bMajor == 1 ? 65467 : 0;
        memcpy(lpData->szDescription, kDescription, sizeof(kDescription));
        memcpy(lpData->szSystemStatus, kSystemStatus, sizeof(kSystemStatus));
    }
    if (bMajor == 0)
        return WS2_WSAVERNOTSUPPORTED;
    if (lpData == NULL)
        return WS2_WSAEFAULT;
    g_cStartups++;
    return 0;
}

/* The last clean-up closes every socket that is still open. */
static int WINAPI WsaCleanup(void)
{
    pthread_mutex_lock(&g_SocketLock);
    int cStartups = g_cStartups.load();
    if (cStartups <= 0) {
        pthread_mutex_unlock(&g_SocketLock);
        return WsaFail(WS2_WSANOTINITIALISED);
    }
    g_cStartups = cStartups - 1;
    std::vector<std::pair<int, int>> rgClose;
    if (cStartups == 1) {
        for (int i = 0; i < MAX_SOCKETS; i++) {
            if (g_rgSockets[i].fInUse && g_rgSockets[i].fOpen)
                rgClose.push_back({ i, CloseHandleOfSlot(i) });
        }
    }
    pthread_mutex_unlock(&g_SocketLock);
    for (const auto &c : rgClose)
        ReleaseSlot(c.first, c.second);
    return 0;
}

static int WINAPI WsaGetLastError(void)
{
    return (int)GetLastError();
}

static void WINAPI WsaSetLastError(int nError)
{
    SetLastError((DWORD)nError);
}

/* Whether this machine makes IPv6 stream sockets. */
static bool HaveIPv6(void)
{
    static const bool fHave = [] {
        int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0)
            return false;
        close(fd);
        return true;
    }();
    return fHave;
}

/* The catalogue: a TCP provider for IPv4 and, where the machine has IPv6,
   one for IPv6. lpiProtocols is a list ending in 0, NULL for all. Too small
   a buffer gives WSAENOBUFS with the size needed. */
static int WINAPI WsaEnumProtocolsA(int *lpiProtocols, struct WS2_WSAPROTOCOL_INFOA *lpBuffer,
                                    DWORD *lpdwBufferLength)
{
    if (!WsaIsStarted())
        return WsaFail(WS2_WSANOTINITIALISED);
    if (lpdwBufferLength == NULL)
        return WsaFail(WS2_WSAEFAULT);

    struct PROVIDER {
        int nFamily;
        int cbAddress;
        DWORD dwCatalogEntryId;
        const char *lpszName;
    };
    const PROVIDER rgProviders[] = {
        { WS2_AF_INET, (int)sizeof(struct WS2_sockaddr_in), 1001, "TCP/IP" },
        { WS2_AF_INET6, (int)sizeof(struct WS2_sockaddr_in6), 1002, "TCP/IPv6" },
    };
    const int cProviders = HaveIPv6() ? 2 : 1;
    bool fTcpAsked = lpiProtocols == NULL;
    for (const int *lpi = lpiProtocols; lpi != NULL && *lpi != 0; lpi++)
        fTcpAsked |= *lpi == WS2_IPPROTO_TCP;
    const int cInfo = fTcpAsked ? cProviders : 0;

    DWORD cbNeeded = (DWORD)(cInfo * sizeof(struct WS2_WSAPROTOCOL_INFOA));
    if (cInfo > 0 && (lpBuffer == NULL || *lpdwBufferLength < cbNeeded)) {
        *lpdwBufferLength = cbNeeded;
        return WsaFail(WS2_WSAENOBUFS);
    }
    for (int n = 0; n < cInfo; n++) {
        const PROVIDER &p = rgProviders[n];
        struct WS2_WSAPROTOCOL_INFOA &info = lpBuffer[n];
        memset(&info, 0, sizeof(info));
        info.dwServiceFlags1 = WS2_XP1_IFS_HANDLES | WS2_XP1_EXPEDITED_DATA | WS2_XP1_GRACEFUL_CLOSE |
                               WS2_XP1_GUARANTEED_ORDER | WS2_XP1_GUARANTEED_DELIVERY;
        info.dwProviderFlags = WS2_PFL_MATCHES_PROTOCOL_ZERO;
        info.ProviderId = { 0x7D1E5A40, 0x3C2B, 0x4F19, { 0x9A, 0x61, 0x2E, 0x54, 0x0B, 0x8C, 0x77, 0xD3 } };
        info.dwCatalogEntryId = p.dwCatalogEntryId;
        info.ProtocolChain.ChainLen = WS2_BASE_PROTOCOL;
        info.iVersion = 2;
        info.iAddressFamily = p.nFamily;
        info.iMaxSockAddr = p.cbAddress;
        info.iMinSockAddr = p.cbAddress;
        info.iSocketType = WS2_SOCK_STREAM;
        info.iProtocol = WS2_IPPROTO_TCP;
        info.iNetworkByteOrder = 0; /* big-endian */
        snprintf(info.szProtocol, sizeof(info.szProtocol), "%s", p.lpszName);
    }
    return cInfo;
}

/* ---- The module's export table ------------------------------------------ */

template <typename F> static FARPROC ExportOf(F *lpfn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(lpfn));
}

/* The names the library calls. The ones it only looks up (gethostbyaddr,
   WSAAsyncGetHostByName, WSAEventSelect, ...) are absent, as is
   WSAAsyncSelect, which the window layer provides. */
extern "C" const PLATFORMEXPORT *PlatformWinsockExports(int *pcExports)
{
    static const PLATFORMEXPORT s_rgExports[] = {
        { "accept", 0, ExportOf(&WsaAccept) },
        { "bind", 0, ExportOf(&WsaBind) },
        { "closesocket", 0, ExportOf(&WsaCloseSocket) },
        { "connect", 0, ExportOf(&WsaConnect) },
        { "gethostbyname", 0, ExportOf(&WsaGetHostByName) },
        { "getpeername", 0, ExportOf(&WsaGetPeerName) },
        { "getservbyname", 0, ExportOf(&WsaGetServByName) },
        { "getsockname", 0, ExportOf(&WsaGetSockName) },
        { "getsockopt", 0, ExportOf(&WsaGetSockOpt) },
        { "setsockopt", 0, ExportOf(&WsaSetSockOpt) },
        { "htonl", 0, ExportOf(&WsaHtonl) },
        { "htons", 0, ExportOf(&WsaHtons) },
        { "ntohl", 0, ExportOf(&WsaNtohl) },
        { "ntohs", 0, ExportOf(&WsaNtohs) },
        { "inet_addr", 0, ExportOf(&WsaInetAddr) },
        { "inet_ntoa", 0, ExportOf(&WsaInetNtoa) },
        { "ioctlsocket", 0, ExportOf(&WsaIoctlSocket) },
        { "listen", 0, ExportOf(&WsaListen) },
        { "recv", 0, ExportOf(&WsaRecv) },
        { "send", 0, ExportOf(&WsaSend) },
        { "select", 0, ExportOf(&WsaSelect) },
        { "shutdown", 0, ExportOf(&WsaShutdown) },
        { "socket", 0, ExportOf(&WsaSocket) },
        { "WSAStartup", 0, ExportOf(&WsaStartup) },
        { "WSACleanup", 0, ExportOf(&WsaCleanup) },
        { "WSAGetLastError", 0, ExportOf(&WsaGetLastError) },
        { "WSASetLastError", 0, ExportOf(&WsaSetLastError) },
        { "WSAEnumProtocolsA", 0, ExportOf(&WsaEnumProtocolsA) },
        { "freeaddrinfo", 0, ExportOf(&WsaFreeAddrInfo) },
        { "getaddrinfo", 0, ExportOf(&WsaGetAddrInfo) },
        { "getnameinfo", 0, ExportOf(&WsaGetNameInfo) },
        { "inet_ntop", 0, ExportOf(&WsaInetNtop) },
        { "inet_pton", 0, ExportOf(&WsaInetPton) },
    };
    *pcExports = (int)(sizeof(s_rgExports) / sizeof(s_rgExports[0]));
    return s_rgExports;
}

#endif /* !_WIN32 */

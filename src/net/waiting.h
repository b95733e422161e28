/*
 * waiting.h - waiting on a session's socket, and the session state that
 * the waits share (time-out, blocking and cancel flags, status).
 */
#ifndef TW_NET_WAITING_H
#define TW_NET_WAITING_H

#include "session/session.h"

/* The longest time-out a session takes, in seconds. */
#define SESSION_MAX_TIMEOUT 3600
/* A cancel from another thread is seen within this many milliseconds. */
#define WAIT_SLICE_MS 100

enum SOCKETWAIT { WAIT_READ, WAIT_WRITE };

/*
 * Waits until the session's socket is readable or writable, for at most
 * nTimeout seconds (no limit when it is 0). Returns what select returns:
 * 1 ready, 0 timed out, -1 failed (socket error set). Blocks, but in
 * slices: when a cancel is requested meanwhile it returns 0 early, and the
 * caller, which tests bCanceled first, reports the cancel.
 */
int WaitForSocket(CLIENTSESSION *lpSession, SOCKETWAIT nWait);

/* The error a write wait ended with: TW_ERROR_OPERATION_CANCELED when a
   cancel was requested (the request is honoured and cleared), the time-out,
   the folded socket error, or 0 when the socket is writable; *lpnEvent gets
   the event to raise for it (IMAP_EVENT_CANCEL, IMAP_EVENT_TIMEOUT or 0). */
DWORD TakeWriteWaitError(CLIENTSESSION *lpSession, int nWait, UINT *lpnEvent);

/* The connect wait: writable (connected) or in the exception set (failed),
   within nTimeout seconds (20 when 0). Returns 0 when connected, or -1 with
   the library last error set. */
int WaitForConnect(CLIENTSESSION *lpSession);

/* Whether s is among the entries of a set filled by select. */
BOOL IsSocketInSet(const fd_set *lpSet, SOCKET s);

/* Dispatches the calling thread's pending window messages; FALSE when a
   WM_QUIT was met (it is posted again). */
BOOL PumpMessages(void);

#endif

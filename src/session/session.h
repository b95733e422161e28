/*
 * session.h - the record of one client session and the process-wide table
 * that turns session handles into records.
 *
 * A handle is the handle base plus the record's slot in the table. Records
 * live in the library heap, never move while they exist, and belong to the
 * thread that created them (or to the one they were attached to): every
 * export that works on a session looks it up with FindSession, which
 * refuses other threads. Fields that other threads read or write (cancel
 * and blocking flags, status, transfer counters, idle state) are 32-bit
 * values accessed atomically; the rest follows the owner-thread rule.
 */
#ifndef TW_SESSION_SESSION_H
#define TW_SESSION_SESSION_H

#include "platform/platform.h"
#include "twmapav9.h"

/* Sizes of the record's fixed text buffers. */
#define SESSION_HOSTNAME_SIZE   256
#define SESSION_CAPABILITY_SIZE 1024
#define SESSION_COMMAND_SIZE    1024
#define SESSION_RESULT_SIZE     8192
#define SESSION_RECEIVE_SIZE    8192
#define SESSION_MAILBOX_SIZE    256
#define SESSION_TLS_BUFFER_SIZE 65536

/* One callback slot per event bit. */
#define SESSION_EVENT_SLOTS 8

/* The table grows by this many slots at a time. */
#define SESSION_TABLE_GROWTH 256

struct CLIENTSESSION {
    /* identity and ownership */
    HCLIENT hClient;
    LONG nSlot;
    LONG volatile dwThreadId;     /* owner thread */
    LONG volatile dwIdleThreadId; /* idle worker while one runs, else 0 */

    /* socket */
    SOCKET hSocket;               /* INVALID_SOCKET when none */

    /* session heap, created on first use */
    HANDLE volatile hHeap;

    /* event notification */
    HWND hNotifyWnd;              /* window the socket notifications go to */
    UINT uNotifyMsg;
    IMAPEVENTPROC lpEventProc[SESSION_EVENT_SLOTS];
    DWORD dwEventParam[SESSION_EVENT_SLOTS];
    HWND hEventWnd;               /* the application's window for events */
    UINT uEventMsg;
    UINT uEventMask;
    DWORD dwPendingNotify;
    BOOL bEventsFrozen;
    LONG volatile bInEventCallback;

    /* protocol engine */
    DWORD nCommandTag;            /* last tag number used, 1 to 9999 */
    LONG nCommandId;              /* the last command's table identifier */
    char szCommandLine[SESSION_COMMAND_SIZE];
    BOOL bStreamResponses;        /* the caller reads each untagged line */
    LONG nResultCode;
    LONG nResponseNumber;
    BOOL bTaggedResponse;
    char szResultString[SESSION_RESULT_SIZE];
    char szCapability[SESSION_CAPABILITY_SIZE];
    BOOL bAuthenticated;

    /* mailbox counters and attributes written by the response reader */
    LONG nMessages;
    LONG nRecentMessages;
    LONG nUnseenMessageId;
    DWORD dwFlags;
    DWORD dwPermanentFlags;
    DWORD dwMailboxUID;
    DWORD dwNextMessageUID;
    DWORD dwAccessMode;
    BOOL bMailboxSelected;

    /* timing and status; bBlocking, bCanceled and nStatus are read and
       written by other threads */
    LONG nTimeout;                /* seconds; 0 for no limit */
    LONG volatile bBlocking;
    LONG volatile bCanceled;
    LONG volatile nStatus;

    /* options given at connection (IMAP_OPTION_ bits) */
    DWORD dwOptions;

    /* engine flags */
    BOOL bCommandPending;         /* a completion (or the greeting) is awaited */
    BOOL bConnected;              /* the greeting has been read */
    BOOL bClosed;                 /* a receive returned 0 */
    BOOL bSecure;                 /* TLS is active */

    /* open message and transfer counters (counters read by other threads) */
    BOOL bMessageOpen;
    LONG nOpenMessageId;
    LONG volatile dwMessageLength;
    LONG volatile dwMessageRead;
    LONG volatile dwTransferStart;
    LONG volatile dwTransferEnd;
    LONG volatile bUploading;

    /* message download: global-memory block of a download in progress */
    HGLOBAL hMessageBuffer;

    /* server */
    INTERNET_ADDRESS ipRemoteAddress;
    LONG nRemotePort;
    char szHostName[SESSION_HOSTNAME_SIZE];

    /* receive buffer: cbReceived bytes from nReceivePos on are not yet
       handed out */
    BYTE rgbReceive[SESSION_RECEIVE_SIZE];
    LONG cbReceived;
    LONG nReceivePos;

    /* TLS buffers, allocated with the record from the session heap */
    LPBYTE lpRecordBuffer;
    LPBYTE lpPlainBuffer;
};

/* Sessions are created only while the library is initialized. Returns the
   new handle or INVALID_CLIENT with the last error set. */
HCLIENT AllocateSession(void);

/* Closes and frees a session; ignored when the calling thread does not own
   it (unless the session is free-threaded). Keeps the caller's last error. */
void ReleaseSession(HCLIENT hClient);

/* Lookup with the ownership test: NULL with TW_ERROR_INVALID_HANDLE or
   TW_ERROR_NOT_HANDLE_OWNER. */
CLIENTSESSION *FindSession(HCLIENT hClient);

/* Lookup from any thread: NULL with TW_ERROR_INVALID_HANDLE. */
CLIENTSESSION *FindSessionAnyThread(HCLIENT hClient);

/* The first session whose socket is s, with the ownership test (the idle
   worker does not count). */
CLIENTSESSION *FindSessionBySocket(SOCKET s);

/* The calling thread's session whose notification window is hwnd. */
HCLIENT FindSessionByWindow(HWND hwnd);

/* Slot lookup alone: no ownership test, no last error. */
CLIENTSESSION *LookupSession(HCLIENT hClient);

/* Releases every session, whichever thread owns it (library shutdown). */
void ReleaseAllSessions(void);

/* Forgets the table without freeing it (its memory goes with the library
   heap at process detach). */
void ForgetSessionTable(void);

/* Number of slots in the table (for tests and diagnostics). */
DWORD GetSessionTableSize(void);

#endif

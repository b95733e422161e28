/*
 * twmapav9.h - application interface of the Tidewire Internet Message Access
 * Protocol Library (TWMAPAV9.DLL on 32-bit Windows, libtwmapav9.so.9 on
 * Linux), version 9.5.
 *
 * An IMAP4rev1 client (RFC 3501) with IDLE (RFC 2177), UNSELECT (RFC 3691),
 * ID (RFC 2971), SASL-IR (RFC 4959) and STARTTLS, over plain TCP or TLS.
 *
 * Every function that takes or returns text exists as an A form (8-bit
 * strings; UTF-8 where the text came from a W call, ISO-8859-1 for mailbox
 * names) and a W form (UTF-16). Without a suffix the name selects the W form
 * when UNICODE is defined and the A form otherwise.
 *
 * Sessions are named by HCLIENT handles and belong to the thread that
 * created them. Every call blocks its caller for at most the session's
 * time-out unless events are enabled. Failures are reported by the result
 * (INVALID_CLIENT, IMAP_ERROR or FALSE) and by the calling thread's last
 * error, which ImapGetLastError returns and ImapGetErrorString turns into
 * text. The error codes are the TW_ERROR_ constants of twerrors.h.
 *
 * The records have the same layout as on 32-bit Windows wherever pointers
 * are 32 bits wide. On 64-bit targets a field that carries an address is
 * pointer-sized, so those records are larger there: always pass sizeof of
 * the record where a size field is asked for.
 *
 * The header compiles alone as C (C99 or later) and as C++.
 */
#ifndef TWMAPAV9_H
#define TWMAPAV9_H

#include "twtypes.h"
#include "twerrors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Handles and common results
 * ------------------------------------------------------------------------ */

/* A client session: the handle base (4096 to 4351) plus the session's slot. */
typedef INT HCLIENT;

#define INVALID_CLIENT              ((HCLIENT)-1)

/* Returned for a failed count, size, length, identifier or result code. */
#define IMAP_ERROR                  (-1)

/* ------------------------------------------------------------------------
 * Diagnostic tracing flags (ImapEnableTrace)
 * ------------------------------------------------------------------------ */

#define TRACE_DEFAULT               0x00000000
#define TRACE_INFO                  0x00000000
#define TRACE_ERROR                 0x00000001
#define TRACE_WARNING               0x00000002
#define TRACE_HEXDUMP               0x00000004
#define TRACE_PROCESS               0x00001000

/* ------------------------------------------------------------------------
 * Security: protocols, algorithms and certificate status (SECURITYINFO,
 * SECURITYCREDENTIALS)
 * ------------------------------------------------------------------------ */

/* Protocol bits to enable (SECURITYCREDENTIALS.dwProtocol) and the protocol
   negotiated (SECURITYINFO.dwProtocol). */
#define SECURITY_PROTOCOL_SSL2      0x00000001
#define SECURITY_PROTOCOL_SSL3      0x00000002
#define SECURITY_PROTOCOL_TLS10     0x00000004
#define SECURITY_PROTOCOL_TLS11     0x00000008
#define SECURITY_PROTOCOL_TLS12     0x00000010
#define SECURITY_PROTOCOL_DEFAULT   SECURITY_PROTOCOL_TLS12
#define SECURITY_PROTOCOL_UNKNOWN   0x00001000

/* Bulk cipher of the connection. BLOWFISH and NONE are never reported. */
#define SECURITY_CIPHER_NONE        0x00000000
#define SECURITY_CIPHER_RC2         0x00000001
#define SECURITY_CIPHER_RC4         0x00000002
#define SECURITY_CIPHER_RC5         0x00000004
#define SECURITY_CIPHER_DES         0x00000008
#define SECURITY_CIPHER_DES3        0x00000010
#define SECURITY_CIPHER_DESX        0x00000020
#define SECURITY_CIPHER_AES         0x00000040
#define SECURITY_CIPHER_SKIPJACK    0x00000080
#define SECURITY_CIPHER_BLOWFISH    0x00000100
#define SECURITY_CIPHER_UNKNOWN     0x00001000

/* Message authentication hash of the connection. */
#define SECURITY_HASH_MD5           0x00000001
#define SECURITY_HASH_SHA1          0x00000002
#define SECURITY_HASH_SHA256        0x00000004
#define SECURITY_HASH_SHA384        0x00000008
#define SECURITY_HASH_SHA512        0x00000010
#define SECURITY_HASH_UNKNOWN       0x00001000

/* Key exchange of the connection. */
#define SECURITY_KEYEX_RSA          0x00000001
#define SECURITY_KEYEX_KEA          0x00000002
#define SECURITY_KEYEX_DH           0x00000004
#define SECURITY_KEYEX_ECDH         0x00000008
#define SECURITY_KEYEX_UNKNOWN      0x00001000

/* Outcome of the server certificate check. NONE: the session is not secure. */
#define SECURITY_CERTIFICATE_NONE       0
#define SECURITY_CERTIFICATE_VALID      1
#define SECURITY_CERTIFICATE_NOMATCH    2
#define SECURITY_CERTIFICATE_EXPIRED    3
#define SECURITY_CERTIFICATE_REVOKED    4
#define SECURITY_CERTIFICATE_UNTRUSTED  5
#define SECURITY_CERTIFICATE_INVALID    6

/* Where the client certificate comes from (SECURITYCREDENTIALS.dwOptions);
   0 means CREDENTIAL_CURRENT_USER. */
#define CREDENTIAL_CURRENT_USER         0x00000001
#define CREDENTIAL_LOCAL_MACHINE        0x00000002
#define CREDENTIAL_CERTIFICATE_FILE     0x00000004

/* ------------------------------------------------------------------------
 * Connection options (ImapConnect, ImapAsyncConnect)
 * ------------------------------------------------------------------------ */

#define IMAP_OPTION_NONE            0x00000000
#define IMAP_OPTION_DEFAULT         0x00000000
#define IMAP_OPTION_IDENTIFY        0x00000001  /* send ID when the server offers it */
#define IMAP_OPTION_TUNNEL          0x00000400  /* no implicit TLS on port 993 */
#define IMAP_OPTION_TRUSTEDSITE     0x00000800  /* do not check the server certificate */
#define IMAP_OPTION_SECURE          0x00001000  /* TLS; STARTTLS unless implicit */
#define IMAP_OPTION_SECURE_EXPLICIT 0x00001000
#define IMAP_OPTION_SECURE_IMPLICIT 0x00002000  /* TLS from the first byte */
#define IMAP_OPTION_SECURE_FALLBACK 0x00008000  /* also allow TLS 1.0 */
#define IMAP_OPTION_IPV6ONLY        0x00040000
#define IMAP_OPTION_FREETHREAD      0x00080000  /* any thread may use the session */

#define IMAP_PORT_DEFAULT           143
#define IMAP_PORT_SECURE            993

/* Default session time-out in seconds. */
#define IMAP_TIMEOUT                20

/* ------------------------------------------------------------------------
 * Authentication mechanisms (ImapLogin)
 * ------------------------------------------------------------------------ */

#define IMAP_AUTH_LOGIN             0
#define IMAP_AUTH_DEFAULT           0
#define IMAP_AUTH_PLAIN             1
#define IMAP_AUTH_CRAM_MD5          2
#define IMAP_AUTH_NTLM              3
#define IMAP_AUTH_ANONYMOUS         255

/* ------------------------------------------------------------------------
 * Command results (ImapCommand, ImapGetResultCode)
 * ------------------------------------------------------------------------ */

#define IMAP_RESULT_UNKNOWN         0
#define IMAP_RESULT_OK              1
#define IMAP_RESULT_NO              2
#define IMAP_RESULT_BAD             3
#define IMAP_RESULT_CONTINUE        4

/* ------------------------------------------------------------------------
 * Mailbox access mode (IMAPMAILBOX.dwAccessMode)
 * ------------------------------------------------------------------------ */

#define IMAP_ACCESS_READONLY        0
#define IMAP_ACCESS_READWRITE       1

/* ------------------------------------------------------------------------
 * Flag word: message flags in the low 16 bits, mailbox attributes in the
 * high 16 bits. IMAP_FLAG_URGENT is the IMAP \Flagged flag.
 * ------------------------------------------------------------------------ */

#define IMAP_FLAG_NONE              0x00000000
#define IMAP_FLAG_ANSWERED          0x00000001
#define IMAP_FLAG_DRAFT             0x00000002
#define IMAP_FLAG_URGENT            0x00000004
#define IMAP_FLAG_SEEN              0x00000008
#define IMAP_FLAG_RECENT            0x00000100
#define IMAP_FLAG_DELETED           0x00000200
#define IMAP_FLAG_NOINFERIORS       0x00010000
#define IMAP_FLAG_NOSELECT          0x00020000
#define IMAP_FLAG_MARKED            0x00040000
#define IMAP_FLAG_UNMARKED          0x00080000

/* How ImapSetMessageFlags applies the flags. */
#define IMAP_FLAGS_REPLACE          0
#define IMAP_FLAGS_ADD              1
#define IMAP_FLAGS_REMOVE           2

/* ------------------------------------------------------------------------
 * Mailbox listing options (ImapGetFirstMailbox)
 * ------------------------------------------------------------------------ */

#define IMAP_LIST_DEFAULT           0x00000000  /* LIST "%", no hidden or \Noselect names */
#define IMAP_LIST_SUBSCRIBED        0x00000001  /* LSUB instead of LIST */
#define IMAP_LIST_FOLDERS           0x00000002  /* include \Noselect names */
#define IMAP_LIST_HIDDEN            0x00000004  /* include names beginning with "." */
#define IMAP_LIST_INFERIOR          0x00000008  /* default wildcard "*" */

/* ------------------------------------------------------------------------
 * Message sections and options (ImapOpenMessage, ImapOpenMessageEx,
 * ImapGetMessage, ImapCreateMessage)
 * ------------------------------------------------------------------------ */

#define IMAP_SECTION_DEFAULT        0x00000000  /* whole message or part */
#define IMAP_SECTION_HEADER         0x00000001
#define IMAP_SECTION_MIMEHEADER     0x00000002
#define IMAP_SECTION_BODY           0x00000004
#define IMAP_SECTION_PREVIEW        0x00001000  /* BODY.PEEK: leave \Seen alone */

#define IMAP_MESSAGE_HEADERS        0x10000000  /* the header only */
#define IMAP_MESSAGE_UNICODE        0x20000000  /* deliver UTF-8 data as UTF-16 */
#define IMAP_MESSAGE_HGLOBAL        0x40000000  /* the message is a global memory handle */

/* ------------------------------------------------------------------------
 * Session status (ImapGetStatus)
 * ------------------------------------------------------------------------ */

#define IMAP_STATUS_UNUSED          0
#define IMAP_STATUS_IDLE            1
#define IMAP_STATUS_CONNECT         2
#define IMAP_STATUS_READ            3
#define IMAP_STATUS_WRITE           4
#define IMAP_STATUS_DISCONNECT      5

/* ------------------------------------------------------------------------
 * Events (ImapEnableEventsEx, ImapRegisterEvent). The event message carries
 * the session handle in wParam, the event in the low word of lParam and the
 * low 16 bits of the error code (0 for none) in its high word.
 * ------------------------------------------------------------------------ */

#define IMAP_EVENT_CONNECT          0x00000001
#define IMAP_EVENT_DISCONNECT       0x00000002
#define IMAP_EVENT_READ             0x00000004
#define IMAP_EVENT_WRITE            0x00000008
#define IMAP_EVENT_TIMEOUT          0x00000010
#define IMAP_EVENT_CANCEL           0x00000020
#define IMAP_EVENT_COMMAND          0x00000040
#define IMAP_EVENT_PROGRESS         0x00000080

/* ------------------------------------------------------------------------
 * Callbacks
 * ------------------------------------------------------------------------ */

/* Event callback (ImapRegisterEvent): called on the thread that raises the
   event (the session's owner thread) with the event, its error code (0 for
   none) and the value given at registration. The return value is not read. */
typedef VOID (CALLBACK *IMAPEVENTPROC)(HCLIENT hClient, UINT nEventId,
                                       DWORD dwError, DWORD dwParam);

/* Idle procedure (ImapIdle): called on the IDLE worker thread for each
   server response. nEventId is 1 for EXISTS (nValue: message count), 2 for
   EXPUNGE (nValue: message number), 3 for RECENT (nValue: 0) and 0 for any
   other response (nValue: its number, or 0). The return value is not read. */
typedef VOID (CALLBACK *IMAPIDLEPROC)(HCLIENT hClient, UINT nEventId,
                                      UINT nValue, DWORD dwParam);

/* ------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------ */

/* Filled by ImapInitializeA; dwSize must be sizeof(INITDATA) (156 on 32-bit
   targets). On return dwReserved2 holds the address of the network
   start-up record when this call started the network interface. */
typedef struct __INITDATA {
    DWORD     dwSize;
    DWORD     dwVersionMajor;
    DWORD     dwVersionMinor;
    DWORD     dwVersionBuild;
    DWORD     dwOptions;
    DWORD     dwReserved1;
    DWORD_PTR dwReserved2;
    CHAR      szDescription[128];
} INITDATA, *LPINITDATA;

/* The UTF-16 form taken by ImapInitializeW (284 bytes on 32-bit targets). */
typedef struct __INITDATAW {
    DWORD     dwSize;
    DWORD     dwVersionMajor;
    DWORD     dwVersionMinor;
    DWORD     dwVersionBuild;
    DWORD     dwOptions;
    DWORD     dwReserved1;
    DWORD_PTR dwReserved2;
    WCHAR     szDescription[128];
} INITDATAW, *LPINITDATAW;

/* An IPv4 (ipFamily 2) or IPv6 (ipFamily 23) address in network byte order;
   an IPv4 address takes the first 4 bytes of ipNumber. */
typedef struct __INTERNET_ADDRESS {
    INT       ipFamily;
    BYTE      ipNumber[16];
} INTERNET_ADDRESS, *LPINTERNET_ADDRESS;

/* Progress of the current or last message transfer (ImapGetTransferStatus).
   Times are whole seconds. */
typedef struct _IMAPTRANSFERSTATUS {
    INT       nMessageId;
    DWORD     dwBytesTotal;
    DWORD     dwBytesCopied;
    DWORD     dwBytesPerSecond;
    DWORD     dwTimeElapsed;
    DWORD     dwTimeEstimated;
} IMAPTRANSFERSTATUS, *LPIMAPTRANSFERSTATUS;

/* TLS credentials given at connection; made by ImapCreateSecurityCredentials
   and freed by ImapDeleteSecurityCredentials, or filled in by the caller.
   dwSize is sizeof(SECURITYCREDENTIALS) (40 on 32-bit targets). */
typedef struct __SECURITYCREDENTIALS {
    DWORD     dwSize;
    DWORD     dwProtocol;       /* SECURITY_PROTOCOL_ bits; 0: default */
    DWORD     dwOptions;        /* CREDENTIAL_ store location */
    DWORD     dwReserved;
    LPCSTR    lpszHostName;     /* name to check the certificate against */
    LPCSTR    lpszUserName;
    LPCSTR    lpszPassword;     /* password of a certificate file */
    LPCSTR    lpszCertStore;    /* store name ("HKLM:", "HKCU:") or file */
    LPCSTR    lpszCertName;     /* client certificate; NULL or "" for none */
    LPCSTR    lpszKeyFile;
} SECURITYCREDENTIALS, *LPSECURITYCREDENTIALS;

/* The same with UTF-16 strings, for the W functions. */
typedef struct __SECURITYCREDENTIALSW {
    DWORD     dwSize;
    DWORD     dwProtocol;
    DWORD     dwOptions;
    DWORD     dwReserved;
    LPCWSTR   lpszHostName;
    LPCWSTR   lpszUserName;
    LPCWSTR   lpszPassword;
    LPCWSTR   lpszCertStore;
    LPCWSTR   lpszCertName;
    LPCWSTR   lpszKeyFile;
} SECURITYCREDENTIALSW, *LPSECURITYCREDENTIALSW;

/* Security of a session (ImapGetSecurityInformationA). The caller sets
   dwSize to at least sizeof(SECURITYINFO) (76 on 32-bit targets). The
   strings belong to the session and stay valid until the next call on it.
   Validity times are UTC. */
typedef struct __SECURITYINFO {
    DWORD      dwSize;
    DWORD      dwProtocol;      /* SECURITY_PROTOCOL_ */
    DWORD      dwCipher;        /* SECURITY_CIPHER_ */
    DWORD      dwCipherStrength;
    DWORD      dwHash;          /* SECURITY_HASH_ */
    DWORD      dwHashStrength;
    DWORD      dwKeyExchange;   /* SECURITY_KEYEX_ */
    DWORD      dwCertStatus;    /* SECURITY_CERTIFICATE_ */
    SYSTEMTIME stCertIssued;
    SYSTEMTIME stCertExpires;
    LPCSTR     lpszCertIssuer;
    LPCSTR     lpszCertSubject;
    LPCSTR     lpszFingerprint;
} SECURITYINFO, *LPSECURITYINFO;

/* The same with UTF-16 strings (ImapGetSecurityInformationW). */
typedef struct __SECURITYINFOW {
    DWORD      dwSize;
    DWORD      dwProtocol;
    DWORD      dwCipher;
    DWORD      dwCipherStrength;
    DWORD      dwHash;
    DWORD      dwHashStrength;
    DWORD      dwKeyExchange;
    DWORD      dwCertStatus;
    SYSTEMTIME stCertIssued;
    SYSTEMTIME stCertExpires;
    LPCWSTR    lpszCertIssuer;
    LPCWSTR    lpszCertSubject;
    LPCWSTR    lpszFingerprint;
} SECURITYINFOW, *LPSECURITYINFOW;

/* The selected mailbox (ImapSelectMailbox, ImapExamineMailbox, ...). dwFlags
   holds mailbox attributes only; dwPermanentFlags the flags the server keeps. */
typedef struct __IMAPMAILBOX {
    INT       nMessages;
    INT       nRecentMessages;
    INT       nUnseenMessageId;
    DWORD     dwMailboxUID;
    DWORD     dwNextMessageUID;
    DWORD     dwFlags;
    DWORD     dwPermanentFlags;
    DWORD     dwAccessMode;     /* IMAP_ACCESS_ */
    DWORD     dwReserved1;
    DWORD     dwReserved2;
} IMAPMAILBOX, *LPIMAPMAILBOX;

/* Status of any mailbox (ImapGetMailboxStatus). */
typedef struct __IMAPMAILBOXSTATUS {
    INT       nMessages;
    INT       nRecentMessages;
    INT       nUnseenMessages;
    DWORD     dwMailboxUID;
    DWORD     dwNextMessageUID;
    DWORD     dwReserved;
} IMAPMAILBOXSTATUS, *LPIMAPMAILBOXSTATUS;

/* One message of ImapEnumMessages. dwTimestamp: the internal date in
   seconds since 1970-01-01 00:00:00 UTC, 0 when unknown. */
typedef struct __IMAPMESSAGE {
    INT       nMessageId;
    DWORD     dwMessageUID;
    DWORD     dwSize;
    DWORD     dwFlags;
    DWORD     dwTimestamp;
    DWORD     dwReserved;
} IMAPMESSAGE, *LPIMAPMESSAGE;

/* ------------------------------------------------------------------------
 * Library lifetime, errors and tracing
 * ------------------------------------------------------------------------ */

/* Counted: each successful call needs its own ImapUninitialize. lpData may
   be NULL. TRUE, or FALSE with the last error set. */
BOOL  WINAPI ImapInitializeA(LPCSTR lpszReserved, INITDATA *lpData);
BOOL  WINAPI ImapInitializeW(LPCWSTR lpszReserved, INITDATAW *lpData);
/* The call that brings the count to 0 closes every session (no LOGOUT). */
VOID  WINAPI ImapUninitialize(VOID);

DWORD WINAPI ImapGetLastError(VOID);
/* Values 1 to 0xFFFF are taken as low words of a TW_ERROR_ code. */
VOID  WINAPI ImapSetLastError(DWORD dwError);
/* The text of dwError (0: the last error); its length, 0 when there is none. */
INT   WINAPI ImapGetErrorStringA(DWORD dwError, LPSTR lpszError, INT nMaxLength);
INT   WINAPI ImapGetErrorStringW(DWORD dwError, LPWSTR lpszError, INT nMaxLength);

BOOL  WINAPI ImapEnableTraceA(LPCSTR lpszTraceFile, DWORD dwTraceFlags);
BOOL  WINAPI ImapEnableTraceW(LPCWSTR lpszTraceFile, DWORD dwTraceFlags);
INT   WINAPI ImapDisableTrace(VOID);

/* ------------------------------------------------------------------------
 * Sessions and transport
 * ------------------------------------------------------------------------ */

/* Makes dwThreadId (0: the calling thread) the owner of the session and
   returns the previous owner, or (DWORD)-1. */
DWORD WINAPI ImapAttachThread(HCLIENT hClient, DWORD dwThreadId);

/* Any thread may call ImapIsBlocking, ImapCancel, ImapGetStatus and
   ImapGetTransferStatus; the rest belong to the owner thread. */
BOOL  WINAPI ImapIsBlocking(HCLIENT hClient);
BOOL  WINAPI ImapIsConnected(HCLIENT hClient);
/* nTimeout in milliseconds. */
BOOL  WINAPI ImapIsReadable(HCLIENT hClient, INT nTimeout, LPDWORD lpdwAvail);
BOOL  WINAPI ImapIsWritable(HCLIENT hClient, INT nTimeout);
/* Session time-out in seconds; 0 for no limit. */
INT   WINAPI ImapGetTimeout(HCLIENT hClient);
INT   WINAPI ImapSetTimeout(HCLIENT hClient, INT nTimeout);
INT   WINAPI ImapCancel(HCLIENT hClient);
INT   WINAPI ImapGetStatus(HCLIENT hClient);

/* Raw data channel: with a message open, its data; otherwise the server's
   responses as they arrive. */
INT   WINAPI ImapRead(HCLIENT hClient, LPBYTE lpBuffer, INT cbBuffer);
INT   WINAPI ImapWrite(HCLIENT hClient, LPCBYTE lpBuffer, INT cbBuffer);
INT   WINAPI ImapGetTransferStatus(HCLIENT hClient, IMAPTRANSFERSTATUS *lpStatus);

/* ------------------------------------------------------------------------
 * Security
 * ------------------------------------------------------------------------ */

/* The record made is one block owned by the caller: free it with
   ImapDeleteSecurityCredentials. */
BOOL  WINAPI ImapCreateSecurityCredentialsA(DWORD dwProtocol, DWORD dwOptions,
                                            LPCSTR lpszUserName, LPCSTR lpszPassword,
                                            LPCSTR lpszCertStore, LPCSTR lpszCertName,
                                            LPVOID lpvReserved,
                                            LPSECURITYCREDENTIALS *lppCredentials);
BOOL  WINAPI ImapCreateSecurityCredentialsW(DWORD dwProtocol, DWORD dwOptions,
                                            LPCWSTR lpszUserName, LPCWSTR lpszPassword,
                                            LPCWSTR lpszCertStore, LPCWSTR lpszCertName,
                                            LPVOID lpvReserved,
                                            LPSECURITYCREDENTIALSW *lppCredentials);
/* Frees *lppCredentials and sets it to NULL. */
VOID  WINAPI ImapDeleteSecurityCredentialsA(LPSECURITYCREDENTIALS *lppCredentials);
VOID  WINAPI ImapDeleteSecurityCredentialsW(LPSECURITYCREDENTIALSW *lppCredentials);

BOOL  WINAPI ImapGetSecurityInformationA(HCLIENT hClient, SECURITYINFO *lpSecurityInfo);
BOOL  WINAPI ImapGetSecurityInformationW(HCLIENT hClient, SECURITYINFOW *lpSecurityInfo);

/* ------------------------------------------------------------------------
 * Protocol: connection, commands, authentication
 * ------------------------------------------------------------------------ */

/* With hEventWnd the call returns once the connect is under way and the
   outcome arrives as IMAP_EVENT_CONNECT; without it the call blocks. A port
   of 0 means IMAP_PORT_DEFAULT (IMAP_PORT_SECURE for implicit TLS), a
   time-out of 0 means IMAP_TIMEOUT. */
HCLIENT WINAPI ImapAsyncConnectA(LPCSTR lpszHostName, INT nRemotePort, INT nTimeout,
                                 DWORD dwOptions, SECURITYCREDENTIALS *lpCredentials,
                                 HWND hEventWnd, UINT uEventMsg);
HCLIENT WINAPI ImapAsyncConnectW(LPCWSTR lpszHostName, INT nRemotePort, INT nTimeout,
                                 DWORD dwOptions, SECURITYCREDENTIALSW *lpCredentials,
                                 HWND hEventWnd, UINT uEventMsg);
HCLIENT WINAPI ImapConnectA(LPCSTR lpszHostName, INT nPort, INT nTimeout,
                            DWORD dwOptions, SECURITYCREDENTIALS *lpCredentials);
HCLIENT WINAPI ImapConnectW(LPCWSTR lpszHostName, INT nPort, INT nTimeout,
                            DWORD dwOptions, SECURITYCREDENTIALSW *lpCredentials);
/* Ends an IDLE, closes the mailbox, sends LOGOUT and frees the session. */
INT   WINAPI ImapDisconnect(HCLIENT hClient);

/* Sends "lpszCommand lpszParam" with the next tag and returns the result of
   its completion (IMAP_RESULT_OK, IMAP_RESULT_CONTINUE, ...), or IMAP_ERROR;
   NO and BAD completions give IMAP_ERROR. */
INT   WINAPI ImapCommandA(HCLIENT hClient, LPCSTR lpszCommand, LPCSTR lpszParam);
INT   WINAPI ImapCommandW(HCLIENT hClient, LPCWSTR lpszCommand, LPCWSTR lpszParam);
INT   WINAPI ImapGetResultCode(HCLIENT hClient);
INT   WINAPI ImapGetResultStringA(HCLIENT hClient, LPSTR lpszMessage, INT cbMessage);
INT   WINAPI ImapGetResultStringW(HCLIENT hClient, LPWSTR lpszMessage, INT cbMessage);

/* idAuthType: IMAP_AUTH_. */
INT   WINAPI ImapLoginA(HCLIENT hClient, INT idAuthType, LPCSTR lpszUserName,
                        LPCSTR lpszPassword);
INT   WINAPI ImapLoginW(HCLIENT hClient, INT idAuthType, LPCWSTR lpszUserName,
                        LPCWSTR lpszPassword);
INT   WINAPI ImapGetCapabilityA(HCLIENT hClient, LPSTR lpszCapability, INT nMaxLength);
INT   WINAPI ImapGetCapabilityW(HCLIENT hClient, LPWSTR lpszCapability, INT nMaxLength);

/* ------------------------------------------------------------------------
 * Mailboxes. A mailbox name of an A function is ISO-8859-1 text; the
 * library converts it to the modified UTF-7 form the server uses.
 * lpMailboxInfo may be NULL.
 * ------------------------------------------------------------------------ */

INT   WINAPI ImapSelectMailboxA(HCLIENT hClient, LPCSTR lpszMailbox, IMAPMAILBOX *lpMailboxInfo);
INT   WINAPI ImapSelectMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox, IMAPMAILBOX *lpMailboxInfo);
INT   WINAPI ImapExamineMailboxA(HCLIENT hClient, LPCSTR lpszMailbox, IMAPMAILBOX *lpMailboxInfo);
INT   WINAPI ImapExamineMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox, IMAPMAILBOX *lpMailboxInfo);
INT   WINAPI ImapReselectMailbox(HCLIENT hClient, IMAPMAILBOX *lpMailboxInfo);
/* bExpunge: close with CLOSE, removing the messages marked deleted. */
INT   WINAPI ImapUnselectMailbox(HCLIENT hClient, BOOL bExpunge);
INT   WINAPI ImapExpungeMailbox(HCLIENT hClient, IMAPMAILBOX *lpMailboxInfo);
INT   WINAPI ImapCheckMailbox(HCLIENT hClient, LPINT lpnMessages, LPINT lpnUnseen);

/* Listing: dwOptions IMAP_LIST_; each call returns the name's length. */
INT   WINAPI ImapGetFirstMailboxA(HCLIENT hClient, LPCSTR lpszReference, LPCSTR lpszWildcard,
                                  DWORD dwOptions, LPVOID lpvReserved, LPSTR lpszMailbox,
                                  INT nMaxLength, LPDWORD lpdwFlags);
INT   WINAPI ImapGetFirstMailboxW(HCLIENT hClient, LPCWSTR lpszReference, LPCWSTR lpszWildcard,
                                  DWORD dwOptions, LPVOID lpvReserved, LPWSTR lpszMailbox,
                                  INT nMaxLength, LPDWORD lpdwFlags);
INT   WINAPI ImapGetNextMailboxA(HCLIENT hClient, LPSTR lpszMailbox, INT nMaxLength,
                                 LPDWORD lpdwFlags);
INT   WINAPI ImapGetNextMailboxW(HCLIENT hClient, LPWSTR lpszMailbox, INT nMaxLength,
                                 LPDWORD lpdwFlags);
INT   WINAPI ImapGetMailboxDelimiterA(HCLIENT hClient, LPCSTR lpszMailbox,
                                      LPSTR lpszDelimiter, INT nMaxLength);
INT   WINAPI ImapGetMailboxDelimiterW(HCLIENT hClient, LPCWSTR lpszMailbox,
                                      LPWSTR lpszDelimiter, INT nMaxLength);
INT   WINAPI ImapGetCurrentMailboxA(HCLIENT hClient, LPSTR lpszMailbox, INT nMaxLength);
INT   WINAPI ImapGetCurrentMailboxW(HCLIENT hClient, LPWSTR lpszMailbox, INT nMaxLength);

/* Management: IMAP_RESULT_OK or IMAP_ERROR. */
INT   WINAPI ImapCreateMailboxA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapCreateMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox);
INT   WINAPI ImapDeleteMailboxA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapDeleteMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox);
INT   WINAPI ImapRenameMailboxA(HCLIENT hClient, LPCSTR lpszOldMailbox, LPCSTR lpszNewMailbox);
INT   WINAPI ImapRenameMailboxW(HCLIENT hClient, LPCWSTR lpszOldMailbox, LPCWSTR lpszNewMailbox);
INT   WINAPI ImapSubscribeMailboxA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapSubscribeMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox);
INT   WINAPI ImapUnsubscribeMailboxA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapUnsubscribeMailboxW(HCLIENT hClient, LPCWSTR lpszMailbox);
INT   WINAPI ImapGetMailboxStatusA(HCLIENT hClient, LPCSTR lpszMailbox, IMAPMAILBOXSTATUS *lpStatus);
INT   WINAPI ImapGetMailboxStatusW(HCLIENT hClient, LPCWSTR lpszMailbox, IMAPMAILBOXSTATUS *lpStatus);
/* The UIDVALIDITY value of lpszMailbox, or of the selected mailbox when it
   is NULL or ""; 0 or (DWORD)-1 on failure. */
DWORD WINAPI ImapGetMailboxUIDA(HCLIENT hClient, LPCSTR lpszMailbox);
DWORD WINAPI ImapGetMailboxUIDW(HCLIENT hClient, LPCWSTR lpszMailbox);
/* Total size in bytes of the mailbox's messages. */
INT   WINAPI ImapGetMailboxSizeA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapGetMailboxSizeW(HCLIENT hClient, LPCWSTR lpszMailbox);

/* Search of the selected mailbox: the number of messages found, their
   numbers in lpnMessageIds (which may be NULL). */
INT   WINAPI ImapSearchMailboxA(HCLIENT hClient, LPCSTR lpszCriteria, LPCSTR lpszCharacterSet,
                                DWORD dwReserved, LPINT lpnMessageIds, INT nMaxMessages);
INT   WINAPI ImapSearchMailboxW(HCLIENT hClient, LPCWSTR lpszCriteria, LPCWSTR lpszCharacterSet,
                                DWORD dwReserved, LPINT lpnMessageIds, INT nMaxMessages);
INT   WINAPI ImapGetDeletedMessages(HCLIENT hClient, LPINT lpnMessageIds, INT nMaxMessages);
INT   WINAPI ImapGetNewMessages(HCLIENT hClient, LPINT lpnMessageIds, INT nMaxMessages);
INT   WINAPI ImapGetUnseenMessages(HCLIENT hClient, LPINT lpnMessageIds, INT nMaxMessages);

/* Not available: these fail with TW_ERROR_NOT_IMPLEMENTED. */
INT   WINAPI ImapSortMailboxA(HCLIENT hClient, LPCSTR lpszSortCriteria, LPCSTR lpszSearchCriteria,
                              LPCSTR lpszCharacterSet, DWORD dwReserved, LPINT lpnMessageIds,
                              INT nMaxMessages);
INT   WINAPI ImapSortMailboxW(HCLIENT hClient, LPCWSTR lpszSortCriteria, LPCWSTR lpszSearchCriteria,
                              LPCWSTR lpszCharacterSet, DWORD dwReserved, LPINT lpnMessageIds,
                              INT nMaxMessages);
INT   WINAPI ImapGetMailboxQuotaA(HCLIENT hClient, LPCSTR lpszMailbox);
INT   WINAPI ImapGetMailboxQuotaW(HCLIENT hClient, LPCWSTR lpszMailbox);
INT   WINAPI ImapSetMailboxQuotaA(HCLIENT hClient, LPCSTR lpszMailbox, DWORD dwQuota);
INT   WINAPI ImapSetMailboxQuotaW(HCLIENT hClient, LPCWSTR lpszMailbox, DWORD dwQuota);

/* ------------------------------------------------------------------------
 * Messages of the selected mailbox, by sequence number
 * ------------------------------------------------------------------------ */

/* Opens a message (or a section of it, or a byte range of that) for
   ImapRead; 10 when it is open. dwReserved: IMAP_SECTION_ and
   IMAP_MESSAGE_HEADERS bits. */
INT   WINAPI ImapOpenMessage(HCLIENT hClient, INT nMessageId, DWORD dwReserved);
INT   WINAPI ImapOpenMessageEx(HCLIENT hClient, INT nMessageId, INT nMessagePart,
                               DWORD dwOffset, LPDWORD lpdwLength, DWORD dwReserved);
INT   WINAPI ImapCloseMessage(HCLIENT hClient);

/* Downloads into memory. *lpdwLength 0: a new global memory block is stored
   at lpvMessage (as an HGLOBAL) and the caller frees it with GlobalFree;
   otherwise lpvMessage is a buffer of *lpdwLength bytes (or UTF-16 units
   with IMAP_MESSAGE_UNICODE). *lpdwLength receives the length. */
INT   WINAPI ImapGetMessage(HCLIENT hClient, INT nMessageId, INT nMessagePart,
                            LPVOID lpvMessage, LPDWORD lpdwLength, DWORD dwOptions);
INT   WINAPI ImapGetMessageHeaders(HCLIENT hClient, INT nMessageId, LPVOID lpHeader,
                                   LPDWORD lpdwLength);
/* Writes the message to a file, or with no file name to the clipboard. */
INT   WINAPI ImapStoreMessageA(HCLIENT hClient, INT nMessageId, LPCSTR lpszFileName);
INT   WINAPI ImapStoreMessageW(HCLIENT hClient, INT nMessageId, LPCWSTR lpszFileName);

INT   WINAPI ImapGetMessageParts(HCLIENT hClient, INT nMessageId);
INT   WINAPI ImapGetHeaderValueA(HCLIENT hClient, INT nMessageId, LPCSTR lpszHeader,
                                 LPSTR lpszValue, INT nMaxLength);
INT   WINAPI ImapGetHeaderValueW(HCLIENT hClient, INT nMessageId, LPCWSTR lpszHeader,
                                 LPWSTR lpszValue, INT nMaxLength);
INT   WINAPI ImapGetHeaderValueExA(HCLIENT hClient, INT nMessageId, INT nMessagePart,
                                   LPVOID lpvReserved, LPCSTR lpszHeader, LPSTR lpszValue,
                                   INT nMaxLength);
INT   WINAPI ImapGetHeaderValueExW(HCLIENT hClient, INT nMessageId, INT nMessagePart,
                                   LPVOID lpvReserved, LPCWSTR lpszHeader, LPWSTR lpszValue,
                                   INT nMaxLength);
INT   WINAPI ImapGetMessageSenderA(HCLIENT hClient, INT nMessageId, LPSTR lpszAddress,
                                   INT nMaxLength);
INT   WINAPI ImapGetMessageSenderW(HCLIENT hClient, INT nMessageId, LPWSTR lpszAddress,
                                   INT nMaxLength);
INT   WINAPI ImapGetMessageIdA(HCLIENT hClient, INT nMessageId, LPSTR lpszMessageId,
                               INT nMaxLength);
INT   WINAPI ImapGetMessageIdW(HCLIENT hClient, INT nMessageId, LPWSTR lpszMessageId,
                               INT nMaxLength);

/* nLastMessageId -1: up to the last message. dwMessageFlags 0 keeps every
   message, otherwise those sharing a flag with it. */
INT   WINAPI ImapEnumMessages(HCLIENT hClient, INT nFirstMessageId, INT nLastMessageId,
                              DWORD dwMessageFlags, DWORD dwReserved,
                              IMAPMESSAGE *lpMessageList, INT nMaxMessages);

/* Appends a message (dwReserved 0: lpvMessage points at the bytes;
   IMAP_MESSAGE_HGLOBAL: it is a global memory handle) to lpszMailbox, or to
   the selected mailbox when that is NULL or "". dwLength 0: up to the
   terminating zero. */
INT   WINAPI ImapCreateMessageA(HCLIENT hClient, LPCSTR lpszMailbox, DWORD dwReserved,
                                LPVOID lpvMessage, DWORD dwLength, DWORD dwFlags);
INT   WINAPI ImapCreateMessageW(HCLIENT hClient, LPCWSTR lpszMailbox, DWORD dwReserved,
                                LPVOID lpvMessage, DWORD dwLength, DWORD dwFlags);
INT   WINAPI ImapCopyMessageA(HCLIENT hClient, INT nMessageId, LPCSTR lpszMailbox);
INT   WINAPI ImapCopyMessageW(HCLIENT hClient, INT nMessageId, LPCWSTR lpszMailbox);

INT   WINAPI ImapGetMessageCount(HCLIENT hClient);
INT   WINAPI ImapGetMessageCountEx(HCLIENT hClient, LPINT lpnLastMessage,
                                   LPDWORD lpdwMailboxSize);

INT   WINAPI ImapGetMessageSize(HCLIENT hClient, INT nMessageId);
INT   WINAPI ImapGetMessageUid(HCLIENT hClient, INT nMessageId);
INT   WINAPI ImapGetMessageFlags(HCLIENT hClient, INT nMessageId, LPDWORD lpdwMessageFlags);
/* nMode: IMAP_FLAGS_REPLACE, IMAP_FLAGS_ADD or IMAP_FLAGS_REMOVE. */
INT   WINAPI ImapSetMessageFlags(HCLIENT hClient, INT nMessageId, INT nMode,
                                 DWORD dwMessageFlags);
INT   WINAPI ImapDeleteMessage(HCLIENT hClient, INT nMessageId);
INT   WINAPI ImapUndeleteMessage(HCLIENT hClient, INT nMessageId);

/* ------------------------------------------------------------------------
 * Events and IDLE
 * ------------------------------------------------------------------------ */

/* Event messages uEventMsg (WM_USER or above) to hEventWnd for the events
   in uEventMask (IMAP_EVENT_ bits; ImapEnableEvents: all of them). */
INT   WINAPI ImapEnableEvents(HCLIENT hClient, HWND hEventWnd, UINT uEventMsg);
INT   WINAPI ImapEnableEventsEx(HCLIENT hClient, HWND hEventWnd, UINT uEventMsg,
                                UINT uEventMask);
INT   WINAPI ImapDisableEvents(HCLIENT hClient);
INT   WINAPI ImapFreezeEvents(HCLIENT hClient, BOOL bFreeze);
/* Calls lpEventProc for each event bit in nEventId; NULL removes it. */
INT   WINAPI ImapRegisterEvent(HCLIENT hClient, UINT nEventId, IMAPEVENTPROC lpEventProc,
                               DWORD dwParam);

/* Starts IDLE on a worker thread that calls lpfnIdleProc for each server
   response until the next command on the session (or ImapCancel) ends it.
   nTimeout in seconds, 0 for none; dwOptions bit 0 (1) ends the IDLE after
   the first response. */
INT   WINAPI ImapIdle(HCLIENT hClient, INT nTimeout, DWORD dwOptions,
                      IMAPIDLEPROC lpfnIdleProc, DWORD dwParam);
DWORD WINAPI ImapGetIdleThreadId(HCLIENT hClient);

/* ------------------------------------------------------------------------
 * Names without suffix
 * ------------------------------------------------------------------------ */

#ifdef UNICODE
#define ImapInitialize                  ImapInitializeW
#define ImapGetErrorString              ImapGetErrorStringW
#define ImapEnableTrace                 ImapEnableTraceW
#define ImapCreateSecurityCredentials   ImapCreateSecurityCredentialsW
#define ImapDeleteSecurityCredentials   ImapDeleteSecurityCredentialsW
#define ImapGetSecurityInformation      ImapGetSecurityInformationW
#define ImapAsyncConnect                ImapAsyncConnectW
#define ImapConnect                     ImapConnectW
#define ImapCommand                     ImapCommandW
#define ImapGetResultString             ImapGetResultStringW
#define ImapLogin                       ImapLoginW
#define ImapGetCapability               ImapGetCapabilityW
#define ImapSelectMailbox               ImapSelectMailboxW
#define ImapExamineMailbox              ImapExamineMailboxW
#define ImapGetFirstMailbox             ImapGetFirstMailboxW
#define ImapGetNextMailbox              ImapGetNextMailboxW
#define ImapGetMailboxDelimiter         ImapGetMailboxDelimiterW
#define ImapGetCurrentMailbox           ImapGetCurrentMailboxW
#define ImapCreateMailbox               ImapCreateMailboxW
#define ImapDeleteMailbox               ImapDeleteMailboxW
#define ImapRenameMailbox               ImapRenameMailboxW
#define ImapSubscribeMailbox            ImapSubscribeMailboxW
#define ImapUnsubscribeMailbox          ImapUnsubscribeMailboxW
#define ImapGetMailboxStatus            ImapGetMailboxStatusW
#define ImapGetMailboxUID               ImapGetMailboxUIDW
#define ImapGetMailboxSize              ImapGetMailboxSizeW
#define ImapSearchMailbox               ImapSearchMailboxW
#define ImapSortMailbox                 ImapSortMailboxW
#define ImapGetMailboxQuota             ImapGetMailboxQuotaW
#define ImapSetMailboxQuota             ImapSetMailboxQuotaW
#define ImapStoreMessage                ImapStoreMessageW
#define ImapGetHeaderValue              ImapGetHeaderValueW
#define ImapGetHeaderValueEx            ImapGetHeaderValueExW
#define ImapGetMessageSender            ImapGetMessageSenderW
#define ImapGetMessageId                ImapGetMessageIdW
#define ImapCreateMessage               ImapCreateMessageW
#define ImapCopyMessage                 ImapCopyMessageW
#else
#define ImapInitialize                  ImapInitializeA
#define ImapGetErrorString              ImapGetErrorStringA
#define ImapEnableTrace                 ImapEnableTraceA
#define ImapCreateSecurityCredentials   ImapCreateSecurityCredentialsA
#define ImapDeleteSecurityCredentials   ImapDeleteSecurityCredentialsA
#define ImapGetSecurityInformation      ImapGetSecurityInformationA
#define ImapAsyncConnect                ImapAsyncConnectA
#define ImapConnect                     ImapConnectA
#define ImapCommand                     ImapCommandA
#define ImapGetResultString             ImapGetResultStringA
#define ImapLogin                       ImapLoginA
#define ImapGetCapability               ImapGetCapabilityA
#define ImapSelectMailbox               ImapSelectMailboxA
#define ImapExamineMailbox              ImapExamineMailboxA
#define ImapGetFirstMailbox             ImapGetFirstMailboxA
#define ImapGetNextMailbox              ImapGetNextMailboxA
#define ImapGetMailboxDelimiter         ImapGetMailboxDelimiterA
#define ImapGetCurrentMailbox           ImapGetCurrentMailboxA
#define ImapCreateMailbox               ImapCreateMailboxA
#define ImapDeleteMailbox               ImapDeleteMailboxA
#define ImapRenameMailbox               ImapRenameMailboxA
#define ImapSubscribeMailbox            ImapSubscribeMailboxA
#define ImapUnsubscribeMailbox          ImapUnsubscribeMailboxA
#define ImapGetMailboxStatus            ImapGetMailboxStatusA
#define ImapGetMailboxUID               ImapGetMailboxUIDA
#define ImapGetMailboxSize              ImapGetMailboxSizeA
#define ImapSearchMailbox               ImapSearchMailboxA
#define ImapSortMailbox                 ImapSortMailboxA
#define ImapGetMailboxQuota             ImapGetMailboxQuotaA
#define ImapSetMailboxQuota             ImapSetMailboxQuotaA
#define ImapStoreMessage                ImapStoreMessageA
#define ImapGetHeaderValue              ImapGetHeaderValueA
#define ImapGetHeaderValueEx            ImapGetHeaderValueExA
#define ImapGetMessageSender            ImapGetMessageSenderA
#define ImapGetMessageId                ImapGetMessageIdA
#define ImapCreateMessage               ImapCreateMessageA
#define ImapCopyMessage                 ImapCopyMessageA
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ------------------------------------------------------------------------
 * Record layout. Where pointers are 32 bits wide the records must match the
 * DLL's binary interface byte for byte; these checks hold the layout at
 * compile time wherever the compiler offers static assertions.
 * ------------------------------------------------------------------------ */

#if defined(__cplusplus) && __cplusplus >= 201103L
#define TW_LAYOUT_ASSERT(expr, msg) static_assert(expr, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define TW_LAYOUT_ASSERT(expr, msg) _Static_assert(expr, msg)
#endif

#if defined(TW_LAYOUT_ASSERT) && \
    ((defined(_WIN32) && !defined(_WIN64)) || \
     (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4))
#include <stddef.h>

#define TW_LAYOUT_OFFSET(type, field, off) \
    TW_LAYOUT_ASSERT(offsetof(type, field) == (off), #type "." #field " at offset " #off)
#define TW_LAYOUT_SIZE(type, size) \
    TW_LAYOUT_ASSERT(sizeof(type) == (size), "sizeof " #type " is " #size)

TW_LAYOUT_SIZE(HCLIENT, 4);
TW_LAYOUT_SIZE(WCHAR, 2);

TW_LAYOUT_SIZE(INITDATA, 156);
TW_LAYOUT_OFFSET(INITDATA, dwSize, 0);
TW_LAYOUT_OFFSET(INITDATA, dwVersionMajor, 4);
TW_LAYOUT_OFFSET(INITDATA, dwVersionMinor, 8);
TW_LAYOUT_OFFSET(INITDATA, dwVersionBuild, 12);
TW_LAYOUT_OFFSET(INITDATA, dwOptions, 16);
TW_LAYOUT_OFFSET(INITDATA, dwReserved1, 20);
TW_LAYOUT_OFFSET(INITDATA, dwReserved2, 24);
TW_LAYOUT_OFFSET(INITDATA, szDescription, 28);

TW_LAYOUT_SIZE(INITDATAW, 284);
TW_LAYOUT_OFFSET(INITDATAW, dwReserved2, 24);
TW_LAYOUT_OFFSET(INITDATAW, szDescription, 28);

TW_LAYOUT_SIZE(INTERNET_ADDRESS, 20);
TW_LAYOUT_OFFSET(INTERNET_ADDRESS, ipFamily, 0);
TW_LAYOUT_OFFSET(INTERNET_ADDRESS, ipNumber, 4);

TW_LAYOUT_SIZE(IMAPTRANSFERSTATUS, 24);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, nMessageId, 0);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, dwBytesTotal, 4);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, dwBytesCopied, 8);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, dwBytesPerSecond, 12);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, dwTimeElapsed, 16);
TW_LAYOUT_OFFSET(IMAPTRANSFERSTATUS, dwTimeEstimated, 20);

TW_LAYOUT_SIZE(SECURITYCREDENTIALS, 40);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, dwSize, 0);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, dwProtocol, 4);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, dwOptions, 8);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, dwReserved, 12);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszHostName, 16);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszUserName, 20);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszPassword, 24);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszCertStore, 28);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszCertName, 32);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALS, lpszKeyFile, 36);
TW_LAYOUT_SIZE(SECURITYCREDENTIALSW, 40);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALSW, lpszHostName, 16);
TW_LAYOUT_OFFSET(SECURITYCREDENTIALSW, lpszKeyFile, 36);

TW_LAYOUT_SIZE(SECURITYINFO, 76);
TW_LAYOUT_OFFSET(SECURITYINFO, dwSize, 0);
TW_LAYOUT_OFFSET(SECURITYINFO, dwProtocol, 4);
TW_LAYOUT_OFFSET(SECURITYINFO, dwCipher, 8);
TW_LAYOUT_OFFSET(SECURITYINFO, dwCipherStrength, 12);
TW_LAYOUT_OFFSET(SECURITYINFO, dwHash, 16);
TW_LAYOUT_OFFSET(SECURITYINFO, dwHashStrength, 20);
TW_LAYOUT_OFFSET(SECURITYINFO, dwKeyExchange, 24);
TW_LAYOUT_OFFSET(SECURITYINFO, dwCertStatus, 28);
TW_LAYOUT_OFFSET(SECURITYINFO, stCertIssued, 32);
TW_LAYOUT_OFFSET(SECURITYINFO, stCertExpires, 48);
TW_LAYOUT_OFFSET(SECURITYINFO, lpszCertIssuer, 64);
TW_LAYOUT_OFFSET(SECURITYINFO, lpszCertSubject, 68);
TW_LAYOUT_OFFSET(SECURITYINFO, lpszFingerprint, 72);
TW_LAYOUT_SIZE(SECURITYINFOW, 76);
TW_LAYOUT_OFFSET(SECURITYINFOW, lpszCertIssuer, 64);
TW_LAYOUT_OFFSET(SECURITYINFOW, lpszFingerprint, 72);

TW_LAYOUT_SIZE(IMAPMAILBOX, 40);
TW_LAYOUT_OFFSET(IMAPMAILBOX, nMessages, 0);
TW_LAYOUT_OFFSET(IMAPMAILBOX, nRecentMessages, 4);
TW_LAYOUT_OFFSET(IMAPMAILBOX, nUnseenMessageId, 8);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwMailboxUID, 12);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwNextMessageUID, 16);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwFlags, 20);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwPermanentFlags, 24);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwAccessMode, 28);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwReserved1, 32);
TW_LAYOUT_OFFSET(IMAPMAILBOX, dwReserved2, 36);

TW_LAYOUT_SIZE(IMAPMAILBOXSTATUS, 24);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, nMessages, 0);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, nRecentMessages, 4);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, nUnseenMessages, 8);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, dwMailboxUID, 12);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, dwNextMessageUID, 16);
TW_LAYOUT_OFFSET(IMAPMAILBOXSTATUS, dwReserved, 20);

TW_LAYOUT_SIZE(IMAPMESSAGE, 24);
TW_LAYOUT_OFFSET(IMAPMESSAGE, nMessageId, 0);
TW_LAYOUT_OFFSET(IMAPMESSAGE, dwMessageUID, 4);
TW_LAYOUT_OFFSET(IMAPMESSAGE, dwSize, 8);
TW_LAYOUT_OFFSET(IMAPMESSAGE, dwFlags, 12);
TW_LAYOUT_OFFSET(IMAPMESSAGE, dwTimestamp, 16);
TW_LAYOUT_OFFSET(IMAPMESSAGE, dwReserved, 20);

#undef TW_LAYOUT_OFFSET
#undef TW_LAYOUT_SIZE
#endif /* 32-bit layout checks */

#ifdef TW_LAYOUT_ASSERT
#undef TW_LAYOUT_ASSERT
#endif

#endif /* TWMAPAV9_H */

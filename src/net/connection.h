/*
 * connection.h - host names, addresses, resolution and the TCP connection
 * of a session.
 */
#ifndef TW_NET_CONNECTION_H
#define TW_NET_CONNECTION_H

#include "net/netiface.h"
#include "session/session.h"

/* Size of the buffers for host names and address texts. */
#define HOSTNAME_BUFFER_SIZE 256
#define HOSTNAME_MAX_LENGTH 255
#define HOSTLABEL_MAX_LENGTH 63
/* Room for any socket address the library builds. */
#define SOCKADDR_BUFFER_SIZE 128

/* Trims, checks and canonicalizes a host name (numeric addresses in their
   canonical text, names in lower case and, with IDN support, ASCII form)
   into lpszOut (256 bytes). NULL when the name is unusable. */
char *NormalizeHostName(const char *lpszHostName, char *lpszOut);
BOOL IsValidHostName(const char *lpszName);
/* UTF-8 name to its ASCII (punycode) form; 0 on failure. */
int ConvertIdnHostName(char *lpszOut, const char *lpszName);

/* Numeric text to 4 (family 2) or 16 (family 23) address bytes: 1 parsed,
   0 not an address of that family, -1 error (socket last error set). */
int ParseAddressText(int nFamily, const char *lpszText, void *lpAddress);
/* Address bytes to canonical text in lpszOut (256 bytes), or NULL. */
char *FormatAddressText(int nFamily, const void *lpAddress, char *lpszOut);
/* inet_addr rules (decimal or 0x parts, no octal); INADDR_NONE if invalid. */
DWORD ParseIPv4Text(const char *lpszText);
const char *FormatIPv4Text(DWORD dwAddress);

/* getaddrinfo with the IPv4-first rule (or the fallback without it);
   returns 0 or a Windows Sockets error number, also set as the socket
   layer's last error. */
int ResolveHostName(const ADDRINFOA *lpHints, const char *lpszNode, ADDRINFOA **lplpResult);
void FreeResolvedAddress(ADDRINFOA *lpResult);
/* Resolves into an INTERNET_ADDRESS; family 0 (IPv4 first) or 23 (IPv6
   only). Returns the family found, or -1 with the library last error set. */
int ResolveInternetAddress(int nFamily, INTERNET_ADDRESS *lpAddress, const char *lpszHostName);
/* A socket address for connect in lpBuffer (128 bytes); the family, or 0
   with the library last error set. */
int BuildSocketAddress(void *lpBuffer, int *lpnLength, const INTERNET_ADDRESS *lpAddress, int nPort);
BOOL IsIPv6Available(void);

/* A TCP stream socket with the library's buffer sizes, or INVALID_SOCKET. */
SOCKET OpenSocket(int nFamily);
/* Half-closes the sending side (unless listening) and closes. */
int CloseSocket(SOCKET s);

/* Copies a host name into a session's 256-byte field. */
void CopyHostName(char *lpszOut, const char *lpszHostName);

/* Resolves the session's szHostName, opens its socket, attaches the event
   window (or none) and connects within nTimeout seconds (one non-blocking
   connect and one wait). With a window the connect is left to complete by
   notification and TRUE is returned at once. FALSE with the library last
   error set; the caller releases the session. */
BOOL OpenConnection(HCLIENT hClient, HWND hEventWnd, UINT uNotifyMsg, UINT uEventMsg);

#endif

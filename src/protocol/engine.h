/*
 * engine.h - the protocol engine: command dispatch, the response reader and
 * the helpers the other commands share.
 */
#ifndef TW_PROTOCOL_ENGINE_H
#define TW_PROTOCOL_ENGINE_H

#include "session/session.h"

/* Command and parameter together may take this many characters: the line
   buffer holds them with the tag, two spaces and CR LF. */
#define COMMAND_MAX_TEXT 1007
/* Tags run A0001 to A9999, then again from A0001. */
#define COMMAND_TAG_LIMIT 9999

/* Identifiers of the command table that the reader acts on. */
#define COMMAND_ID_CAPABILITY 3
#define COMMAND_ID_EXAMINE 10
#define COMMAND_ID_SELECT 26

/* Identifiers of the response keyword table. */
#define RESPONSE_OK 1
#define RESPONSE_NO 2
#define RESPONSE_BAD 3
#define RESPONSE_CONTINUE 4
#define RESPONSE_CAPABILITY 7
#define RESPONSE_EXISTS 8
#define RESPONSE_FLAGS 11
#define RESPONSE_PREAUTH 14
#define RESPONSE_BYE 6
#define RESPONSE_RECENT 16

/* Parses one response line whose tag or asterisk has been removed; stores
   what it carries in the session. The line's identifier, or -1. */
int ParseResponseLine(const char *lpszText, HCLIENT hClient, BOOL bTagged);

/* Case-insensitive substring search; NULL when not found. */
const char *FindTextNoCase(const char *lpszText, const char *lpszPattern);

/* Whether the capability list names this capability, as a whole
   space-separated token compared without regard to case. */
BOOL HasCapability(const char *lpszCapabilities, const char *lpszName);

/* Sends the whole buffer on the session's stream, waiting for the socket
   to take more while it accepts only part; FALSE with the last error set
   when the send fails or the time-out strikes first. */
BOOL SendAll(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer);

/* Whether a command's text may go on the wire as one line: no CR or LF,
   except line ends that follow a non-synchronizing literal marker {n+}
   whose n bytes follow it. */
BOOL IsSafeCommandText(const char *lpszText, BOOL bLiteralsAllowed);

#endif

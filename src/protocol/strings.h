/*
 * strings.h - the IMAP string forms the commands need: quoted strings
 * (RFC 3501 quoted-specials) and Base64 (RFC 4648) for SASL responses.
 * No session, no I/O.
 */
#ifndef TW_PROTOCOL_STRINGS_H
#define TW_PROTOCOL_STRINGS_H

#include "platform/platform.h"

/* Output buffer of QuoteString; the quoted text is at most 125 characters. */
#define QUOTED_BUFFER_SIZE 128
#define QUOTED_MAX_TEXT 125
/* Output buffer of Base64Encode. */
#define BASE64_BUFFER_SIZE 1024

/* Writes the input as a quoted string into lpszOut (128 bytes). Returns 1
   when it quoted, 0 when it did not: an input already enclosed in double
   quotes or apostrophes is copied unchanged; an empty or too long one
   leaves the output empty (or untouched, for NULL or empty). */
int QuoteString(char *lpszOut, const char *lpszIn);

/* Escapes the quoted-specials '"' and '\' with a backslash, leaving pairs
   that are already escaped as they are. 1 when escaping was needed, 0 when
   the output is a plain copy. */
int EscapeString(char *lpszOut, const char *lpszIn, int cchOut);

/* Base64 of cbIn bytes into lpszOut (1,024 bytes, terminated); the number
   of characters, or -1 with the last error set. */
int Base64Encode(const BYTE *lpIn, char *lpszOut, int cbIn);

#endif

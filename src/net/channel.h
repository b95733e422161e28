/*
 * channel.h - receiving from a session's buffer for the protocol engine.
 */
#ifndef TW_NET_CHANNEL_H
#define TW_NET_CHANNEL_H

#include "session/session.h"

/* Copies received bytes into lpBuffer: up to cbBuffer bytes, or to the
   first line feed when bStopAtLineEnd is set, refilling the receive buffer
   (with the session's wait) as needed. Returns the count, 0 when the
   socket reported no error and no bytes, or -1 with the last error set. */
int ReceiveData(HCLIENT hClient, LPBYTE lpBuffer, int cbBuffer, BOOL bStopAtLineEnd);

#endif

/*
 * stream.h - the one place through which every byte of a session is sent
 * and received.
 *
 * The protocol engine, the data channel and everything above reach the
 * server only through SessionSend and SessionReceive. Tests can put a
 * filter in between that splits, stalls or fails the stream.
 */
#ifndef TW_NET_STREAM_H
#define TW_NET_STREAM_H

#include "session/session.h"

/* The transport below the filter: socket send/recv semantics (count, 0 for
   a closed connection, -1 with the socket layer's last error set). */
typedef int (*PFN_STREAMRECV)(CLIENTSESSION *lpSession, char *lpBuffer, int cbBuffer);
typedef int (*PFN_STREAMSEND)(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer);

struct STREAMFILTER {
    /* Each is called instead of the transport and may call next itself,
       with a smaller count, say, or not at all. NULL passes straight on. */
    int (*lpfnRecv)(CLIENTSESSION *lpSession, char *lpBuffer, int cbBuffer, PFN_STREAMRECV next);
    int (*lpfnSend)(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer, PFN_STREAMSEND next);
};

/* Installs a filter for every session of the process (NULL removes it).
   For tests; not for use while sessions transfer. */
void SetStreamFilter(const STREAMFILTER *lpFilter);

int SessionReceive(CLIENTSESSION *lpSession, char *lpBuffer, int cbBuffer);
int SessionSend(CLIENTSESSION *lpSession, const char *lpBuffer, int cbBuffer);

#endif

/*
 * trace.h - the entry table of the trace library (TWTRACE9.DLL), reached
 * by ordinal. An entry is NULL while the library is not loaded or does not
 * export it; every call site then simply skips the call.
 */
#ifndef TW_FRAME_TRACE_H
#define TW_FRAME_TRACE_H

#include "platform/platform.h"

#define TRACE_FIRST_ORDINAL 2
#define TRACE_LAST_ORDINAL 34

/* Ordinals called after each socket function. */
#define TRACE_CLOSESOCKET 13
#define TRACE_CONNECT 14
#define TRACE_GETADDRINFO 15
#define TRACE_GETSOCKOPT 20
#define TRACE_IOCTLSOCKET 21
#define TRACE_RECV 23
#define TRACE_SELECT 25
#define TRACE_SEND 26
#define TRACE_SOCKET 30
#define TRACE_ASYNCSELECT 32

/* One entry per ordinal from 2 to 34; written only while tracing starts. */
extern FARPROC volatile g_rgTraceEntries[TRACE_LAST_ORDINAL - TRACE_FIRST_ORDINAL + 1];

inline FARPROC TraceEntry(int nOrdinal)
{
    return g_rgTraceEntries[nOrdinal - TRACE_FIRST_ORDINAL];
}

#endif

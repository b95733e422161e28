/*
 * trace.cpp - the trace library's entry table.
 */
#include "frame/trace.h"

FARPROC volatile g_rgTraceEntries[TRACE_LAST_ORDINAL - TRACE_FIRST_ORDINAL + 1];

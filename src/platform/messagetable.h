/*
 * messagetable.h - the library's error texts as a table in memory.
 *
 * The table is generated at build time from resources/errors.txt, the same
 * source that gives the Windows message-table resource and the TW_ERROR_
 * constants of the public header. On Linux the FormatMessage stand-in reads
 * it; on Windows the system reads the resource instead.
 */
#ifndef TW_PLATFORM_MESSAGETABLE_H
#define TW_PLATFORM_MESSAGETABLE_H

#include "twtypes.h"

struct MESSAGETABLEENTRY {
    DWORD dwMessageId;  /* 0x80040000 | n */
    const char *lpszText; /* UTF-8, ends with "\r\n" as in the resource */
};

/* Sorted by dwMessageId, ascending. */
extern const MESSAGETABLEENTRY g_MessageTable[];
extern const int g_cMessageTable;

#endif

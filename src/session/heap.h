/*
 * heap.h - the library heap and the per-session heaps.
 *
 * The library keeps its own records in private heaps: one for process-wide
 * objects and one per session. Destroying a heap frees everything in it, so
 * a session's memory goes with the session and all library memory goes at
 * process detach. Every block starts zeroed. None of these functions
 * reports an error of its own: callers turn NULL into TW_ERROR_OUT_OF_MEMORY.
 */
#ifndef TW_SESSION_HEAP_H
#define TW_SESSION_HEAP_H

#include "platform/platform.h"
#include "twmapav9.h"

HANDLE GetLibraryHeap(void);
void *LibraryAlloc(SIZE_T cb);
void LibraryFree(void *lp);
void DestroyLibraryHeap(void);

HANDLE GetSessionHeap(HCLIENT hClient);
void *SessionAlloc(HCLIENT hClient, SIZE_T cb);
void SessionFree(HCLIENT hClient, void *lp);
void DestroySessionHeap(HCLIENT hClient);

#endif

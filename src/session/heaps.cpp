/*
 * heaps.cpp - the library heap and the per-session heaps.
 */
#include "session/heap.h"
#include "session/session.h"

/* Both kinds of heap: serialized by the system, growable. */
#define HEAP_INITIAL_SIZE 0xFFFF

static HANDLE volatile g_hLibraryHeap;

/* Creates a heap into *lphHeap unless another thread got there first;
   returns the heap that won. */
static HANDLE CreateHeapOnce(HANDLE volatile *lphHeap)
{
    HANDLE hHeap = (HANDLE)InterlockedCompareExchangePointer((PVOID volatile *)lphHeap, NULL, NULL);
    if (hHeap != NULL)
        return hHeap;
    HANDLE hNew = HeapCreate(0, HEAP_INITIAL_SIZE, 0);
    if (hNew == NULL)
        return NULL;
    hHeap = (HANDLE)InterlockedCompareExchangePointer((PVOID volatile *)lphHeap, hNew, NULL);
    if (hHeap != NULL) {
        HeapDestroy(hNew);
        return hHeap;
    }
    return hNew;
}

HANDLE GetLibraryHeap(void)
{
    return CreateHeapOnce(&g_hLibraryHeap);
}

void *LibraryAlloc(SIZE_T cb)
{
    if (cb == 0)
        return NULL;
    HANDLE hHeap = GetLibraryHeap();
    return hHeap != NULL ? HeapAlloc(hHeap, HEAP_ZERO_MEMORY, cb) : NULL;
}

void LibraryFree(void *lp)
{
    HANDLE hHeap = (HANDLE)InterlockedCompareExchangePointer((PVOID volatile *)&g_hLibraryHeap, NULL, NULL);
    if (lp != NULL && hHeap != NULL)
        HeapFree(hHeap, 0, lp);
}

void DestroyLibraryHeap(void)
{
    HANDLE hHeap = (HANDLE)InterlockedExchangePointer((PVOID volatile *)&g_hLibraryHeap, NULL);
    if (hHeap != NULL)
        HeapDestroy(hHeap);
}

HANDLE GetSessionHeap(HCLIENT hClient)
{
    if (hClient == INVALID_CLIENT)
        return NULL;
    CLIENTSESSION *lpSession = FindSessionAnyThread(hClient);
    if (lpSession == NULL)
        return NULL;
    return CreateHeapOnce(&lpSession->hHeap);
}

void *SessionAlloc(HCLIENT hClient, SIZE_T cb)
{
    if (cb == 0)
        return NULL;
    HANDLE hHeap = GetSessionHeap(hClient);
    return hHeap != NULL ? HeapAlloc(hHeap, HEAP_ZERO_MEMORY, cb) : NULL;
}

/* The session's heap as it is, without creating one and without touching
   the last error (freeing for an unknown handle is silently ignored). */
static HANDLE PeekSessionHeap(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = LookupSession(hClient);
    if (lpSession == NULL)
        return NULL;
    return (HANDLE)InterlockedCompareExchangePointer((PVOID volatile *)&lpSession->hHeap, NULL, NULL);
}

void SessionFree(HCLIENT hClient, void *lp)
{
    if (lp == NULL)
        return;
    HANDLE hHeap = PeekSessionHeap(hClient);
    if (hHeap != NULL)
        HeapFree(hHeap, 0, lp);
}

void DestroySessionHeap(HCLIENT hClient)
{
    CLIENTSESSION *lpSession = LookupSession(hClient);
    if (lpSession == NULL)
        return;
    HANDLE hHeap = (HANDLE)InterlockedExchangePointer((PVOID volatile *)&lpSession->hHeap, NULL);
    if (hHeap != NULL)
        HeapDestroy(hHeap);
}

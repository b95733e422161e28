/*
 * kernel_heap.cpp - private heaps and the process heap (Linux).
 *
 * Every block is its own malloc, preceded by a small header that links it
 * into its heap's doubly-linked list. So HeapDestroy frees every block still
 * allocated, and AddressSanitizer sees each block separately: an overrun,
 * a use after HeapFree or a block never freed is reported at that block.
 * Payloads are 16-byte aligned. A heap made with a maximum size counts its
 * blocks (payload rounded up plus header) against that maximum.
 *
 * For allocation-failure tests, PlatformFailAllocationAfter makes HeapAlloc
 * and HeapReAlloc on heaps made by HeapCreate fail from the Nth call on.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const DWORD HEAP_MAGIC = 0x50414548;  /* "HEAP" */
static const DWORD BLOCK_MAGIC = 0x4B4F4C42; /* "BLOK" */
static const DWORD DEAD_MAGIC = 0x44414544;  /* "DEAD" */

static const SIZE_T BLOCK_ALIGNMENT = 16;
static const SIZE_T PAGE_SIZE_ROUNDING = 4096;

/* Requests above this can never succeed; refusing them here keeps them away
   from malloc (where a sanitizer would stop the process instead of
   returning NULL). */
static const SIZE_T MAX_BLOCK_SIZE =
    sizeof(SIZE_T) > 4 ? (SIZE_T)1 << 40 : (SIZE_T)0x7FFF0000;

struct HEAPOBJ;

struct alignas(16) BLOCKHEADER {
    BLOCKHEADER *lpPrev;
    BLOCKHEADER *lpNext;
    HEAPOBJ *lpHeap;
    SIZE_T cbSize;
    DWORD dwMagic;
};

static_assert(sizeof(BLOCKHEADER) % BLOCK_ALIGNMENT == 0,
              "payload must stay 16-byte aligned");

struct HEAPOBJ {
    DWORD dwMagic;
    DWORD flOptions;
    bool fPrivate;       /* made by HeapCreate: subject to failure testing */
    SIZE_T cbMaximum;    /* 0: growable */
    SIZE_T cbCommitted;  /* what the blocks count against cbMaximum */
    pthread_mutex_t lock;
    BLOCKHEADER list;    /* sentinel of the circular block list */
};

static HEAPOBJ g_ProcessHeap = {
    HEAP_MAGIC, 0, false, 0, 0, PTHREAD_MUTEX_INITIALIZER,
    { &g_ProcessHeap.list, &g_ProcessHeap.list, &g_ProcessHeap, 0, 0 },
};

/* Calls left before private-heap allocations fail; negative: never fail. */
static LONG g_lAllocationsBeforeFailure = -1;

extern "C" void PlatformFailAllocationAfter(LONG n)
{
    __atomic_store_n(&g_lAllocationsBeforeFailure, n < 0 ? -1 : n,
                     __ATOMIC_SEQ_CST);
}

static bool ShouldFailAllocation(const HEAPOBJ *lpHeap)
{
    if (!lpHeap->fPrivate)
        return false;
    LONG n = __atomic_load_n(&g_lAllocationsBeforeFailure, __ATOMIC_SEQ_CST);
    for (;;) {
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (__atomic_compare_exchange_n(&g_lAllocationsBeforeFailure, &n,
                                        n - 1, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return false;
    }
}

static HEAPOBJ *HeapFromHandle(HANDLE hHeap)
{
    HEAPOBJ *lpHeap = static_cast<HEAPOBJ *>(hHeap);
    if (lpHeap == NULL || lpHeap->dwMagic != HEAP_MAGIC)
        return NULL;
    return lpHeap;
}

/* The header of a block of lpHeap, or NULL when lpMem is not one. */
static BLOCKHEADER *BlockFromPointer(const HEAPOBJ *lpHeap, LPCVOID lpMem)
{
    if (((uintptr_t)lpMem & (BLOCK_ALIGNMENT - 1)) != 0)
        return NULL;
    BLOCKHEADER *lpBlock =
        const_cast<BLOCKHEADER *>(static_cast<const BLOCKHEADER *>(lpMem)) - 1;
    if (lpBlock->dwMagic != BLOCK_MAGIC || lpBlock->lpHeap != lpHeap)
        return NULL;
    return lpBlock;
}

static SIZE_T CommittedSize(SIZE_T cbSize)
{
    return sizeof(BLOCKHEADER) +
           ((cbSize + BLOCK_ALIGNMENT - 1) & ~(BLOCK_ALIGNMENT - 1));
}

static void LockHeap(HEAPOBJ *lpHeap, DWORD dwFlags)
{
    if (!((lpHeap->flOptions | dwFlags) & HEAP_NO_SERIALIZE))
        pthread_mutex_lock(&lpHeap->lock);
}

static void UnlockHeap(HEAPOBJ *lpHeap, DWORD dwFlags)
{
    if (!((lpHeap->flOptions | dwFlags) & HEAP_NO_SERIALIZE))
        pthread_mutex_unlock(&lpHeap->lock);
}

static void LinkBlock(HEAPOBJ *lpHeap, BLOCKHEADER *lpBlock)
{
    lpBlock->lpPrev = &lpHeap->list;
    lpBlock->lpNext = lpHeap->list.lpNext;
    lpHeap->list.lpNext->lpPrev = lpBlock;
    lpHeap->list.lpNext = lpBlock;
}

static void UnlinkBlock(BLOCKHEADER *lpBlock)
{
    lpBlock->lpPrev->lpNext = lpBlock->lpNext;
    lpBlock->lpNext->lpPrev = lpBlock->lpPrev;
}

/* Under the heap lock: takes cbNew - cbOld of committed size, or false when
   a heap with a maximum has no room for it. */
static bool Commit(HEAPOBJ *lpHeap, SIZE_T cbOld, SIZE_T cbNew)
{
    SIZE_T cbCommitted = lpHeap->cbCommitted - cbOld + cbNew;
    if (lpHeap->cbMaximum != 0 && cbCommitted > lpHeap->cbMaximum)
        return false;
    lpHeap->cbCommitted = cbCommitted;
    return true;
}

static BLOCKHEADER *NewBlock(HEAPOBJ *lpHeap, SIZE_T cbSize)
{
    void *lpRaw = NULL;
    if (posix_memalign(&lpRaw, BLOCK_ALIGNMENT, sizeof(BLOCKHEADER) + cbSize))
        return NULL;
    BLOCKHEADER *lpBlock = static_cast<BLOCKHEADER *>(lpRaw);
    lpBlock->lpPrev = lpBlock->lpNext = NULL;
    lpBlock->lpHeap = lpHeap;
    lpBlock->cbSize = cbSize;
    lpBlock->dwMagic = BLOCK_MAGIC;
    return lpBlock;
}

static void DeleteBlock(BLOCKHEADER *lpBlock)
{
    lpBlock->dwMagic = DEAD_MAGIC;
    free(lpBlock);
}

static LPVOID AllocationFailed(void)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

extern "C" HANDLE WINAPI GetProcessHeap(void)
{
    return &g_ProcessHeap;
}

/* dwInitialSize only matters as a lower bound of a maximum; a maximum of 0
   makes the heap growable. */
extern "C" HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize,
                                    SIZE_T dwMaximumSize)
{
    HEAPOBJ *lpHeap = static_cast<HEAPOBJ *>(calloc(1, sizeof(HEAPOBJ)));
    if (lpHeap == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    if (dwMaximumSize != 0) {
        if (dwMaximumSize < dwInitialSize)
            dwMaximumSize = dwInitialSize;
        if (dwMaximumSize <= (SIZE_T)-1 - PAGE_SIZE_ROUNDING)
            dwMaximumSize = (dwMaximumSize + PAGE_SIZE_ROUNDING - 1) &
                            ~(PAGE_SIZE_ROUNDING - 1);
    }
    lpHeap->dwMagic = HEAP_MAGIC;
    lpHeap->flOptions = flOptions;
    lpHeap->fPrivate = true;
    lpHeap->cbMaximum = dwMaximumSize;
    lpHeap->cbCommitted = 0;
    pthread_mutex_init(&lpHeap->lock, NULL);
    lpHeap->list.lpPrev = lpHeap->list.lpNext = &lpHeap->list;
    lpHeap->list.lpHeap = lpHeap;
    return lpHeap;
}

/* Frees the heap and every block still allocated from it. The process heap
   cannot be destroyed. */
extern "C" BOOL WINAPI HeapDestroy(HANDLE hHeap)
{
    HEAPOBJ *lpHeap = HeapFromHandle(hHeap);
    if (lpHeap == NULL || lpHeap == &g_ProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    lpHeap->dwMagic = DEAD_MAGIC;
    BLOCKHEADER *lpBlock = lpHeap->list.lpNext;
    while (lpBlock != &lpHeap->list) {
        BLOCKHEADER *lpNext = lpBlock->lpNext;
        DeleteBlock(lpBlock);
        lpBlock = lpNext;
    }
    pthread_mutex_destroy(&lpHeap->lock);
    free(lpHeap);
    return TRUE;
}

/* NULL (last error ERROR_NOT_ENOUGH_MEMORY) when the block cannot be had. */
extern "C" LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    HEAPOBJ *lpHeap = HeapFromHandle(hHeap);
    if (lpHeap == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    if (ShouldFailAllocation(lpHeap) || dwBytes > MAX_BLOCK_SIZE)
        return AllocationFailed();
    BLOCKHEADER *lpBlock = NewBlock(lpHeap, dwBytes);
    if (lpBlock == NULL)
        return AllocationFailed();
    LockHeap(lpHeap, dwFlags);
    bool fCommitted = Commit(lpHeap, 0, CommittedSize(dwBytes));
    if (fCommitted)
        LinkBlock(lpHeap, lpBlock);
    UnlockHeap(lpHeap, dwFlags);
    if (!fCommitted) {
        DeleteBlock(lpBlock);
        return AllocationFailed();
    }
    LPVOID lpMem = lpBlock + 1;
    if (dwFlags & HEAP_ZERO_MEMORY)
        memset(lpMem, 0, dwBytes);
    return lpMem;
}

/* Resizes a block. Without HEAP_REALLOC_IN_PLACE_ONLY the block always
   moves, so that a stale pointer to the old one is caught; with it, only
   shrinking (or keeping the size) can succeed. HEAP_ZERO_MEMORY zeroes the
   added bytes. NULL leaves the old block as it was. */
extern "C" LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags,
                                     LPVOID lpMem, SIZE_T dwBytes)
{
    HEAPOBJ *lpHeap = HeapFromHandle(hHeap);
    if (lpHeap == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    BLOCKHEADER *lpOld = lpMem ? BlockFromPointer(lpHeap, lpMem) : NULL;
    if (lpOld == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (ShouldFailAllocation(lpHeap) || dwBytes > MAX_BLOCK_SIZE)
        return AllocationFailed();
    SIZE_T cbOld = lpOld->cbSize;

    if (dwFlags & HEAP_REALLOC_IN_PLACE_ONLY) {
        if (dwBytes > cbOld)
            return AllocationFailed();
        LockHeap(lpHeap, dwFlags);
        Commit(lpHeap, CommittedSize(cbOld), CommittedSize(dwBytes));
        lpOld->cbSize = dwBytes;
        UnlockHeap(lpHeap, dwFlags);
        return lpMem;
    }

    BLOCKHEADER *lpNew = NewBlock(lpHeap, dwBytes);
    if (lpNew == NULL)
        return AllocationFailed();
    LPVOID lpNewMem = lpNew + 1;
    memcpy(lpNewMem, lpMem, cbOld < dwBytes ? cbOld : dwBytes);
    if ((dwFlags & HEAP_ZERO_MEMORY) && dwBytes > cbOld)
        memset(static_cast<BYTE *>(lpNewMem) + cbOld, 0, dwBytes - cbOld);

    LockHeap(lpHeap, dwFlags);
    bool fCommitted =
        Commit(lpHeap, CommittedSize(cbOld), CommittedSize(dwBytes));
    if (fCommitted) {
        UnlinkBlock(lpOld);
        LinkBlock(lpHeap, lpNew);
    }
    UnlockHeap(lpHeap, dwFlags);
    if (!fCommitted) {
        DeleteBlock(lpNew);
        return AllocationFailed();
    }
    DeleteBlock(lpOld);
    return lpNewMem;
}

/* Freeing NULL succeeds and does nothing. */
extern "C" BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem)
{
    HEAPOBJ *lpHeap = HeapFromHandle(hHeap);
    if (lpHeap == NULL) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpMem == NULL)
        return TRUE;
    BLOCKHEADER *lpBlock = BlockFromPointer(lpHeap, lpMem);
    if (lpBlock == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LockHeap(lpHeap, dwFlags);
    UnlinkBlock(lpBlock);
    Commit(lpHeap, CommittedSize(lpBlock->cbSize), 0);
    UnlockHeap(lpHeap, dwFlags);
    DeleteBlock(lpBlock);
    return TRUE;
}

/* The requested size of a block; (SIZE_T)-1 when lpMem is not a block of
   the heap (without setting the last error, as Windows). */
extern "C" SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem)
{
    (void)dwFlags;
    HEAPOBJ *lpHeap = HeapFromHandle(hHeap);
    BLOCKHEADER *lpBlock =
        lpHeap && lpMem ? BlockFromPointer(lpHeap, lpMem) : NULL;
    return lpBlock ? lpBlock->cbSize : (SIZE_T)-1;
}

#endif /* !_WIN32 */

/*
 * kernel_global.cpp - global and local memory (Linux).
 *
 * Fixed blocks are process-heap blocks and their handle is their address.
 * Movable blocks live in a table of entries (data pointer, size, lock count);
 * their handle is an address inside a reserved, inaccessible region, one
 * slot per entry, so code that uses a movable handle as a pointer faults at
 * once instead of writing somewhere. Local memory shares all of this, as on
 * Win32.
 *
 * Not supported: GMEM_MODIFY (changing the attributes of a block) fails with
 * ERROR_INVALID_PARAMETER.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <pthread.h>
#include <stdint.h>
#include <sys/mman.h>

static const DWORD MAX_MOVEABLE_HANDLES = 65536;
static const uintptr_t HANDLE_STRIDE = 16;
static const BYTE MAX_LOCK_COUNT = GMEM_LOCKCOUNT;

struct GLOBALENTRY {
    LPVOID lpData;   /* NULL: discarded (or allocated with size 0) */
    SIZE_T cbData;
    UINT uFlags;     /* GMEM_DISCARDABLE and GMEM_DDESHARE as allocated */
    BYTE bLockCount;
    bool fInUse;
    DWORD iNextFree; /* free list, index + 1; 0 ends it */
};

static pthread_mutex_t g_GlobalLock = PTHREAD_MUTEX_INITIALIZER;
static BYTE *g_lpHandleArea;           /* set once, under g_GlobalLock */
static GLOBALENTRY g_rgEntries[MAX_MOVEABLE_HANDLES];
static DWORD g_cEntriesTouched;        /* entries ever handed out */
static DWORD g_iFirstFree;             /* index + 1; 0: none */

static bool IsMoveableHandle(HGLOBAL hMem)
{
    uintptr_t u = (uintptr_t)hMem;
    uintptr_t uBase = (uintptr_t)__atomic_load_n(&g_lpHandleArea,
                                                 __ATOMIC_ACQUIRE);
    return uBase != 0 && u >= uBase &&
           u < uBase + MAX_MOVEABLE_HANDLES * HANDLE_STRIDE;
}

/* Under g_GlobalLock: the live entry of a movable handle, or NULL. */
static GLOBALENTRY *EntryFromHandle(HGLOBAL hMem)
{
    if (!IsMoveableHandle(hMem))
        return NULL;
    uintptr_t uOffset = (uintptr_t)hMem - (uintptr_t)g_lpHandleArea;
    if (uOffset % HANDLE_STRIDE != 0)
        return NULL;
    GLOBALENTRY *lpEntry = &g_rgEntries[uOffset / HANDLE_STRIDE];
    return lpEntry->fInUse ? lpEntry : NULL;
}

static HGLOBAL HandleFromEntry(const GLOBALENTRY *lpEntry)
{
    return g_lpHandleArea + (uintptr_t)(lpEntry - g_rgEntries) * HANDLE_STRIDE;
}

/* Under g_GlobalLock: a fresh entry, or NULL when none is left. */
static GLOBALENTRY *NewEntry(void)
{
    if (g_lpHandleArea == NULL) {
        void *lpArea = mmap(NULL, MAX_MOVEABLE_HANDLES * HANDLE_STRIDE,
                            PROT_NONE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (lpArea == MAP_FAILED)
            return NULL;
        __atomic_store_n(&g_lpHandleArea, static_cast<BYTE *>(lpArea),
                         __ATOMIC_RELEASE);
    }
    GLOBALENTRY *lpEntry;
    if (g_iFirstFree != 0) {
        lpEntry = &g_rgEntries[g_iFirstFree - 1];
        g_iFirstFree = lpEntry->iNextFree;
    } else if (g_cEntriesTouched < MAX_MOVEABLE_HANDLES) {
        lpEntry = &g_rgEntries[g_cEntriesTouched++];
    } else {
        return NULL;
    }
    lpEntry->lpData = NULL;
    lpEntry->cbData = 0;
    lpEntry->uFlags = 0;
    lpEntry->bLockCount = 0;
    lpEntry->fInUse = true;
    lpEntry->iNextFree = 0;
    return lpEntry;
}

static void ReleaseEntry(GLOBALENTRY *lpEntry)
{
    lpEntry->fInUse = false;
    lpEntry->lpData = NULL;
    lpEntry->iNextFree = g_iFirstFree;
    g_iFirstFree = (DWORD)(lpEntry - g_rgEntries) + 1;
}

static DWORD HeapFlagsOf(UINT uFlags)
{
    return (uFlags & GMEM_ZEROINIT) ? HEAP_ZERO_MEMORY : 0;
}

static bool IsFixedBlock(HGLOBAL hMem)
{
    return hMem != NULL &&
           HeapSize(GetProcessHeap(), 0, hMem) != (SIZE_T)-1;
}

/* GMEM_MOVEABLE with size 0 gives a handle to a discarded block, which
   GlobalReAlloc can later give memory. */
extern "C" HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    if (!(uFlags & GMEM_MOVEABLE))
        return HeapAlloc(GetProcessHeap(), HeapFlagsOf(uFlags), dwBytes);

    LPVOID lpData = NULL;
    if (dwBytes != 0) {
        lpData = HeapAlloc(GetProcessHeap(), HeapFlagsOf(uFlags), dwBytes);
        if (lpData == NULL)
            return NULL;
    }
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = NewEntry();
    HGLOBAL hMem = NULL;
    if (lpEntry != NULL) {
        lpEntry->lpData = lpData;
        lpEntry->cbData = dwBytes;
        lpEntry->uFlags = uFlags & (GMEM_DISCARDABLE | GMEM_DDESHARE);
        hMem = HandleFromEntry(lpEntry);
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (hMem == NULL) {
        HeapFree(GetProcessHeap(), 0, lpData);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return hMem;
}

/* A movable block keeps its handle; its data moves unless it is locked and
   GMEM_MOVEABLE is not given. A fixed block moves only with GMEM_MOVEABLE
   (its new address is the new handle), else only shrinks in place. Size 0
   with GMEM_MOVEABLE discards an unlocked discardable movable block. NULL on
   failure, the block unchanged. */
extern "C" HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes,
                                        UINT uFlags)
{
    if (uFlags & GMEM_MODIFY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    DWORD dwHeapFlags = HeapFlagsOf(uFlags);

    if (!IsMoveableHandle(hMem)) {
        if (!IsFixedBlock(hMem)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return NULL;
        }
        if (!(uFlags & GMEM_MOVEABLE))
            dwHeapFlags |= HEAP_REALLOC_IN_PLACE_ONLY;
        return HeapReAlloc(GetProcessHeap(), dwHeapFlags, hMem, dwBytes);
    }

    HGLOBAL hResult = NULL;
    DWORD dwError = ERROR_SUCCESS;
    LPVOID lpDiscarded = NULL;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry == NULL) {
        dwError = ERROR_INVALID_HANDLE;
    } else if (dwBytes == 0 && (uFlags & GMEM_MOVEABLE)) {
        if (lpEntry->bLockCount != 0 ||
            !(lpEntry->uFlags & GMEM_DISCARDABLE)) {
            dwError = ERROR_INVALID_PARAMETER;
        } else {
            lpDiscarded = lpEntry->lpData;
            lpEntry->lpData = NULL;
            lpEntry->cbData = 0;
            hResult = hMem;
        }
    } else if (lpEntry->lpData == NULL) {
        LPVOID lpData = HeapAlloc(GetProcessHeap(), dwHeapFlags, dwBytes);
        if (lpData == NULL) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        } else {
            lpEntry->lpData = lpData;
            lpEntry->cbData = dwBytes;
            hResult = hMem;
        }
    } else {
        if (lpEntry->bLockCount != 0 && !(uFlags & GMEM_MOVEABLE))
            dwHeapFlags |= HEAP_REALLOC_IN_PLACE_ONLY;
        LPVOID lpData = HeapReAlloc(GetProcessHeap(), dwHeapFlags,
                                    lpEntry->lpData, dwBytes);
        if (lpData == NULL) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        } else {
            lpEntry->lpData = lpData;
            lpEntry->cbData = dwBytes;
            hResult = hMem;
        }
    }
    pthread_mutex_unlock(&g_GlobalLock);
    HeapFree(GetProcessHeap(), 0, lpDiscarded);
    if (hResult == NULL)
        SetLastError(dwError);
    return hResult;
}

/* A fixed block's handle is its address. A movable block gains a lock (the
   count stops at 255); a discarded one gives NULL with ERROR_DISCARDED. */
extern "C" LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    if (!IsMoveableHandle(hMem)) {
        if (hMem == NULL)
            SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    LPVOID lpData = NULL;
    DWORD dwError = ERROR_SUCCESS;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry == NULL) {
        dwError = ERROR_INVALID_HANDLE;
    } else if (lpEntry->lpData == NULL) {
        dwError = ERROR_DISCARDED;
    } else {
        if (lpEntry->bLockCount < MAX_LOCK_COUNT)
            lpEntry->bLockCount++;
        lpData = lpEntry->lpData;
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (lpData == NULL)
        SetLastError(dwError);
    return lpData;
}

/* TRUE while the block stays locked; FALSE with last error 0 when the count
   reaches 0, FALSE with ERROR_NOT_LOCKED when it was not locked. A fixed
   block has no lock count and always answers TRUE. */
extern "C" BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    if (!IsMoveableHandle(hMem))
        return TRUE;
    BOOL fStillLocked = FALSE;
    DWORD dwError = ERROR_SUCCESS;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry == NULL) {
        dwError = ERROR_INVALID_HANDLE;
    } else if (lpEntry->bLockCount == 0) {
        dwError = ERROR_NOT_LOCKED;
    } else {
        fStillLocked = --lpEntry->bLockCount != 0;
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (!fStillLocked)
        SetLastError(dwError);
    return fStillLocked;
}

/* NULL on success (a locked block is freed too), the handle on failure. */
extern "C" HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    if (hMem == NULL)
        return NULL;
    if (!IsMoveableHandle(hMem)) {
        if (HeapFree(GetProcessHeap(), 0, hMem))
            return NULL;
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    LPVOID lpData = NULL;
    bool fFreed = false;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry != NULL) {
        lpData = lpEntry->lpData;
        ReleaseEntry(lpEntry);
        fFreed = true;
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (!fFreed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    HeapFree(GetProcessHeap(), 0, lpData);
    return NULL;
}

/* 0 for a discarded block, and 0 with ERROR_INVALID_HANDLE for a bad one. */
extern "C" SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    if (!IsMoveableHandle(hMem)) {
        SIZE_T cb =
            hMem ? HeapSize(GetProcessHeap(), 0, hMem) : (SIZE_T)-1;
        if (cb == (SIZE_T)-1) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        return cb;
    }
    SIZE_T cb = 0;
    bool fValid = false;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry != NULL) {
        cb = lpEntry->cbData;
        fValid = true;
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (!fValid)
        SetLastError(ERROR_INVALID_HANDLE);
    return cb;
}

/* Lock count in the low byte, with GMEM_DISCARDABLE, GMEM_DDESHARE and
   GMEM_DISCARDED; GMEM_INVALID_HANDLE for a bad handle. */
extern "C" UINT WINAPI GlobalFlags(HGLOBAL hMem)
{
    if (!IsMoveableHandle(hMem)) {
        if (IsFixedBlock(hMem))
            return 0;
        SetLastError(ERROR_INVALID_HANDLE);
        return GMEM_INVALID_HANDLE;
    }
    UINT uFlags = GMEM_INVALID_HANDLE;
    pthread_mutex_lock(&g_GlobalLock);
    GLOBALENTRY *lpEntry = EntryFromHandle(hMem);
    if (lpEntry != NULL) {
        uFlags = lpEntry->bLockCount | lpEntry->uFlags;
        if (lpEntry->lpData == NULL)
            uFlags |= GMEM_DISCARDED;
    }
    pthread_mutex_unlock(&g_GlobalLock);
    if (uFlags == GMEM_INVALID_HANDLE)
        SetLastError(ERROR_INVALID_HANDLE);
    return uFlags;
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    return GlobalAlloc(uFlags & (LMEM_MOVEABLE | LMEM_ZEROINIT), uBytes);
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    return GlobalFree(hMem);
}

#endif /* !_WIN32 */

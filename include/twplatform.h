/*
 * twplatform.h - the part of the Win32 platform layer that applications
 * use on Linux, exported by libtwmapav9.so.9 under the Win32 names: global
 * memory, in which an allocating download hands its data over.
 *
 * On Windows these are the system's own (<windows.h>); this header then
 * only includes twtypes.h. Compiles alone as C and as C++.
 */
#ifndef TWPLATFORM_H
#define TWPLATFORM_H

#include "twtypes.h"

#if !defined(_WIN32)

#ifdef __cplusplus
extern "C" {
#endif

#define GMEM_FIXED          0x0000
#define GMEM_MOVEABLE       0x0002
#define GMEM_NOCOMPACT      0x0010
#define GMEM_NODISCARD      0x0020
#define GMEM_ZEROINIT       0x0040
#define GMEM_MODIFY         0x0080
#define GMEM_DISCARDABLE    0x0100
#define GMEM_SHARE          0x2000
#define GMEM_DDESHARE       0x2000
#define GMEM_LOCKCOUNT      0x00FF
#define GMEM_DISCARDED      0x4000
#define GMEM_INVALID_HANDLE 0x8000
#define GHND                (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR                (GMEM_FIXED | GMEM_ZEROINIT)

/* A fixed block's handle is its address; a movable block's handle is not an
   address at all (using it as one faults), only GlobalLock gives one. */
HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags);
LPVOID WINAPI GlobalLock(HGLOBAL hMem);
BOOL WINAPI GlobalUnlock(HGLOBAL hMem);
HGLOBAL WINAPI GlobalFree(HGLOBAL hMem);
SIZE_T WINAPI GlobalSize(HGLOBAL hMem);
UINT WINAPI GlobalFlags(HGLOBAL hMem);

#ifdef __cplusplus
}
#endif

#endif /* !_WIN32 */

#endif /* TWPLATFORM_H */

/*
 * utf.cpp - UTF-16 <-> UTF-8 conversions behind every W export.
 *
 * A W export converts its text arguments to UTF-8, calls the A body and
 * converts text results back. Temporary buffers come from the library heap,
 * sized from the caller's strings and lengths, so no length can overrun
 * the stack.
 */
#include "frame/frame.h"
#include "session/heap.h"

#include <limits.h>

int WideLength(const WCHAR *lpsz)
{
    int n = 0;
    while (lpsz[n] != 0)
        n++;
    return n;
}

char *ToUtf8(int cchWide, char *lpszOut, const WCHAR *lpszWide)
{
    if (cchWide <= 0 || cchWide > INT_MAX / 4)
        return NULL;
    int cb = WideCharToMultiByte(CP_UTF8, 0, (LPCWSTR)lpszWide, cchWide, lpszOut, 4 * cchWide, NULL, NULL);
    return cb > 0 ? lpszOut : NULL;
}

WCHAR *FromUtf8(WCHAR *lpszOut, const char *lpszUtf8, int cbUtf8)
{
    if (cbUtf8 <= 0)
        return NULL;
    int cch = MultiByteToWideChar(CP_UTF8, 0, lpszUtf8, cbUtf8, (LPWSTR)lpszOut, cbUtf8);
    return cch > 0 ? lpszOut : NULL;
}

Utf8Arg::Utf8Arg(const WCHAR *lpszWide)
{
    if (lpszWide == NULL)
        return;
    int cchWide = WideLength(lpszWide) + 1;
    if (cchWide > INT_MAX / 4) {
        m_bOk = false;
        return;
    }
    m_lpsz = (char *)LibraryAlloc((SIZE_T)cchWide * 4);
    if (m_lpsz == NULL || ToUtf8(cchWide, m_lpsz, lpszWide) == NULL) {
        LibraryFree(m_lpsz);
        m_lpsz = NULL;
        m_bOk = false;
    }
}

Utf8Arg::~Utf8Arg()
{
    LibraryFree(m_lpsz);
}

ScratchBuffer::ScratchBuffer(SIZE_T cb)
{
    if (cb > 0)
        m_lp = (char *)LibraryAlloc(cb);
}

ScratchBuffer::~ScratchBuffer()
{
    LibraryFree(m_lp);
}

int CopyUtf8ToWide(LPWSTR lpszOut, int cchMax, const char *lpszUtf8, int cbUtf8)
{
    if (cchMax <= 0)
        return 0;
    if (cbUtf8 <= 0) {
        lpszOut[0] = 0;
        return 0;
    }
    /* UTF-8 never needs fewer bytes than UTF-16 needs units. */
    WCHAR *lpszWide = (WCHAR *)LibraryAlloc((SIZE_T)cbUtf8 * sizeof(WCHAR));
    if (lpszWide == NULL)
        return -1;
    int cch = MultiByteToWideChar(CP_UTF8, 0, lpszUtf8, cbUtf8, (LPWSTR)lpszWide, cbUtf8);
    if (cch <= 0) {
        LibraryFree(lpszWide);
        lpszOut[0] = 0;
        return -1;
    }
    if (cch > cchMax - 1)
        cch = cchMax - 1;
    /* Never split a surrogate pair at the cut. */
    if (cch > 0 && lpszWide[cch - 1] >= 0xD800 && lpszWide[cch - 1] <= 0xDBFF)
        cch--;
    for (int i = 0; i < cch; i++)
        lpszOut[i] = lpszWide[i];
    lpszOut[cch] = 0;
    LibraryFree(lpszWide);
    return cch;
}

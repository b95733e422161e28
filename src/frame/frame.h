/*
 * frame.h - the library frame: process set-up, the library lock, the last
 * error and the UTF-16/UTF-8 conversions behind every W export.
 */
#ifndef TW_FRAME_H
#define TW_FRAME_H

#include "platform/platform.h"
#include "twmapav9.h"

/* Atomic access to 32-bit fields that other threads read or write. */
inline LONG AtomicRead(LONG volatile *p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void AtomicWrite(LONG volatile *p, LONG v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }

/* Library identity reported by ImapInitialize. */
#define TW_VERSION_MAJOR 9
#define TW_VERSION_MINOR 5
#define TW_VERSION_BUILD 9530
#define TW_DESCRIPTION "Tidewire Internet Message Access Protocol Library"

/* Process-wide globals of the frame. */
extern DWORD g_dwHandleBase;   /* 4096 + (tick & 0xFF), fixed at set-up */
extern LONG volatile g_nInitCount;

/* Set-up and tear-down of the globals; see lifetime.cpp. */
void AttachLibrary(HMODULE hModule);
void DetachLibrary(void);
HMODULE GetLibraryModule(void);

/* Enter and leave the one library lock. Both do nothing while the library
   is not set up, so they are safe before set-up and after tear-down. The
   lock is recursive and is never held across network input or output. */
void LockLibrary(void);
void UnlockLibrary(void);

/* The error slot, or TLS_OUT_OF_INDEXES when none could be allocated. */
DWORD GetErrorSlot(void);

/* Folds the socket layer's last error into the library's error space and
   stores it as the last error; returns it, or 0 (storing nothing) when the
   socket layer reports no error. */
DWORD FoldSocketError(void);

/* Converts cchWide UTF-16 units (the count includes the terminator) into
   lpszOut, which holds 4 * cchWide bytes. Returns lpszOut, or NULL when the
   conversion fails. */
char *ToUtf8(int cchWide, char *lpszOut, const WCHAR *lpszWide);

/* Converts cbUtf8 bytes (the count includes the terminator) into lpszOut,
   which holds cbUtf8 units. Returns lpszOut, or NULL when it fails. */
WCHAR *FromUtf8(WCHAR *lpszOut, const char *lpszUtf8, int cbUtf8);

/* Number of UTF-16 units before the terminator. */
int WideLength(const WCHAR *lpsz);

/*
 * A W export's text argument in UTF-8: converted into a buffer of
 * 4 bytes per UTF-16 unit taken from the library heap (never the stack, so
 * any length the caller passes is safe). A NULL argument stays NULL; ok()
 * is false when the conversion or the allocation failed.
 */
class Utf8Arg {
public:
    explicit Utf8Arg(const WCHAR *lpszWide);
    ~Utf8Arg();
    Utf8Arg(const Utf8Arg &) = delete;
    Utf8Arg &operator=(const Utf8Arg &) = delete;
    const char *get() const { return m_lpsz; }
    bool ok() const { return m_bOk; }
private:
    char *m_lpsz = nullptr;
    bool m_bOk = true;
};

/*
 * A scratch buffer from the library heap for the A result of a W export,
 * freed when it goes out of scope. data() is NULL when the allocation
 * failed or the size was 0.
 */
class ScratchBuffer {
public:
    explicit ScratchBuffer(SIZE_T cb);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer &) = delete;
    ScratchBuffer &operator=(const ScratchBuffer &) = delete;
    char *data() const { return m_lp; }
private:
    char *m_lp = nullptr;
};

/* Copies a UTF-8 result of cbUtf8 bytes (without terminator) into the
   caller's UTF-16 buffer of cchMax units, truncated so that the text and its
   terminator fit. Returns the number of units copied, or -1 when the text
   is not valid UTF-8 or memory runs out. */
int CopyUtf8ToWide(LPWSTR lpszOut, int cchMax, const char *lpszUtf8, int cbUtf8);

#endif

/*
 * platform.h - the Win32 base services that the library calls.
 *
 * Library code is written against Win32 names and includes only this header.
 * On Windows it is the system's own headers. On Linux it declares our
 * stand-in: the same names, types, results and error numbers as Windows, for
 * exactly the subset the library uses (critical sections, thread-local slots,
 * interlocked operations, last error, tick counter, version query, code-page
 * conversions, private heaps, global memory, FormatMessage over our message
 * table, run-time loading by name and ordinal). The implementations live in
 * src/platform/kernel_*.cpp.
 */
#ifndef TW_PLATFORM_H
#define TW_PLATFORM_H

#if defined(_WIN32)

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
/* security.h, schannel.h and wincrypt.h join here with the TLS layer. */

#else /* !_WIN32 */

#include <stdarg.h>

#include "twtypes.h"
#include "platform/winsock_types.h"
#include "twplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Base macros ------------------------------------------------------- */

#ifndef LOWORD
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xFFFF))
#endif
#ifndef HIWORD
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xFFFF))
#endif
#ifndef MAKEWORD
#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#endif
#ifndef MAKELONG
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#endif

#define INFINITE 0xFFFFFFFF
#define MAX_PATH 260

typedef INT_PTR (WINAPI *FARPROC)(void);

/* ---- Error numbers ----------------------------------------------------- */

#define NO_ERROR                      0
#define ERROR_SUCCESS                 0
#define ERROR_FILE_NOT_FOUND          2
#define ERROR_ACCESS_DENIED           5
#define ERROR_INVALID_HANDLE          6
#define ERROR_NOT_ENOUGH_MEMORY       8
#define ERROR_INVALID_PARAMETER       87
#define ERROR_INSUFFICIENT_BUFFER     122
#define ERROR_MOD_NOT_FOUND           126
#define ERROR_PROC_NOT_FOUND          127
#define ERROR_DISCARDED               157
#define ERROR_NOT_LOCKED              158
#define ERROR_NO_MORE_ITEMS           259
#define ERROR_MR_MID_NOT_FOUND        317
#define ERROR_INVALID_FLAGS           1004
#define ERROR_NO_UNICODE_TRANSLATION  1113
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813
#define ERROR_RESOURCE_LANG_NOT_FOUND 15100

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);

/* ---- Language identifiers ---------------------------------------------- */

#define MAKELANGID(p, s) ((WORD)((((WORD)(s)) << 10) | (WORD)(p)))
#define PRIMARYLANGID(l) ((WORD)(l) & 0x3FF)
#define SUBLANGID(l) ((WORD)(l) >> 10)
#define LANG_NEUTRAL       0x00
#define LANG_ENGLISH       0x09
#define SUBLANG_NEUTRAL    0x00
#define SUBLANG_DEFAULT    0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01

/* ---- Critical sections, thread-local slots, interlocked ---------------- */

/* Holds a recursive mutex; library code never looks inside. */
typedef struct _RTL_CRITICAL_SECTION {
    LONG_PTR Reserved[8];
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

#define TLS_MINIMUM_AVAILABLE 64
#define TLS_OUT_OF_INDEXES    0xFFFFFFFF

DWORD WINAPI TlsAlloc(void);
BOOL WINAPI TlsFree(DWORD dwTlsIndex);
LPVOID WINAPI TlsGetValue(DWORD dwTlsIndex);
BOOL WINAPI TlsSetValue(DWORD dwTlsIndex, LPVOID lpTlsValue);

/* All sequentially consistent. Increment and Decrement return the new value;
   Exchange, CompareExchange and ExchangeAdd return the old one. */
LONG WINAPI InterlockedIncrement(LONG volatile *lpAddend);
LONG WINAPI InterlockedDecrement(LONG volatile *lpAddend);
LONG WINAPI InterlockedExchange(LONG volatile *Target, LONG Value);
LONG WINAPI InterlockedCompareExchange(LONG volatile *Destination,
                                       LONG Exchange, LONG Comperand);
LONG WINAPI InterlockedExchangeAdd(LONG volatile *Addend, LONG Value);
LPVOID WINAPI InterlockedExchangePointer(LPVOID volatile *Target,
                                         LPVOID Value);
LPVOID WINAPI InterlockedCompareExchangePointer(LPVOID volatile *Destination,
                                                LPVOID Exchange, LPVOID Comperand);

DWORD WINAPI GetCurrentThreadId(void);
DWORD WINAPI GetCurrentProcessId(void);

/* ---- Time and version -------------------------------------------------- */

DWORD WINAPI GetTickCount(void);
ULONGLONG WINAPI GetTickCount64(void);
void WINAPI Sleep(DWORD dwMilliseconds);
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);

#define VER_PLATFORM_WIN32_NT 2
#define VER_NT_WORKSTATION    1

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *POSVERSIONINFOW, *LPOSVERSIONINFOW;

typedef struct _OSVERSIONINFOEXA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXA, *POSVERSIONINFOEXA, *LPOSVERSIONINFOEXA;

typedef struct _OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

/* Reports Windows 10 (10.0 build 19045). dwOSVersionInfoSize must be the
   size of the plain or the EX record, else ERROR_INSUFFICIENT_BUFFER. */
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);

/* ---- Code pages -------------------------------------------------------- */

/* The ANSI code page is UTF-8 here. */
#define CP_ACP   0
#define CP_UTF8  65001

#define MB_PRECOMPOSED       0x00000001
#define MB_COMPOSITE         0x00000002
#define MB_USEGLYPHCHARS     0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_COMPOSITECHECK    0x00000200
#define WC_DISCARDNS         0x00000010
#define WC_SEPCHARS          0x00000020
#define WC_DEFAULTCHAR       0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

/* Code pages: CP_ACP, CP_UTF8, 28591 (ISO-8859-1), 20127 (US-ASCII). */
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                               LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags,
                               LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

int WINAPI lstrlenA(LPCSTR lpString);
int WINAPI lstrlenW(LPCWSTR lpString);

/* ---- Private heaps ----------------------------------------------------- */

#define HEAP_NO_SERIALIZE          0x00000001
#define HEAP_GENERATE_EXCEPTIONS   0x00000004
#define HEAP_ZERO_MEMORY           0x00000008
#define HEAP_REALLOC_IN_PLACE_ONLY 0x00000010

HANDLE WINAPI HeapCreate(DWORD flOptions, SIZE_T dwInitialSize,
                         SIZE_T dwMaximumSize);
BOOL WINAPI HeapDestroy(HANDLE hHeap);
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem,
                          SIZE_T dwBytes);
BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem);
HANDLE WINAPI GetProcessHeap(void);

/* ---- Global and local memory ------------------------------------------- */

/* GMEM_ flags and the Global* functions are those applications use too:
   they come from the public twplatform.h. */

#define LMEM_FIXED    0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LHND          (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR          (LMEM_FIXED | LMEM_ZEROINIT)

/* Local memory is global memory, as on Win32. */
HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes);
HLOCAL WINAPI LocalFree(HLOCAL hMem);

/* ---- Message texts ----------------------------------------------------- */

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS  0x00000200
#define FORMAT_MESSAGE_FROM_STRING     0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE    0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM     0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY  0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK  0x000000FF

/* FROM_HMODULE with NULL, GetModuleHandleA(NULL) or PlatformSelfModule()
   searches the library's message table; FROM_SYSTEM knows a few common system
   codes. Inserts are strings (%1, %1!s!). */
DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource,
                            DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments);
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource,
                            DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list *Arguments);

/* ---- Run-time loading -------------------------------------------------- */

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH  2
#define DLL_THREAD_DETACH  3

/* Names are matched without case and without directory; a name without an
   extension gets ".DLL". Built-in modules resolve to stand-in functions; a
   mapped name is a shared object opened with dlopen, where ordinal N is the
   symbol TwTraceOrdinal<N>. */
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
BOOL WINAPI FreeLibrary(HMODULE hLibModule);
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                DWORD nSize);

/* ---- Internal to the platform layer and its tests ---------------------- */

/* One export of a built-in module. lpszName NULL: by ordinal only;
   wOrdinal 0: by name only. */
typedef struct _PLATFORMEXPORT {
    LPCSTR lpszName;
    WORD wOrdinal;
    FARPROC lpfn;
} PLATFORMEXPORT;

/* How a built-in stand-in provides its exports: called at the first load
   (and again after the last FreeLibrary); returns the table, or NULL when
   what backs the module (a library opened at run time) is absent, so that
   LoadLibraryA fails with ERROR_MOD_NOT_FOUND. The stand-ins of the
   platform layer are listed with theirs in kernel_module.cpp. */
typedef const PLATFORMEXPORT *(*PLATFORMOPENPROC)(int *pcExports);

/* Makes lpszDllName a built-in module whose GetProcAddress answers from
   rgExports (kept by reference, so it must outlive the process's use of it).
   Registering a name again replaces its table. FALSE with
   ERROR_INVALID_PARAMETER for a bad argument or a name already mapped to a
   shared object, ERROR_NOT_ENOUGH_MEMORY when the module table is full. */
BOOL PlatformRegisterModule(LPCSTR lpszDllName, const PLATFORMEXPORT *rgExports,
                            int cExports);

/* Maps lpszDllName to the shared object lpszSharedObject (opened with dlopen
   on first load); ordinal N resolves to the symbol lpszOrdinalPrefix<N> in
   decimal, and fails when the prefix is NULL. TWTRACE9.DLL is mapped this way
   to libtwtrace9.so.9 with the prefix "TwTraceOrdinal". Fails like
   PlatformRegisterModule, and with ERROR_ACCESS_DENIED while the name is
   loaded. */
BOOL PlatformMapModuleName(LPCSTR lpszDllName, LPCSTR lpszSharedObject,
                           LPCSTR lpszOrdinalPrefix);

/* The module handle that stands for this library itself (TWMAPAV9.DLL). */
HMODULE PlatformSelfModule(void);

/* Allocation-failure testing: after this call the next n HeapAlloc and
   HeapReAlloc calls on heaps made by HeapCreate succeed and every later one
   fails, until the next call; n < 0 turns failing off. Process-wide; the
   process heap (and so global memory) is never failed. */
void PlatformFailAllocationAfter(LONG n);

#ifdef __cplusplus
}
#endif

#endif /* _WIN32 */

#endif /* TW_PLATFORM_H */

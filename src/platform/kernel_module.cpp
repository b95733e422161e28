/*
 * kernel_module.cpp - run-time loading by name and ordinal (Linux).
 *
 * A fixed table of module records stands in for the loader. A record is
 *   - the process image (GetModuleHandleA(NULL)) or this library itself
 *     (TWMAPAV9.DLL, PlatformSelfModule()), always loaded;
 *   - a built-in module: GetProcAddress answers from a table of exports
 *     that point at stand-in functions. Some built-ins are backed by a
 *     library opened at run time and exist only when it opens;
 *   - a shared object mapped from a DLL name and opened with dlopen on
 *     first load; ordinal N is the symbol <prefix><N> (TWTRACE9.DLL is
 *     libtwtrace9.so.9 with TwTraceOrdinal<N>).
 * An HMODULE is the address of its record, so records are never reused.
 * Loads are reference-counted; a shared object is closed at the last
 * FreeLibrary. DLL names match without case and without directory, and a
 * name without an extension gets ".DLL", as LoadLibrary does.
 */
#if !defined(_WIN32)

#include "platform/platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const int MAX_MODULES = 32;
static const size_t MAX_MODULE_NAME = 64;
static const size_t MAX_SHARED_OBJECT = 256;
static const size_t MAX_ORDINAL_PREFIX = 64;
static const size_t MAX_ORDINAL_DIGITS = 6; /* up to 65535, and the NUL */

enum MODULEKIND {
    MODULE_UNUSED,
    MODULE_IMAGE,
    MODULE_SELF,
    MODULE_BUILTIN,
    MODULE_SHARED,
};

struct MODULEREC {
    MODULEKIND kind;
    char szName[MAX_MODULE_NAME];          /* upper case, with extension */
    const PLATFORMEXPORT *rgExports;       /* built-in */
    int cExports;
    PLATFORMOPENPROC lpfnOpen;             /* built-in, may be NULL */
    char szSharedObject[MAX_SHARED_OBJECT];  /* shared */
    char szOrdinalPrefix[MAX_ORDINAL_PREFIX];
    void *hSharedObject;
    LONG cRef;
};

/* The built-in stand-ins: WS2_32.DLL over BSD sockets (winsock.cpp) and
   NORMALIZ.DLL over libidn2 opened at run time (normaliz.cpp), absent when
   libidn2 is, which its callers handle. */
extern "C" const PLATFORMEXPORT *PlatformWinsockExports(int *pcExports);
extern "C" const PLATFORMEXPORT *PlatformNormalizeExports(int *pcExports);

/* The fixed records first; PlatformRegisterModule and
   PlatformMapModuleName add to the free ones. A built-in stand-in of the
   platform layer is listed here with its PLATFORMOPENPROC, which keeps its
   object file in every link. */
static MODULEREC g_rgModules[MAX_MODULES] = {
    { MODULE_IMAGE, "", NULL, 0, NULL, "", "", NULL, 0 },
    { MODULE_SELF, "TWMAPAV9.DLL", NULL, 0, NULL, "", "", NULL, 0 },
    { MODULE_SHARED, "TWTRACE9.DLL", NULL, 0, NULL, "libtwtrace9.so.9",
      "TwTraceOrdinal", NULL, 0 },
    { MODULE_BUILTIN, "WS2_32.DLL", NULL, 0, PlatformWinsockExports, "", "", NULL, 0 },
    { MODULE_BUILTIN, "NORMALIZ.DLL", NULL, 0, PlatformNormalizeExports, "", "", NULL, 0 },
};

static MODULEREC *const g_lpImage = &g_rgModules[0];
static MODULEREC *const g_lpSelf = &g_rgModules[1];

/* Recursive: a shared object's constructors may load modules themselves. */
static pthread_mutex_t g_ModuleLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

static bool CopyString(char *lpszDest, size_t cchDest, const char *lpszSrc)
{
    size_t cch = strlen(lpszSrc);
    if (cch >= cchDest)
        return false;
    memcpy(lpszDest, lpszSrc, cch + 1);
    return true;
}

/* "c:\\dir\\ws2_32" -> "WS2_32.DLL"; "name." -> "NAME". False when the name
   is empty or too long. */
static bool CanonicalName(LPCSTR lpszName, char szOut[MAX_MODULE_NAME])
{
    const char *lpszBase = lpszName;
    for (const char *p = lpszName; *p; p++) {
        if (*p == '\\' || *p == '/')
            lpszBase = p + 1;
    }
    size_t cch = strlen(lpszBase);
    if (cch == 0 || cch + sizeof(".DLL") > MAX_MODULE_NAME)
        return false;
    for (size_t i = 0; i < cch; i++) {
        char ch = lpszBase[i];
        szOut[i] = (ch >= 'a' && ch <= 'z') ? (char)(ch - 'a' + 'A') : ch;
    }
    szOut[cch] = '\0';
    if (szOut[cch - 1] == '.')
        szOut[cch - 1] = '\0';
    else if (strchr(szOut, '.') == NULL)
        memcpy(szOut + cch, ".DLL", sizeof(".DLL"));
    return szOut[0] != '\0';
}

/* Under g_ModuleLock. */
static MODULEREC *FindByName(const char *lpszCanonical)
{
    for (MODULEREC &rec : g_rgModules) {
        if (rec.kind != MODULE_UNUSED && strcmp(rec.szName, lpszCanonical) == 0)
            return &rec;
    }
    return NULL;
}

/* Under g_ModuleLock. */
static MODULEREC *NewRecord(const char *lpszCanonical, MODULEKIND kind)
{
    for (MODULEREC &rec : g_rgModules) {
        if (rec.kind == MODULE_UNUSED) {
            memset(&rec, 0, sizeof(rec));
            rec.kind = kind;
            CopyString(rec.szName, sizeof(rec.szName), lpszCanonical);
            return &rec;
        }
    }
    return NULL;
}

/* The record of a module handle, or NULL when it is not one. */
static MODULEREC *FromHandle(HMODULE hModule)
{
    uintptr_t u = (uintptr_t)hModule;
    uintptr_t uFirst = (uintptr_t)&g_rgModules[0];
    if (u < uFirst || u >= (uintptr_t)&g_rgModules[MAX_MODULES] ||
        (u - uFirst) % sizeof(MODULEREC) != 0)
        return NULL;
    MODULEREC *lpRec = reinterpret_cast<MODULEREC *>(hModule);
    return lpRec->kind != MODULE_UNUSED ? lpRec : NULL;
}

static HMODULE HandleOf(MODULEREC *lpRec)
{
    return reinterpret_cast<HMODULE>(lpRec);
}

static bool IsLoaded(const MODULEREC *lpRec)
{
    return lpRec->kind == MODULE_IMAGE || lpRec->kind == MODULE_SELF ||
           lpRec->cRef > 0;
}

extern "C" HMODULE PlatformSelfModule(void)
{
    return HandleOf(g_lpSelf);
}

extern "C" BOOL PlatformRegisterModule(LPCSTR lpszDllName,
                                       const PLATFORMEXPORT *rgExports,
                                       int cExports)
{
    char szName[MAX_MODULE_NAME];
    if (lpszDllName == NULL || cExports < 0 ||
        (cExports > 0 && rgExports == NULL) ||
        !CanonicalName(lpszDllName, szName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD dwError = ERROR_SUCCESS;
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = FindByName(szName);
    if (lpRec == NULL)
        lpRec = NewRecord(szName, MODULE_BUILTIN);
    if (lpRec == NULL) {
        dwError = ERROR_NOT_ENOUGH_MEMORY;
    } else if (lpRec->kind != MODULE_BUILTIN) {
        dwError = ERROR_INVALID_PARAMETER;
    } else {
        lpRec->rgExports = rgExports;
        lpRec->cExports = cExports;
        lpRec->lpfnOpen = NULL;
    }
    pthread_mutex_unlock(&g_ModuleLock);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL PlatformMapModuleName(LPCSTR lpszDllName,
                                      LPCSTR lpszSharedObject,
                                      LPCSTR lpszOrdinalPrefix)
{
    char szName[MAX_MODULE_NAME];
    if (lpszDllName == NULL || lpszSharedObject == NULL ||
        lpszSharedObject[0] == '\0' ||
        strlen(lpszSharedObject) >= MAX_SHARED_OBJECT ||
        (lpszOrdinalPrefix != NULL &&
         strlen(lpszOrdinalPrefix) >= MAX_ORDINAL_PREFIX) ||
        !CanonicalName(lpszDllName, szName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD dwError = ERROR_SUCCESS;
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = FindByName(szName);
    if (lpRec == NULL)
        lpRec = NewRecord(szName, MODULE_SHARED);
    if (lpRec == NULL) {
        dwError = ERROR_NOT_ENOUGH_MEMORY;
    } else if (lpRec->kind != MODULE_SHARED) {
        dwError = ERROR_INVALID_PARAMETER;
    } else if (lpRec->cRef > 0) {
        dwError = ERROR_ACCESS_DENIED;
    } else {
        CopyString(lpRec->szSharedObject, sizeof(lpRec->szSharedObject),
                   lpszSharedObject);
        CopyString(lpRec->szOrdinalPrefix, sizeof(lpRec->szOrdinalPrefix),
                   lpszOrdinalPrefix ? lpszOrdinalPrefix : "");
    }
    pthread_mutex_unlock(&g_ModuleLock);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}

/* Under g_ModuleLock: makes the record loaded once more, or returns the
   error. */
static DWORD AddReference(MODULEREC *lpRec)
{
    switch (lpRec->kind) {
    case MODULE_IMAGE:
    case MODULE_SELF:
        return ERROR_SUCCESS;
    case MODULE_BUILTIN:
        if (lpRec->cRef == 0 && lpRec->lpfnOpen != NULL) {
            int cExports = 0;
            const PLATFORMEXPORT *rgExports = lpRec->lpfnOpen(&cExports);
            if (rgExports == NULL)
                return ERROR_MOD_NOT_FOUND;
            lpRec->rgExports = rgExports;
            lpRec->cExports = cExports;
        }
        break;
    case MODULE_SHARED:
        if (lpRec->cRef == 0) {
            lpRec->hSharedObject =
                dlopen(lpRec->szSharedObject, RTLD_NOW | RTLD_LOCAL);
            if (lpRec->hSharedObject == NULL)
                return ERROR_MOD_NOT_FOUND;
        }
        break;
    default:
        return ERROR_MOD_NOT_FOUND;
    }
    lpRec->cRef++;
    return ERROR_SUCCESS;
}

/* NULL with ERROR_MOD_NOT_FOUND for a name that is neither built in nor
   mapped, or whose shared object or backing library does not open. */
extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    char szName[MAX_MODULE_NAME];
    if (!CanonicalName(lpLibFileName, szName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = FindByName(szName);
    DWORD dwError = lpRec ? AddReference(lpRec) : ERROR_MOD_NOT_FOUND;
    pthread_mutex_unlock(&g_ModuleLock);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return NULL;
    }
    return HandleOf(lpRec);
}

/* The last FreeLibrary of a shared object closes it. The image and this
   library are never unloaded. */
extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    BOOL fFreed = FALSE;
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = FromHandle(hLibModule);
    if (lpRec != NULL && (lpRec->kind == MODULE_IMAGE ||
                          lpRec->kind == MODULE_SELF)) {
        fFreed = TRUE;
    } else if (lpRec != NULL && lpRec->cRef > 0) {
        if (--lpRec->cRef == 0 && lpRec->kind == MODULE_SHARED) {
            dlclose(lpRec->hSharedObject);
            lpRec->hSharedObject = NULL;
        }
        fFreed = TRUE;
    }
    pthread_mutex_unlock(&g_ModuleLock);
    if (!fFreed)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return fFreed;
}

/* Under g_ModuleLock. */
static FARPROC FindExport(const MODULEREC *lpRec, LPCSTR lpProcName)
{
    bool fByOrdinal = (uintptr_t)lpProcName <= 0xFFFF;
    WORD wOrdinal = (WORD)(uintptr_t)lpProcName;
    if (fByOrdinal && wOrdinal == 0)
        return NULL;
    if (lpRec->kind == MODULE_BUILTIN) {
        for (int i = 0; i < lpRec->cExports; i++) {
            const PLATFORMEXPORT &exp = lpRec->rgExports[i];
            if (fByOrdinal ? exp.wOrdinal == wOrdinal
                           : exp.lpszName != NULL &&
                                 strcmp(exp.lpszName, lpProcName) == 0)
                return exp.lpfn;
        }
        return NULL;
    }
    if (lpRec->kind == MODULE_SHARED) {
        char szSymbol[MAX_ORDINAL_PREFIX + MAX_ORDINAL_DIGITS];
        const char *lpszSymbol = lpProcName;
        if (fByOrdinal) {
            if (lpRec->szOrdinalPrefix[0] == '\0')
                return NULL;
            snprintf(szSymbol, sizeof(szSymbol), "%s%u",
                     lpRec->szOrdinalPrefix, (unsigned)wOrdinal);
            lpszSymbol = szSymbol;
        }
        return reinterpret_cast<FARPROC>(
            dlsym(lpRec->hSharedObject, lpszSymbol));
    }
    return NULL; /* the image and this library export nothing here */
}

/* lpProcName at most 0xFFFF is an ordinal. NULL with ERROR_MOD_NOT_FOUND
   for a handle that is not a loaded module, ERROR_PROC_NOT_FOUND when it
   has no such export. */
extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    DWORD dwError = ERROR_SUCCESS;
    FARPROC lpfn = NULL;
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = hModule ? FromHandle(hModule) : g_lpImage;
    if (lpRec == NULL || !IsLoaded(lpRec)) {
        dwError = ERROR_MOD_NOT_FOUND;
    } else if (lpProcName == NULL) {
        dwError = ERROR_PROC_NOT_FOUND;
    } else {
        lpfn = FindExport(lpRec, lpProcName);
        if (lpfn == NULL)
            dwError = ERROR_PROC_NOT_FOUND;
    }
    pthread_mutex_unlock(&g_ModuleLock);
    if (lpfn == NULL)
        SetLastError(dwError);
    return lpfn;
}

/* NULL: the process image. A name: the module if it is loaded, without
   adding a reference; else NULL with ERROR_MOD_NOT_FOUND. */
extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName == NULL)
        return HandleOf(g_lpImage);
    char szName[MAX_MODULE_NAME];
    MODULEREC *lpRec = NULL;
    if (CanonicalName(lpModuleName, szName)) {
        pthread_mutex_lock(&g_ModuleLock);
        lpRec = FindByName(szName);
        if (lpRec != NULL && !IsLoaded(lpRec))
            lpRec = NULL;
        pthread_mutex_unlock(&g_ModuleLock);
    }
    if (lpRec == NULL) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return HandleOf(lpRec);
}

static bool ImagePath(char *lpszPath, size_t cchPath)
{
    ssize_t cch = readlink("/proc/self/exe", lpszPath, cchPath - 1);
    if (cch <= 0)
        return false;
    lpszPath[cch] = '\0';
    return true;
}

/* Under g_ModuleLock: the file of a loaded module. A built-in module has
   none and answers with its DLL name. */
static bool ModulePath(const MODULEREC *lpRec, char *lpszPath, size_t cchPath)
{
    switch (lpRec->kind) {
    case MODULE_IMAGE:
        return ImagePath(lpszPath, cchPath);
    case MODULE_SELF: {
        Dl_info info;
        if (dladdr(reinterpret_cast<void *>(&PlatformSelfModule), &info) &&
            info.dli_fname != NULL && info.dli_fname[0] != '\0') {
            char szReal[PATH_MAX];
            if (realpath(info.dli_fname, szReal) != NULL)
                return CopyString(lpszPath, cchPath, szReal);
        }
        return ImagePath(lpszPath, cchPath); /* linked into the program */
    }
    case MODULE_BUILTIN:
        return CopyString(lpszPath, cchPath, lpRec->szName);
    case MODULE_SHARED: {
        struct link_map *lpMap = NULL;
        if (dlinfo(lpRec->hSharedObject, RTLD_DI_LINKMAP, &lpMap) != 0 ||
            lpMap == NULL || lpMap->l_name == NULL)
            return false;
        return CopyString(lpszPath, cchPath, lpMap->l_name);
    }
    default:
        return false;
    }
}

/* Length copied without the terminator. A path that does not fit is cut
   to nSize - 1 characters and terminated; the result is then nSize with
   ERROR_INSUFFICIENT_BUFFER. */
extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                           DWORD nSize)
{
    char szPath[PATH_MAX];
    bool fFound = false;
    pthread_mutex_lock(&g_ModuleLock);
    MODULEREC *lpRec = hModule ? FromHandle(hModule) : g_lpImage;
    if (lpRec != NULL && IsLoaded(lpRec))
        fFound = ModulePath(lpRec, szPath, sizeof(szPath));
    pthread_mutex_unlock(&g_ModuleLock);
    if (!fFound) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == NULL && nSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t cch = strlen(szPath);
    if (cch < nSize) {
        memcpy(lpFilename, szPath, cch + 1);
        SetLastError(ERROR_SUCCESS);
        return (DWORD)cch;
    }
    if (nSize != 0) {
        memcpy(lpFilename, szPath, nSize - 1);
        lpFilename[nSize - 1] = '\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

#endif /* !_WIN32 */

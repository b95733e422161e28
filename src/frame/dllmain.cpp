/*
 * dllmain.cpp - process notifications of the shared library.
 *
 * On Windows the loader calls DllMain. On Linux a constructor and a
 * destructor play the same part, with the module handle that the platform
 * layer gives this library. Only the shared library carries this file: a
 * statically linked program sets the library up on its first
 * ImapInitialize instead.
 */
#include "frame/frame.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        AttachLibrary((HMODULE)hInstance);
        break;
    case DLL_PROCESS_DETACH:
        DetachLibrary();
        break;
    default:
        break;
    }
    return TRUE;
}

#if !defined(_WIN32)
__attribute__((constructor)) static void LibraryLoaded(void)
{
    DllMain((HINSTANCE)PlatformSelfModule(), DLL_PROCESS_ATTACH, NULL);
}

__attribute__((destructor)) static void LibraryUnloaded(void)
{
    DllMain((HINSTANCE)PlatformSelfModule(), DLL_PROCESS_DETACH, NULL);
}
#endif

# The same DLL built for 64-bit Windows. Its only use is testing: where the
# machine cannot execute 32-bit code (a kernel without IA-32 emulation),
# Wine runs the Windows test programs as 64-bit ones instead.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

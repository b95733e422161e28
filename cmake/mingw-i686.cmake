# TWMAPAV9.DLL for 32-bit Windows, the product, with Debian's mingw-w64
# (posix thread model, so std::thread works in the tests). Test programs run
# under Wine through tests/wine-run where the machine can execute 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

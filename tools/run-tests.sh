#!/bin/bash
# Builds both targets from a clean tree and runs every test:
#   build/linux   Linux library and tests
#   build/asan    the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   build/tsan    the same under ThreadSanitizer
#   build/win32   TWMAPAV9.DLL for 32-bit Windows (the product)
#   build/win64   the same library as a 64-bit DLL
# Windows test programs run under Wine. A machine whose kernel cannot execute
# 32-bit code (IA-32 emulation off) cannot run 32-bit Wine: there the win32
# tree runs only the checks of the DLL file itself, and the Windows test
# programs run in the win64 tree under wine64.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/setup-debian.sh || exit 1

jobs=2
status=0
summary=()

build() { # name cmake-args...
  local name=$1; shift
  echo "=== configure and build $name"
  cmake -S . -B "build/$name" "$@" >"build-$name.log" 2>&1 &&
    cmake --build "build/$name" -j$jobs >>"build-$name.log" 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    tail -40 "build-$name.log"
    echo "=== $name: build FAILED"
    status=1
    summary+=("$name: build failed")
  fi
  return $rc
}

run_ctest() { # name ctest-args...
  local name=$1; shift
  echo "=== tests of $name"
  (cd "build/$name" && ctest --output-on-failure --timeout 900 "$@")
  local rc=$?
  [ $rc -eq 0 ] || status=1
  summary+=("$name: $( [ $rc -eq 0 ] && echo passed || echo FAILED )")
}

can_run_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

mkdir -p build
build linux -DCMAKE_BUILD_TYPE=Debug && run_ctest linux
build asan -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=address,undefined && \
  ASAN_OPTIONS=detect_leaks=1 run_ctest asan
build tsan -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=thread && \
  TSAN_OPTIONS=halt_on_error=1 run_ctest tsan
if build win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake; then
  if can_run_32bit; then
    run_ctest win32
  else
    echo "=== this machine cannot execute 32-bit code: win32 runs its file checks, win64 runs the Windows tests"
    run_ctest win32 -LE wine
    build win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake && run_ctest win64
  fi
fi

echo "=== summary"
printf '  %s\n' "${summary[@]}"
exit $status

#!/bin/bash
# The main job: builds the library and its command-line client on Linux and
# runs the client.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash tools/setup-debian.sh
cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/linux -j2 --target twimap >/dev/null
build/linux/bin/twimap version
build/linux/bin/twimap error 0x80042736

#!/usr/bin/env bash
# Configures and builds the Windows program into build/ with the mingw-w64
# cross compiler. With --clean, starts from an empty build folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

[ "${1:-}" = "--clean" ] && rm -rf "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"

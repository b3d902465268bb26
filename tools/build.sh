#!/usr/bin/env bash
# Configures and builds the Windows program with the mingw-w64 cross
# compiler: gcc into build/ or, with --clang, clang and lld into build/clang.
# --clean starts from an empty build folder; --strict makes a warning in the
# program's own sources fail the build, as the tests build it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"
toolchain=toolchain-mingw-i686.cmake
packages=ON
clean=0
strict=OFF
for option in "$@"; do
    case "$option" in
        --clean) clean=1 ;;
        --strict) strict=ON ;;
        # The downloads come from the gcc build; clang's is a second opinion.
        --clang) build="$root/build/clang"; toolchain=toolchain-clang-mingw-i686.cmake; packages=OFF ;;
        *) echo "usage: build.sh [--clean] [--strict] [--clang]" >&2; exit 2 ;;
    esac
done

[ "$clean" -eq 1 ] && rm -rf "$build"
# The compile commands let clang-tidy (tools/analyse.sh) and editors read the
# sources as the cross compiler does.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS="$strict" \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_PACKAGES="$packages" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)"

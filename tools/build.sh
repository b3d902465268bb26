#!/usr/bin/env bash
# Configures and builds the Windows program with the mingw-w64 cross
# compiler: gcc into build/ or, with --clang, clang and lld into build/clang.
# --clean starts from an empty build folder; --strict makes a warning in the
# program's own sources fail the build, as the tests build it.
# --play builds only the executable and its staged keys folder, as ./run.sh
# needs: a new build folder is configured without the tests and the
# packages, and one configured already keeps all its options, so that the
# build ./test.sh left is used as it is and nothing recompiles for a change
# of flags.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"
toolchain=toolchain-mingw-i686.cmake
packages=ON
testing=ON
clean=0
strict=OFF
play=0
targets=()
for option in "$@"; do
    case "$option" in
        --clean) clean=1 ;;
        --strict) strict=ON ;;
        # The downloads come from the gcc build; clang's is a second opinion.
        --clang) build="$root/build/clang"; toolchain=toolchain-clang-mingw-i686.cmake; packages=OFF ;;
        --play) play=1; testing=OFF; packages=OFF; targets=(--target MorvanePiano stage_keys) ;;
        *) echo "usage: build.sh [--clean] [--strict] [--clang] [--play]" >&2; exit 2 ;;
    esac
done

[ "$clean" -eq 1 ] && rm -rf "$build"
# The compile commands let clang-tidy (tools/analyse.sh) and editors read the
# sources as the cross compiler does. Testing is asked for by name, so that
# a folder first configured by --play gets its tests and test tools here.
options=(-DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS="$strict"
         -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_PACKAGES="$packages" -DBUILD_TESTING="$testing"
         -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain")
[ "$play" -eq 1 ] && [ -f "$build/CMakeCache.txt" ] && options=()
cmake -S "$root" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

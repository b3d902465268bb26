#!/usr/bin/env bash
# Checks that the downloads are reproducible: builds the checkout's last
# commit twice from clean clones, in two differently named folders, at two
# different times, under different time zones and umasks, and compares the
# executable, the zip and the installer byte for byte. On a difference it
# names the file and its first differing offsets. Also checks each build's
# SHA256SUMS with sha256sum -c. Exits non-zero on any difference.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/reproduce-XXXXXX")
trap 'rm -rf "$work"' EXIT

# build FOLDER TZ UMASK: a clean clone of the last commit, built with only
# what the downloads need.
build() {
    local src=$1
    git clone -q --no-local "$root" "$src"
    (
        cd "$src"
        export TZ=$2
        umask "$3"
        cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
              -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-i686.cmake" >/dev/null
        cmake --build build -j"$(nproc)" --target package_all >/dev/null
        cd build/packages && sha256sum --quiet -c SHA256SUMS
    )
}

build "$work/first" UTC 022
build "$work/second/clone of the same commit" Pacific/Kiritimati 077

status=0
cd "$work/first/build"
for name in stage/MorvanePiano.exe packages/*-win32.zip packages/*-setup.exe; do
    other="$work/second/clone of the same commit/build/$name"
    if cmp -s "$name" "$other"; then
        echo "reproduce: $name identical ($(stat -c %s "$name") bytes)"
    else
        echo "reproduce: $name differs; first differing offsets (decimal, bytes in octal):"
        cmp -l "$name" "$other" | head -5 || true
        status=1
    fi
done
exit $status

#!/usr/bin/env bash
# Static analysis of the program's own sources in src/: clang-tidy with the
# checks in .clang-tidy, and cppcheck with tools/cppcheck-suppressions.xml.
# Prints every finding and exits non-zero on any.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/clang"

# clang-tidy must read windows.h as the cross-build does, so it takes the
# clang build's compile commands; both tools need the generated product.h.
if [ ! -f "$build/compile_commands.json" ]; then
    "$root/tools/build.sh" --clang >/dev/null || exit 1
fi

cd "$root"
sources=(src/*/*.cpp)
status=0

echo "clang-tidy: ${#sources[@]} files"
# Newer releases also say which file they are at.
clang-tidy -p "$build" --quiet "${sources[@]}" 2>&1 |
    grep -v -E '^([0-9]+ warnings? generated\.|\[[0-9]+/[0-9]+\] Processing file .*)$'
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

# cppcheck reads no system headers: its Windows library describes the
# platform's calls better than it can parse mingw-w64's headers. Its
# information messages are left out: they speak of the tool's own run
# (headers not read, suppressions that a release no longer needs, its list
# of checkers), and differ from one release to the next.
# Newer releases follow only some of a function's branches unless told to
# follow them all, and say so in a message that fails the run; older ones
# have no such setting.
depth=()
[[ $(cppcheck --help) == *--check-level* ]] && depth=(--check-level=exhaustive)
echo "cppcheck: ${#sources[@]} files"
cppcheck "${depth[@]}" --enable=warning,style,performance,portability --inconclusive \
    --platform=win32A --library=windows --std=c++11 --language=c++ \
    -I src -I "$build/generated" --suppress-xml=tools/cppcheck-suppressions.xml \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
    --error-exitcode=1 --quiet "${sources[@]}" || status=1

if [ "$status" -eq 0 ]; then
    echo "analysis: no findings"
else
    echo "analysis: findings above"
fi
exit "$status"

#!/usr/bin/env bash
# Sets up, builds from scratch (with gcc, and with clang as a second
# compiler, each failing on a warning) and runs every test headless: static
# analysis of the sources, the reproducibility of the downloads, the unit
# tests of both builds (Windows executables under Wine, through ctest) on a
# virtual screen of their own, then the scripts' tests, the sound-file checks
# and the end-to-end tests against the real executable. Ends with one summary
# line; exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build="$root/build"
python=/usr/bin/python3    # Debian's, which has numpy and pytest

"$root/tools/setup.sh" || exit 1
# A warning in the program's own sources fails the run, with either compiler.
"$root/tools/build.sh" --clean --strict || { echo "Summary: 0 passed, 1 failed (build)"; exit 1; }
results="$build/results"
mkdir -p "$results"

# step NAME COMMAND...: runs a check that has no test report of its own and
# records it as one test case of a JUnit report, for the summary.
step() {
    local name=$1 failed=0
    shift
    echo "== $name"
    "$@" || failed=1
    local outcome=""
    [ "$failed" -eq 0 ] || outcome="<failure/>"
    printf '<testsuite name="%s" tests="1" failures="%d"><testcase name="%s">%s</testcase></testsuite>\n' \
        "$name" "$failed" "$name" "$outcome" >"$results/$name.xml"
    return $failed
}
step clang-build "$root/tools/build.sh" --clang --strict && clang_built=1 || clang_built=0
step analysis "$root/tools/analyse.sh"
step reproducible-downloads "$root/tools/reproduce.sh"

source "$root/tools/headless.sh"
start_headless "$build/headless" || { echo "Summary: 0 passed, 1 failed (headless set-up)"; exit 1; }
trap stop_headless EXIT

(cd "$build" && ctest --output-on-failure --output-junit "$results/unit.xml")
[ "$clang_built" -eq 1 ] &&
    (cd "$build/clang" && ctest --output-on-failure --output-junit "$results/unit-clang.xml")
"$python" -m pytest -q -rP -p no:cacheprovider "$root/tests/scripts" "$root/tests/sound" "$root/tests/e2e" \
    --junitxml="$results/end-to-end.xml"
"$python" "$root/tools/summarise.py" "$results"/*.xml

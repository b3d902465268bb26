#!/usr/bin/env bash
# Sets up, builds from scratch (with gcc, and with clang as a second
# compiler, each failing on a warning) and runs every test headless: static
# analysis of the sources, the reproducibility of the downloads, the unit
# tests of both builds (Windows executables under Wine, through ctest) on a
# virtual screen of their own, then the scripts' tests, the sound-file checks
# and the end-to-end tests against the real executable. Ends with the time
# each step took, the failed cases and one summary line; exits non-zero on
# any failure.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build="$root/build"
python=/usr/bin/python3    # Debian's, which has numpy and pytest

source "$root/tools/headless.sh"
# Said now rather than after the builds, where the virtual screen starts.
bound_is_seconds "test.sh: " || { echo "Summary: 0 passed, 1 failed (headless set-up)"; exit 1; }

# timed NAME COMMAND...: runs the command and notes how long it took, for the
# times that the summary lists.
times=()
timed() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    times+=(--took "$name=$((SECONDS - start))")
    return $status
}

timed set-up "$root/tools/setup.sh" || { echo "Summary: 0 passed, 1 failed (set-up)"; exit 1; }
# A warning in the program's own sources fails the run, with either compiler.
timed "gcc build" "$root/tools/build.sh" --clean --strict ||
    { echo "Summary: 0 passed, 1 failed (build)"; exit 1; }
results="$build/results"
mkdir -p "$results"

# step NAME COMMAND...: runs a check that has no test report of its own and
# records it as one test case of a JUnit report, for the summary.
step() {
    local name=$1 failed=0
    shift
    echo "== $name"
    timed "${name//-/ }" "$@" || failed=1
    local outcome=""
    [ "$failed" -eq 0 ] || outcome="<failure/>"
    printf '<testsuite name="%s" tests="1" failures="%d"><testcase name="%s">%s</testcase></testsuite>\n' \
        "$name" "$failed" "$name" "$outcome" >"$results/$name.xml"
    return $failed
}
step clang-build "$root/tools/build.sh" --clang --strict && clang_built=1 || clang_built=0
step analysis "$root/tools/analyse.sh"
step reproducible-downloads "$root/tools/reproduce.sh"

timed "virtual screen" start_headless "$build/headless" ||
    { echo "Summary: 0 passed, 1 failed (headless set-up)"; exit 1; }
trap stop_headless EXIT

# unit_tests FOLDER REPORT: a build's unit tests under Wine.
unit_tests() {
    (cd "$1" && ctest --output-on-failure --output-junit "$2")
}
timed "unit tests" unit_tests "$build" "$results/unit.xml"
[ "$clang_built" -eq 1 ] && timed "clang's unit tests" unit_tests "$build/clang" "$results/unit-clang.xml"
# xunit1 reports each case's file, by which the summary adds up each file's time.
timed pytest "$python" -m pytest -q -rP -p no:cacheprovider "$root/tests/scripts" "$root/tests/sound" \
    "$root/tests/e2e" -o junit_family=xunit1 --junitxml="$results/end-to-end.xml"
"$python" "$root/tools/summarise.py" "${times[@]}" "$results"/*.xml

#!/usr/bin/env bash
# Sets up, builds from scratch (with gcc, and with clang as a second
# compiler) and runs every test headless: the unit tests (Windows executables
# under Wine, through ctest) on a virtual screen of their own, then the
# sound-file checks and the end-to-end tests against the real executable.
# Ends with one summary line; exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build="$root/build"
python=/usr/bin/python3    # Debian's, which has numpy and pytest

"$root/tools/setup.sh" || exit 1
# A warning in the program's own sources fails the run, with either compiler.
"$root/tools/build.sh" --clean --strict || { echo "Summary: 0 passed, 1 failed (build)"; exit 1; }
"$root/tools/build.sh" --clang --strict || { echo "Summary: 0 passed, 1 failed (clang build)"; exit 1; }

source "$root/tools/headless.sh"
start_headless "$build/headless" || { echo "Summary: 0 passed, 1 failed (headless set-up)"; exit 1; }
trap stop_headless EXIT

results="$build/results"
mkdir -p "$results"
(cd "$build" && ctest --output-on-failure --output-junit "$results/unit.xml")
"$python" -m pytest -q -p no:cacheprovider "$root/tests/sound" "$root/tests/e2e" \
    --junitxml="$results/end-to-end.xml"
"$python" "$root/tools/summarise.py" "$results/unit.xml" "$results/end-to-end.xml"

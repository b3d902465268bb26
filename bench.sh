#!/usr/bin/env bash
# Measures the piano against the floor of its platform and prints one table:
# start-up beside a bare window, key response, note start, size and memory.
# Sets up and builds first (incrementally, into build/); the measuring runs
# on a virtual screen and in a Wine prefix of its own.
# Figures only: nothing here passes or fails on speed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

"$root/tools/setup.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "Building ..."
if ! "$root/tools/build.sh" >"$log" 2>&1; then
    cat "$log"
    echo "bench: the build failed" >&2
    exit 1
fi
# Debian's python3, which has numpy.
/usr/bin/python3 "$root/bench/run.py" "$@"

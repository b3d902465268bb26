#!/usr/bin/env bash
# Sets up what playing needs, builds the program and starts it under Wine on
# your display, from the staged folder that holds the executable and its
# keys folder. Says in a line what each step does; the tools' own output
# goes to build/run.log, which a failing step names. Exits with the piano's
# exit code.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$root/tools/first-start.sh"

# Wine says nothing when it finds no display, so look before doing any work:
# a local display (:0) has its socket in /tmp/.X11-unix.
no_display() {
    echo "run.sh: $1: run it from a desktop session, or set DISPLAY (e.g. DISPLAY=:0 ./run.sh)" >&2
    exit 1
}
[ -n "${DISPLAY:-}" ] || no_display "no X display (DISPLAY is not set)"
if [[ $DISPLAY =~ ^:([0-9]+) ]] && [ ! -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]; then
    no_display "no X display at DISPLAY=$DISPLAY"
fi
bound_is_seconds "run.sh: " || exit 1

mkdir -p "$root/build"
log="$root/build/run.log"
: >"$log"

# step TEXT COMMAND...: says what it does and runs the command into the log;
# on failure names the step, shows the end of its output and exits.
step() {
    local text=$1
    shift
    echo "$text ..."
    "$@" >>"$log" 2>&1 || step_failed "$text"
}

step_failed() {
    tail -n 15 "$log" >&2
    echo "run.sh: $1 failed; the whole output is in $log" >&2
    exit 1
}

missing=$("$root/tools/setup.sh" --play --missing) ||
    step "Installing what playing needs ($missing)" "$root/tools/setup.sh" --play
# What set-up has to say of what it did, such as bringing an emulator.
grep '^setup.sh:' "$log" >&2 || true
step "Building the piano" "$root/tools/build.sh" --play

# Wine's conventions: the user's WINEPREFIX, or its default one. Wine would
# make the prefix at the first start anyway, but silently for several
# seconds, and without these overrides it would offer to install its .NET
# and HTML engines.
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# A prefix that a first start of ours left unfinished is started again.
if ! prefix_ready; then
    echo "Preparing Wine's prefix (first run only) ..."
    first_start "$log" "run.sh: " || exit 1
fi

echo "Starting the piano"
cd "$root/build/stage"
exec wine MorvanePiano.exe

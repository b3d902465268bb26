#!/usr/bin/env bash
# Sets up, builds and starts the piano under Wine on your display, from the
# staged folder that holds the executable and its keys folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
cd "$root/build/stage"
WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=} exec wine MorvanePiano.exe

#!/usr/bin/env bash
# Remakes docs/piano.png, the README's picture, from the real program: sets
# up, builds (incrementally, into build/) and photographs the piano on a
# virtual screen of its own with a chord held.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
/usr/bin/python3 "$root/tools/screenshot.py"

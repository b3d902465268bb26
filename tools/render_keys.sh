#!/bin/bash
# Regenerates keys/40.wav .. keys/64.wav (middle C up to C6) from the grand
# piano of Debian's MuseScore General soundfont. Same soundfont and tools in,
# same files out, so rerunning it only shows up in git if something changed.
#
# Needs (Debian): musescore-general-soundfont fluidsynth sox python3-numpy
set -euo pipefail

SOUNDFONT=/usr/share/sounds/sf3/MuseScore_General_Full.sf3
PY=/usr/bin/python3   # the system interpreter is the one that has numpy
tools=$(cd "$(dirname "$0")" && pwd)
keys=$(dirname "$tools")/keys

die() { echo "render_keys: $*" >&2; exit 1; }
[ -r "$SOUNDFONT" ] || die "soundfont $SOUNDFONT not found; install it with: apt-get install musescore-general-soundfont"
for tool in fluidsynth sox; do
    command -v "$tool" >/dev/null || die "$tool not found; install it with: apt-get install $tool"
done
"$PY" -c 'import numpy' 2>/dev/null || die "numpy missing for $PY; install it with: apt-get install python3-numpy"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# All keys in one take: loading the soundfont is most of the rendering time.
"$PY" "$tools/render_keys.py" score "$tmp/take.mid"
# Dry and in float: reverb and chorus would blur the attack and fill the
# tail, and float output leaves the final scaling and rounding to us.
fluidsynth -q -n -i -R 0 -C 0 -g 0.5 -r 44100 -T wav -O float \
    -F "$tmp/take.wav" "$SOUNDFONT" "$tmp/take.mid" >/dev/null
# -V1: sox grumbles about the short fmt chunk fluidsynth writes, harmlessly.
sox -V1 "$tmp/take.wav" -t f32 "$tmp/take.f32" channels 1

mkdir -p "$keys"
"$PY" "$tools/render_keys.py" finish "$tmp/take.f32" "$keys"
echo "render_keys: wrote $(ls "$keys"/[0-9]*.wav | wc -l) files to $keys"

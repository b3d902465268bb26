#!/usr/bin/env bash
# Proves that the downloads are reproducible: builds the checkout's last
# commit twice from clean clones, in folders, time zones and umasks that
# differ, and compares what they make byte for byte. It also keeps a proven
# release to publish (--keep DIR), and checks a published signed release
# (--signed RELEASE). docs/releasing.md says how to use it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage() {
    echo "usage: reproduce.sh [--keep DIR] | --signed RELEASE" >&2
    exit 2
}
release=""
keep=""
while [ $# -gt 0 ]; do
    [ $# -gt 1 ] || usage
    case "$1" in
        --signed) release=$(cd "$2" && pwd) ;;
        --keep) keep=$2 ;;
        *) usage ;;
    esac
    shift 2
done
[ -z "$release" ] || [ -z "$keep" ] || usage

# A release folder holds one release alone: an earlier run's signatures
# must never sit beside another's downloads. Checked now, the folder could
# be taken by another run before the files are written minutes later, so it
# is claimed now: made, and marked with a file that only one run can create
# (noclobber), which shows it taken to any other run.
marker=.reproduce-running
claimed=""
made=()
# make_folder DIR: DIR and its missing parents, as mkdir -p does, one at a
# time so that made lists, deepest first, only the folders this run made:
# one that another run makes meanwhile is used but never taken away.
make_folder() {
    local parent
    parent=$(dirname -- "$1")
    [ -e "$1" ] || [ "$parent" = "$1" ] || make_folder "$parent" || return
    if mkdir -- "$1" 2>/dev/null; then made=("$1" "${made[@]}"); else [ -d "$1" ]; fi
}
claim() {
    if ! make_folder "$keep" || ! [ -w "$keep" ]; then
        echo "reproduce.sh: cannot make or write to $keep" >&2
        exit 2
    fi
    (set -C && : >"$keep/$marker") 2>/dev/null && claimed=$keep/$marker
    if [ -z "$claimed" ] || [ "$(ls -A -- "$keep")" != "$marker" ]; then
        echo "reproduce.sh: $keep is not an empty folder: a release is kept only in a new or empty one" >&2
        exit 2
    fi
}
# unclaim: a run that keeps nothing takes away what its claim made, up to
# the first folder that something else has since been put in. It runs in
# the EXIT trap, where a failing command would change the exit status.
unclaim() {
    [ -z "$claimed" ] || rm -f -- "$claimed"
    local folder
    for folder in "${made[@]}"; do rmdir -- "$folder" 2>/dev/null || break; done
}
work=$(mktemp -d "${TMPDIR:-/tmp}/reproduce-XXXXXX")
trap 'rm -rf "$work"; unclaim' EXIT
[ -z "$keep" ] || claim

# fail WHAT: the last line of a run that ends without a release.
fail() {
    echo "reproduce.sh: $1${keep:+, so nothing is kept in $keep}" >&2
    exit 1
}

# build FOLDER TZ UMASK [CMAKE-OPTION...]: a clean clone of the last commit,
# built with only what the downloads need. Each step is chained, as set -e
# does not hold in a function called where its failure is tested.
build() {
    local src=$1 zone=$2 mask=$3
    shift 3
    git clone -q --no-local "$root" "$src" && (
        cd "$src" && export TZ="$zone" && umask "$mask" &&
        cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@" \
              -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-i686.cmake" >/dev/null &&
        cmake --build build -j"$(nproc)" --target package_all >/dev/null &&
        cd build/packages && sha256sum --quiet -c SHA256SUMS
    )
}

# compare FOLDER OTHER NAME...: each named file of FOLDER against OTHER's.
compare() {
    local one=$1 other=$2 name status=0
    shift 2
    for name in "$@"; do
        if cmp -s "$one/$name" "$other/$name"; then
            echo "reproduce: $name identical ($(stat -c %s "$one/$name") bytes)"
        else
            echo "reproduce: $name differs; first differing offsets (decimal, bytes in octal):"
            cmp -l "$one/$name" "$other/$name" | head -5 || true
            status=1
        fi
    done
    return $status
}

# The files a release publishes, as they are named in a build's packages
# folder: the downloads, their checksums and any signatures.
published() {
    (cd "$1" && shopt -s nullglob && printf '%s\n' *-win32.zip *-setup.exe SHA256SUMS *.p7s)
}

# attach_and_compare RELEASE FOLDER BUILD: an unsigned build in FOLDER with
# RELEASE's signatures attached gives RELEASE's downloads and checksums; if
# it fails, it is named as BUILD.
attach_and_compare() {
    build "$2" Pacific/Kiritimati 077 -DSIGN_COMMAND= -DATTACH_SIGNATURES="$1" || fail "$3 failed"
    echo "reproduce: built unsigned, with the signatures in $1 attached"
    local built="$2/build/packages" names
    mapfile -t names < <(published "$built")
    compare "$1" "$built" "${names[@]}"
}

if [ -n "$release" ]; then
    attach_and_compare "$release" "$work/attached" "the build" ||
        fail "the build differs from the release in $release"
    exit
fi

build "$work/first" UTC 022 || fail "the first build failed"
first="$work/first/build"
mapfile -t names < <(published "$first/packages")
second="$work/second/clone of the same commit"
status=0
# A signed release is proven as anyone can rebuild it: unsigned, with its
# signatures attached.
if [ -n "${SIGN_COMMAND:-}" ]; then
    attach_and_compare "$first/packages" "$second" "the second build" || status=1
    compare "$first" "$second/build" stage/MorvanePiano.exe || status=1
else
    build "$second" Pacific/Kiritimati 077 || fail "the second build failed"
    compare "$first" "$second/build" stage/MorvanePiano.exe "${names[@]/#/packages/}" || status=1
fi
[ "$status" -eq 0 ] || fail "the builds differ"
if [ -n "$keep" ]; then
    cp -- "${names[@]/#/$first/packages/}" "$keep"
    rm -- "$claimed"
    claimed=""
    made=()
    echo "reproduce: kept ${names[*]} in $keep"
fi

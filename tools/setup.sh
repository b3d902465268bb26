#!/usr/bin/env bash
# Installs what building, running and testing need on Debian: the
# i686 mingw-w64 cross compiler and clang beside it, clang-tidy and cppcheck,
# 32-bit Wine, a virtual X screen and the tools the tests drive it with
# (git for the build's date and the reproducibility check, ps for the
# browser test), and osslsigncode and OpenSSL for the tests of signed
# downloads.
# --play installs only what building and playing need (./run.sh);
# --missing installs nothing: it names what is missing, and fails if anything is.
# Idempotent: quick when everything is there.
set -euo pipefail

# The toolchain file uses only the -posix compilers, so the -win32 ones that
# g++-mingw-w64-i686 would add are left out. The wine package gives the wine
# command and, with wine32:i386 named, needs no 64-bit Wine.
packages=(cmake make g++-mingw-w64-i686-posix wine wine32:i386)
play=0
missing_only=0
for option in "$@"; do
    case "$option" in
        --play) play=1 ;;
        --missing) missing_only=1 ;;
        *) echo "usage: setup.sh [--play] [--missing]" >&2; exit 2 ;;
    esac
done
[ "$play" -eq 1 ] || packages+=(
    clang lld llvm clang-tidy cppcheck
    xvfb xdotool imagemagick x11-utils
    googletest sox lame python3 python3-pytest python3-numpy
    nsis zip unzip git procps ninja-build
    osslsigncode openssl
)

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$missing_only" -eq 1 ]; then
    echo "${missing[*]}"
    exit 1
fi

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
# A package archive mid-update can serve a list that does not match its
# index ("File has unexpected size ... Mirror sync in progress?") for a
# while: the update is tried again after a pause, and if it still fails the
# install is tried with the lists that did arrive, which may be enough, and
# where a security suite's list was the one missing, tried once more below.
updated=0
for pause in 10 30 0; do
    if update_log=$($sudo apt-get update -qq 2>&1); then
        updated=1
        break
    fi
    sleep "$pause"
done
if [ "$updated" -eq 0 ]; then
    printf '%s\n' "$update_log" >&2
fi
install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"
}
if install; then
    exit 0
elif [ "$updated" -eq 1 ]; then
    exit 1
fi
# failed_list SUITE-PATTERN: the first list of such a suite that did not
# download, as "SUITE/COMPONENT (ARCH)". apt names it by its address:
# .../dists/SUITE/COMPONENT/binary-ARCH/...
failed_list() {
    sed -n "s|.*Failed to fetch [^ ]*/dists/\\($1/[^/]*\\)/binary-\\([^/]*\\)/.*|\\1 (\\2)|p" \
        <<<"$update_log" | head -n 1
}
list=$(failed_list '[^/]*')

# Without the security suite's list for one architecture, a package can
# have a newer version there for the other architecture only, and a missing
# package and its twin, which must share one version, then cannot both be
# installed. apt's target release (-t, the machine's code name) installs the
# missing packages at the release's own versions, which every list that
# arrived has; packages already installed keep theirs, and the newer
# versions come with the next upgrade. A machine that does not name its
# release (no os-release, or no code name in it) gets the plain failure below.
security=$(failed_list '[^/]*-security')
os_release=${OS_RELEASE:-/etc/os-release}
codename=$(if [ -r "$os_release" ]; then . "$os_release" && echo "${VERSION_CODENAME:-}"; fi)
if [ -n "$security" ] && [ -n "$codename" ] && install -t "$codename"; then
    echo "setup.sh: the package list $security did not download, so the packages were" \
         "installed without the newer versions in ${security%%/*}; to bring those in later," \
         "run: apt-get update && apt-get upgrade" >&2
    exit 0
fi
if grep -qE 'Mirror sync in progress|Hash Sum mismatch|unexpected size' <<<"$update_log"; then
    echo "setup.sh: could not install: the package list ${list:-of the archive} did not download;" \
         "the package archive seems to be mid-update, so run the command again later." >&2
else
    echo "setup.sh: could not install: apt-get update failed${list:+ on the package list $list}" \
         "(see above)." >&2
fi
exit 1

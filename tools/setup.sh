#!/usr/bin/env bash
# Installs what building, running and testing need on Debian: the
# i686 mingw-w64 cross compiler and clang beside it, clang-tidy and cppcheck,
# 32-bit Wine, a virtual X screen and the tools the tests drive it with
# (git for the build's date and the reproducibility check, ps for the
# browser test), and osslsigncode and OpenSSL for the tests of signed
# downloads. Then it makes sure that this kernel runs 32-bit programs, as
# Wine's are: where it runs none, it brings QEMU's emulator (see below).
# --play installs only what building and playing need (./run.sh);
# --missing installs nothing: it names what is missing, and fails if anything is.
# Idempotent: quick when everything is there.
set -euo pipefail
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$tools/apt-sources.sh"

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

# The machine's files that set-up reads and writes; a test puts them all
# under a folder of its own.
system=${SETUP_SYSTEM_ROOT:-}
os_release=$system/etc/os-release
apt_dir=$system/etc/apt
. "$tools/wine-loader.sh"
. "$tools/binfmt.sh"

# QEMU's user-mode emulator for 32-bit x86 programs, in a version that runs
# Wine (binfmt.sh), registered with the kernel under this name.
emulator_package=qemu-user
emulator=$system/usr/bin/qemu-i386
handler=qemu-i386

# -- root ----------------------------------------------------------------------

# Set-up changes the machine as root: itself, or through sudo, which is
# asked once something is to be changed and not before, so that a run with
# nothing to do asks nothing. Where it cannot, become_root says why in
# refusal.
sudo=""
become_root() {
    [ "$(id -u)" -ne 0 ] || return 0
    [ -z "$sudo" ] || return 0
    if ! command -v sudo >/dev/null; then
        refusal="set-up is not root, and there is no sudo to become root: run it as root."
        return 1
    fi
    local said
    if ! said=$(sudo true 2>&1); then
        refusal="sudo refused to make set-up root: $(last_line "$said")"
        return 1
    fi
    sudo=sudo
}

# last_line TEXT: where a tool says why it failed.
last_line() {
    local line=${1##*$'\n'}
    echo "${line:-(it said nothing)}"
}

# -- packages ----------------------------------------------------------------

missing_packages() {
    local package
    for package in "$@"; do
        dpkg -s "$package" >/dev/null 2>&1 || echo "$package"
    done
}

# A package archive mid-update can serve a list that does not match its
# index ("File has unexpected size ... Mirror sync in progress?") for a
# while: the update is tried again after a pause. Leaves apt's last output
# in update_log; fails if every try failed.
update_lists() {
    local pause
    for pause in 10 30 0; do
        update_log=$($sudo apt-get update -qq 2>&1) && return 0
        sleep "$pause"
    done
    printf '%s\n' "$update_log" >&2
    return 1
}

# install_packages PACKAGE...: installs them. If the lists did not all
# arrive, the install is tried with those that did, which may be enough,
# and where a security suite's list was the one missing, once more below;
# a failure ends with a line that says why.
install_packages() {
    if ! become_root; then
        echo "setup.sh: could not install: $refusal" >&2
        return 1
    fi
    echo "Installing: $*"
    # Wine's 32-bit half comes from the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    local updated=1
    update_lists || updated=0
    apt_install "$@" && return 0
    [ "$updated" -eq 0 ] || return 1

    local list security codename
    list=$(failed_list '[^/]*')
    # Without the security suite's list for one architecture, a package can
    # have a newer version there for the other architecture only, and a
    # missing package and its twin, which must share one version, then
    # cannot both be installed. apt's target release (-t, the machine's code
    # name) installs the missing packages at the release's own versions,
    # which every list that arrived has; packages already installed keep
    # theirs, and the newer versions come with the next upgrade. A machine
    # that does not name its release (no os-release, or no code name in it)
    # gets the plain failure below.
    security=$(failed_list '[^/]*-security')
    codename=$(release_codename)
    if [ -n "$security" ] && [ -n "$codename" ] && apt_install -t "$codename" "$@"; then
        echo "setup.sh: the package list $security did not download, so the packages were" \
             "installed without the newer versions in ${security%%/*}; to bring those in later," \
             "run: apt-get update && apt-get upgrade" >&2
        return 0
    fi
    if grep -qE 'Mirror sync in progress|Hash Sum mismatch|unexpected size' <<<"$update_log"; then
        echo "setup.sh: could not install: the package list ${list:-of the archive} did not download;" \
             "the package archive seems to be mid-update, so run the command again later." >&2
    else
        echo "setup.sh: could not install: apt-get update failed${list:+ on the package list $list}" \
             "(see above)." >&2
    fi
    return 1
}

apt_install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}

# failed_list SUITE-PATTERN: the first list of such a suite that did not
# download, as "SUITE/COMPONENT (ARCH)". apt names it by its address:
# .../dists/SUITE/COMPONENT/binary-ARCH/...
failed_list() {
    sed -n "s|.*Failed to fetch [^ ]*/dists/\\($1/[^/]*\\)/binary-\\([^/]*\\)/.*|\\1 (\\2)|p" \
        <<<"$update_log" | head -n 1
}

release_codename() {
    if [ -r "$os_release" ]; then (. "$os_release" && echo "${VERSION_CODENAME:-}"); fi
}

# -- 32-bit programs -----------------------------------------------------------
#
# Some kernels run no 32-bit x86 program (IA32 emulation off: booted with
# ia32_emulation=off, or built so), and 32-bit Wine cannot start there. QEMU's
# user-mode emulator, registered with the kernel's binfmt_misc, runs such
# programs instead, a few times slower, until the next boot. The kernel asks
# binfmt_misc before it runs a program itself, so a registration switched on
# whose emulator cannot run Wine is in the way even where the kernel could.

runs_32bit_programs() {
    "$i386_loader" --version >/dev/null 2>&1
}

# Looks at the registrations for 32-bit programs: those in the way go into
# in_the_way (their names) and in_the_way_said (as lines name them); one
# under set-up's own name that runs Wine, whether on or off, into namesake.
look_at_registrations() {
    in_the_way=() in_the_way_said="" namesake=""
    local name state version interpreter said
    while read -r name state version interpreter; do
        said=$(described "$name" "$version" "$interpreter")
        if runs_wine "$version"; then
            [ "$name" != "$handler" ] || namesake=$said
        elif [ "$state" = enabled ]; then
            in_the_way+=("$name")
            in_the_way_said+="${in_the_way_said:+ and }$said"
        fi
    done < <(i386_handlers)
}

needs_emulator() {
    look_at_registrations
    [ ${#in_the_way[@]} -gt 0 ] || ! runs_32bit_programs
}

# The upstream part of a Debian version: without its epoch or revision.
upstream() {
    local version=${1#*:}
    echo "${version%%-*}"
}

# Its version number alone, as the program says it: 10.0.2 for 1:10.0.2+ds-2.
version_number() {
    local version
    version=$(upstream "$1")
    echo "${version%%[+~]*}"
}

recent_enough() {
    [ -n "$1" ] && dpkg --compare-versions "$(upstream "$1")" ge "$least_emulator"
}

installed_emulator() {
    dpkg-query -W -f='${Version}' "$emulator_package" 2>/dev/null || true
}

# The newest version of the emulator that apt's sources offer, if it is
# recent enough; nothing otherwise.
offered_emulator() {
    local newest="" version
    for version in $(apt-cache madison "$emulator_package" 2>/dev/null | awk -F'|' '{print $2}'); do
        if [ -z "$newest" ] || dpkg --compare-versions "$version" gt "$newest"; then
            newest=$version
        fi
    done
    if recent_enough "$newest"; then echo "$newest"; fi
}

# The release's backports suite, from the archive that the release itself
# comes from: a stable release gets newer versions of some packages there.
# A list that set-up adds is named in added_backports until an emulator
# comes of it, and removed if the run ends first; once a package comes from
# there, the list stays, named in kept_backports, so that it gets updates.
added_backports="" kept_backports=""
add_backports() {
    local codename list keyring=/usr/share/keyrings/debian-archive-keyring.gpg options=""
    codename=$(release_codename)
    if [ -z "$codename" ]; then
        no_backports="and ${os_release#"$system"} names no release whose backports suite could bring one"
        return 1
    fi
    find_archive "$codename" || return 1
    list=$apt_dir/sources.list.d/$codename-backports.list
    [ ! -e "$list" ] || return 0
    [ -r "$system$keyring" ] && options="[signed-by=$keyring] "
    echo "deb $options$archive $codename-backports main" | $sudo tee "$list" >/dev/null
    added_backports=$list
    trap forget_backports EXIT
}

# find_archive CODENAME: the release's archive, as apt knows it, in archive;
# apt learns it from its lists, so where it has none yet they are fetched.
# Where there is none, no_backports says why.
find_archive() {
    local status=0
    archive=$(release_archive "$1") || status=$?
    if [ "$status" -eq 2 ] && update_lists; then
        status=0
        archive=$(release_archive "$1") || status=$?
    fi
    [ -z "$archive" ] || return 0
    if [ "$status" -eq 2 ]; then
        no_backports="and apt has no package lists to say which archive Debian's $1 comes from"
    else
        no_backports="and apt knows no archive of Debian's $1 whose backports suite could bring one"
    fi
    return 1
}

forget_backports() {
    [ -z "$added_backports" ] || $sudo rm -f "$added_backports"
}

# kept_backports_said BRIEFLY: the end of set-up's last line where the
# emulator came from the backports suite, briefly where it brought the
# emulator, as a sentence of its own where it stops.
kept_backports_said() {
    local list=${kept_backports#"$system"}
    [ -n "$kept_backports" ] || return 0
    if [ "${1:-}" = briefly ]; then
        echo "; the release's backports suite, which it came from, stays among apt's sources in $list"
    else
        echo " $emulator_package stays installed from the release's backports suite, whose list" \
             "stays among apt's sources in $list for its updates."
    fi
}

# Installs the emulator, from the release if it is recent enough there, or
# else from the release's backports suite: that package alone, by its
# version, so that nothing else comes from there. Stops where it cannot,
# with apt's own words where apt failed.
install_emulator() {
    recent_enough "$(installed_emulator)" && return 0
    local version said updated=1 no_backports="" archive=""
    version=$(offered_emulator)
    if [ -z "$version" ] && add_backports; then
        update_lists || updated=0
        version=$(offered_emulator)
        [ -n "$version" ] || backports_failed "$updated"
    fi
    [ -n "$version" ] || no_emulator_to_be_had \
        "apt's sources offer no $emulator_package $least_emulator or later to emulate them${no_backports:+, $no_backports}"
    echo "Installing: $emulator_package $version"
    if ! said=$(apt_install "$emulator_package=$version" 2>&1); then
        printf '%s\n' "$said" >&2
        cannot_bring_emulator "$emulator_package could not be installed: $(apt_error "$said")"
    fi
    [ -z "$said" ] || printf '%s\n' "$said"
    kept_backports=$added_backports added_backports=""
}

# backports_failed UPDATED: stops where the update did not bring the
# backports suite's list, in apt's words: offline, apt only warns of it.
backports_failed() {
    local fetch
    fetch=$(grep -E "^[EW]: Failed to fetch [^ ]*/dists/[^/]*-backports/" <<<"$update_log" | tail -n 1) || true
    [ -z "$fetch" ] || cannot_bring_emulator "the backports suite's list did not download: $fetch"
    [ "$1" -eq 1 ] || cannot_bring_emulator "apt-get update failed: $(apt_error "$update_log")"
}

# apt_error OUTPUT: apt's own last error line in it.
apt_error() {
    local error
    error=$(grep '^E:' <<<"$1" | tail -n 1) || true
    echo "${error:-$(last_line "$1")}"
}

# Mounts binfmt_misc where it is not mounted: "unknown filesystem type" is
# a kernel without it; any other failure is mount's own, such as no rights.
mount_binfmt() {
    [ ! -e "$binfmt/register" ] || return 0
    local said
    if ! said=$($sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>&1) &&
        [[ $said != *"unknown filesystem type"* ]]; then
        cannot_bring_emulator "binfmt_misc could not be mounted: $(last_line "$said")"
    fi
    [ -e "$binfmt/register" ] ||
        no_emulator_to_be_had "it has no binfmt_misc through which an emulator could run them"
}

remove_those_in_the_way() {
    local name
    for name in "${in_the_way[@]}"; do
        write_to "$binfmt/$name" -1 "the kernel refused to remove $name"
    done
}

# Registers the emulator, in place of a registration of that name that did
# not serve.
register_emulator() {
    if [ -e "$binfmt/$handler" ]; then
        write_to "$binfmt/$handler" -1 "the kernel refused to remove $handler"
    fi
    write_to "$binfmt/register" "$(i386_registration "$handler" "${emulator#"$system"}")" \
        "the kernel refused QEMU's emulator's registration"
}

# write_to FILE TEXT CAUSE: in one write, as the kernel's files want it;
# stops with CAUSE and the shell's own words if the kernel refuses it.
write_to() {
    local said
    said=$($sudo bash -c 'printf "%s" "$2" >"$1"' bash "$1" "$2" 2>&1) ||
        cannot_bring_emulator "$3: $(last_line "$said")"
}

# What set-up sets out to mend, as its lines about the emulator open.
situation() {
    if [ ${#in_the_way[@]} -eq 0 ]; then
        echo "this kernel runs no 32-bit programs"
    else
        echo "32-bit programs go to binfmt_misc's $in_the_way_said, but Wine needs" \
             "QEMU $least_emulator or later"
    fi
}

# cannot_bring_emulator CAUSE: stops with one line that names it.
cannot_bring_emulator() {
    local line="setup.sh: $(situation), and $1"
    [ -z "$kept_backports" ] || line="${line%.}.$(kept_backports_said)"
    echo "$line" >&2
    exit 1
}

# no_emulator_to_be_had CAUSE: stops where nothing set-up could do would help.
no_emulator_to_be_had() {
    if [ ${#in_the_way[@]} -eq 0 ]; then
        cannot_bring_emulator "$1: boot it with ia32_emulation=on, or provide an emulator for them."
    else
        cannot_bring_emulator "$1: replace it with QEMU $least_emulator or later."
    fi
}

# A registration of set-up's name that runs Wine is switched on rather
# than replaced: the machine's own packages may have made it.
bring_emulator() {
    become_root || cannot_bring_emulator "$refusal"
    mount_binfmt
    local brought
    if [ -n "$namesake" ]; then
        remove_those_in_the_way
        write_to "$binfmt/$handler" 1 "the kernel refused to switch $handler on"
        brought="binfmt_misc's $namesake, switched on,"
    else
        install_emulator
        remove_those_in_the_way
        register_emulator
        brought="QEMU's emulator ($emulator_package $(version_number "$(installed_emulator)"))"
    fi
    runs_32bit_programs ||
        no_emulator_to_be_had "they are still refused with QEMU's emulator registered"
    say_brought "$brought"
}

# say_brought WHAT: one line on what now runs 32-bit programs, in place of
# what, and the backports suite if it stays in apt's sources.
say_brought() {
    local kept
    kept=$(kept_backports_said briefly)
    if [ ${#in_the_way[@]} -eq 0 ]; then
        echo "setup.sh: this kernel runs no 32-bit programs, so $1 now runs them for Wine, a few" \
             "times slower, registered with binfmt_misc until the next boot$kept." >&2
    else
        echo "setup.sh: Wine needs QEMU $least_emulator or later, so $1 now runs 32-bit programs" \
             "in place of binfmt_misc's $in_the_way_said, registered with binfmt_misc until the" \
             "next boot$kept." >&2
    fi
}

# Downloads Wine's preloader, in the installed Wine's version, without
# installing it (see wine-loader.sh).
download_preloader() {
    if ! become_root; then
        echo "setup.sh: could not download Wine's preloader: $refusal" >&2
        return 1
    fi
    local version
    version=$(wine_version)
    echo "Downloading: $preloader_package $version"
    apt_install --download-only "$preloader_package:i386=$version"
}

# Only the tests start the installer's programs.
needs_preloader() {
    [ "$play" -eq 0 ] && wine_loader_in_the_way && [ -z "$(preloader_download)" ]
}

# -- what is done ------------------------------------------------------------

mapfile -t missing < <(missing_packages "${packages[@]}")
if [ "$missing_only" -eq 1 ]; then
    needed=("${missing[@]}")
    if [ ${#needed[@]} -eq 0 ]; then
        if needs_emulator; then
            needed=("an emulator for 32-bit programs")
        elif needs_preloader; then
            needed=("$preloader_package:i386")
        fi
    fi
    [ ${#needed[@]} -eq 0 ] && exit 0
    echo "${needed[*]}"
    exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
    install_packages "${missing[@]}" || exit 1
fi
if needs_emulator; then
    bring_emulator
fi
if needs_preloader; then
    download_preloader || exit 1
fi
exit 0

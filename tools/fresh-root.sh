#!/usr/bin/env bash
# Runs a command in a fresh Debian root of a named release, as a new user's
# machine would run it: a minimal root with git, holding a clone of this
# checkout's last commit, where the command runs as root or, with --user, as
# a user with sudo. The root goes afterwards, whatever happens.
# docs/testing.md says how to use it.
set -euo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/apt-sources.sh"

# Sourced, as its test does, the script only brings in release_archive: only
# there can a return outside a function succeed.
if (return 0 2>/dev/null); then return 0; fi

checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache=${FRESH_ROOT_CACHE:-/var/cache/morvane-fresh-root}
user=""
ignore_valid_until=0
arguments=("$@")

usage() {
    echo "usage: fresh-root.sh [--user] [--ignore-valid-until] RELEASE COMMAND [ARG...]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --user) user=player; shift ;;
        --ignore-valid-until) ignore_valid_until=1; shift ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -ge 2 ] || usage
release=$1
shift

# Bootstrapping and mounting need root.
[ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "${arguments[@]}"
if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi

root=$(mktemp -d /var/tmp/fresh-root.XXXXXX)
chmod 755 "$root"

# Nothing may be left running in the root or mounted from it: removing a
# root with this machine's /dev still bound into it would empty /dev.
remove_root() {
    local round pids
    for round in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(for proc in /proc/[0-9]*; do
                   [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] && echo "${proc#/proc/}"
               done || true)
        [ -n "$pids" ] || break
        kill -9 $pids 2>/dev/null || true
        sleep 0.2
    done
    local point
    for point in dev sys proc; do
        mountpoint -q "$root/$point" || continue
        umount -R "$root/$point" 2>/dev/null || umount -R -l "$root/$point"
    done
    if findmnt -rn -o TARGET | grep -q "^$root/"; then
        echo "fresh-root.sh: $root still has mounts; left in place" >&2
        return 1
    fi
    rm -rf --one-file-system "$root" "$root.log"
}
trap remove_root EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# debootstrap knows the releases that existed when it was made; a newer one
# is bootstrapped as sid is.
bootstrap() {
    local script=/usr/share/debootstrap/scripts/$release
    [ -e "$script" ] || script=/usr/share/debootstrap/scripts/sid
    local mirror=${DEBIAN_MIRROR:-} codename status=0
    if [ -z "$mirror" ]; then
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        mirror=$(release_archive "$codename") || status=$?
    fi
    if [ -z "$mirror" ]; then
        if [ "$status" -eq 2 ]; then
            echo "fresh-root.sh: no package archive: apt has no package lists yet, which say" \
                "where this machine's release comes from; run apt-get update first, or name an" \
                "archive with DEBIAN_MIRROR=URL" >&2
        else
            echo "fresh-root.sh: no package archive: none of apt's sources gives this machine's" \
                "release, ${codename:-which /etc/os-release does not name}, as deb with main;" \
                "name an archive with DEBIAN_MIRROR=URL" >&2
        fi
        return 1
    fi
    echo "Bootstrapping a fresh $release root (about half a minute)" >&2
    debootstrap --variant=minbase --include=git,ca-certificates \
        "$release" "$root" "$mirror" "$script" >"$root.log" 2>&1 || {
        tail -n 20 "$root.log" >&2
        echo "fresh-root.sh: debootstrap of $release failed" >&2
        return 1
    }
    mkdir -p "$cache"
    tar -C "$root" -cf "$cache/$release.tar.part" . && mv "$cache/$release.tar.part" "$cache/$release.tar"
}

tarball=$cache/$release.tar
if [ -f "$tarball" ] && [ -z "$(find "$tarball" -mtime +6)" ]; then
    tar -C "$root" -xf "$tarball"
else
    bootstrap
fi
# The root shares this machine's network and host name.
cp /etc/resolv.conf /etc/hosts "$root/etc/"
if [ "$ignore_valid_until" -eq 1 ]; then
    echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99ignore-valid-until"
fi

for point in proc sys dev; do
    mount --rbind "/$point" "$root/$point"
    mount --make-rslave "$root/$point"
done

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM="${TERM:-dumb}" "$@"
}
home=/root
if [ -n "$user" ]; then
    in_root sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq sudo >/dev/null &&
        useradd -m -s /bin/bash $user &&
        echo '$user ALL=(ALL) NOPASSWD:ALL' >/etc/sudoers.d/$user"
    home=/home/$user
fi
clone=$home/$(basename "$checkout")
git clone -q "$checkout" "$root$clone"
[ -z "$user" ] || in_root chown -R "$user:$user" "$clone"

# In the background, so that an interrupt or a TERM is acted on at once: the
# clean-up then ends everything running in the root.
if [ -n "$user" ]; then
    in_root sudo -u "$user" -H env -C "$clone" "$@" <&0 &
else
    in_root env -C "$clone" HOME="$home" "$@" <&0 &
fi
status=0
wait $! || status=$?
exit "$status"

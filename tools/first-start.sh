# Sourced by run.sh and headless.sh: Wine's first start in a new prefix,
# bounded in time, so that neither command waits for it for ever.

. "$(dirname "${BASH_SOURCE[0]}")/binfmt.sh"

# wineboot -i takes about 8 s natively and 20 s under QEMU's emulator, but
# under an emulator too old for Wine it waits for ever. The bound leaves a
# slow machine room; MORVANE_WINEBOOT_SECONDS sets another.
default_wineboot_bound=300
wineboot_bound=${MORVANE_WINEBOOT_SECONDS:-$default_wineboot_bound}

# Lies in a prefix from before its first start until that start ends well.
# Wine writes system.reg early in the start, so a start stopped half-way
# would otherwise leave a prefix that looks ready, and the next start of a
# program would make Wine finish the prefix, with no bound.
first_start_pending=.morvane-first-start-pending

# bound_is_seconds [SPEAKER]: whether the bound is a whole number of
# seconds; if not, says so in one line that SPEAKER opens. timeout would
# take 0 as no bound at all, and fail on what it cannot read as if wineboot
# had failed.
bound_is_seconds() {
    [[ $wineboot_bound =~ ^[0-9]+$ ]] && ((10#$wineboot_bound > 0)) && return 0
    echo "${1:-}MORVANE_WINEBOOT_SECONDS=$wineboot_bound is not a number of seconds from 1 up;" \
         "it bounds Wine's first start ($default_wineboot_bound s when unset)." >&2
    return 1
}

wine_prefix() {
    echo "${WINEPREFIX:-$HOME/.wine}"
}

# Whether the prefix has been through a first start that ended well, ours
# or one that Wine made itself before.
prefix_ready() {
    [ -f "$(wine_prefix)/system.reg" ] && [ ! -e "$(wine_prefix)/$first_start_pending" ]
}

# first_start LOG [SPEAKER]: prepares $WINEPREFIX, or Wine's default
# prefix, with wineboot -i, whose output goes to the end of LOG. If wineboot
# fails, shows the end of LOG; past the bound, ends the prefix's processes.
# Either way says so in one line that SPEAKER opens, and returns 1.
first_start() {
    local log=$1 speaker=${2:-} prefix status=0
    prefix=$(wine_prefix)
    mkdir -p "$prefix" && touch "$prefix/$first_start_pending" || return 1
    timeout --foreground -k 10 "$wineboot_bound" wineboot -i >>"$log" 2>&1 || status=$?
    case $status in
        0) rm -f "$prefix/$first_start_pending"; return 0 ;;
        124 | 137)    # ended by timeout, with TERM or else KILL
            stop_prefix
            echo "${speaker}Wine's first start (wineboot -i, preparing the prefix $prefix)" \
                 "did not end within $wineboot_bound s and was stopped; its output is in $log." \
                 "$(what_to_check)" >&2 ;;
        *)
            tail -n 15 "$log" >&2
            echo "${speaker}Wine's first start (wineboot -i, preparing the prefix $prefix) failed;" \
                 "its output is in $log" >&2 ;;
    esac
    return 1
}

# wineboot's children (services.exe and the rest) are the wineserver's.
stop_prefix() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
}

# The emulator that runs 32-bit programs, if it is one that set-up would
# not keep: one too old for Wine leaves it waiting for ever.
what_to_check() {
    local emulator
    emulator=$(i386_emulator --too-old)
    if [ -n "$emulator" ]; then
        echo "32-bit programs run through binfmt_misc's $emulator: Wine needs QEMU" \
             "$least_emulator or later, which tools/setup.sh brings."
    else
        echo "Look there for what it waited on."
    fi
}

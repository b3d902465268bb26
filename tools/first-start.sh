# Sourced by run.sh and headless.sh: Wine's first start in a new prefix,
# bounded in time, so that neither command waits for it for ever.

. "$(dirname "${BASH_SOURCE[0]}")/binfmt.sh"

# wineboot -i takes about 8 s natively and 20 s under QEMU's emulator, but
# under an emulator too old for Wine it waits for ever. The bound leaves a
# slow machine room; MORVANE_WINEBOOT_SECONDS sets another.
wineboot_bound=${MORVANE_WINEBOOT_SECONDS:-300}

# first_start LOG [SPEAKER]: prepares $WINEPREFIX, or Wine's default
# prefix, with wineboot -i, whose output goes to the end of LOG. Returns 1
# if wineboot fails. Past the bound it ends the prefix's processes, says so
# in one line that SPEAKER opens, and returns 2.
first_start() {
    local status=0
    timeout --foreground -k 10 "$wineboot_bound" wineboot -i >>"$1" 2>&1 || status=$?
    case $status in
        0) return 0 ;;
        124 | 137) ;;    # ended by timeout, with TERM or else KILL
        *) return 1 ;;
    esac
    # wineboot's children (services.exe and the rest) are the wineserver's.
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    echo "${2:-}Wine's first start (wineboot -i, preparing the prefix ${WINEPREFIX:-$HOME/.wine})" \
         "did not end within $wineboot_bound s and was stopped; its output is in $1. $(what_to_check)" >&2
    return 2
}

# The emulator that runs 32-bit programs, if one does: one too old for
# Wine leaves it waiting for ever.
what_to_check() {
    local emulator
    emulator=$(i386_emulator)
    if [ -n "$emulator" ]; then
        echo "32-bit programs run through binfmt_misc's $emulator: Wine needs QEMU" \
             "$least_emulator or later, which tools/setup.sh brings."
    else
        echo "Look there for what it waited on."
    fi
}

# Sourced by the test scripts: a virtual X screen and a fresh Wine prefix of
# the run's own, so nothing leaks in from the user's desktop or an earlier run.

. "$(dirname "${BASH_SOURCE[0]}")/wine-loader.sh"
. "$(dirname "${BASH_SOURCE[0]}")/first-start.sh"

# start_headless DIR: the screen and the prefix, in DIR. On a failure it says
# why, stops whatever it had started and returns 1.
start_headless() {
    local dir=$1
    bound_is_seconds || return 1
    rm -rf "$dir"
    mkdir -p "$dir/home"

    # -displayfd makes Xvfb pick a free display itself, so runs never collide.
    # -noreset keeps it from resetting each time its last client leaves: a
    # Wine program that connects during a reset finds no display.
    exec {display_fd}<> <(:)
    Xvfb -displayfd "$display_fd" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
    HEADLESS_XVFB=$!
    local number
    read -r -t 30 number <&"$display_fd" || number=""
    exec {display_fd}<&-
    [ -n "$number" ] || { echo "Xvfb did not start; its output is in $dir/xvfb.log" >&2; stop_xvfb; return 1; }
    export DISPLAY=":$number"

    export WINEPREFIX="$dir/wineprefix" WINEARCH=win32 WINEDEBUG=-all
    # Wine reads Linux's file names in the locale's character set: in UTF-8,
    # which every Debian has as C.UTF-8, a folder may be named in any letters.
    export LC_ALL=C.UTF-8
    # Wine must never stop to offer its .NET or HTML engines on a headless run.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Sound goes to a null device unless a test captures it.
    export HOME="$dir/home"
    printf 'pcm.!default { type null }\n' >"$HOME/.asoundrc"
    # One wineserver for the whole run, started before wineboot so that
    # everything shares it: each Wine start is then faster.
    mkdir -p "$WINEPREFIX"
    wineserver -p
    first_start "$dir/wineboot.log" || { stop_headless; return 1; }
    # What starts the installer's programs, which must load at a fixed address.
    MORVANE_INSTALLER_WINE=$(preloaded_wine "$dir/preloaded-wine") || { stop_headless; return 1; }
    export MORVANE_INSTALLER_WINE
}

stop_headless() {
    wineserver -k 2>/dev/null
    stop_xvfb
}

stop_xvfb() {
    kill "$HEADLESS_XVFB" 2>/dev/null
    wait "$HEADLESS_XVFB" 2>/dev/null
    return 0
}

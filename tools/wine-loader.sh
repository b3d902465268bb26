# Sourced by set-up and the test scripts: where Wine's loader lands, and a
# Wine that keeps the address of Windows programs free where it does not.
#
# A Windows program without relocations, as NSIS's installers and
# uninstallers are, must be loaded at 0x400000. A 32-bit kernel, and QEMU's
# emulator on a kernel that runs no 32-bit program, put a position-
# independent program there, as Debian's Wine loader is on some releases:
# then Wine cannot load such a program ("failed to create main module ...,
# status c0000018"). Wine's preloader, a program at a fixed address,
# reserves that range before it starts the loader. Debian ships it apart
# (wine32-preloader); installed beside the loader, every Wine program would
# start through it, and under the emulator a program that plays sound then
# sometimes crashes as it exits. So set-up only downloads the package, and
# the tests start the installer's programs alone through a loader of their
# own beside the preloader (preloaded_wine).

wine_loader=${SETUP_SYSTEM_ROOT:-}/usr/lib/wine/wine
preloader_package=wine32-preloader
# Where a Windows program without relocations is loaded.
windows_image_base=0x400000

# Whether Wine's loader starts where such a program must load.
wine_loader_in_the_way() {
    local header
    # The kernel, or the emulator, tells a program where it put it.
    header=$(LD_SHOW_AUXV=1 "$wine_loader" --version 2>/dev/null |
                 sed -n 's/^AT_PHDR: *0x\([0-9a-f]*\)$/\1/p' | tail -n 1)
    [ -n "$header" ] && (((0x$header & ~0xfff) == windows_image_base))
}

# The installed 32-bit Wine's version, which its preloader must match.
wine_version() {
    dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null
}

# The preloader's package, as apt downloaded it, in the installed Wine's
# version; nothing if it is not there.
preloader_download() {
    local version file
    version=$(wine_version) || return 0
    for file in "${SETUP_SYSTEM_ROOT:-}"/var/cache/apt/archives/"$preloader_package"_*_i386.deb; do
        [ -f "$file" ] && [ "$(dpkg-deb -f "$file" Version)" = "$version" ] && echo "$file" && return 0
    done
    return 0
}

# preloaded_wine DIR: prints the command that starts a Windows program so
# that it loads wherever it must: "wine", or where the loader lands in that
# range, a copy of the loader in DIR beside the preloader. Wine finds its
# libraries and data from where its loader is, as it finds them from
# /usr/lib/wine, so DIR holds links to them at the same places.
preloaded_wine() {
    local dir=$1 package
    if ! wine_loader_in_the_way; then
        echo wine
        return 0
    fi
    package=$(preloader_download)
    if [ -z "$package" ]; then
        echo "Wine's preloader is not downloaded: run tools/setup.sh" >&2
        return 1
    fi
    rm -rf "$dir"
    mkdir -p "$dir/lib/wine" "$dir/share" "$dir/package"
    dpkg-deb -x "$package" "$dir/package"
    cp "$dir/package/usr/lib/wine/wine-preloader.static" "$dir/lib/wine/wine-preloader"
    # A copy, not a link: the emulator names a program by its real path.
    cp "$wine_loader" "$dir/lib/wine/wine"
    ln -s /usr/lib/wine/wineserver "$dir/lib/wine/wineserver"
    ln -s /usr/lib/i386-linux-gnu "$dir/lib/i386-linux-gnu"
    ln -s /usr/share/wine "$dir/share/wine"
    echo "$dir/lib/wine/wine"
}

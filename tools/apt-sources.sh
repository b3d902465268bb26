# Sourced by the scripts that need to know which package archive this
# machine takes a release from. apt itself is asked: it reads every form of
# its sources (one line or deb822, suite or code name, disabled entries,
# options), and each list it downloaded brings the archive's Release file,
# which says the suite's code name whatever the source called it.

# release_archive CODENAME: prints the address of an archive from which apt
# takes binary packages of Debian's release CODENAME's main component; its
# updates and security suites have code names of their own. Prints nothing
# if apt knows none. apt knows a source's code name only once it has
# downloaded its lists: with none at all, it returns 2.
release_archive() {
    local site
    site=$(apt_targets "Codename: $1" "Component: main" "Origin: Debian" | head -n 1)
    if [ -n "$site" ]; then
        echo "$site"
    elif [ -z "$(apt_targets)" ]; then
        return 2
    fi
}

# apt_targets [FIELD: VALUE...]: the address of each list of binary packages
# that apt has downloaded, among those with such fields.
apt_targets() {
    apt-get indextargets --format '$(SITE)' "Target-Of: deb" "Identifier: Packages" "$@" 2>/dev/null
}

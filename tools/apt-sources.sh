# Sourced by the scripts that read apt's own configuration: which package
# archive this machine takes a release from.

# debian_archive APT_DIR CODENAME: prints the address of the first source, in
# apt's order, among APT_DIR's sources.list and sources.list.d/*.list (one
# line each) and sources.list.d/*.sources (deb822 stanzas), that gives binary
# packages of release CODENAME's main component; prints nothing if none does.
# Source packages, disabled entries and files, the release's updates and
# security suites and other vendors' repositories are passed over.
debian_archive() {
    local file archive
    for file in "$1/sources.list" "$1"/sources.list.d/*; do
        [ -r "$file" ] || continue
        case $file in
            *.list) archive=$(awk -v release="$2" "$one_line_archive" "$file") ;;
            *.sources) archive=$(awk -v release="$2" "$deb822_archive" "$file") ;;
            *) archive="" ;;
        esac
        if [ -n "$archive" ]; then
            echo "$archive"
            return
        fi
    done
}
# deb [OPTIONS] URI SUITE COMPONENT...
one_line_archive='
    function has(first, word,   i) { for (i = first; i <= NF; i++) if ($i == word) return 1 }
    $1 == "deb" {
        i = 2
        if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
        if ($(i + 1) == release && has(i + 2, "main")) { print $i; exit }
    }'
# Stanzas of "Field: value" lines, apart by blank lines; a line that starts
# with a blank goes on with the field before it.
deb822_archive='
    function has(list, word,   words, n, i) {
        n = split(list, words, " ")
        for (i = 1; i <= n; i++) if (words[i] == word) return 1
    }
    BEGIN { RS = ""; FS = "\n" }
    {
        split("", field)
        for (n = 1; n <= NF; n++) {
            if ($n ~ /^#/) continue
            if ($n ~ /^[ \t]/) { field[name] = field[name] " " $n; continue }
            name = tolower(substr($n, 1, index($n, ":") - 1))
            field[name] = substr($n, index($n, ":") + 1)
        }
        if (tolower(field["enabled"]) ~ /no/) next
        if (has(field["types"], "deb") && has(field["suites"], release) &&
            has(field["components"], "main")) {
            split(field["uris"], uris, " ")
            print uris[1]
            exit
        }
    }'

# Sourced by set-up and Wine's first start, and asked by the bench and the
# tests: the kernel's binfmt_misc registrations for 32-bit x86 programs, the
# emulator each one names, and whether that one is recent enough for Wine.

binfmt=${SETUP_SYSTEM_ROOT:-}/proc/sys/fs/binfmt_misc
# A 32-bit program that Wine's 32-bit packages bring.
i386_loader=${SETUP_SYSTEM_ROOT:-}/lib/ld-linux.so.2
# A 32-bit x86 executable or shared object (ELF class 32, little-endian,
# type 2 or 3, machine 3), in hex, as binfmt_misc shows a registration.
i386_magic=7f454c4601010100000000000000000002000300
i386_mask=fffffffffffefe00fffffffffffffffffeffffff
# QEMU's first version that runs Wine: older ones run a small program well
# enough, but leave Wine's first start waiting for ever.
least_emulator=10.0

# i386_registration NAME INTERPRETER: the line that registers INTERPRETER
# for them. F opens the interpreter now, so that it serves roots made later
# that hold no copy of it.
i386_registration() {
    printf ':%s:M::%s:%s:%s:F' "$1" "$(escaped "$i386_magic")" "$(escaped "$i386_mask")" "$2"
}

# escaped HEX: each byte as \xNN, as a registration writes it.
escaped() {
    sed 's/../\\x&/g' <<<"$1"
}

# i386_handlers: a line "NAME STATE VERSION INTERPRETER" for each
# registration for them; STATE is enabled or disabled, VERSION the QEMU
# version that its interpreter says, or "-".
i386_handlers() {
    local entry state interpreter
    for entry in "$binfmt"/*; do
        case ${entry##*/} in register | status) continue ;; esac
        read -r state interpreter < <(registration_of "$entry") || continue
        echo "${entry##*/} $state $(emulator_version "$state" "${SETUP_SYSTEM_ROOT:-}$interpreter") $interpreter"
    done
}

# registration_of ENTRY: "STATE INTERPRETER" if binfmt_misc's ENTRY
# registers the pattern above; nothing otherwise.
registration_of() {
    awk -v magic="$i386_magic" -v mask="$i386_mask" '
        NR == 1 { state = $1 }
        /^interpreter / { interpreter = substr($0, 13) }
        /^offset / { offset = $2 }
        /^magic / { seen_magic = $2 }
        /^mask / { seen_mask = $2 }
        END { if (offset == 0 && seen_magic == magic && seen_mask == mask) print state, interpreter }
    ' "$1" 2>/dev/null
}

# emulator_version STATE PROGRAM: the QEMU version of a registration's
# emulator PROGRAM. One switched on is asked through the kernel, by the
# 32-bit loader started with QEMU_VERSION set, which QEMU answers with its
# version instead of running the program: a registration made with F holds
# the emulator that it opened then, whatever PROGRAM's path holds now, and
# serves roots that hold no copy of it at all, as a fresh Debian root does.
emulator_version() {
    if [ "$1" = enabled ]; then
        qemu_version env QEMU_VERSION=1 "$i386_loader"
    elif [ -x "$2" ]; then
        qemu_version "$2" --version
    else
        echo -
    fi
}

# qemu_version COMMAND...: the version that QEMU says when COMMAND runs it
# ("qemu-i386 version 10.0.2 (Debian 1:10.0.2+ds-2)"); "-" where no QEMU
# speaks.
qemu_version() {
    local said
    said=$(timeout 10 "$@" 2>/dev/null | head -n 1) || true
    if [[ $said =~ ^qemu-[^\ ]+\ version\ ([0-9][0-9.]*) ]]; then
        echo "${BASH_REMATCH[1]}"
    else
        echo -
    fi
}

# runs_wine VERSION: whether QEMU of that version runs Wine.
runs_wine() {
    [ "$1" != - ] && dpkg --compare-versions "$1" ge "$least_emulator"
}

# described NAME VERSION INTERPRETER: a registration, as lines name it.
described() {
    if [ "$2" != - ]; then
        echo "$1 (QEMU $2)"
    else
        echo "$1 ($3, which says no QEMU version)"
    fi
}

# i386_emulator [--too-old]: the registration for them that is switched on,
# described; nothing where there is none, nor with --too-old where its
# emulator runs Wine.
i386_emulator() {
    local name state version interpreter
    while read -r name state version interpreter; do
        [ "$state" = enabled ] || continue
        [ "${1:-}" = --too-old ] && runs_wine "$version" && return 0
        described "$name" "$version" "$interpreter"
        return 0
    done < <(i386_handlers)
    return 0
}

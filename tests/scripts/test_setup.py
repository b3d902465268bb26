"""tools/setup.sh when the package archive is mid-update: it tries the
update again after a pause, then the install with the lists that did
arrive and, where a security suite's list is missing, once more preferring
the machine's own release; if that fails too it ends with one line naming
the list that failed. And on a kernel that runs no 32-bit program: it
brings QEMU's emulator and registers it, or says in one line why it cannot.
apt-get, apt-cache, dpkg, mount, id, sudo and sleep are stand-ins that log
their calls, on a machine of files under a folder of the test's own. And
Wine's first start, bounded in time in both commands that make a prefix."""
import os
import subprocess

import pytest

from test_fresh_root import ARCHIVE, apt_machine

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
SCRIPT = os.path.join(ROOT, "tools", "setup.sh")
LIST = "http://archive.example/debian-security/dists/hibiscus-security/main/binary-i386/Packages.xz"
MID_UPDATE = (f"E: Failed to fetch {LIST}  File has unexpected size (374820 != 376004). "
              "Mirror sync in progress? [IP: 192.0.2.1 80]\n"
              "E: Some index files failed to download. They have been ignored, or old ones used instead.")
OFFLINE = "E: Failed to fetch {LIST}  Could not resolve 'archive.example'".format(LIST=LIST)
MAIN_MID_UPDATE = MID_UPDATE.replace("-security/", "/")
RELEASE = 'PRETTY_NAME="Fake 99"\nVERSION_CODENAME=hibiscus\n'

STAND_INS = {
    # Installed: the lines of $SYSTEM/installed, "NAME" or "NAME=VERSION",
    # or everything if one is "*"; the i386 architecture already there.
    "dpkg": '''case "$1" in
    --print-foreign-architectures) echo i386 ;;
    --compare-versions) exec /usr/bin/dpkg "$@" ;;
    *) grep -q -e "^$2\\(=\\|$\\)" -e "^[*]$" "$SYSTEM/installed" ;;
esac''',
    "dpkg-query": 'sed -n "s/^${*: -1}=//p" "$SYSTEM/installed" | grep .',
    # Offers the emulator's versions in $OFFERED, and $BACKPORTED once an
    # update has brought the list of the release's backports suite.
    "apt-cache": '''offered=$OFFERED
[ -e "$SYSTEM/backports-came" ] && offered+=" $BACKPORTED"
for version in $offered; do echo " qemu-user | $version | http://archive.example/debian"; done''',
    # binfmt_misc there to mount, unless $BINFMT is "none" or "refused".
    "mount": '''echo "mount" >>"$CALLS"
case "$BINFMT" in
    none) echo "mount: /proc/sys/fs/binfmt_misc: unknown filesystem type 'binfmt_misc'." >&2 ;;
    refused) echo "mount: /proc/sys/fs/binfmt_misc: permission denied." >&2 ;;
    *) touch "$SYSTEM/proc/sys/fs/binfmt_misc/register"; exit 0 ;;
esac
exit 32''',
    "id": 'echo "$USER_ID"',
    # Refuses, saying $SUDO_SAYS, if that is set.
    "sudo": '[ -z "$SUDO_SAYS" ] || { printf "%s\\n" "$SUDO_SAYS" >&2; exit 1; }; exec "$@"',
    "sleep": 'echo "sleep $*" >>"$CALLS"',
    # Fails its first $UPDATE_FAILURES updates with $UPDATE_ERROR, then passes
    # (a warning, "W: ...", passes at once); the Nth install exits with the
    # Nth of $INSTALL_STATUS, or its last, failing with $INSTALL_ERROR. The
    # real apt-get tells the machine's sources and lists apart (APT_CONFIG).
    "apt-get": '''[ "$1" != indextargets ] || exec /usr/bin/apt-get "$@"
args=" $* " target=""
[[ $args == *" -t "* ]] && target=${args#* -t } && target=" -t ${target%% *}"
echo "apt-get $1$target" >>"$CALLS"
if [ "$1" = update ]; then
    failed=$(grep -c '^apt-get update' "$CALLS")
    backports=$SYSTEM/etc/apt/sources.list.d/hibiscus-backports.list
    [ "$failed" -le "$UPDATE_FAILURES" ] || { [ ! -e "$backports" ] || touch "$SYSTEM/backports-came"; exit 0; }
    echo "$UPDATE_ERROR" >&2
    [[ $UPDATE_ERROR == W:* ]] && exit 0
    exit 100
fi
statuses=($INSTALL_STATUS)
tries=$(grep -c '^apt-get install' "$CALLS")
status=${statuses[tries - 1]:-${statuses[-1]}}
[ "$status" -eq 0 ] || echo "$INSTALL_ERROR" >&2
[ "$status" -ne 0 ] ||
    printf '%s\\n' "${@:2}" | grep -vx -e -y -e -qq -e --no-install-recommends -e -t -e hibiscus \\
        >>"$SYSTEM/installed"
exit "$status"''',
}
TRIED_THRICE = ["apt-get update", "sleep 10", "apt-get update", "sleep 30", "apt-get update",
                "sleep 0"]
INSTALLED_TWICE = TRIED_THRICE + ["apt-get install", "apt-get install -t hibiscus"]
AGAIN_LATER = ("setup.sh: could not install: the package list hibiscus-security/main (i386) did "
               "not download; the package archive seems to be mid-update, so run the command "
               "again later.")

# Each row: failing updates and their error, the installs' exit statuses, what
# os-release holds (None: there is none), then set-up's exit status, the calls
# it made and its own last line, if any.
CASES = [
    pytest.param(0, "", 0, RELEASE, 0, ["apt-get update", "apt-get install"], "", id="all passes"),
    pytest.param(2, MID_UPDATE, 0, RELEASE, 0, TRIED_THRICE[:5] + ["apt-get install"], "",
                 id="the update passes at its third try"),
    pytest.param(3, MID_UPDATE, 0, RELEASE, 0, TRIED_THRICE + ["apt-get install"], "",
                 id="the update fails, the install passes with the lists that arrived"),
    pytest.param(3, MID_UPDATE, "100 0", RELEASE, 0, INSTALLED_TWICE,
                 "setup.sh: the package list hibiscus-security/main (i386) did not download, so "
                 "the packages were installed without the newer versions in hibiscus-security; "
                 "to bring those in later, run: apt-get update && apt-get upgrade",
                 id="the security list fails, the install passes with the release preferred"),
    pytest.param(3, MID_UPDATE, 100, RELEASE, 1, INSTALLED_TWICE, AGAIN_LATER,
                 id="all fail on a security list mid-update"),
    pytest.param(3, MID_UPDATE, 100, None, 1, TRIED_THRICE + ["apt-get install"], AGAIN_LATER,
                 id="all fail on a security list mid-update, with no os-release"),
    pytest.param(3, MID_UPDATE, 100, "ID=debian\n", 1, TRIED_THRICE + ["apt-get install"],
                 AGAIN_LATER, id="all fail on a security list mid-update, with no code name"),
    pytest.param(3, MAIN_MID_UPDATE, 100, RELEASE, 1, TRIED_THRICE + ["apt-get install"],
                 AGAIN_LATER.replace("-security", ""), id="all fail on the release's list mid-update"),
    pytest.param(3, OFFLINE, 100, RELEASE, 1, INSTALLED_TWICE,
                 "setup.sh: could not install: apt-get update failed on the package list "
                 "hibiscus-security/main (i386) (see above).", id="all fail otherwise"),
    pytest.param(0, "", 100, RELEASE, 1, ["apt-get update", "apt-get install"], "",
                 id="the update passes, the install fails"),
]


# The machine's files: the i386 loader, which runs as $KERNEL says: "native",
# "none" (through a registration already there and switched on, or one of
# the emulator that set-up installed and registered) or "refuses"; and
# Wine's loader, which lands at $LOADER_AT.
LOADER = """#!/bin/bash
binfmt="$SYSTEM/proc/sys/fs/binfmt_misc"
# Given QEMU_VERSION, the registered emulator says its version instead.
if [ -n "${QEMU_VERSION:-}" ]; then
    head -qn 1 "$binfmt"/qemu-i386 2>/dev/null | grep -qx enabled && exec cat "$SYSTEM/held-emulator"
    exit 127
fi
[ "$KERNEL" = native ] && exit 0
[ "$KERNEL" = none ] && { head -qn 1 "$binfmt"/qemu-i386 2>/dev/null | grep -qx -e enabled -e 1 ||
    { grep -q "^qemu-user=" "$SYSTEM/installed" && [ -f "$binfmt/register" ] &&
      grep -qxF "$REGISTRATION" "$binfmt/register"; }; }
"""
WINE_LOADER = '#!/bin/bash\n[ -z "$LD_SHOW_AUXV" ] || echo "AT_PHDR:              $LOADER_AT"\n'
SOURCES = {"sources.list.d/debian.sources": f"Types: deb\nURIs: {ARCHIVE}\nSuites: hibiscus\n"
                                              "Components: main\n"}

# A 32-bit x86 executable or shared object (ELF class 32, little-endian,
# type 2 or 3, machine 3), as binfmt_misc shows a registration and as
# set-up registers QEMU's emulator for it.
MAGIC = "7f454c4601010100000000000000000002000300"
MASK = "fffffffffffefe00fffffffffffffffffeffffff"
REGISTRATION = (r":qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                r"\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff"
                r"\xfe\xff\xff\xff:/usr/bin/qemu-i386:F")


def run_setup(tmp_path, release=RELEASE, options=(), installed="", sources=SOURCES, **settings):
    """setup.sh on the made-up machine, with the packages `installed`, apt's
    `sources` and the stand-ins' settings."""
    system = tmp_path / "system"
    apt = apt_machine(system, sources)
    for name, body in STAND_INS.items():
        (tmp_path / name).write_text("#!/bin/bash\n" + body + "\n")
    for name, body in {"lib/ld-linux.so.2": LOADER, "usr/lib/wine/wine": WINE_LOADER,
                       "usr/share/keyrings/debian-archive-keyring.gpg": "", "installed": installed,
                       "etc/os-release": release}.items():
        if body is not None:
            (system / name).parent.mkdir(parents=True, exist_ok=True)
            (system / name).write_text(body)
    for path in [*tmp_path.iterdir(), system / "lib/ld-linux.so.2", system / "usr/lib/wine/wine"]:
        path.chmod(0o755)
    env = dict(apt, PATH=f"{tmp_path}:{os.environ['PATH']}", CALLS=str(tmp_path / "calls"),
               SETUP_SYSTEM_ROOT=str(system), SYSTEM=str(system), REGISTRATION=REGISTRATION,
               UPDATE_FAILURES="0", UPDATE_ERROR="", INSTALL_STATUS="0", KERNEL="native",
               INSTALL_ERROR="E: Unable to correct problems, you have held broken packages.",
               LOADER_AT="0x7d000034", BINFMT="there", OFFERED="", BACKPORTED="", USER_ID="0",
               SUDO_SAYS="")
    env.update({name: str(value) for name, value in settings.items()})
    run = subprocess.run(["bash", SCRIPT, *options], env=env, capture_output=True, text=True,
                         timeout=60)
    calls = tmp_path / "calls"
    return run, calls.read_text().splitlines() if calls.exists() else []


@pytest.mark.parametrize("failures, error, install, release, code, calls, last_line", CASES)
def test_setup_retries_the_update_then_installs_or_says_why_not(
        tmp_path, failures, error, install, release, code, calls, last_line):
    run, made = run_setup(tmp_path, release, UPDATE_FAILURES=failures, UPDATE_ERROR=error,
                          INSTALL_STATUS=install)
    assert run.returncode == code, run.stderr
    assert made == calls
    lines = run.stderr.splitlines()
    assert [line for line in lines if line.startswith("setup.sh:")] == ([last_line] if last_line else [])
    assert not last_line or lines[-1] == last_line
    if error and failures == 3:
        assert error.splitlines()[0] in run.stderr, "apt's own lines were not shown"


EVERYTHING = "*\nwine32:i386=10.0~repack-6\n"
RELEASED, BACKPORTED = "1:10.0.13+ds-0+deb13u1", "1:10.0.2+ds-2~bpo99+1"
NO_32BIT = "setup.sh: this kernel runs no 32-bit programs, and {}"
NO_WAY = NO_32BIT.format("{}: boot it with ia32_emulation=on, or provide an emulator for them.")
EMULATED = "setup.sh: this kernel runs no 32-bit programs, so QEMU's emulator (qemu-user {}) now " \
           "runs them for Wine, a few times slower, registered with binfmt_misc until the next boot{}."
BACKPORTS_KEPT = "; the release's backports suite, which it came from, stays among apt's sources in " \
                 "/etc/apt/sources.list.d/hibiscus-backports.list"
OLD = "32-bit programs go to binfmt_misc's qemu-i386 (QEMU 7.2.0), but Wine needs QEMU 10.0 or later"
REPLACED = "setup.sh: Wine needs QEMU 10.0 or later, so QEMU's emulator (qemu-user 10.0.13) now runs " \
           "32-bit programs in place of binfmt_misc's qemu-i386 (QEMU 7.2.0), registered with " \
           "binfmt_misc until the next boot."
LOCKED = "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)\n" \
         "E: Unable to acquire the dpkg frontend lock (/var/lib/dpkg/lock-frontend), is another " \
         "process using it?\n"
AFTER_LOCKED = "N: Be aware that removing the lock file is not a solution and may break your system."
KEPT_ON_STOP = " qemu-user stays installed from the release's backports suite, whose list stays among " \
               "apt's sources in /etc/apt/sources.list.d/hibiscus-backports.list for its updates."
FROM_BACKPORTS = {"KERNEL": "none", "OFFERED": "1:7.2+dfsg-7", "BACKPORTED": BACKPORTED}
SUITE_NAMED = f"deb {ARCHIVE} oldstable main\n"
SUITE_DEB822 = f"Types: deb\nURIs: {ARCHIVE}\nSuites: oldstable oldstable-updates\nComponents: main\n"
OFFLINE_BACKPORTS = "W: Failed to fetch http://archive.example/debian/dists/hibiscus-backports/InRelease" \
                    "  Temporary failure resolving 'archive.example'"
USER = {"USER_ID": 1000, "SUDO_SAYS": "sudo: a terminal is required to read the password\n"
                                      "sudo: a password is required"}

# Each row, with every package installed: the kernel, set-up's user, a
# registration already there named qemu-i386 (switched on or off, and the
# QEMU version its emulator says), the emulator's versions offered by the
# release and by its backports suite, binfmt_misc (mounted, none, refused),
# a register that refuses writes, where Wine's loader lands; then set-up's
# exit status, its calls, what it asked apt for, whether it registered the
# emulator, what the registration already there holds after ("-1" removed,
# "1" switched on, None untouched), and set-up's last line.
EMULATOR_CASES = [
    pytest.param(USER, 0, [], [], False, None, None,
                 id="runs natively: nothing done, nor root asked for"),
    pytest.param({**USER, "KERNEL": "none", "registered": ("enabled", "10.0.2")}, 0, [], [], False,
                 None, None, id="runs through QEMU 10 registered already: used as it is"),
    pytest.param({**USER, "KERNEL": "none", "registered": ("enabled", "10.0.2", "outside")}, 0, [],
                 [], False, None, None,
                 id="runs through QEMU 10 registered outside this root: used as it is"),
    pytest.param({"KERNEL": "none", "OFFERED": RELEASED + " 1:7.2+dfsg-7"}, 0,
                 ["apt-get install"], ["qemu-user=" + RELEASED], True, None,
                 EMULATED.format("10.0.13", ""), id="refused: the release's emulator registered"),
    pytest.param({**FROM_BACKPORTS, "registered": ("disabled", "7.2.0")}, 0,
                 ["apt-get update", "apt-get install"], ["qemu-user=" + BACKPORTED], True, "-1",
                 EMULATED.format("10.0.2", BACKPORTS_KEPT),
                 id="refused: the backported emulator registered anew"),
    pytest.param({**FROM_BACKPORTS, "sources": {"sources.list": SUITE_NAMED}}, 0,
                 ["apt-get update", "apt-get install"], ["qemu-user=" + BACKPORTED], True, None,
                 EMULATED.format("10.0.2", BACKPORTS_KEPT),
                 id="refused: the backported emulator, sources naming the suite in one line"),
    pytest.param({**FROM_BACKPORTS, "sources": {"sources.list.d/debian.sources": SUITE_DEB822}}, 0,
                 ["apt-get update", "apt-get install"], ["qemu-user=" + BACKPORTED], True, None,
                 EMULATED.format("10.0.2", BACKPORTS_KEPT),
                 id="refused: the backported emulator, sources naming the suite in deb822"),
    pytest.param({**FROM_BACKPORTS, "sources": {"sources.list.d/debian.sources": SUITE_DEB822.replace(
                  ARCHIVE, "http://off.example/debian") + "Enabled: no\n\n" + SUITE_DEB822}}, 0,
                 ["apt-get update", "apt-get install"], ["qemu-user=" + BACKPORTED], True, None,
                 EMULATED.format("10.0.2", BACKPORTS_KEPT),
                 id="refused: the backported emulator, sources with a disabled deb822 entry"),
    pytest.param({"KERNEL": "none", "OFFERED": "1:7.2+dfsg-7"}, 1, ["apt-get update"], [], False,
                 None, NO_WAY.format("apt's sources offer no qemu-user 10.0 or later to emulate them"),
                 id="refused: no emulator to be had"),
    pytest.param({"KERNEL": "none", "OFFERED": RELEASED, "BINFMT": "none"}, 1, ["mount"], [], False,
                 None, NO_WAY.format("it has no binfmt_misc through which an emulator could run them"),
                 id="refused: no binfmt_misc"),
    pytest.param({**FROM_BACKPORTS, "KERNEL": "refuses"}, 1, ["apt-get update", "apt-get install"],
                 ["qemu-user=" + BACKPORTED], True, None,
                 NO_WAY.format("they are still refused with QEMU's emulator registered") + KEPT_ON_STOP,
                 id="refused even through the backported emulator, whose suite stays"),
    pytest.param({"LOADER_AT": "0x400034"}, 0, ["apt-get install"],
                 ["--download-only", "wine32-preloader:i386=10.0~repack-6"], False, None, None,
                 id="Wine's loader where Windows programs load: its preloader downloaded"),
    pytest.param({"KERNEL": "none", "registered": ("enabled", "7.2.0"), "OFFERED": RELEASED}, 0,
                 ["apt-get install"], ["qemu-user=" + RELEASED], True, "-1", REPLACED,
                 id="runs through QEMU 7.2 registered: replaced"),
    pytest.param({"KERNEL": "none", "registered": ("enabled", "7.2.0"), "OFFERED": "1:7.2+dfsg-7"},
                 1, ["apt-get update"], [], False, None,
                 f"setup.sh: {OLD}, and apt's sources offer no qemu-user 10.0 or later to emulate them: "
                 "replace it with QEMU 10.0 or later.",
                 id="runs through QEMU 7.2 registered, no other to be had: kept, and named"),
    pytest.param({"KERNEL": "none", "registered": ("disabled", "10.0.2")}, 0, [], [], False, "1",
                 "setup.sh: this kernel runs no 32-bit programs, so binfmt_misc's qemu-i386 (QEMU "
                 "10.0.2), switched on, now runs them for Wine, a few times slower, registered with "
                 "binfmt_misc until the next boot.",
                 id="refused: QEMU 10 registered, switched off, is switched on"),
    pytest.param({**USER, "KERNEL": "none", "OFFERED": RELEASED}, 1, [], [], False, None,
                 NO_32BIT.format("sudo refused to make set-up root: sudo: a password is required"),
                 id="refused: sudo refuses"),
    pytest.param({"KERNEL": "none", "OFFERED": RELEASED, "BINFMT": "refused"}, 1, ["mount"], [],
                 False, None, NO_32BIT.format("binfmt_misc could not be mounted: mount: "
                                              "/proc/sys/fs/binfmt_misc: permission denied."),
                 id="refused: mount refuses"),
    pytest.param({"KERNEL": "none", "OFFERED": RELEASED, "INSTALL_STATUS": 100,
                  "INSTALL_ERROR": LOCKED + AFTER_LOCKED}, 1, ["apt-get install"], [], False, None,
                 NO_32BIT.format("qemu-user could not be installed: " + LOCKED.splitlines()[-1]),
                 id="refused: apt's lock is held"),
    pytest.param({"KERNEL": "none", "OFFERED": "1:7.2+dfsg-7", "BACKPORTED": BACKPORTED,
                  "UPDATE_FAILURES": 1, "UPDATE_ERROR": OFFLINE_BACKPORTS}, 1, ["apt-get update"], [],
                 False, None, NO_32BIT.format("the backports suite's list did not download: "
                                              + OFFLINE_BACKPORTS),
                 id="refused: offline, the backports suite's list does not come"),
    pytest.param({**FROM_BACKPORTS, "register": "refuses"}, 1,
                 ["apt-get update", "apt-get install"], ["qemu-user=" + BACKPORTED], False, None,
                 NO_32BIT.format("the kernel refused QEMU's emulator's registration: "
                                 "bash: line 1: printf: write error: No space left on device.")
                 + KEPT_ON_STOP, id="refused: the kernel refuses the backported emulator's registration"),
]


def registered(binfmt, state, version, where="here"):
    """A registration named qemu-i386 of an emulator that says VERSION,
    whose file is in this root, or only held open by the kernel, as one
    registered outside a fresh root is."""
    said = f"qemu-i386 version {version} (Debian 1:{version}+dfsg-1)"
    (binfmt.parents[3] / "held-emulator").write_text(said + "\n")
    emulator = binfmt.parents[3] / "usr/bin/qemu-i386-static"
    if where == "here":
        emulator.parent.mkdir(parents=True, exist_ok=True)
        emulator.write_text(f"#!/bin/sh\necho '{said}'\n")
        emulator.chmod(0o755)
    (binfmt / "qemu-i386").write_text(f"{state}\ninterpreter /usr/bin/qemu-i386-static\nflags: F\n"
                                      f"offset 0\nmagic {MAGIC}\nmask {MASK}\n")
    return (binfmt / "qemu-i386").read_text()


@pytest.mark.parametrize("settings, code, calls, installed, ours, after, last_line", EMULATOR_CASES)
def test_setup_brings_an_emulator_only_where_the_kernel_runs_no_32bit_program(
        tmp_path, settings, code, calls, installed, ours, after, last_line):
    binfmt = tmp_path / "system/proc/sys/fs/binfmt_misc"
    binfmt.mkdir(parents=True)
    register = binfmt / "register"
    if settings.pop("register", "") == "refuses":
        register.symlink_to("/dev/full")
    elif settings.get("BINFMT", "there") == "there":
        register.touch()
    before = registered(binfmt, *settings.pop("registered")) if "registered" in settings else None
    run, made = run_setup(tmp_path, installed=EVERYTHING, **settings)
    assert run.returncode == code, run.stderr
    assert made == calls
    assert (tmp_path / "system/installed").read_text().split()[2:] == installed
    assert (register.is_file() and register.read_text() == REGISTRATION) == ours
    if before:
        assert (binfmt / "qemu-i386").read_text() == (after or before)
    lines = [line for line in run.stderr.splitlines() if line.startswith("setup.sh:")]
    assert lines == ([last_line] if last_line else [])
    backports = tmp_path / "system/etc/apt/sources.list.d/hibiscus-backports.list"
    if "stays among apt's sources" in (last_line or ""):
        assert backports.read_text() == \
            "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] " \
            "http://archive.example/debian hibiscus-backports main\n"
    else:
        assert not backports.exists(), "the backports suite was left in apt's sources"


# Stand-ins for Wine's first start: a wineboot that writes system.reg, as
# Wine does early, then ends well, fails or, as under an emulator too old
# for Wine, never returns; a wineserver, an Xvfb and a wine. Each logs its
# call, and the long-running ones their process.
WINE_STAND_INS = {
    "wineboot": 'echo wineboot >>"$CALLS"; echo $$ >>"$PIDS"; touch "$WINEPREFIX/system.reg"\n'
                'case $WINEBOOT in hangs) exec sleep 600 ;; fails) exit 1 ;; esac',
    "wineserver": 'echo "wineserver $*" >>"$CALLS"',
    "Xvfb": 'echo Xvfb >>"$CALLS"; echo $$ >>"$PIDS"; echo 99 >&"$2"; exec sleep 600',
    "wine": 'echo wine >>"$CALLS"',
}
STOPPED = "Wine's first start (wineboot -i, preparing the prefix {prefix}) did not end within 1 s and " \
          "was stopped; its output is in {log}. "
TOO_OLD = STOPPED + "32-bit programs run through binfmt_misc's qemu-i386 (QEMU 7.2.0): Wine needs " \
                    "QEMU 10.0 or later, which tools/setup.sh brings."
FAILED = "Wine's first start (wineboot -i, preparing the prefix {prefix}) failed; its output is in {log}"
NOT_SECONDS = "MORVANE_WINEBOOT_SECONDS={} is not a number of seconds from 1 up; it bounds Wine's " \
              "first start (300 s when unset)."


def headless(tmp_path):
    """tools/headless.sh as ./test.sh starts it; its prefix and log."""
    return (["bash", "-c", '. "$0" && start_headless "$1"', os.path.join(ROOT, "tools", "headless.sh"),
             str(tmp_path / "headless")], tmp_path / "headless/wineprefix",
            tmp_path / "headless/wineboot.log")


def run_sh(tmp_path):
    """./run.sh, in a tree whose set-up and build are stand-ins that pass."""
    tree = tmp_path / "tree"
    (tree / "tools").mkdir(parents=True)
    (tree / "build/stage").mkdir(parents=True)
    (tree / "run.sh").symlink_to(os.path.abspath(os.path.join(ROOT, "run.sh")))
    for name in ("first-start.sh", "binfmt.sh"):
        (tree / "tools" / name).symlink_to(os.path.abspath(os.path.join(ROOT, "tools", name)))
    for name in ("setup.sh", "build.sh"):
        (tree / "tools" / name).write_text(f'#!/bin/sh\necho {name} >>"$CALLS"\n')
        (tree / "tools" / name).chmod(0o755)
    return [str(tree / "run.sh")], tmp_path / "prefix", tree / "build/run.log"


HEADLESS_START = ["Xvfb", "wineserver -p", "wineboot"]
RUN_START = ["setup.sh", "build.sh", "wineboot"]
# Each row: the command that makes a prefix; what its wineboot does, and
# the other settings: the QEMU version registered (7.2.0 if not given), the
# times the command runs, a prefix that Wine made before; then the calls
# made, and the command's last line.
FIRST_START_CASES = [
    pytest.param(headless, {"WINEBOOT": "hangs"}, HEADLESS_START + ["wineserver -k"] * 2, TOO_OLD,
                 id="headless.sh: wineboot hangs"),
    pytest.param(run_sh, {"WINEBOOT": "hangs"}, RUN_START + ["wineserver -k"], "run.sh: " + TOO_OLD,
                 id="run.sh: wineboot hangs"),
    pytest.param(run_sh, {"WINEBOOT": "hangs", "registered": "10.0.2"}, RUN_START + ["wineserver -k"],
                 "run.sh: " + STOPPED + "Look there for what it waited on.",
                 id="run.sh: wineboot hangs under QEMU 10: no emulator named"),
    pytest.param(run_sh, {"WINEBOOT": "hangs", "runs": 2}, (RUN_START + ["wineserver -k"]) * 2,
                 "run.sh: " + TOO_OLD, id="run.sh: a prefix stopped at its bound is started again"),
    pytest.param(run_sh, {"WINEBOOT": "ends", "runs": 2}, RUN_START + ["wine", "setup.sh", "build.sh",
                                                                      "wine"],
                 "Starting the piano", id="run.sh: a prefix started well is ready"),
    pytest.param(run_sh, {"WINEBOOT": "ends", "prefix": "made by Wine"}, ["setup.sh", "build.sh", "wine"],
                 "Starting the piano", id="run.sh: a prefix that Wine made is ready"),
    pytest.param(headless, {"WINEBOOT": "fails"}, HEADLESS_START + ["wineserver -k"], FAILED,
                 id="headless.sh: wineboot fails"),
    pytest.param(run_sh, {"WINEBOOT": "fails"}, RUN_START, "run.sh: " + FAILED,
                 id="run.sh: wineboot fails"),
    pytest.param(headless, {"WINEBOOT": "ends", "LOADER_AT": "0x400034"},
                 HEADLESS_START + ["wineserver -k"], "Wine's preloader is not downloaded: run "
                 "tools/setup.sh", id="headless.sh: Wine's preloader is not there"),
    pytest.param(headless, {"MORVANE_WINEBOOT_SECONDS": "0"}, [], NOT_SECONDS.format(0),
                 id="headless.sh: a bound of 0"),
    pytest.param(run_sh, {"MORVANE_WINEBOOT_SECONDS": "5m"}, [], "run.sh: " + NOT_SECONDS.format("5m"),
                 id="run.sh: a bound that is not a number"),
]


@pytest.mark.parametrize("command, settings, calls, last_line", FIRST_START_CASES)
def test_wines_first_start_ends_at_its_bound_and_says_why(tmp_path, command, settings, calls, last_line):
    stand_ins = tmp_path / "bin"
    stand_ins.mkdir()
    for name, body in WINE_STAND_INS.items():
        (stand_ins / name).write_text("#!/bin/bash\n" + body + "\n")
        (stand_ins / name).chmod(0o755)
    binfmt = tmp_path / "system/proc/sys/fs/binfmt_misc"
    binfmt.mkdir(parents=True)
    registered(binfmt, "enabled", settings.pop("registered", "7.2.0"))
    for name, body in {"lib/ld-linux.so.2": LOADER, "usr/lib/wine/wine": WINE_LOADER}.items():
        (tmp_path / "system" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "system" / name).write_text(body)
        (tmp_path / "system" / name).chmod(0o755)
    args, prefix, log = command(tmp_path)
    if settings.pop("prefix", None):
        prefix.mkdir()
        (prefix / "system.reg").touch()
    env = dict(os.environ, PATH=f"{stand_ins}:{os.environ['PATH']}", CALLS=str(tmp_path / "calls"),
               PIDS=str(tmp_path / "pids"), MORVANE_WINEBOOT_SECONDS="1", WINEPREFIX=str(prefix),
               HOME=str(tmp_path), DISPLAY="localhost:0", SETUP_SYSTEM_ROOT=str(tmp_path / "system"),
               SYSTEM=str(tmp_path / "system"), LOADER_AT="0x7d000034")
    env.update(settings)
    for _ in range(env.pop("runs", 1)):
        run = subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             timeout=60)
    assert run.returncode == (0 if calls[-1:] == ["wine"] else 1), run.stdout
    assert run.stdout.splitlines()[-1] == last_line.format(prefix=prefix, log=log)
    made = tmp_path / "calls"
    assert (made.read_text().splitlines() if made.exists() else []) == calls
    pids = tmp_path / "pids"
    for pid in pids.read_text().split() if pids.exists() else []:
        with pytest.raises(ProcessLookupError):
            os.kill(int(pid), 0)

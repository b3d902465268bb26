"""tools/setup.sh when the package archive is mid-update: it tries the
update again after a pause, then the install with the lists that did
arrive and, where a security suite's list is missing, once more preferring
the machine's own release; if that fails too it ends with one line naming
the list that failed. apt-get, dpkg, sudo and sleep are stand-ins that log
their calls."""
import os
import subprocess

import pytest

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "setup.sh")
LIST = "http://archive.example/debian-security/dists/hibiscus-security/main/binary-i386/Packages.xz"
MID_UPDATE = (f"E: Failed to fetch {LIST}  File has unexpected size (374820 != 376004). "
              "Mirror sync in progress? [IP: 192.0.2.1 80]\n"
              "E: Some index files failed to download. They have been ignored, or old ones used instead.")
OFFLINE = "E: Failed to fetch {LIST}  Could not resolve 'archive.example'".format(LIST=LIST)
MAIN_MID_UPDATE = MID_UPDATE.replace("-security/", "/")
RELEASE = 'PRETTY_NAME="Fake 99"\nVERSION_CODENAME=hibiscus\n'

STAND_INS = {
    # Every package missing; the i386 architecture already there.
    "dpkg": 'case "$1" in --print-foreign-architectures) echo i386 ;; *) exit 1 ;; esac',
    "sudo": 'exec "$@"',
    "sleep": 'echo "sleep $*" >>"$CALLS"',
    # Fails its first $UPDATE_FAILURES updates with $UPDATE_ERROR, then passes;
    # the Nth install exits with the Nth of $INSTALL_STATUS, or its last.
    "apt-get": '''args=" $* " target=""
[[ $args == *" -t "* ]] && target=${args#* -t } && target=" -t ${target%% *}"
echo "apt-get $1$target" >>"$CALLS"
if [ "$1" = update ]; then
    failed=$(grep -c '^apt-get update' "$CALLS")
    [ "$failed" -le "$UPDATE_FAILURES" ] || exit 0
    echo "$UPDATE_ERROR" >&2
    exit 100
fi
statuses=($INSTALL_STATUS)
tries=$(grep -c '^apt-get install' "$CALLS")
status=${statuses[tries - 1]:-${statuses[-1]}}
[ "$status" -eq 0 ] || echo "E: Unable to correct problems, you have held broken packages." >&2
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


@pytest.mark.parametrize("failures, error, install, release, code, calls, last_line", CASES)
def test_setup_retries_the_update_then_installs_or_says_why_not(
        tmp_path, failures, error, install, release, code, calls, last_line):
    for name, body in STAND_INS.items():
        (tmp_path / name).write_text("#!/bin/bash\n" + body + "\n")
        (tmp_path / name).chmod(0o755)
    if release is not None:
        (tmp_path / "os-release").write_text(release)
    env = dict(os.environ, PATH=f"{tmp_path}:{os.environ['PATH']}", CALLS=str(tmp_path / "calls"),
               OS_RELEASE=str(tmp_path / "os-release"),
               UPDATE_FAILURES=str(failures), UPDATE_ERROR=error, INSTALL_STATUS=str(install))
    run = subprocess.run(["bash", SCRIPT], env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == code, run.stderr
    assert (tmp_path / "calls").read_text().splitlines() == calls
    lines = run.stderr.splitlines()
    assert [line for line in lines if line.startswith("setup.sh:")] == ([last_line] if last_line else [])
    assert not last_line or lines[-1] == last_line
    if error and failures == 3:
        assert error.splitlines()[0] in run.stderr, "apt's own lines were not shown"

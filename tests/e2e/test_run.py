"""The player's command, ./run.sh, as it stands: with no display it stops
before any work, and on the build that ./test.sh made it recompiles nothing
and exits with the piano's exit code."""
import glob
import os
import signal
import subprocess

import pytest

from desktop import ROOT, STAGE, EXE_NAME, TITLE, wait_for, wininfo

RUN = os.path.join(ROOT, "run.sh")
ALREADY_RUNNING = "Morvane Piano is already running."


@pytest.mark.parametrize("display", [None, ":65000"])
def test_without_a_display_it_names_DISPLAY_and_does_no_work(display, tmp_path):
    # Stand-ins for every tool that setting up, building or starting calls.
    calls = tmp_path / "calls"
    for tool in ("dpkg", "apt-get", "sudo", "cmake", "wine", "wineboot"):
        (tmp_path / tool).write_text(f"#!/bin/sh\necho {tool} >>{calls}\n")
        (tmp_path / tool).chmod(0o755)
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["PATH"] = f"{tmp_path}:{env['PATH']}"
    if display:
        env["DISPLAY"] = display
    result = subprocess.run([RUN], env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode != 0
    assert result.stdout == "" and len(result.stderr.splitlines()) == 1
    assert "DISPLAY" in result.stderr and "desktop session" in result.stderr
    assert not calls.exists(), f"called: {calls.read_text().split()}"


def escape_the_piano(screen, prefix):
    for window in screen.windows(TITLE):
        if screen.window_box(window, viewable_only=True):
            screen.run("xdotool", "windowfocus", str(window), check=False)
            screen.run("xdotool", "key", "Escape")


def dismiss_its_error(screen, prefix):
    if wininfo(prefix, "box", "Error") == ["1", "owner=", "button=OK", ALREADY_RUNNING]:
        wininfo(prefix, "ok", "Error")


# Each row: whether a piano already runs in the prefix, how the run's own
# piano is ended once it shows, and the exit code the run must end with:
# the piano's 0 after Escape, or a second copy's -1, which the shell sees
# as 255.
@pytest.mark.parametrize("already_running, end, code", [
    pytest.param(False, escape_the_piano, 0, id="Escape"),
    pytest.param(True, dismiss_its_error, 255, id="a second copy"),
])
def test_on_the_built_folder_it_recompiles_nothing_and_exits_as_the_piano(
        start_piano, screen, prefix, already_running, end, code):
    # The program's own objects and executable, as ./test.sh built them.
    built = [path for pattern in ("*.obj", "*.res") for path in glob.glob(
        os.path.join(ROOT, "build", "CMakeFiles", "*.dir", "**", pattern), recursive=True)]
    assert built, "build the program first"
    built.append(os.path.join(STAGE, EXE_NAME))
    before = {path: os.stat(path).st_mtime_ns for path in built}
    if already_running:
        start_piano().wait_window()
    windows = len(screen.windows(TITLE))
    run = subprocess.Popen([RUN], env=prefix.env, stdout=subprocess.PIPE, text=True,
                           start_new_session=True)

    def ended():
        end(screen, prefix)
        return run.poll() is not None
    try:
        wait_for(ended, 60, f"the piano to start and end by {end.__name__}", interval=0.5)
    finally:
        if run.poll() is None:
            os.killpg(run.pid, signal.SIGKILL)
        run.wait()
        wait_for(lambda: len(screen.windows(TITLE)) <= windows, 30, "the run's window to go")
    output = run.stdout.read()
    assert run.returncode == code, output
    # Nothing to install; a prefix that Wine has not saved yet may be prepared again.
    lines = output.splitlines()
    assert (lines[0], lines[-1]) == ("Building the piano ...", "Starting the piano")
    assert {path: os.stat(path).st_mtime_ns for path in built} == before

"""Fixtures for the end-to-end tests: one virtual screen and one Wine prefix
for the session, and pianos that are always ended after their test."""
import os
import shutil
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(__file__))
from desktop import (ROOT, STAGE, EXE_NAME, Piano, Prefix, Screen,  # noqa: E402
                     set_default_sound)


@pytest.fixture(scope="session")
def workdir():
    path = tempfile.mkdtemp(prefix="e2e-", dir=os.path.join(ROOT, "build"))
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture(scope="session")
def screen():
    assert os.path.exists(os.path.join(STAGE, EXE_NAME)), "build the program first"
    screen = Screen(1920, 1080)
    yield screen
    screen.close()


@pytest.fixture(scope="session")
def prefix(screen, workdir):
    prefix = Prefix(os.path.join(workdir, "prefix"), screen.display)
    # Without one, whatever should sound the default sound is silent.
    set_default_sound(prefix)
    yield prefix
    prefix.kill()


@pytest.fixture
def start_piano(screen, prefix):
    """Starts the real executable; every piano started is ended afterwards."""
    started = []

    def start(**options):
        piano = Piano(options.pop("screen", screen), options.pop("prefix", prefix), **options)
        started.append(piano)
        return piano

    yield start
    # Every process goes first: each kill waits for all of the windows to go.
    for piano in started:
        piano.stop()
    for piano in started:
        piano.kill()


@pytest.fixture
def piano(start_piano):
    """A piano on the 1920 x 1080 screen, its window up and painted."""
    return start_piano().wait_window()

"""The real window on a 1920 x 1080 screen: its placement, every pixel of
it drawn as designed; single instance; exit codes."""
import numpy as np
import pytest

from desktop import TITLE, wait_for, wait_released_window, wininfo
from layout import keyboard_origin

ORIGIN = keyboard_origin(1920, 1080)


def test_window_is_screen_wide_at_the_origin(piano, prefix):
    assert wininfo(prefix, "rect", TITLE) == ["0 0 1920 1046"]
    # With no window manager, X shows the client area alone: the frame and
    # caption of a 1920 x 1046 window at (0, 0) leave this much of it.
    assert piano.geometry() == (4, 23, 1912, 1019)
    assert ORIGIN == (435, 313)


def test_whole_window_drawn_as_designed(piano, prefix):
    wait_released_window(piano, prefix)


# A shortcut set to start minimised or maximised, like `start /min`, hands
# that show command to the program, which shows its window so.
@pytest.mark.parametrize("options, state", [([], "normal"), (["/min"], "minimised"),
                                            (["/max"], "maximised")])
def test_window_shown_as_started(start_piano, prefix, options, state):
    start_piano(launch=["start", "/wait", *options, "/unix"])
    wait_for(lambda: wininfo(prefix, "state", TITLE) not in ([], ["hidden"]), 60, "the window")
    assert wininfo(prefix, "state", TITLE) == [state]


def test_second_copy_says_already_running_and_exits_minus_one(piano, start_piano, screen, prefix):
    before = piano.shot_client()
    second = start_piano()
    box = ["1", "owner=", "button=OK", "Morvane Piano is already running."]
    wait_for(lambda: wininfo(prefix, "box", "Error") == box, 60,
             lambda: f"the Error box; saw {wininfo(prefix, 'box', 'Error')}")
    wininfo(prefix, "ok", "Error")
    assert second.exit_code() == -1
    assert len(screen.windows(TITLE)) == 1
    # The first copy is untouched: still running, the same picture.
    assert piano.process.poll() is None
    assert np.array_equal(piano.shot_client(), before)


def test_closing_the_window_exits_zero(piano):
    piano.focus()
    piano.key("alt+F4")
    assert piano.exit_code() == 0

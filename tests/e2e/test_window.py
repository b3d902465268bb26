"""The real window on a 1920 x 1080 screen: its placement, every pixel of
it drawn as designed; single instance; exit codes."""
import numpy as np
import pytest

from desktop import TITLE, wait_for, wait_released_window, wininfo

# The whole overlapped frame: caption, system menu, sizing border, and the
# minimise and maximise boxes.
WS_OVERLAPPEDWINDOW = 0x00CF0000


def test_window_is_screen_wide_at_the_origin(piano, prefix):
    assert wininfo(prefix, "rect", TITLE) == ["0 0 1920 1046"]
    style = int(wininfo(prefix, "style", TITLE)[0], 16)
    assert style & WS_OVERLAPPEDWINDOW == WS_OVERLAPPEDWINDOW, f"style {style:08x}"
    # With no window manager, X shows the client area alone: what is left of
    # the 1920 x 1046 window at (0, 0) inside the frame and caption, which are
    # as thick as the platform's metrics make them.
    left, top, right, bottom = (int(n) for n in wininfo(prefix, "frame")[0].split())
    assert piano.geometry() == (-left, -top, 1920 - (right - left), 1046 - (bottom - top))


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

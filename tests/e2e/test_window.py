"""The real window on a 1920 x 1080 screen: its placement, the title word,
the rule and every key drawn released; single instance; exit codes."""
import numpy as np
import pytest

from desktop import TITLE, rgb, wait_for, wininfo
from layout import BLACK_OFFSETS, black_key, keyboard_origin, white_key

ORIGIN = keyboard_origin(1920, 1080)
WHITE, BLACK, GREY = (255, 255, 255), (0, 0, 0), (153, 153, 153)


def test_window_is_screen_wide_at_the_origin(piano, prefix):
    assert wininfo(prefix, "rect", TITLE) == ["0 0 1920 1046"]
    # With no window manager, X shows the client area alone: the frame and
    # caption of a 1920 x 1046 window at (0, 0) leave this much of it.
    assert piano.geometry() == (4, 23, 1912, 1019)
    assert ORIGIN == (435, 313)


def test_title_word_and_rule(piano):
    image = piano.shot_client()
    left, top = ORIGIN
    title = image[top - 60:top - 10, left:left + 300]
    title_pixels = np.all(title == rgb(0xC7A98F), axis=2)
    assert title_pixels.sum() > 500, "title word not drawn in its colour"
    ys, xs = np.nonzero(title_pixels)
    # The text's top-left corner is the point given; the cell includes some
    # internal leading, so ink starts at or just after it.
    assert xs.min() >= 0 and xs.min() < 15 and ys.min() < 15

    rule_row = image[top - 10]
    assert np.all(rule_row[left:left + 1050] == WHITE), "rule not white from x 435 to 1484"
    assert tuple(rule_row[left - 1]) != WHITE and tuple(rule_row[left + 1050]) != WHITE
    assert not np.any(np.all(image[top - 9:top] == WHITE, axis=2)), "rule is more than one row"


def test_every_key_drawn_released(piano):
    image = piano.shot_client()
    failures = []

    def expect(x, y, colour, what):
        if tuple(image[y, x]) != colour:
            failures.append(f"{what}: ({x},{y}) is {tuple(image[y, x])}, expected {colour}")

    for i in range(15):
        L, T, R, B = white_key(i, ORIGIN)
        expect(L + 30, B - 5, WHITE, f"white {i} body")
        expect(L + 30, B - 20, BLACK, f"white {i} lip")
        expect(L + 30, B - 12, WHITE, f"white {i} no pressed lip")
        expect(R - 1, B - 10, BLACK, f"white {i} separator")
        expect(L + 3, B - 30, WHITE, f"white {i} no shading band")
    for j in range(10):
        L, T, R, B = black_key(j, ORIGIN)
        expect(L + 20, T + 100, BLACK, f"black {j} body")
        expect(L + 5, T + 100, GREY, f"black {j} left outline")
        expect(R - 6, T + 100, GREY, f"black {j} right outline")
        expect(L + 20, B - 6, GREY, f"black {j} bottom outline")
        expect(R + 7, T + 50, GREY, f"black {j} right shadow")
        expect(R + 7, B + 7, GREY, f"black {j} shadow corner")
        expect(R + 8, T + 50, WHITE, f"black {j} right of shadow")
        expect(L + 30, B + 8, WHITE, f"black {j} below shadow")
        expect(L + 19, B + 4, BLACK, f"black {j} separator through shadow")
    assert not failures, "\n".join(failures)


# A shortcut set to start minimised or maximised, like `start /min`, hands
# that show command to the program, which shows its window so.
@pytest.mark.parametrize("option, state", [(None, "normal"), ("/min", "minimised"),
                                           ("/max", "maximised")])
def test_window_shown_as_started(start_piano, prefix, option, state):
    start_piano(launch=["start", "/wait", *filter(None, [option]), "/unix"])
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

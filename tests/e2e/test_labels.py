"""The label row of the real executable: where its text stands, the boxes
that About and Help open, the home-page link and Exit."""
import stat
import subprocess
import types

import numpy as np
import pytest

from desktop import (CAPTURE_RATE, assert_box_drawn, built_product, not_the_note, wait_for,
                     wininfo)
from layout import keyboard_origin, white_key

ORIGIN = keyboard_origin(1920, 1080)
LABEL_Y, LABEL_HEIGHT = 273, 20
LABELS = {"link": (1155, 200, "left"), "about": (1365, 40, "left"), "help": (1415, 40, "left"),
          "exit": (1455, 30, "centre")}
CAPTION = "Morvane Piano"
ABOUT_LINES = ["Morvane Piano", f"Version {built_product()['VERSION_SHORT_STRING']}",
               "Morvane Software", "www.morvane.example"]
HELP_LINES = ["Black piano keys:  1, 2, 4, 5, 6, 8, 9, -, =, <-",
              "White piano keys: Tab, Q, W, E, R, T, Y, U, I, O, P, [, ], \\, Delete"]
BOX_LINES = {"about": ABOUT_LINES, "help": HELP_LINES}
HOME_PAGE = "https://www.morvane.example/"


def click_label(piano, name, repeat=1):
    x, width, _ = LABELS[name]
    piano.click(x + width // 2, LABEL_Y + LABEL_HEIGHT // 2, repeat)


def open_boxes(piano, prefix):
    return wininfo(prefix, "box", CAPTION)


def test_label_text_sits_at_the_left_or_centred(piano):
    image, wrong = piano.shot_client(), []
    for name, (x, width, align) in LABELS.items():
        inside = image[LABEL_Y + 1:LABEL_Y + LABEL_HEIGHT - 1, x + 1:x + width - 1]
        ink = np.nonzero(np.any(inside != 0, axis=(0, 2)))[0]
        if not len(ink):
            wrong.append(f"{name}: no text")
            continue
        left, right = ink[0], width - 3 - ink[-1]
        if not (left <= 2 if align == "left" else abs(left - right) <= 1):
            wrong.append(f"{name}: text {left} pixels from the left, {right} from the right, "
                         f"not at the {align}")
    assert not wrong, "; ".join(wrong)


# A box opens in silence: a box with an icon would sound the system's sound
# for that icon as it opens, on Windows.
@pytest.mark.parametrize("label, lines", [("about", ABOUT_LINES), ("help", HELP_LINES)])
def test_box_shows_its_text_and_one_ok_button_alone_in_silence(piano, prefix, label, lines):
    sounds = len(piano.streams())
    click_label(piano, label)
    wait_for(lambda: open_boxes(piano, prefix)[0] == "1", 30, "the box")
    assert open_boxes(piano, prefix) == ["1", f"owner={CAPTION}", "button=OK", *lines]
    assert_box_drawn(piano.screen, prefix, CAPTION)
    wininfo(prefix, "ok", CAPTION)
    wait_for(lambda: open_boxes(piano, prefix) == ["0"], 30, "the box to close")
    assert len(piano.streams()) == sounds, "a sound started as the box opened"
    assert piano.process.poll() is None


@pytest.fixture
def browser(tmp_path):
    """A stand-in browser, early on the PATH that a piano is started with,
    that records each address it is asked to open."""
    record = tmp_path / "opened.txt"
    stand_in = tmp_path / "xdg-open"
    stand_in.write_text(f'#!/bin/sh\necho "$@" >> "{record}"\n')
    stand_in.chmod(stand_in.stat().st_mode | stat.S_IEXEC)

    def opened():
        return record.read_text().split() if record.exists() else []

    def running():
        # Wine's browser launcher, then the stand-in it starts: until both
        # have gone, another address may still be on its way.
        lines = subprocess.run(["ps", "-eo", "args"], capture_output=True, text=True).stdout
        return any("winebrowser" in line or str(stand_in) in line for line in lines.splitlines())
    return types.SimpleNamespace(path=str(tmp_path), opened=opened, running=running)


# A double click is one gesture: its second click must not act again. Each
# row's second label is a marker: once its box shows, the queue that would
# hold a second action has been read.
@pytest.mark.parametrize("label, marker", [("link", "about"), ("about", "help"), ("help", "about")])
def test_double_click_acts_once(start_piano, prefix, browser, label, marker):
    piano = start_piano(extra_path=browser.path).wait_window()
    click_label(piano, label, repeat=2)
    if label != "link":
        wait_for(lambda: open_boxes(piano, prefix)[0] != "0", 30, "the box")
        assert open_boxes(piano, prefix)[0] == "1"
        wininfo(prefix, "ok", CAPTION)
        wait_for(lambda: open_boxes(piano, prefix) == ["0"], 30, "the box to close")
    click_label(piano, marker)
    wait_for(lambda: open_boxes(piano, prefix)[0] != "0", 30, f"the {marker} box")
    assert open_boxes(piano, prefix)[3:] == BOX_LINES[marker]
    wait_for(lambda: not browser.running(), 30, "the browser launches to end")
    assert browser.opened() == ([HOME_PAGE] if label == "link" else [])


def test_link_opens_the_home_page_in_the_browser(start_piano, browser):
    piano = start_piano(extra_path=browser.path).wait_window()
    click_label(piano, "link")
    wait_for(browser.opened, 60, "the browser")
    assert browser.opened() == [HOME_PAGE]


def test_exit_label_ends_the_program_with_code_0(piano):
    click_label(piano, "exit")
    assert piano.exit_code() == 0


def test_keys_go_to_an_open_box_and_play_nothing(piano, prefix):
    before = piano.shot_client()
    click_label(piano, "about")
    wait_for(lambda: open_boxes(piano, prefix)[0] == "1", 30, "the box")
    piano.key("q", "1", "Tab")
    piano.key("Return")            # the box takes this one too, and closes
    wait_for(lambda: open_boxes(piano, prefix) == ["0"], 30, "the box to close")
    # Then a note, as a marker: it must be the first thing heard.
    piano.focus()
    piano.key("t", action="keydown")
    L, T, R, B = white_key(5, ORIGIN)
    wait_for(lambda: tuple(piano.shot_client()[B - 12, L + 30]) == (0, 0, 0), 30, "A4 pressed")
    piano.key("t", action="keyup")
    after = piano.shot_client()
    changed = np.any(before[:B + 1, :1500] != after[:B + 1, :1500], axis=2)
    changed[T + 278:B, L:R] = False
    ys, xs = np.nonzero(changed)
    assert not changed.any(), f"drawn differently after the box: {list(zip(xs, ys))[:5]}"
    piano.wait_sound(int(0.2 * CAPTURE_RATE))
    wrong = not_the_note(piano.streams(), 49)
    assert not wrong, f"something other than A4 sounded: sounds {wrong} of {len(piano.streams())}"

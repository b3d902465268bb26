"""Playing the real executable: what a key-down and a key-up show on the
screen and what they sound like, captured from Wine's sound output."""
import os
import shutil
import sys
import wave

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "sound"))
from desktop import (CAPTURE_RATE, EXE_NAME, STAGE, UNNAMEABLE_FOLDER, not_the_note,  # noqa: E402
                     wait_for, wait_quiet)
from layout import (BLACK, BLACK_KEYS, BLACK_SOUNDS, GREY, WHITE, WHITE_KEYS,  # noqa: E402
                    WHITE_SOUNDS, black_key, frequency, keyboard_origin, white_key)
from wavcheck import cents, fundamental_hz  # noqa: E402

ORIGIN = keyboard_origin(1920, 1080)


def note_seconds(sound_number):
    """The length of a key's sound file: each rings out for as long as its
    string does."""
    with wave.open(os.path.join(STAGE, "keys", f"{sound_number}.wav")) as note:
        return note.getnframes() / note.getframerate()


def changed_box(before, after):
    """The bounding box (left, top, right, bottom) of the pixels that differ."""
    ys, xs = np.nonzero(np.any(before != after, axis=2))
    if len(xs) == 0:
        return None
    return (xs.min(), ys.min(), xs.max() + 1, ys.max() + 1)


def pixel(image, x, y):
    return tuple(image[y, x])


# Each row: the key to press, its rectangle, the rectangle its press may
# repaint, and the pixels that show it pressed, as (x, y, colour).
def white_case(name, i, folder=None):
    L, T, R, B = white_key(i, ORIGIN)
    has_black_at_left = i not in (0, 3, 7, 10, 14)
    repaint = (L, T + 278 if has_black_at_left else T, R, B)
    marks = [(L + 30, B - 12, BLACK), (L + 30, B - 20, WHITE), (L + 3, B - 30, GREY),
             (L + 7, B - 14, GREY), (L + 8, B - 30, WHITE)]
    if not has_black_at_left:
        marks.append((L + 3, T + 5, GREY))
    return pytest.param(WHITE_KEYS[i], repaint, marks, WHITE_SOUNDS[i], folder, id=name)


def black_case(name, j, folder=None):
    L, T, R, B = black_key(j, ORIGIN)
    marks = [(L + 2, T + 100, WHITE), (L + 3, T + 100, BLACK), (R + 2, B + 2, BLACK),
             (L + 8, T + 100, GREY), (R + 3, T + 100, GREY), (R + 7, B + 7, GREY),
             (R + 3, B + 3, GREY)]
    return pytest.param(BLACK_KEYS[j], (L - 1, T, R + 3, B + 3), marks, BLACK_SOUNDS[j], folder,
                        id=name)


# The last rows start the program and its keys folder copied into a folder
# whose name the code page cannot write, as a user may unpack the zip.
KEY_CASES = [
    white_case("white key with a black key at its left (Q)", 1),
    white_case("white key without one (E)", 3),
    black_case("black key (1)", 0),
    white_case("white key, in a folder named in Cyrillic and Chinese (Q)", 1, UNNAMEABLE_FOLDER),
    black_case("black key, in a folder named in Cyrillic and Chinese (1)", 0, UNNAMEABLE_FOLDER),
]


def unpacked_piano(start_piano, parent, folder):
    """The staged program started in its folder, or in a copy of it named `folder`."""
    if not folder:
        return start_piano().wait_window()
    path = os.path.join(parent, folder)
    shutil.copytree(os.path.join(STAGE, "keys"), os.path.join(path, "keys"))
    shutil.copy(os.path.join(STAGE, EXE_NAME), path)
    return start_piano(cwd=path, exe=os.path.join(path, EXE_NAME)).wait_window()


@pytest.mark.parametrize("key, repaint, marks, sound_number, folder", KEY_CASES)
def test_key_down_draws_pressed_and_plays_key_up_draws_released(start_piano, tmp_path, key,
                                                                repaint, marks, sound_number,
                                                                folder):
    piano = unpacked_piano(start_piano, tmp_path, folder)
    piano.focus()
    released = piano.shot_client()

    piano.key(key, action="keydown")
    x, y, colour = marks[0]
    try:
        wait_for(lambda: pixel(piano.shot_client(), x, y) == colour, 30, "the key drawn pressed")
        pressed = piano.shot_client()
        # Held, the key repeats: each repeat starts its note again.
        wait_for(lambda: len(piano.streams()) >= 3, 30, "the held key to start its note again")
    finally:
        piano.key(key, action="keyup")

    assert changed_box(released, pressed) is not None
    left, top, right, bottom = changed_box(released, pressed)
    assert (left >= repaint[0] and top >= repaint[1] and right <= repaint[2]
            and bottom <= repaint[3]), f"press changed {changed_box(released, pressed)}, outside {repaint}"
    wrong = [(mx, my, pixel(pressed, mx, my), c) for mx, my, c in marks if pixel(pressed, mx, my) != c]
    assert not wrong, f"pressed image wrong at (x, y, got, expected): {wrong}"

    # The release restores exactly the picture from before the press.
    wait_for(lambda: np.array_equal(piano.shot_client(), released), 30, "the key drawn released")

    piano.wait_sound(int(1.2 * CAPTURE_RATE))
    sound = piano.captured()
    heard = fundamental_hz(sound, CAPTURE_RATE, frequency(sound_number), 0.05, 1.05)
    assert abs(cents(heard, frequency(sound_number))) < 10, f"heard {heard:.1f} Hz"
    wrong = not_the_note(piano.streams(), sound_number)
    assert not wrong, f"sounds {wrong} of {len(piano.streams())} do not start as the note does"


def test_second_key_down_cuts_off_the_first_note_and_no_key_up_starts_one(piano):
    piano.focus()
    piano.key("q", action="keydown")                   # D4, held
    try:
        piano.wait_sound(int(0.3 * CAPTURE_RATE))
        piano.key("t", action="keydown")               # A4
    finally:
        # D4's key goes up last: a key-up that started its note would be heard last.
        piano.key("t", "q", action="keyup")
    wait_quiet(piano, int(note_seconds(49) * CAPTURE_RATE))
    # The last sound is A4 in full, and no sound overlaps the next: D4, and
    # any repeat of it, stopped as A4 started.
    heard = fundamental_hz(piano.captured(), CAPTURE_RATE, 440.0)
    assert abs(cents(heard, 440.0)) < 10, f"heard {heard:.1f} Hz last, not A4's 440 Hz"
    streams = piano.streams()
    overlaps = [i for i, (a, b) in enumerate(zip(streams, streams[1:]))
                if a.closed is None or a.closed > b.opened]
    assert not overlaps, f"D4 played on: sounds {overlaps} of {len(streams)} outlasted the next"


def test_key_up_leaves_a_low_note_ringing_to_its_end(piano):
    piano.focus()
    piano.key("Tab")                                   # C4, down and up at once
    seconds = wait_quiet(piano, 1) / CAPTURE_RATE
    assert seconds >= note_seconds(40) - 0.05, f"note stopped after {seconds:.2f} s"


def test_unmapped_keys_change_nothing(piano):
    piano.focus()
    before = piano.shot_client()
    for name in ("3", "7", "0", "a", "space", "Return", "F5"):
        piano.key(name)
    # A mapped key after them proves they were all handled before it.
    piano.key("t", action="keydown")
    L, T, R, B = white_key(5, ORIGIN)
    try:
        wait_for(lambda: pixel(piano.shot_client(), L + 30, B - 12) == BLACK, 30,
                 "A4 drawn pressed")
        box = changed_box(before, piano.shot_client())
    finally:
        piano.key("t", action="keyup")
    assert box is not None and box[0] >= L and box[2] <= R and box[1] >= T + 278
    piano.wait_sound(int(1.2 * CAPTURE_RATE))
    assert abs(cents(fundamental_hz(piano.captured(), CAPTURE_RATE, 440.0), 440.0)) < 10
    wrong = not_the_note(piano.streams(), 49)
    assert not wrong, f"something other than A4 sounded: sounds {wrong} of {len(piano.streams())}"


def test_escape_ends_the_program_with_code_0(piano):
    piano.focus()
    piano.key("Escape")
    assert piano.exit_code() == 0

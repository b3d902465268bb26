"""The real executable under abuse: a burst of thousands of key events, bad
sound files, odd screen sizes, many copies started at once and a key held
across a change of focus. It must never hang, crash or leak."""
import contextlib
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "sound"))
from desktop import (CAPTURE_RATE, DEFAULT_SOUND_HZ, DEFAULT_SOUND_SECONDS,  # noqa: E402
                     EXE_NAME, STAGE, TITLE, UNNAMEABLE_FOLDER, Prefix, Screen, process_stats,
                     start_wininfo, wait_for, wait_quiet, wait_released_window, wininfo)
from layout import (BLACK, BLACK_KEYS, GREY, WHITE, WHITE_KEYS, black_key,  # noqa: E402
                    frequency, keyboard_origin, white_key)
from wavcheck import cents, fundamental_hz  # noqa: E402


# Keys the piano ignores: letters, digits without a black key, punctuation,
# movement and function keys. Modifiers, F1, F10 and Escape stay out: they
# have meanings of their own.
UNMAPPED_KEYS = ("a", "s", "d", "f", "g", "h", "j", "k", "l", "z", "x", "c", "v", "b", "n",
                 "m", "3", "7", "0", "space", "Return", "semicolon", "apostrophe", "comma",
                 "period", "slash", "grave", "Left", "Right", "Up", "Down", "Home", "End",
                 "Prior", "Next", "Insert", "F2", "F3", "F4", "F5", "F8", "F12", "KP_5")
# Black keys first: a full-height white key repainted while the black key at
# its right is held draws the end of that key's shadow white, since a held
# black key has no shadow, and the black key's release repaints only the
# shadow's inner part, so the white stays until the white key is next
# repainted. Gone through with the white keys last, every key leaves the
# keyboard as it was.
MAPPED_KEYS = BLACK_KEYS + WHITE_KEYS


def pixel(image, x, y):
    return tuple(image[y, x])


def black_pressed(image, origin, j=0):
    """A pressed black key is drawn 3 pixels right: white shows at its old
    left edge and its grey outline moves in to L + 8."""
    L, T, R, B = black_key(j, origin)
    return pixel(image, L + 2, T + 100) == WHITE and pixel(image, L + 8, T + 100) == GREY


def white_pressed(image, origin, i):
    L, T, R, B = white_key(i, origin)
    return pixel(image, L + 30, B - 12) == BLACK


def check_running(piano, prefix):
    """Fails at once if the piano has ended or crashed. A crash under Wine
    leaves the process up behind a 'Program Error' box; closing that box
    ends it, so that the next test does not find it."""
    if piano.process.poll() is not None:
        raise AssertionError(f"the piano exited with {piano.exit_code()}")
    if piano.screen.windows("Program Error"):
        wininfo(prefix, "ok", "Program Error")
        wait_for(lambda: not piano.screen.windows("Program Error"), 30, "the box to close")
        raise AssertionError("the piano crashed: Wine shows its 'Program Error' box")


def press_and_release(piano, prefix, key, is_pressed, released, sound_held=False):
    """Holds `key` until `is_pressed(image)`, then releases it and waits for
    the picture `released` to come back exactly. With `sound_held`, the
    key's sound plays on until the key goes up, and the window must answer
    meanwhile; a repeat of the key, which stops the sound and waits for it,
    may go on from then."""
    def shot():
        check_running(piano, prefix)
        return piano.shot_client()
    with piano.holding_sound() if sound_held else contextlib.nullcontext():
        piano.key(key, action="keydown")
        try:
            wait_for(lambda: is_pressed(shot()), 30, f"{key} drawn pressed")
        finally:
            # Never leave a key down in the X server for the next test.
            piano.key(key, action="keyup")
    wait_for(lambda: np.array_equal(shot(), released), 30, f"{key} drawn released")


def burst_script(count, seed):
    """xdotool arguments for `count` random key-downs and key-ups over every
    mapped key and the unmapped ones, then a key-up of every key, so that
    all end released. Runs of one action share a command; no delays."""
    rng = random.Random(seed)
    keys = MAPPED_KEYS + UNMAPPED_KEYS
    events = [(rng.choice(("keydown", "keyup")), rng.choice(keys)) for _ in range(count)]
    assert set(MAPPED_KEYS) <= {key for _, key in events}
    events += [("keyup", key) for key in keys]
    args, action = [], None
    for event_action, key in events:
        if event_action != action:
            args += [event_action, "--delay", "0"]
            action = event_action
        args.append(key)
    return args


# -- a burst -------------------------------------------------------------
# The burst leaves about 0.2 MB more of each (the sound player's heap after
# some 2,500 notes); a leak of 400 bytes or more per key event exceeds this.
MEMORY_MARGIN = 2 << 20


def test_burst_of_5000_key_events_leaves_it_responsive_unchanged_and_not_leaking(piano, screen,
                                                                                 prefix):
    origin = keyboard_origin(screen.width, screen.height)
    piano.focus()
    released = piano.shot_client()
    # The first note loads the sound player; count from after it has ended.
    press_and_release(piano, prefix, "t", lambda image: white_pressed(image, origin, 5), released)
    wait_quiet(piano, int(0.5 * CAPTURE_RATE))
    before = process_stats(prefix)

    screen.run("xdotool", *burst_script(5000, seed=20240607))
    wait_for(lambda: np.array_equal(piano.shot_client(), released), 60,
             "the keyboard drawn all released after the burst")
    wait_quiet(piano, 1)
    after = process_stats(prefix)
    print(f"\nprocess figures before and after the burst: {before} {after}")

    assert after["gdi_table"] == before["gdi_table"], "GDI objects leaked"
    assert after["handle_list"] == before["handle_list"], "handles leaked"
    for name in ("pagefile", "working_set"):
        assert abs(after[name] - before[name]) <= MEMORY_MARGIN, \
            f"{name} went from {before[name]} to {after[name]}"
    # Still answering at once: a further key is drawn and cleared.
    press_and_release(piano, prefix, "1", lambda image: black_pressed(image, origin), released)
    piano.key("Escape")
    assert piano.exit_code() == 0


# -- bad sound files -------------------------------------------------------
def wav_header(data_bytes, channels=1, rate=44100, bits=16, block_align=2, byte_rate=88200,
               tag=1):
    return (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE"
            + b"fmt " + struct.pack("<IHHIIHH", 16, tag, channels, rate, byte_rate,
                                    block_align, bits)
            + b"data" + struct.pack("<I", data_bytes))


def real_wav():
    with open(os.path.join(STAGE, "keys", "49.wav"), "rb") as wav:
        return wav.read()


def write(path, content):
    with open(path, "wb") as out:
        out.write(content)


def huge_wav(path):
    """A valid header claiming ~300 MB of samples, the rest a sparse hole."""
    size = 300 << 20
    write(path, wav_header(size))
    os.truncate(path, 44 + size)


def junk_first(size, content=b"", rest=None):
    """Key 49's file, or `rest` in place of its chunks, with a JUNK chunk of
    the given size before them."""
    rest = real_wav()[12:] if rest is None else rest
    chunks = b"WAVE" + b"JUNK" + struct.pack("<I", size) + content + rest
    return b"RIFF" + struct.pack("<I", len(chunks)) + chunks


def zero_block_align(path):
    write(path, wav_header(88200, block_align=0) + bytes(88200))


def zero_rate_after_4k(path):
    """A format with block align and byte rate 0, beyond a 4 KiB chunk."""
    write(path, junk_first(4096, bytes(4096), wav_header(88200, block_align=0, byte_rate=0)[12:]
                           + bytes(88200)))


def encoded_note(path, encoding, samples_per_block=None):
    """Key 49's note as SoX encodes it, with the samples per block that the
    format record gives the decoder replaced if asked: SoX writes the format
    chunk first, and the field 18 bytes into its record."""
    subprocess.run(["sox", "-D", os.path.join(STAGE, "keys", "49.wav"), "-e", encoding, path],
                   check=True)
    if samples_per_block is not None:
        with open(path, "r+b") as sound:
            sound.seek(12 + 8 + 18)
            sound.write(struct.pack("<H", samples_per_block))


DEFAULT = "the default sound"

# Each row: what stands in keys\49.wav (played by T), or None for no keys
# folder at all, and what T must then sound: the default sound, key 49's own
# note, or None where that is the player's affair. keys\51.wav (Y) is missing
# in every case.
BAD_SOUND_CASES = [
    pytest.param(None, DEFAULT, id="no keys folder"),
    pytest.param(lambda p: write(p, b""), None, id="empty file"),
    pytest.param(lambda p: write(p, real_wav()[:len(real_wav()) // 10]), None,
                 id="truncated samples"),
    pytest.param(lambda p: write(p, real_wav()[:30]), None, id="truncated header"),
    pytest.param(lambda p: write(p, wav_header(88200, block_align=0, byte_rate=0)
                                 + bytes(88200)), DEFAULT, id="block align and byte rate 0"),
    pytest.param(zero_block_align, DEFAULT, id="block align 0"),
    pytest.param(lambda p: write(p, wav_header(88200, tag=0x7777, channels=0, bits=0)
                                 + bytes(88200)), None, id="unknown format, no channels"),
    pytest.param(lambda p: write(p, b"Not a sound at all.\n" * 100), None, id="not a WAV"),
    pytest.param(huge_wav, None, id="300 MB WAV"),
    # 8 + size wraps a 32-bit offset back onto the chunk itself.
    pytest.param(lambda p: write(p, junk_first(0xFFFFFFF8)), DEFAULT,
                 id="chunk before the format wrapping round to itself"),
    pytest.param(lambda p: write(p, junk_first(1 << 24)), DEFAULT,
                 id="chunk before the format running past the end"),
    pytest.param(lambda p: write(p, junk_first(4096, bytes(4096))), 49,
                 id="large chunk before the format"),
    pytest.param(zero_rate_after_4k, DEFAULT, id="block align and byte rate 0 after 4 KiB"),
    pytest.param(lambda p: write(p, junk_first(4096, bytes(4096) + b"JUNK"
                                               + struct.pack("<I", 0xFFFFFFF8))), DEFAULT,
                 id="chunk wrapping round to itself after 4 KiB"),
    # Compressed notes go to the platform's decoders, which play them.
    pytest.param(lambda p: encoded_note(p, "ms-adpcm"), 49, id="MS ADPCM note"),
    pytest.param(lambda p: encoded_note(p, "ima-adpcm"), 49, id="IMA ADPCM note"),
    pytest.param(lambda p: encoded_note(p, "ms-adpcm", samples_per_block=0), DEFAULT,
                 id="MS ADPCM note with no samples per block"),
]
# The piano finds a key's file beside the executable before the current
# folder, and the check reads the very file that the player is handed: by
# its full path, or in a folder whose name the code page cannot write, by
# its short path. A path of 128 bytes or more that no short path shortens
# is never handed over: the player's own name record cannot hold it.
DEEP_SHORT_NAMES = "/".join(f"FOLDER{n:02}" for n in range(14))
PLACED_CASES = [
    pytest.param(zero_rate_after_4k, DEFAULT, True, "piano",
                 id="block align and byte rate 0, started from another folder"),
    pytest.param(zero_block_align, DEFAULT, False, UNNAMEABLE_FOLDER,
                 id="block align 0, in a folder named in Cyrillic and Chinese"),
    pytest.param(lambda p: write(p, real_wav()), DEFAULT, False, DEEP_SHORT_NAMES,
                 id="the real note, in folders of short names 126 bytes deep"),
]


def assert_heard(piano, key, expected):
    """The last sound started, by `key`, is `expected`: the default sound
    alone, its tone for as long as it lasts, or key `expected`'s note."""
    if expected != DEFAULT:
        piano.wait_sound(int(1.2 * CAPTURE_RATE))
        heard = fundamental_hz(piano.captured(), CAPTURE_RATE, frequency(expected), 0.05, 1.05)
        assert abs(cents(heard, frequency(expected))) < 10, f"{key}: heard {heard:.1f} Hz"
        return
    wait_quiet(piano, int(DEFAULT_SOUND_SECONDS * CAPTURE_RATE), what=f"{key}'s default sound")
    sound = piano.captured()
    loud = np.flatnonzero(np.abs(sound) > 0.1)
    assert len(loud), f"{key}: heard silence, not the default sound"
    seconds = (loud[-1] + 1 - loud[0]) / CAPTURE_RATE
    heard = fundamental_hz(sound[loud[0]:], CAPTURE_RATE, DEFAULT_SOUND_HZ, 0.05,
                           DEFAULT_SOUND_SECONDS - 0.05)
    # The capture is not sample-exact: once it held 20 ms more than the sound.
    # Any note lasts seconds longer.
    assert abs(seconds - DEFAULT_SOUND_SECONDS) < 0.05, \
        f"{key}: heard {seconds:.3f} s of sound, not the default sound's {DEFAULT_SOUND_SECONDS} s"
    assert abs(cents(heard, DEFAULT_SOUND_HZ)) < 25, \
        f"{key}: heard {heard:.0f} Hz, not the default sound's {DEFAULT_SOUND_HZ:.0f} Hz"


@pytest.fixture
def bare_folder(request):
    """A fresh folder of the name the test gives, holding only a copy of the
    executable, so that no keys folder beside the staged one can be found."""
    parent = tempfile.mkdtemp(prefix="piano-bare-")
    folder = os.path.join(parent, request.param)
    os.makedirs(folder)
    shutil.copy(os.path.join(STAGE, EXE_NAME), folder)
    yield folder
    shutil.rmtree(parent, ignore_errors=True)


@pytest.mark.parametrize("make_file, sounds, elsewhere, bare_folder",
                         [pytest.param(*case.values, False, "piano", id=case.id)
                          for case in BAD_SOUND_CASES] + PLACED_CASES, indirect=["bare_folder"])
def test_bad_sound_files_neither_stall_nor_crash_it(start_piano, screen, prefix, bare_folder,
                                                    tmp_path, make_file, sounds, elsewhere):
    if make_file:
        os.mkdir(os.path.join(bare_folder, "keys"))
        make_file(os.path.join(bare_folder, "keys", "49.wav"))
    piano = start_piano(cwd=str(tmp_path) if elsewhere else bare_folder,
                        exe=os.path.join(bare_folder, EXE_NAME)).wait_window()
    origin = keyboard_origin(screen.width, screen.height)
    piano.focus()
    released = piano.shot_client()
    # Whatever T sounds, the default sound included, the window answers while it plays.
    press_and_release(piano, prefix, "t", lambda image: white_pressed(image, origin, 5), released,
                      sound_held=True)
    if sounds:
        assert_heard(piano, "t", sounds)
    # The next note first stops the bad one's player: a crash or a hang there
    # shows now. Every other key still plays, the default sound for its
    # missing file; Y, drawn pressed after them all, is heard to its end.
    piano.key(*(key for key in MAPPED_KEYS if key not in ("t", "y")))
    press_and_release(piano, prefix, "y", lambda image: white_pressed(image, origin, 6), released)
    assert_heard(piano, "y", DEFAULT)
    press_and_release(piano, prefix, "t", lambda image: white_pressed(image, origin, 5), released)
    assert piano.process.poll() is None
    piano.key("Escape")
    assert piano.exit_code() == 0


# -- odd screens ---------------------------------------------------------
@pytest.fixture(scope="module")
def screen_prefix_path():
    """One Wine prefix for all the odd screens: each screen restarts its
    wineserver on its own display, much quicker than a new prefix."""
    path = tempfile.mkdtemp(prefix="piano-screens-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.mark.parametrize("width, height", [
    pytest.param(640, 480, id="640x480, too narrow"),
    pytest.param(1048, 452, id="1048x452, too narrow and too short"),
    pytest.param(3840, 1080, id="3840x1080, very wide"),
])
def test_odd_screen_shows_the_keyboard_at_its_origin_and_plays(start_piano, screen_prefix_path,
                                                               width, height):
    screen = Screen(width, height)
    prefix = Prefix(screen_prefix_path, screen.display)
    try:
        origin = keyboard_origin(width, height)
        # Where every one of these screens shows the keyboard: white key 0
        # below the black keys, and black key 0.
        piano = start_piano(screen=screen, prefix=prefix).wait_window(
            probes=(((10, 250), WHITE), ((70, 100), BLACK)))
        wait_released_window(piano, prefix)
        image = piano.shot_client()

        piano.focus()
        press_and_release(piano, prefix, "1", lambda shot: black_pressed(shot, origin), image)
        piano.wait_sound(int(1.2 * CAPTURE_RATE))
        heard = fundamental_hz(piano.captured(), CAPTURE_RATE, frequency(41), 0.05, 1.05)
        assert abs(cents(heard, frequency(41))) < 10, f"heard {heard:.1f} Hz"
        piano.key("Escape")
        assert piano.exit_code() == 0
    finally:
        prefix.kill()
        screen.close()


# -- racing starts -------------------------------------------------------
def test_eight_copies_started_at_once_leave_one_window(start_piano, screen, prefix):
    pianos = [start_piano() for _ in range(8)]

    def seen():
        return (f"copies' exit codes {[p.process.poll() for p in pianos]}, "
                f"boxes {wininfo(prefix, 'box', 'Error')}, windows {screen.windows(TITLE)}")
    boxes = ["7"] + ["owner=", "button=OK", "Morvane Piano is already running."] * 7
    wait_for(lambda: wininfo(prefix, "box", "Error") == boxes, 90,
             lambda: f"seven Error boxes saying it is already running; saw {seen()}")
    wininfo(prefix, "ok", "Error")
    wait_for(lambda: sum(p.process.poll() is not None for p in pianos) == 7, 60,
             lambda: f"seven copies to exit; saw {seen()}")
    survivor, = [p for p in pianos if p.process.poll() is None]
    assert [p.exit_code() for p in pianos if p is not survivor] == [-1] * 7
    survivor.wait_window()
    assert len(screen.windows(TITLE)) == 1
    # The boxes had the foreground, and closing them gives it to nobody.
    survivor.bring_to_front()
    survivor.key("Escape")
    assert survivor.exit_code() == 0


# -- focus ---------------------------------------------------------------
def test_key_held_across_a_focus_change_stays_pressed_until_its_key_up(piano, screen, prefix):
    origin = keyboard_origin(screen.width, screen.height)
    L, T, R, B = white_key(0, origin)
    keyboard = (slice(T - 10, B + 10), slice(L, L + 1050))
    piano.focus()
    released = piano.shot_client()
    piano.key("t", action="keydown")
    try:
        wait_for(lambda: white_pressed(piano.shot_client(), origin, 5), 30, "T drawn pressed")
        pressed = piano.shot_client()
        # The user turns to another program, which comes up in front.
        other = start_wininfo(prefix, "front", "front", "the other program")
        try:
            wait_for(lambda: wininfo(prefix, "foreground") == ["wininfo front"], 30,
                     lambda: f"the piano to lose focus; in front: {wininfo(prefix, 'foreground')}")
            assert np.array_equal(piano.shot_client()[keyboard], pressed[keyboard]), \
                "losing focus changed the keyboard"
        finally:
            os.killpg(other.pid, signal.SIGKILL)
            other.wait()
        piano.bring_to_front()
        assert white_pressed(piano.shot_client(), origin, 5), "T released before its key-up"
    finally:
        piano.key("t", action="keyup")
    wait_for(lambda: np.array_equal(piano.shot_client(), released), 30, "T drawn released")
    press_and_release(piano, prefix, "y", lambda image: white_pressed(image, origin, 6), released)
    piano.key("Escape")
    assert piano.exit_code() == 0

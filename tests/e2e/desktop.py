"""A virtual desktop for end-to-end tests: an Xvfb screen, a Wine prefix, the
real executable started on them, its keys and clicks, screenshots and the
sound it plays, each stream captured apart through ALSA's file plugin."""
import contextlib
import os
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import time
import wave
from typing import NamedTuple, Optional

import numpy as np

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
STAGE = os.environ.get("MORVANE_STAGE", os.path.join(ROOT, "build", "stage"))
EXE_NAME = "MorvanePiano.exe"
TOOLS = os.environ.get("MORVANE_TEST_TOOLS", os.path.join(ROOT, "build", "test-tools"))
TITLE = "Morvane Piano"
CAPTURE_RATE = 44100
RECORDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "recorder.py")
# The system's default sound in the tests' prefix: a short tone in a format
# that no key file has (11025 Hz, stereo, 8-bit), at a pitch and for a length
# that no note has, so that a press that plays it is told from any other.
DEFAULT_SOUND_HZ = 1500.0
DEFAULT_SOUND_SECONDS = 0.4
# A folder name in letters that the ANSI code page of an English locale
# (1252), in which Wine runs the tests, cannot write: Cyrillic and Chinese.
UNNAMEABLE_FOLDER = "\u041f\u0438\u0430\u043d\u043e \u94a2\u7434"


def built_product():
    """The product's name, version and maker, as the build wrote them for the
    program (product.h): {"VERSION_STRING": "X.Y.Z.W", ...}."""
    with open(os.path.join(os.path.dirname(STAGE), "generated", "product.h")) as header:
        return dict(re.findall(r'#define (\w+) "(.*)"', header.read()))


def wait_for(condition, timeout=30.0, what="condition", interval=0.05):
    """Polls until condition() returns something truthy; fails after timeout.
    `what` may be a function, called on failure to describe what was seen."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            what = what() if callable(what) else what
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Screen:
    """An Xvfb server of the given size on a display number it picks itself;
    `options` go to Xvfb as they stand. Like a desktop's X server, it never
    resets: by default Xvfb resets whenever its last client leaves, as the
    tests' screenshots and xdotool calls do many times a second, and a Wine
    desktop that connects during a reset fails to start, so that the program
    starting it has no display and exits with -1."""

    def __init__(self, width=1920, height=1080, *options):
        self.width, self.height = width, height
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset", *options],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        assert number, "Xvfb did not report a display"
        self.display = f":{number}"

    def run(self, *args, check=True):
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(args, env=env, check=check, capture_output=True, text=True).stdout

    def shot(self):
        """The whole screen as an array of rows of (red, green, blue)."""
        raw = subprocess.run(["import", "-display", self.display, "-window", "root",
                              "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
        return np.frombuffer(raw, np.uint8).reshape(self.height, self.width, 3).astype(np.int32)

    def windows(self, name):
        out = self.run("xdotool", "search", "--name", f"^{name}$", check=False)
        return [int(w) for w in out.split()]

    def window_box(self, window, viewable_only=False):
        """A window's client area on the screen, as X sees it: (x, y, width,
        height); None if it has gone, or is not shown and `viewable_only`."""
        info = self.run("xwininfo", "-id", str(window), check=False)
        fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
        keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
        if not all(k in fields for k in keys):
            return None
        if viewable_only and fields.get("Map State", "").strip() != "IsViewable":
            return None
        return tuple(int(fields[k]) for k in keys)

    def close(self):
        self.process.terminate()
        self.process.wait()


class Prefix:
    """A Wine prefix of its own, with its wineserver kept up for the session."""

    def __init__(self, path, display):
        self.path = path
        # Wine reads Linux's file names in the locale's character set; in
        # UTF-8 a folder may be named in any letters.
        self.env = dict(os.environ, WINEPREFIX=path, WINEARCH="win32", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display, LC_ALL="C.UTF-8")
        os.makedirs(path, exist_ok=True)
        # Started first, so that wineboot and every later start share it.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        if not os.path.exists(os.path.join(path, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def kill(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        subprocess.run(["wineserver", "-w"], env=self.env, check=False)


def wininfo(prefix, *args):
    """Runs the test helper that reads message boxes, window rectangles and
    a process's figures from inside Wine; returns its output lines. The tool
    answers within a second, so a run that hangs (a Wine start that stalls)
    is ended and tried again rather than left to fail the test."""
    command = ["wine", os.path.join(TOOLS, "wininfo.exe"), *args]
    for attempt in range(3):
        try:
            result = subprocess.run(command, env=prefix.env, capture_output=True, text=True,
                                    timeout=20)
            return result.stdout.replace("\r", "").splitlines()
        except subprocess.TimeoutExpired:
            pass
    raise AssertionError(f"wininfo {' '.join(args)} hung three times")


def set_default_sound(prefix):
    """Gives the prefix the default sound that a fresh one lacks, in its
    Windows folder, as the platform's own profile functions store it."""
    rate, folder = 11025, os.path.join(prefix.path, "drive_c", "windows", "Media")
    seconds = np.arange(int(DEFAULT_SOUND_SECONDS * rate)) / rate
    tone = np.round(128 + 100 * np.sin(2 * np.pi * DEFAULT_SOUND_HZ * seconds)).astype(np.uint8)
    os.makedirs(folder, exist_ok=True)
    with wave.open(os.path.join(folder, "default.wav"), "wb") as sound:
        sound.setnchannels(2)
        sound.setsampwidth(1)
        sound.setframerate(rate)
        sound.writeframes(np.repeat(tone, 2).tobytes())
    name = "C:\\windows\\Media\\default.wav"
    assert wininfo(prefix, "defaultsound", name) == [name], "the default sound was not set"


def start_wininfo(prefix, mode, ready, what, *args):
    """Starts a mode of the test helper that stays up until its process
    group is killed, and waits until it says `ready`."""
    process = subprocess.Popen(["wine", os.path.join(TOOLS, "wininfo.exe"), mode, *args],
                               env=prefix.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True, start_new_session=True)
    assert ready in process.stdout.readline(), f"{what} did not start"
    return process


def hold_desktop(prefix):
    """Starts a process that keeps Wine's desktop up, as a user's session
    does; without one Wine replaces the desktop, and writes new registry
    entries for its display, whenever programs come and go. Kill its
    process group to let go."""
    return start_wininfo(prefix, "hold", "holding", "the desktop holder")


def write_asoundrc(home, sink=None):
    """Sends a program's sound, through the HOME it is started with, as raw
    44.1 kHz mono to `sink`, or to a null device if none is given. ALSA's
    file plugin takes `sink` as a file, which it empties whenever a stream
    opens, or as "|command", which it starts for each stream and pipes the
    stream into. The capture is forced to that one format whatever the
    player opens."""
    with open(os.path.join(home, ".asoundrc"), "w") as rc:
        if sink is None:
            rc.write("pcm.!default { type null }\n")
            return
        rc.write('pcm.!default { type plug; slave { pcm "capture"; rate %d; channels 1; '
                 'format S16_LE } }\n' % CAPTURE_RATE)
        rc.write('pcm.capture { type file; slave.pcm "null"; file "%s"; format "raw" }\n' % sink)


class Stream(NamedTuple):
    """One sound stream that a player opened: its samples as floats in
    -1..1, and the times it opened and closed on the monotonic clock
    (`time.monotonic()`); `closed` is None while it is open."""
    opened: float
    closed: Optional[float]
    samples: np.ndarray


def read_stream(folder, name):
    """The recorder's stream file `name`, whose name holds its times."""
    opened, _pid, *closed = name[:-len(".raw")].split("-")
    with open(os.path.join(folder, name), "rb") as raw:
        data = raw.read()
    samples = np.frombuffer(data[: len(data) // 2 * 2], "<i2").astype(np.float64) / 32768.0
    return Stream(int(opened) / 1e9, int(closed[0]) / 1e9 if closed else None, samples)


def not_the_note(streams, sound_number):
    """The indices of the streams that do not begin as key `sound_number`'s
    recording begins: its first 10 ms, or as much as a stream holds, leaving
    out the silence that the player may put before and after a sound. Only
    the beginning is compared: a player that falls behind skips on through
    its sound, dropping a stretch of it."""
    with wave.open(os.path.join(STAGE, "keys", f"{sound_number}.wav")) as recording:
        raw = recording.readframes(recording.getnframes())
    note = np.trim_zeros(np.frombuffer(raw, "<i2") / 32768.0, "f")[:CAPTURE_RATE // 100]
    starts = [np.trim_zeros(stream.samples)[:len(note)] for stream in streams]
    return [i for i, start in enumerate(starts)
            if not np.allclose(start, note[:len(start)], atol=1e-3)]


class Piano:
    """One run of the real executable, started from folder `cwd` with its own
    HOME, so that each sound stream it opens is recorded apart into
    `streams_folder`; `launch` is what starts it inside Wine (such as Wine's
    `start /min`) if not Wine alone."""

    def __init__(self, screen, prefix, cwd=None, exe=None, extra_path=None, launch=()):
        self.screen = screen
        self.prefix = prefix
        self.home = tempfile.mkdtemp(prefix="piano-home-")
        self.streams_folder = os.path.join(self.home, "streams")
        os.mkdir(self.streams_folder)
        write_asoundrc(self.home, "|/usr/bin/python3 -S %s %s" % (
            shlex.quote(RECORDER), shlex.quote(self.streams_folder)))
        env = dict(prefix.env, HOME=self.home)
        if extra_path:
            env["PATH"] = extra_path + os.pathsep + env["PATH"]
        self.cwd = cwd or STAGE
        self.exe = exe or os.path.join(STAGE, EXE_NAME)
        self.process = subprocess.Popen(["wine", *launch, self.exe], cwd=self.cwd, env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        self.window = None

    # -- the window -------------------------------------------------------
    def wait_window(self, timeout=60, probes=(((1040, 417), (255, 255, 255)),)):
        """Waits for the main window and its first complete paint: each probe,
        a point from the keyboard's origin, shows its colour; by default the
        bottom of the last white key, right of its lip, turns white. Wine may
        replace the X window while it maps it, so the search is repeated each
        time."""
        from layout import keyboard_origin
        left, top = keyboard_origin(self.screen.width, self.screen.height)

        def painted():
            if self.process.poll() is not None:
                raise AssertionError(f"piano exited early with {self.exit_code()}")
            for window in self.screen.windows(TITLE):
                self.window = window
                origin = self.client_origin()
                if origin is None:
                    continue
                image = self.screen.shot()
                if all(tuple(image[origin[1] + top + y, origin[0] + left + x]) == colour
                       for (x, y), colour in probes):
                    return True
            return False
        wait_for(painted, timeout, "the piano's window, painted")
        return self

    def geometry(self):
        """The client area's screen position and size, as X sees it; None if
        the window has gone."""
        return self.screen.window_box(self.window)

    def client_origin(self):
        geometry = self.geometry()
        return geometry[:2] if geometry else None

    def shot_client(self):
        x, y = self.client_origin()
        return self.screen.shot()[y:, x:]

    # -- input ------------------------------------------------------------
    def focus(self):
        self.screen.run("xdotool", "windowactivate", "--sync", str(self.window), check=False)
        self.screen.run("xdotool", "windowfocus", "--sync", str(self.window))

    def bring_to_front(self):
        """Makes the piano the foreground window as a user would, after
        another window had it. With no window manager, Wine takes a click,
        not X's focus alone, as the user's choice of window; the click lands
        on empty background."""
        self.focus()
        self.click(20, 20)
        wait_for(lambda: wininfo(self.prefix, "foreground") == [TITLE], 30,
                 lambda: f"the piano in front; in front: {wininfo(self.prefix, 'foreground')}")

    def key(self, *names, action="key"):
        """Types keys into the focused window through XTEST, as a keyboard
        would: the X server then knows which keys are down, and Wine's idea
        of the key state cannot drift from it across tests."""
        self.screen.run("xdotool", action, *names)

    def click(self, client_x, client_y, repeat=1):
        x, y = self.client_origin()
        self.screen.run("xdotool", "mousemove", str(x + client_x), str(y + client_y),
                        "click", "--repeat", str(repeat), "--delay", "80", "1")

    # -- sound ------------------------------------------------------------
    def streams(self):
        """Every sound stream opened so far, in the order they opened."""
        while True:
            try:
                names = [n for n in os.listdir(self.streams_folder) if n.endswith(".raw")]
                return sorted((read_stream(self.streams_folder, n) for n in names),
                              key=lambda stream: stream.opened)
            except FileNotFoundError:
                pass    # a stream closed, and its file was renamed, while it was read

    def captured(self):
        """The last sound started, as floats in -1..1, as far as it has been
        played: the player opens a stream for each sound."""
        streams = self.streams()
        return streams[-1].samples if streams else np.zeros(0)

    def wait_sound(self, samples, timeout=30):
        return wait_for(lambda: len(self.captured()) >= samples, timeout,
                        f"{samples} captured samples")

    @contextlib.contextmanager
    def holding_sound(self):
        """Within the block, a sound that ends is held open: to the player it
        plays on, so that a test can see what the window does meanwhile."""
        hold = os.path.join(self.streams_folder, "hold")
        open(hold, "w").close()
        try:
            yield
        finally:
            os.remove(hold)

    # -- ending -----------------------------------------------------------
    def exit_code(self, timeout=30):
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("piano did not exit")
        return code - 256 if code > 127 else code

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()

    def kill(self):
        self.stop()
        # Its window lingers until the wineserver has cleaned up; the next
        # test must not find it.
        wait_for(lambda: not self.screen.windows(TITLE), 30, "the old window to go")
        shutil.rmtree(self.home, ignore_errors=True)


def process_stats(prefix, title=TITLE):
    """The memory, GDI and handle figures of the process owning window
    `title`, as a dict of name to number."""
    return {name: int(value) for name, value in
            (line.split() for line in wininfo(prefix, "stats", title))}


def wait_released_window(piano, prefix):
    """Waits until every pixel of the piano's client area is as layout.py
    draws it with every key released; fails naming the pixels that are not.
    The title's box and the labels' border colour come from the platform."""
    from layout import TITLE_FONT, keyboard_origin, released_window
    title_box = [int(n) for n in wininfo(prefix, "textbox", *TITLE_FONT, "Morvane")[0].split()]
    frame = tuple(int(n) for n in wininfo(prefix, "syscolor", "6")[0].split())  # COLOR_WINDOWFRAME
    origin = keyboard_origin(piano.screen.width, piano.screen.height)
    picture = released_window(*piano.geometry()[2:], origin, title_box, frame)
    wait_for(lambda: not picture.unaccounted(piano.shot_client()), 30,
             lambda: "the window drawn as designed; not accounted for:\n"
             + picture.unaccounted(piano.shot_client()))


def wait_quiet(piano, at_least, quiet=0.5, timeout=30, what="the sound to end"):
    """Waits until the last sound started has ended, its stream closed after
    at least `at_least` samples, and has stayed the last for `quiet`
    seconds: time for the player to let go of its thread and handles.
    Returns its length in samples."""
    def ended():
        streams = piano.streams()
        last = streams[-1] if streams else None
        return (last and last.closed and time.monotonic() - last.closed > quiet
                and len(last.samples) >= at_least and len(last.samples))
    return wait_for(ended, timeout, what)


def box_picture(prefix, caption, focused=False):
    """What the open message box with that caption must show, pixel by
    pixel, as the platform lays it out: its face colour everywhere but its
    text, dark on the face, its icon, if it has one, and one OK button drawn
    in the scheme's greys, or as the platform draws a button that has the
    keyboard if `focused`. Anything else is unaccounted for. Returns the
    picture, the box's client area on the screen and the text's place in it."""
    from layout import WHITE, Picture
    parts = {line.split()[0]: [int(n) for n in line.split()[1:]]
             for line in wininfo(prefix, "boxparts", caption)}
    assert sorted(parts) in (["box", "button=OK", "text"], ["box", "button=OK", "icon", "text"]), \
        f"the box's parts: {sorted(parts)}"
    face = tuple(int(n) for n in wininfo(prefix, "syscolor", "15")[0].split())   # COLOR_3DFACE
    left, top, right, bottom = parts["box"]
    picture = Picture(right - left, bottom - top)
    picture.fill("face", 0, 0, right - left, bottom - top, face)
    x0, y0, x1, y1 = parts["text"]
    text = np.s_[y0 - top:y1 - top, x0 - left:x1 - left]
    picture.fill("text", x0 - left, y0 - top, x1 - left, y1 - top, face, shades=True)
    if "icon" in parts:
        x0, y0, x1, y1 = parts["icon"]
        picture.fill("icon", x0 - left, y0 - top, x1 - left, y1 - top, face, art=True)
    x0, y0, x1, y1 = parts["button=OK"]
    picture.fill("OK button", x0 - left, y0 - top, x1 - left, y1 - top, WHITE, shades=not focused,
                 art=focused)
    return picture, parts["box"], text


def assert_box_drawn(screen, prefix, caption, focused=False):
    """Waits until the message box with that caption shows on the screen as
    its picture has it, with dark ink in its text."""
    picture, (left, top, right, bottom), text = box_picture(prefix, caption, focused)

    def unaccounted():
        shot = screen.shot()[top:bottom, left:right]
        ink = "" if (shot[text] < 100).all(axis=2).any() else "text: no dark ink\n"
        return ink + picture.unaccounted(shot)
    wait_for(lambda: not unaccounted(), 30,
             lambda: "the box drawn as laid out; not accounted for:\n" + unaccounted())

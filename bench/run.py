#!/usr/bin/python3
"""Measures the piano against the floor of its platform and prints one table.

Everything runs on a virtual screen and in a Wine prefix of the run's own:
start-up of the real executable beside a bare Win32 window (bench/blank.cpp),
key response inside the process (bench/keybench.cpp, the program's own code
on a real window), when a note reaches the sound device after a real key
event, the program's size and its memory over a thousand key presses.
Figures are printed, never judged: a slow machine is not a fault.

Usage: bench/run.py [--quick]   (the build is taken from build/, or
MORVANE_BUILD; bench.sh builds it first)
"""
import argparse
import ctypes
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.environ.get("MORVANE_BUILD", os.path.join(ROOT, "build"))
os.environ.setdefault("MORVANE_TEST_TOOLS", os.path.join(BUILD, "test-tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests", "sound"))
from desktop import Prefix, Screen, hold_desktop, wait_for, write_asoundrc  # noqa: E402
from layout import (BLACK_KEYS, BLACK_SOUNDS, WHITE_KEYS, WHITE_SOUNDS, black_key,  # noqa: E402
                    keyboard_origin, white_key)
from wavcheck import onset_ms, read_wav  # noqa: E402

STAGE = os.path.join(BUILD, "stage")
PIANO_EXE = os.path.join(STAGE, "MorvanePiano.exe")
BENCH_DIR = os.path.join(BUILD, "bench")
BLANK_EXE = os.path.join(BENCH_DIR, "blank.exe")
KEYBENCH_EXE = os.path.join(BENCH_DIR, "keybench.exe")
WIDTH, HEIGHT = 1920, 1080
WHITE, BLACK, GREY = (255, 255, 255), (0, 0, 0), (153, 153, 153)
RATE = 44100
AUDIBLE = 10 ** (-40 / 20)     # -40 dBFS, the onset threshold of the sound-file checks
POLL = 0.0005                  # seconds between two looks at the screen or the capture
# Set-up's own look at binfmt_misc's registrations for 32-bit x86 programs.
BINFMT_SH = os.path.join(ROOT, "tools", "binfmt.sh")


# -- a fast look at the X screen, and key events, straight through Xlib ------

class XDisplay:
    """One pixel costs one XGetImage round trip (well under a millisecond),
    where a whole-screen grab by a separate program takes about 100 ms. Keys
    go through XTEST as xdotool sends them; XSync returns once the server has
    taken the event, which is the moment the delays are measured from."""

    def __init__(self, display):
        x11 = self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.c_void_p
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XGetPixel.restype = ctypes.c_ulong
        x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        x11.XDestroyImage.argtypes = [ctypes.c_void_p]
        x11.XStringToKeysym.restype = ctypes.c_ulong
        x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError(f"cannot open display {display}")
        self.root = x11.XDefaultRootWindow(self.display)

    def pixel(self, x, y):
        image = self.x11.XGetImage(self.display, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)
        value = self.x11.XGetPixel(image, 0, 0)
        self.x11.XDestroyImage(image)
        return ((value >> 16) & 255, (value >> 8) & 255, value & 255)

    def shows(self, points):
        return all(self.pixel(x, y) == colour for x, y, colour in points)

    def key(self, name, down):
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.display, code, 1 if down else 0, 0)
        self.x11.XSync(self.display, 0)
        return time.perf_counter()

    def close(self):
        self.x11.XCloseDisplay(self.display)


def wait_until(condition, timeout, what, process=None):
    """wait_for at the benchmark's fine poll, giving up at once if `process`
    has exited."""
    def ready():
        value = condition()
        if not value and process is not None and process.poll() is not None:
            raise RuntimeError(f"{what}: the program exited with {process.returncode}")
        return value
    return wait_for(ready, timeout, what, interval=POLL)


# -- the run's own screen, prefix and programs ------------------------------

class Bench:
    def __init__(self, workdir):
        self.workdir = workdir
        # A white root, so that a window painted black stands out from it.
        self.screen = Screen(WIDTH, HEIGHT, "-wr")
        self.display = self.screen.display
        self.x = XDisplay(self.display)
        self.prefix = Prefix(os.path.join(workdir, "prefix"), self.display)
        self.null_home = self.home("null", None)
        self.holder = None

    def home(self, name, capture):
        """A HOME whose .asoundrc sends the sound to a null device, or to a
        raw 44.1 kHz mono capture file as the end-to-end tests do."""
        path = os.path.join(self.workdir, name)
        os.makedirs(path, exist_ok=True)
        write_asoundrc(path, capture)
        return path

    def start(self, exe, cwd=STAGE, home=None, args=(), **options):
        env = dict(self.prefix.env, HOME=home or self.null_home)
        return subprocess.Popen(["wine", exe, *args], cwd=cwd, env=env, start_new_session=True,
                                stderr=subprocess.DEVNULL, **options)

    def client_box(self, title):
        """The client area of the viewable window of that title, as X sees it."""
        for window in self.screen.windows(title):
            box = self.screen.window_box(window, viewable_only=True)
            if box:
                return window, box
        return None

    def focus(self, window):
        self.screen.run("xdotool", "windowfocus", "--sync", str(window))

    def stop(self, process, gone_points):
        """Ends a program and waits for its window to leave the screen."""
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        # The root is white: only the window's other colours tell it is gone.
        marks = [(x, y, c) for x, y, c in gone_points if c != WHITE]
        wait_until(lambda: not any(self.x.pixel(x, y) == c for x, y, c in marks), 30,
                   "the window to go")

    def close(self):
        if self.holder and self.holder.poll() is None:
            os.killpg(self.holder.pid, signal.SIGKILL)
            self.holder.wait()
        self.prefix.kill()
        self.x.close()
        self.screen.close()


# -- what a finished paint looks like ---------------------------------------

def piano_points(client_x, client_y):
    """Pixels that hold their final colour only once the whole keyboard is
    painted: black keys are drawn last, the last one's shadow last of all."""
    origin = keyboard_origin(WIDTH, HEIGHT)
    L, T, R, B = white_key(14, origin)
    bl, bt, br, bb = black_key(9, origin)
    fl, ft, fr, fb = black_key(0, origin)
    local = [(L + 30, B - 5, WHITE), (L + 30, B - 20, BLACK), (bl + 20, bt + 100, BLACK),
             (br + 3, bb + 3, GREY), (fl + 20, ft + 100, BLACK), (origin[0] + 500, origin[1] - 10, WHITE)]
    return [(client_x + x, client_y + y, c) for x, y, c in local]


def blank_points(box):
    x, y, w, h = box
    return [(x + px, y + py, BLACK) for px, py in
            ((0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1), (w // 2, h // 2))]


def pressed_mark(name, box):
    """The screen pixel that turns black while the white key `name` is held
    (its lip drops) and white again when it is released."""
    i = WHITE_KEYS.index(name)
    L, T, R, B = white_key(i, keyboard_origin(WIDTH, HEIGHT))
    return box[0] + L + 30, box[1] + B - 12


# -- 1. start-up --------------------------------------------------------------

def time_start(bench, exe, points):
    start = time.perf_counter()
    process = bench.start(exe)
    wait_until(lambda: bench.x.shows(points), 60, f"{os.path.basename(exe)} painted", process)
    elapsed = time.perf_counter() - start
    bench.stop(process, points)
    return 1000 * elapsed


def locate(bench, exe, title, expect):
    """A first, unmeasured start: finds where the window's client area lands."""
    process = bench.start(exe)
    box = wait_until(lambda: bench.client_box(title), 60, f"the {title} window", process)[1]
    points = expect(box)
    wait_until(lambda: bench.x.shows(points), 60, f"{title} painted", process)
    bench.stop(process, points)
    return points


def measure_startup(bench, runs):
    piano = locate(bench, PIANO_EXE, "Morvane Piano", lambda box: piano_points(box[0], box[1]))
    blank = locate(bench, BLANK_EXE, "Blank baseline", blank_points)
    times = {"piano": [], "blank": []}
    for run in range(runs):
        # Alternating which goes first spreads any drift of the machine evenly.
        order = [("piano", PIANO_EXE, piano), ("blank", BLANK_EXE, blank)]
        for name, exe, points in (order if run % 2 == 0 else order[::-1]):
            times[name].append(time_start(bench, exe, points))
    return times, piano, blank


# -- 2 and 3a. inside the process -------------------------------------------

def measure_inside(bench, key_runs, sound_runs):
    out = subprocess.run(["wine", KEYBENCH_EXE, str(key_runs), str(sound_runs)], cwd=STAGE,
                         env=dict(bench.prefix.env, HOME=bench.null_home), capture_output=True,
                         text=True, timeout=600)
    if out.returncode != 0:
        raise RuntimeError(f"keybench failed ({out.returncode}): {out.stderr.strip()}")
    series = {}
    for line in out.stdout.replace("\r", "").splitlines():
        name, *values = line.split()
        series[name] = [float(v) / 1000 for v in values]     # milliseconds
    return series


# -- 3b. sound start, from outside ------------------------------------------

def start_piano(bench, home, piano):
    process = bench.start(PIANO_EXE, home=home)
    wait_until(lambda: bench.x.shows(piano), 60, "the piano painted", process)
    window, box = wait_until(lambda: bench.client_box("Morvane Piano"), 30, "the piano window")
    bench.focus(window)
    return process, box


def stable_size(fd, quiet=0.15):
    """Waits until the capture stops growing: the note has been written out."""
    size, since = os.fstat(fd).st_size, time.perf_counter()
    while time.perf_counter() - since < quiet:
        time.sleep(0.01)
        now = os.fstat(fd).st_size
        if now != size:
            size, since = now, time.perf_counter()
    return size


def play_note(bench, fd, name, before):
    """Presses a key and follows the capture file. Each note opens a new
    stream, which the file plugin starts by truncating the file; the new
    stream is there when the file is shorter than before the press."""
    pressed = bench.x.key(name, True)
    stream_at = audible_at = None
    position = None
    deadline = pressed + 10
    while audible_at is None:
        now = time.perf_counter()
        if now > deadline:
            raise RuntimeError(f"no sound captured for key {name}")
        size = os.fstat(fd).st_size
        if stream_at is None and size < before:
            stream_at = now
        if stream_at is not None and size >= 2:
            raw = os.pread(fd, size - size % 2, 0)
            samples = memoryview(raw).cast("h")
            loud = next((i for i, s in enumerate(samples) if abs(s) > AUDIBLE * 32768), None)
            if loud is not None:
                audible_at, position = now, loud
        time.sleep(POLL / 5)
    bench.x.key(name, False)
    return 1000 * (stream_at - pressed), 1000 * (audible_at - pressed), 1000 * position / RATE


def measure_sound_start(bench, piano):
    capture = os.path.join(bench.workdir, "sound", "capture.raw")
    home = bench.home("sound", capture)
    process, _ = start_piano(bench, home, piano)
    try:
        # The first note opens the sound system for the process; it is
        # played first, unmeasured, and creates the capture file.
        bench.x.key("t", True)
        bench.x.key("t", False)
        wait_until(lambda: os.path.exists(capture), 30, "the capture file", process)
        fd = os.open(capture, os.O_RDONLY)
        try:
            notes = sorted(zip(WHITE_KEYS + BLACK_KEYS, WHITE_SOUNDS + BLACK_SOUNDS),
                           key=lambda pair: pair[1])
            rows = {}
            for name, number in notes:
                before = stable_size(fd)
                if before == 0:
                    raise RuntimeError("the capture is empty")
                rows[number] = play_note(bench, fd, name, before)
        finally:
            os.close(fd)
    finally:
        bench.stop(process, piano)
    onsets = {n: onset_ms(read_wav(os.path.join(STAGE, "keys", f"{n}.wav")).samples, RATE)
              for n in rows}
    return rows, onsets


# -- 4. memory ----------------------------------------------------------------

def memory_kib(pid):
    """VmRSS of the process as Linux sees it: under Wine the Windows process
    is this Linux process, Wine's own libraries included."""
    with open(f"/proc/{pid}/status") as status:
        fields = dict(line.split(":", 1) for line in status)
    return int(fields["VmRSS"].split()[0]), int(fields["RssAnon"].split()[0])


def settled_memory(pid, quiet=0.5):
    value, since = memory_kib(pid), time.perf_counter()
    while time.perf_counter() - since < quiet:
        time.sleep(0.05)
        now = memory_kib(pid)
        if now != value:
            value, since = now, time.perf_counter()
    return value


def measure_memory(bench, piano, blank, presses, batches):
    process = bench.start(BLANK_EXE)
    wait_until(lambda: bench.x.shows(blank), 60, "the blank window", process)
    blank_kib = settled_memory(process.pid)
    bench.stop(process, blank)

    process, box = start_piano(bench, bench.null_home, piano)
    try:
        curve = [(0, settled_memory(process.pid))]
        keys = WHITE_KEYS + BLACK_KEYS
        mark = pressed_mark("t", box)
        done = 0
        for _ in range(batches):
            for k in range(presses // batches):
                name = keys[(done + k) % len(keys)]
                bench.x.key(name, True)
                bench.x.key(name, False)
            done += presses // batches
            # Messages are handled in order: once a last key shows pressed
            # and released, every key before it has been handled.
            bench.x.key("t", True)
            wait_until(lambda: bench.x.pixel(*mark) == BLACK, 120, "the keys handled", process)
            bench.x.key("t", False)
            wait_until(lambda: bench.x.pixel(*mark) == WHITE, 30, "the last key released", process)
            curve.append((done, settled_memory(process.pid)))
    finally:
        bench.stop(process, piano)
    return blank_kib, curve


# -- 4. size ------------------------------------------------------------------

def imports(exe):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True,
                         text=True).stdout
    return [line.split(":", 1)[1].strip() for line in out.splitlines()
            if line.strip().startswith("DLL Name:")]


# -- the report -----------------------------------------------------------------

def emulator():
    """binfmt_misc's registration that the kernel hands 32-bit x86 programs
    to, as set-up names it, with its emulator's QEMU version ("qemu-i386
    (QEMU 10.0.2)"); None where the kernel runs them itself."""
    # SETUP_SYSTEM_ROOT="": this machine's own files, whatever the caller's shell set.
    said = subprocess.run(["bash", "-c", '. "$0" && i386_emulator', BINFMT_SH],
                          capture_output=True, text=True, env=dict(os.environ, SETUP_SYSTEM_ROOT=""))
    return said.stdout.strip() or None


def machine(emulated):
    cpu = "unknown"
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as info:
        memory = int(info.readline().split()[1]) / 1024 / 1024
    system = platform.platform()
    try:
        with open("/etc/os-release") as release:
            fields = dict(line.rstrip().split("=", 1) for line in release if "=" in line)
            system = fields.get("PRETTY_NAME", system).strip('"')
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    load = " ".join(f"{v:.2f}" for v in os.getloadavg())
    by = f"; 32-bit programs run by {emulated}" if emulated else ""
    return (f"Machine: {cpu}, {os.cpu_count()} cores, {memory:.1f} GiB; {system}, "
            f"Linux {platform.release()}{by}; {wine}; Xvfb {WIDTH}x{HEIGHT}x24; "
            f"load average {load}")


def quartiles(values):
    if len(values) < 4:
        return min(values), max(values)
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


class Table:
    """Rows of figures: median, interquartile range, min-max, count, and the
    baseline's median with the ratio figure / baseline. Rows of text stand
    apart and do not widen the columns."""
    HEAD = ["measure", "median", "IQR", "min–max", "runs", "baseline (median)", "ratio"]

    def __init__(self):
        self.rows = []

    def add(self, label, values, unit, digits=1, baseline=None, baseline_label=""):
        def f(v):
            return f"{v:.{digits}f}"
        median = statistics.median(values)
        low, high = quartiles(values)
        row = [label, f"{f(median)} {unit}", f"{f(low)}–{f(high)}",
               f"{f(min(values))}–{f(max(values))}", str(len(values))]
        if baseline:
            base = statistics.median(baseline)
            row += [f"{f(base)} {unit} {baseline_label}", f"{median / base:.2f}x"]
        else:
            row += ["", ""]
        self.rows.append(row)

    def text(self, label, value):
        self.rows.append((label, value))

    def section(self, title):
        self.rows.append((title,))

    def print(self):
        table = [self.HEAD] + [r for r in self.rows if isinstance(r, list)]
        widths = [max(len(r[i]) for r in table) for i in range(len(self.HEAD))]
        print("  ".join(h.ljust(w) for h, w in zip(self.HEAD, widths)).rstrip())
        print("  ".join("-" * w for w in widths))
        for row in self.rows:
            if isinstance(row, list):
                print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
            elif len(row) == 1:
                print(row[0])
            else:
                print(row[0].ljust(widths[0]) + "  " + row[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer runs, for a trial")
    options = parser.parse_args()
    starts, key_runs, sound_runs, presses = (5, 20, 3, 200) if options.quick else (21, 100, 8, 1000)

    for path in (PIANO_EXE, BLANK_EXE, KEYBENCH_EXE):
        if not os.path.exists(path):
            sys.exit(f"{path} is missing: build first (tools/build.sh)")
    workdir = os.path.join(BUILD, "bench-run")
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    emulated = emulator()
    print(machine(emulated), flush=True)

    bench = Bench(workdir)
    began = time.perf_counter()
    try:
        # A session has its desktop up already: start-up runs must not pay
        # for starting it anew each time.
        bench.holder = hold_desktop(bench.prefix)
        print("start-up ...", flush=True)
        startup, piano, blank = measure_startup(bench, starts)
        print("key response and note start, inside the process ...", flush=True)
        inside = measure_inside(bench, key_runs, sound_runs)
        print("note start, from a real key event to the captured sound ...", flush=True)
        sound, onsets = measure_sound_start(bench, piano)
        print(f"memory over {presses} key presses ...", flush=True)
        blank_kib, curve = measure_memory(bench, piano, blank, presses, 5)
    finally:
        bench.close()
        shutil.rmtree(workdir, ignore_errors=True)

    table = Table()
    if emulated:
        table.section(f"Under an emulator ({emulated}): every time below is the emulator's, "
                      "not the machine's; only the ratios, measured side by side, carry over.")
    table.section("1. Start-up: process start to the whole window painted, seen on the X screen")
    table.add("  MorvanePiano.exe, keyboard painted", startup["piano"], "ms", 0,
              startup["blank"], "blank")
    table.add("  blank.exe, window painted black", startup["blank"], "ms", 0)

    table.section("2. Key response inside the process: key message to the end of its paint "
                  "(the note's start included)")
    for name, what in (("Q", "white key, black key at its left"), ("E", "white key, none"),
                       ("1", "black key")):
        table.add(f"  key-down {name} ({what})", inside[f"down-{name}"], "ms", 2,
                  inside[f"fulldown-{name}"], "whole window")
    for name in ("Q", "E", "1"):
        table.add(f"  of which the paint, {name}", inside[f"paint-{name}"], "ms", 2,
                  inside[f"fullpaint-{name}"], "whole window")
    for name in ("Q", "E", "1"):
        table.add(f"  key-up {name} (no sound)", inside[f"up-{name}"], "ms", 2,
                  inside[f"fullup-{name}"], "whole window")

    table.section("3. Sound start, per note (25 notes): inside the process, then from a real key "
                  "event to the captured sound")
    per_note = [statistics.median(v) for k, v in inside.items() if k.startswith("sound-")]
    worst_call = max(max(v) for k, v in inside.items() if k.startswith("sound-"))
    table.add(f"  PlayKeySound returns (median of {sound_runs} calls)", per_note, "ms", 2)
    table.add("  key event at X to the note's stream opened", [r[0] for r in sound.values()], "ms", 1)
    table.add("  key event at X to first audible sample out", [r[1] for r in sound.values()], "ms", 1)
    table.add("  audio ahead of that sample in its stream", [r[2] for r in sound.values()], "ms", 1)
    table.add("  onset inside the WAV files (-40 dBFS)", list(onsets.values()), "ms", 1)
    table.add("  the name the player gets for a key's file", inside["naming"], "ms", 3)
    table.add("  the check of a key's file before playing it", inside["check-real"], "ms", 3)
    table.add("  the same on the slowest file (1,024 chunks)", inside["check-slowest"], "ms", 3)

    table.section("4. Size and memory")
    exe_size, blank_size = os.path.getsize(PIANO_EXE), os.path.getsize(BLANK_EXE)
    table.text("  MorvanePiano.exe", f"{exe_size} bytes; blank.exe {blank_size} bytes "
               f"(ratio {exe_size / blank_size:.2f}x)")
    table.text("  imported DLLs", ", ".join(imports(PIANO_EXE)))
    table.text("  (blank.exe's)", ", ".join(imports(BLANK_EXE)))
    keys_dir = os.path.join(STAGE, "keys")
    wavs = [f for f in os.listdir(keys_dir) if f.endswith(".wav")]
    total = sum(os.path.getsize(os.path.join(keys_dir, f)) for f in wavs)
    table.text(f"  the {len(wavs)} sound files", f"{total} bytes ({total / 1024 / 1024:.2f} MiB)")

    def mib(kib):
        return f"{kib[0] / 1024:.1f} MiB (private {kib[1] / 1024:.1f})"
    start_kib, first_kib, last_kib = curve[0][1], curve[1][1], curve[-1][1]
    table.text("  VmRSS after start-up", f"{mib(start_kib)}; blank.exe {mib(blank_kib)} "
               f"(ratio {start_kib[0] / blank_kib[0]:.2f}x)")
    table.text(f"  VmRSS after {curve[1][0]} key presses", f"{mib(first_kib)} "
               "(the sound system loads with the first note)")
    table.text(f"  VmRSS after {curve[-1][0]} key presses", f"{mib(last_kib)}: "
               f"{(last_kib[0] - first_kib[0]) / 1024:+.1f} MiB since {curve[1][0]} presses")

    print()
    table.print()
    print()
    print("Notes:")
    print(f"  worst single PlayKeySound call: {worst_call:.2f} ms; worst note by its median: "
          f"{max(per_note):.2f} ms")
    print("  memory (VmRSS, MiB) after N presses: " +
          ", ".join(f"{n}: {kib[0] / 1024:.1f}" for n, kib in curve))
    print("  start-up is timed from Popen of `wine` to the first look at the X screen that shows the "
          "final pixels (one look every ~1 ms); Wine's desktop process is kept up, as a session has it.")
    print("  key response: SendMessage(WM_KEYDOWN/UP) through UpdateWindow, timed with "
          "QueryPerformanceCounter; Wine shows the painted pixels on X a little later, when the "
          "thread goes idle. 'whole window' = the same press with the whole client area invalidated.")
    print("  sound: timed from the moment XSync returns after the XTEST key-down (the X server has "
          "the event). Wine writes a note into ALSA faster than real time (the null device behind the "
          "capture takes it at once), so 'first audible sample out' is when the sound system had it; a "
          "real device adds its own buffer latency, and plays 'audio ahead of that sample' first.")
    print(f"  total time {time.perf_counter() - began:.0f} s; load average now "
          + " ".join(f"{v:.2f}" for v in os.getloadavg()))


if __name__ == "__main__":
    main()

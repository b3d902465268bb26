"""Damaged sound files, wherever the damage sits: several hundred variants of a
real key file, each played by the platform's own player in a process of its
own and judged by the piano's own check. Every file that crashes or hangs the
player must be judged unplayable, and every file that only lays its chunks
out differently, with every size true, must be left to the player. The key
file is cut to its first fifth of a second, so that the player meets the
whole of each variant, to the end of its samples, in a moment."""
import collections
import concurrent.futures
import os
import signal
import struct
import subprocess

import pytest

from desktop import ROOT, TOOLS, wininfo, write_asoundrc

REAL = open(os.path.join(ROOT, "keys", "64.wav"), "rb").read()
FIELDS = ("tag", "channels", "rate", "byte_rate", "block_align", "bits")
MOST_CHUNKS = 1024          # the most chunk headers, format and samples included,
                            # that the check reads on a key-down
VALID, PAST_THE_BOUND = "valid", "past the bound"


def real_chunk(name):
    offset = 12
    while REAL[offset:offset + 4] != name:
        offset += 8 + struct.unpack_from("<I", REAL, offset + 4)[0]
    return REAL[offset + 8:offset + 8 + struct.unpack_from("<I", REAL, offset + 4)[0]]


FORMAT = real_chunk(b"fmt ")
SAMPLES = real_chunk(b"data")[:struct.unpack_from("<I", FORMAT, 8)[0] // 5]


def fmt(**changes):
    values = dict(zip(FIELDS, struct.unpack_from("<HHIIHH", FORMAT)))
    values.update(changes)
    return chunk(b"fmt ", struct.pack("<HHIIHH", *(values[f] for f in FIELDS)) + FORMAT[16:])


def chunk(name, payload=b"", size=None):
    """A chunk with its true size, or `size`, and the pad byte of an odd one."""
    size = len(payload) if size is None else size
    return name + struct.pack("<I", size) + payload + b"\0" * (len(payload) & 1)


def riff(*chunks, size=None, form=b"WAVE"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def small_chunks(count, size=2):
    return b"".join(chunk(b"LIST" if i % 2 else b"JUNK", bytes(size)) for i in range(count))


F, D, JUNK_4K = fmt(), chunk(b"data", SAMPLES), chunk(b"JUNK", bytes(4096))
WRAP = 0xFFFFFFF8           # 8 + size wraps a 32-bit offset back onto the chunk
EXTRA_CHUNKS = {
    "empty JUNK": chunk(b"JUNK"), "1-byte chunk": chunk(b"odd ", b"x"),
    "3-byte chunk": chunk(b"odd ", b"abc"), "255-byte JUNK": chunk(b"JUNK", bytes(255)),
    "LIST INFO": chunk(b"LIST", b"INFO" + chunk(b"INAM", b"C6 note")),
    "602-byte bext": chunk(b"bext", bytes(602)), "iXML": chunk(b"iXML", b"<BWFXML/>" * 50),
    "4 KiB JUNK": JUNK_4K, "64 KiB JUNK": chunk(b"JUNK", bytes(65536)),
    "10 small chunks": small_chunks(10),
    f"{MOST_CHUNKS - 2} small chunks": small_chunks(MOST_CHUNKS - 2),
}
JUNK_SIZES = {"0": 0, "1": 1, "8": 8, "odd": 4095, "too small": 4088, "one too many": 4097,
              "past the end": 1 << 24, "2 GiB": 1 << 31, "4 GiB - 1": 0xFFFFFFFF,
              "4 GiB - 2": 0xFFFFFFFE, "wrapping to itself": WRAP, "wrapping 8 back": WRAP - 8,
              "odd, wrapping to itself with its pad": WRAP - 1, "wrapping 4 KiB back": WRAP - 4104}
FORMAT_SIZES = {"0": 0, "14": 14, "15": 15, "17": 17, "40": 40, "past the end": 1 << 24,
                "2 GiB": 1 << 31, "wrapping": WRAP, "4 GiB - 1": 0xFFFFFFFF}
DATA_SIZES = {"0": 0, "1": 1, "odd": 4095, "past the end": 1 << 30, "2 GiB - 1": (1 << 31) - 1,
              "2 GiB": 1 << 31, "wrapping": WRAP, "4 GiB - 1": 0xFFFFFFFF}
FORMAT_VALUES = {
    "tag": (0, 2, 3, 6, 7, 0x11, 0x31, 0x55, 0xFFFE, 0x7777),
    "channels": (0, 2, 3, 8, 32, 33, 64, 255, 65535),
    "rate": (0, 1, 2, 3, 100, 8000, 192000, 1000000, 0x7FFFFFFF, 0xFFFFFFFF),
    "byte_rate": (0, 1, 2, 3, 44100, 176400, 0xFFFFFFFF),
    "block_align": (0, 1, 3, 4, 65535),
    "bits": (0, 1, 4, 7, 8, 12, 24, 32, 64, 65535),
}
BROKEN_FORMATS = {"block align and byte rate 0": {"block_align": 0, "byte_rate": 0},
                  "rate and byte rate 0": {"rate": 0, "byte_rate": 0}}
# Where damage stands: at the start, beyond a 4 KiB chunk, beyond many chunks.
PLACES = {"": b"", ", after 4 KiB": JUNK_4K, ", after 100 chunks": small_chunks(100)}


def variants():
    """(class, name, content, expectation) for every variant."""
    rows = []
    for name, extra in EXTRA_CHUNKS.items():
        rows.append(("chunk layout", f"{name} before the format", riff(extra, F, D), VALID))
        rows.append(("chunk layout", f"{name} between format and data", riff(F, extra, D), VALID))
    rows += [("chunk layout", "LIST after the data", riff(F, D, EXTRA_CHUNKS["LIST INFO"]), VALID),
             ("chunk layout", "data before the format", riff(D, F), VALID),
             ("chunk layout", "two formats", riff(F, F, D), VALID),
             ("chunk layout", "18-byte format", riff(chunk(b"fmt ", FORMAT[:16] + bytes(2)), D),
              VALID)]
    for where, before in PLACES.items():
        rows += [("chunk sizes", f"JUNK size {name}{where}",
                  riff(before, chunk(b"JUNK", bytes(4096), size), F, D), None)
                 for name, size in JUNK_SIZES.items()]
        rows += [("chunk sizes", f"format size {name}{where}",
                  riff(before, chunk(b"fmt ", FORMAT, size), D), None)
                 for name, size in FORMAT_SIZES.items()]
        rows += [("chunk sizes", f"data size {name}{where}",
                  riff(before, F, chunk(b"data", SAMPLES, size)), None)
                 for name, size in DATA_SIZES.items()]
        rows += [("chunk sizes", f"RIFF size {name}{where}", riff(before, F, D, size=size), None)
                 for name, size in (("0", 0), ("4", 4), ("odd", 4095), ("past the end", 1 << 30),
                                    ("4 GiB - 1", 0xFFFFFFFF))]
        rows += [("chunk sizes", f"chunk between format and data {name}{where}",
                  riff(before, F, chunk(b"JUNK", bytes(16), size), D), None)
                 for name, size in (("past the end", 1 << 24), ("wrapping", WRAP))]
        for field, values in FORMAT_VALUES.items():
            rows += [("format fields", f"{field} {value}{where}",
                      riff(before, fmt(**{field: value}), D), None) for value in values]
        rows += [("format fields", f"{name}{where}", riff(before, fmt(**changes), D), None)
                 for name, changes in BROKEN_FORMATS.items()]
        # Cut at each field of each header, and inside the first samples.
        whole, start = riff(before, F, D), 12 + len(before)
        cuts = {8, 11, 12, 16, 20} | {start + k for k in range(0, 48, 4)}
        cuts |= set() if before else {4}
        rows += [("truncated", f"cut at byte {cut}{where}", whole[:cut], None)
                 for cut in sorted(cuts)]
    bad = fmt(block_align=0, byte_rate=0)
    rows += [("missing and doubled", name, content, None) for name, content in (
        ("no format", riff(JUNK_4K, D)), ("no data", riff(JUNK_4K, F)), ("no chunks", riff()),
        ("a bad format, then a good one", riff(bad, F, D)),
        ("a good format, then a bad one", riff(F, bad, D)),
        ("data before a bad format", riff(D, bad)),
        ("not RIFF", b"RIFX" + riff(F, D)[4:]), ("not WAVE", riff(F, D, form=b"AVI ")))]
    rows += [("bound", f"{MOST_CHUNKS - 1} small chunks before the format",
              riff(small_chunks(MOST_CHUNKS - 1), F, D), PAST_THE_BOUND),
             ("bound", f"{MOST_CHUNKS} empty chunks, then one wrapping",
              riff(small_chunks(MOST_CHUNKS, 0), chunk(b"JUNK", size=WRAP), F, D), PAST_THE_BOUND)]
    return rows


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def play(env, path):
    """What the player did with the file: returned, hung, or crashed with its
    exit code. A Wine start that stalls or fails before the player has the
    file is tried again."""
    for attempt in range(3):
        process = subprocess.Popen(["wine", os.path.join(TOOLS, "wininfo.exe"), "play",
                                    windows_path(path)], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        try:
            output = process.communicate(timeout=60)[0]
            outcome = {0: "returned", 4: "hung"}.get(process.returncode,
                                                     f"crashed (exit {process.returncode})")
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, outcome = process.communicate()[0], "hung"
        if "playing" in output:
            return outcome
    raise AssertionError(f"wininfo play {path} did not start, three times")


def test_every_file_that_crashes_or_hangs_the_player_is_judged_unplayable(prefix, tmp_path):
    rows = variants()
    paths = [str(tmp_path / f"{number:03}.wav") for number in range(len(rows))]
    for path, (_, _, content, _) in zip(paths, rows):
        with open(path, "wb") as out:
            out.write(content)
    judged = dict(line.split() for line in wininfo(prefix, "judge", windows_path(str(tmp_path))))
    unplayable = [judged[os.path.basename(path)] == "1" for path in paths]
    # The players' sound goes nowhere.
    home = tmp_path / "home"
    home.mkdir()
    write_asoundrc(str(home))
    env = dict(prefix.env, HOME=str(home))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        played = list(pool.map(lambda path: play(env, path), paths))
        # What a file does to the player, it does again. The machine's own
        # trouble, seen once in more than a thousand plays, does not.
        suspects = [n for n, player in enumerate(played)
                    if player != "returned" and not unplayable[n]]
        again = dict(zip(suspects, pool.map(lambda n: [play(env, paths[n]) for _ in range(2)],
                                            suspects)))

    table = collections.defaultdict(collections.Counter)
    wrong = []
    for number, ((kind, name, _, expected), player) in enumerate(zip(rows, played)):
        if again.get(number) == ["returned"] * 2:
            print(f"{name}: the player {player} once, then returned twice")
            player = "returned"
        elif number in again:
            wrong.append(f"{name}: the player {player}, then {' and '.join(again[number])}; "
                         "the check left it to the player")
        table[kind].update([player.split()[0], "unplayable" if unplayable[number] else "left"])
        if expected == VALID and unplayable[number]:
            wrong.append(f"{name}: a valid file, judged unplayable")
        if expected == PAST_THE_BOUND and not unplayable[number]:
            wrong.append(f"{name}: past the bound, and left to the player")
    columns = ("returned", "crashed", "hung", "left", "unplayable")
    print("\n{:22}{:>9} | player:{:>9}{:>8}{:>5} | check:{:>5}{:>11}".format(
        "class", "variants", *columns))
    for kind, counts in table.items():
        print("{:22}{:9} |        {:9}{:8}{:5} |       {:5}{:11}".format(
            kind, sum(counts[c] for c in columns[:3]), *(counts[c] for c in columns)))
    assert len(rows) >= 300
    if wrong:
        pytest.fail("\n".join(wrong))

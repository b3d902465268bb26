"""Damaged and compressed sound files, wherever the damage sits: several
hundred variants of a real key file, each played by the platform's own
player in a process of its own and judged by the piano's own check. Every
file that crashes or hangs the player must be judged harmful, and every
valid file must be left to the player. The key file is cut to its first
fifth of a second, so that the player meets the whole of each variant, to
the end of its samples, in a moment. The compressed variants start from real
encodings of that fifth of a second, by SoX and LAME."""
import collections
import concurrent.futures
import os
import random
import signal
import struct
import subprocess
import tempfile

import pytest

from desktop import ROOT, TOOLS, wininfo, write_asoundrc

REAL = open(os.path.join(ROOT, "keys", "64.wav"), "rb").read()
FIELDS = ("tag", "channels", "rate", "byte_rate", "block_align", "bits")
MOST_CHUNKS = 1024          # the most chunk headers, format and samples included,
                            # that the check reads on a key-down
# What each variant must get from the check.
VALID = "valid"     # played, or refused harmlessly for want of a codec: left to the player
PAST_THE_BOUND = "past the bound"   # more chunks than the check reads: judged harmful
UP_TO_THE_PLAYER = "up to the player"   # judged harmful if it crashes or hangs the player


def chunks_of(content):
    """A RIFF file's chunks as (id, payload), in order."""
    chunks, offset = [], 12
    while offset + 8 <= len(content):
        size = struct.unpack_from("<I", content, offset + 4)[0]
        chunks.append((content[offset:offset + 4], content[offset + 8:offset + 8 + size]))
        offset += 8 + size + (size & 1)
    return chunks


def real_chunk(name):
    return dict(chunks_of(REAL))[name]


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
    "byte_rate": (0, 1, 2, 3, 38, 44100, 176400, 3728271, 0xFFFFFFFF),
    "block_align": (0, 1, 3, 4, 65535),
    "bits": (0, 1, 4, 7, 8, 12, 24, 32, 64, 65535),
}
BROKEN_FORMATS = {"block align and byte rate 0": {"block_align": 0, "byte_rate": 0},
                  "rate and byte rate 0": {"rate": 0, "byte_rate": 0}}
# Channel counts at each edge of what the player does with them, each in a
# format whose block align and byte rate agree with it.
CHANNEL_EDGES = (32, 33, 48, 49, 62, 63, 64, 127, 128, 200)
# Where damage stands: at the start, beyond a 4 KiB chunk, beyond many chunks.
PLACES = {"": b"", ", after 4 KiB": JUNK_4K, ", after 100 chunks": small_chunks(100)}


def pcm_variants():
    """(class, name, content, expectation) for every variant of the PCM file."""
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
                  riff(before, chunk(b"JUNK", bytes(4096), size), F, D), UP_TO_THE_PLAYER)
                 for name, size in JUNK_SIZES.items()]
        rows += [("chunk sizes", f"format size {name}{where}",
                  riff(before, chunk(b"fmt ", FORMAT, size), D), UP_TO_THE_PLAYER)
                 for name, size in FORMAT_SIZES.items()]
        rows += [("chunk sizes", f"data size {name}{where}",
                  riff(before, F, chunk(b"data", SAMPLES, size)), UP_TO_THE_PLAYER)
                 for name, size in DATA_SIZES.items()]
        rows += [("chunk sizes", f"RIFF size {name}{where}", riff(before, F, D, size=size),
                  UP_TO_THE_PLAYER)
                 for name, size in (("0", 0), ("4", 4), ("odd", 4095), ("past the end", 1 << 30),
                                    ("4 GiB - 1", 0xFFFFFFFF))]
        rows += [("chunk sizes", f"chunk between format and data {name}{where}",
                  riff(before, F, chunk(b"JUNK", bytes(16), size), D), UP_TO_THE_PLAYER)
                 for name, size in (("past the end", 1 << 24), ("wrapping", WRAP))]
        for field, values in FORMAT_VALUES.items():
            rows += [("format fields", f"{field} {value}{where}",
                      riff(before, fmt(**{field: value}), D), UP_TO_THE_PLAYER)
                     for value in values]
        rows += [("format fields", f"{name}{where}", riff(before, fmt(**changes), D),
                  UP_TO_THE_PLAYER) for name, changes in BROKEN_FORMATS.items()]
        # Cut at each field of each header, and inside the first samples.
        whole, start = riff(before, F, D), 12 + len(before)
        cuts = {8, 11, 12, 16, 20} | {start + k for k in range(0, 48, 4)}
        cuts |= set() if before else {4}
        rows += [("truncated", f"cut at byte {cut}{where}", whole[:cut], UP_TO_THE_PLAYER)
                 for cut in sorted(cuts)]
    for channels in CHANNEL_EDGES:
        align = 2 * channels
        rows.append(("channel counts", f"{channels} channels",
                     riff(fmt(channels=channels, block_align=align, byte_rate=44100 * align),
                          chunk(b"data", SAMPLES[:len(SAMPLES) // align * align])),
                     UP_TO_THE_PLAYER))
    bad = fmt(block_align=0, byte_rate=0)
    rows += [("missing and doubled", name, content, expected) for name, content, expected in (
        ("no format", riff(JUNK_4K, D), UP_TO_THE_PLAYER),
        ("no data", riff(JUNK_4K, F), UP_TO_THE_PLAYER),
        ("no chunks", riff(), UP_TO_THE_PLAYER),
        ("a bad format, then a good one", riff(bad, F, D), UP_TO_THE_PLAYER),
        # The player goes by the first format alone.
        ("a good format, then a bad one", riff(F, bad, D), VALID),
        ("data before a bad format", riff(D, bad), UP_TO_THE_PLAYER),
        ("a little data, then a bad format and the samples",
         riff(chunk(b"data", SAMPLES[:64]), bad, D), UP_TO_THE_PLAYER),
        ("not RIFF", b"RIFX" + riff(F, D)[4:], UP_TO_THE_PLAYER),
        ("not WAVE", riff(F, D, form=b"AVI "), UP_TO_THE_PLAYER))]
    rows += [("bound", f"{MOST_CHUNKS - 1} small chunks before the format",
              riff(small_chunks(MOST_CHUNKS - 1), F, D), PAST_THE_BOUND),
             ("bound", f"{MOST_CHUNKS} empty chunks, then one wrapping",
              riff(small_chunks(MOST_CHUNKS, 0), chunk(b"JUNK", size=WRAP), F, D), PAST_THE_BOUND)]
    return rows


# -- compressed and extensible formats ----------------------------------------
# A format record's fields beyond the PCM ones: offset and struct code.
CB_SIZE = (16, "H")
SAMPLES_PER_BLOCK = (18, "H")        # MS ADPCM, IMA ADPCM and GSM 6.10
COEFFICIENT_COUNT = (20, "H")        # MS ADPCM, then that many pairs of coefficients
MP3_FIELDS = {"ID": (18, "H"), "flags": (20, "I"), "block size": (24, "H"),
              "frames per block": (26, "H"), "codec delay": (28, "H")}
PCM_FIELDS = {"tag": (0, "H"), "channels": (2, "H"), "rate": (4, "I"), "byte rate": (8, "I"),
              "block align": (12, "H"), "bits": (14, "H")}
# Byte rates either side of a layer-3 frame (1152 samples) of one byte: at
# 44.1 kHz, where 1152 times the byte rate wraps in 32 bits, at 8 kHz, and
# under the plain MPEG tag. Each: the changes beside the byte rate, then the
# byte rates that give less than a byte and a byte.
FRAME_OF_A_BYTE = {"byte rate {}": ((), (38, 39)),
                   "byte rate {}, wrapping": ((), (3728271, 3728270)),
                   "8 kHz, byte rate {}": (((PCM_FIELDS["rate"], 8000),), (6, 7)),
                   "the MPEG tag, byte rate {}": (((PCM_FIELDS["tag"], 0x50),), (38, 39))}
# Every encoding meets the byte rates under a layer-3 frame of a byte, so
# that another decoder that takes a length from the byte rate shows.
SMALL_BYTE_RATES = (0, 1, 38, 3728271)
EXTENSIBLE = 0xFFFE
GUID_TAIL = bytes.fromhex("000000001000800000aa00389b71")   # after the tag, in every sub-format


class Encoding:
    """A real encoding of the key's fifth of a second: its format record and
    the chunks that follow it (a fact chunk where the encoder writes one, and
    the samples)."""

    def __init__(self, format_record, rest):
        self.format, self.rest = format_record, rest

    def field(self, field):
        return struct.unpack_from("<" + field[1], self.format, field[0])[0]

    def file(self, *changes, record=None):
        """The file with the format record changed: each change is a field
        and its new value, or `record` stands in for the whole record."""
        record = bytearray(self.format if record is None else record)
        for (offset, code), value in changes:
            struct.pack_into("<" + code, record, offset, value)
        return riff(chunk(b"fmt ", bytes(record)), self.rest)


def encoded(program, *options, suffix=".wav"):
    """The key's fifth of a second as `program` (SoX or LAME) encodes it with
    `options`: the encoder's whole output."""
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "note.wav"), os.path.join(folder, "encoded" + suffix)
        with open(source, "wb") as out:
            out.write(riff(F, D))
        # SoX dithers at random unless told not to; every run makes the same files.
        arguments = (["-D", source, *options, target] if program == "sox"
                     else [*options, source, target])
        subprocess.run([program, *arguments], check=True, capture_output=True)
        with open(target, "rb") as encoding:
            return encoding.read()


def sox_encoding(*options):
    chunks = chunks_of(encoded("sox", *options))
    return Encoding(dict(chunks)[b"fmt "],
                    b"".join(chunk(name, payload) for name, payload in chunks if name != b"fmt "))


def mp3_encoding(kilobits=64, rate=44100):
    """LAME's frames in a WAV file, as the platform's layer-3 format record
    describes them: a constant bit rate, at 64 kbit/s and 44.1 kHz frames of
    208 or 209 bytes. Below 32 kHz a frame holds 576 samples, not 1152."""
    resample = [] if rate == 44100 else ["--resample", f"{rate / 1000:g}"]
    frames = encoded("lame", "--quiet", "-t", "-b", str(kilobits), *resample, suffix=".mp3")
    bits_a_frame = (1152 if rate >= 32000 else 576) * kilobits * 1000
    frame_bytes = (bits_a_frame // 8 + rate - 1) // rate     # the longest, with its padding
    record = struct.pack("<HHIIHHHHIHHH", 0x55, 1, rate, kilobits * 125, 1, 0, 12, 1, 0,
                         frame_bytes, 1, 1105)
    return Encoding(record, chunk(b"data", frames))


MP3_KILOBITS = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)


def noise_frames(encoding):
    """The encoding's MPEG-1 frames with their 4-byte headers kept and the
    rest of each frame noise."""
    rng = random.Random(1105)
    frames = bytearray(dict(chunks_of(encoding.file()))[b"data"])
    at = 0
    while at + 4 <= len(frames):
        assert frames[at] == 0xFF and frames[at + 1] & 0xE0 == 0xE0, f"no frame at {at}"
        length = 144000 * MP3_KILOBITS[frames[at + 2] >> 4] // 44100 + (frames[at + 2] >> 1 & 1)
        frames[at + 4:at + length] = rng.randbytes(len(frames[at + 4:at + length]))
        at += length
    return riff(chunk(b"fmt ", encoding.format), chunk(b"data", bytes(frames)))


def extensible(encoding, valid_bits=None, mask=4, tag=None):
    """The encoding's format record as WAVE_FORMAT_EXTENSIBLE with its tag as
    the sub-format (or `tag`): the PCM fields, then in place of the
    encoding's own the extensible ones, valid bits, channel mask and the
    sub-format's GUID."""
    base = encoding.format
    bits = struct.unpack_from("<H", base, 14)[0]
    tag = struct.unpack_from("<H", base, 0)[0] if tag is None else tag
    record = (struct.pack("<H", EXTENSIBLE) + base[2:16]
              + struct.pack("<HHI", 22, bits if valid_bits is None else valid_bits, mask)
              + struct.pack("<H", tag) + GUID_TAIL)
    return Encoding(record, encoding.rest)


def block_values(base):
    """A block align's or a block's sample count at the edges: 0, 1, one off
    either way (an odd one among them), half and twice the real value, and
    the largest that the field holds."""
    values = {"0": 0, "1": 1, "one less": base - 1, "one more": base + 1, "half": base // 2,
              "twice": min(2 * base, 65535), "65535": 65535}
    return {name: value for name, value in values.items()
            if value not in list(values.values())[:list(values).index(name)]}


def cb_size_rows(encoding, needed):
    """`cbSize` absent, 0, two short of the fields the format needs (with the
    record cut to match), and larger than the chunk holds."""
    record = encoding.format
    return {"cbSize absent": encoding.file(record=record[:16]),
            "cbSize 0": encoding.file((CB_SIZE, 0), record=record[:18]),
            "cbSize short": encoding.file((CB_SIZE, needed - 2), record=record[:16 + needed]),
            "cbSize past the chunk": encoding.file((CB_SIZE, needed + 100)),
            "cbSize 65535": encoding.file((CB_SIZE, 65535))}


def block_rows(encoding, samples_per_block=True):
    """The block align, and the samples per block where the format has them,
    at their edges, against each other and against the channel count."""
    rows = {f"block align {name}": encoding.file((PCM_FIELDS["block align"], value))
            for name, value in block_values(encoding.field(PCM_FIELDS["block align"])).items()}
    if samples_per_block:
        rows.update({f"samples per block {name}": encoding.file((SAMPLES_PER_BLOCK, value))
                     for name, value in block_values(encoding.field(SAMPLES_PER_BLOCK)).items()})
        rows["samples per block 0, block align 1"] = encoding.file(
            (SAMPLES_PER_BLOCK, 0), (PCM_FIELDS["block align"], 1))
    rows.update({f"{count} channels": encoding.file((PCM_FIELDS["channels"], count))
                 for count in (0, 2, 8, 33, 255)})
    rows.update({f"byte rate {value}": encoding.file((PCM_FIELDS["byte rate"], value))
                 for value in SMALL_BYTE_RATES})
    return rows


def frame_rows(mp3, bytes_a_frame):
    """Layer 3 with each byte rate of FRAME_OF_A_BYTE that gives a frame of
    `bytes_a_frame` bytes, 0 or 1."""
    return {name.format(rates[bytes_a_frame]):
            mp3.file(*changes, (PCM_FIELDS["byte rate"], rates[bytes_a_frame]))
            for name, (changes, rates) in FRAME_OF_A_BYTE.items()}


def ms_adpcm_rows(adpcm):
    """MS ADPCM's coefficient table: its count at 0, below the standard 7,
    past what the chunk holds and at the largest; its values extreme."""
    record, count = adpcm.format, adpcm.field(COEFFICIENT_COUNT)
    table = 22
    rows = {f"{n} coefficients": adpcm.file((COEFFICIENT_COUNT, n)) for n in (0, 1, 6, 8, 65535)}
    rows["0 coefficients, none in the record"] = adpcm.file(
        (CB_SIZE, 4), (COEFFICIENT_COUNT, 0), record=record[:table])
    for name, value in (("largest", 32767), ("smallest", -32768), ("0", 0)):
        extreme = record[:table] + struct.pack("<h", value) * (2 * count)
        rows[f"coefficients all {name}"] = adpcm.file(record=extreme)
    return rows


def compressed_variants():
    """(class, name, content, expectation) for the formats that the
    platform's decoders take, each from a real encoding of the note."""
    adpcm, ima = sox_encoding("-e", "ms-adpcm"), sox_encoding("-e", "ima-adpcm")
    gsm, mp3 = sox_encoding("-e", "gsm-full-rate"), mp3_encoding()
    alaw, mulaw = sox_encoding("-e", "a-law"), sox_encoding("-e", "u-law")
    floats, doubles = sox_encoding("-e", "floating-point", "-b", "32"), \
        sox_encoding("-e", "floating-point", "-b", "64")
    pcm = Encoding(FORMAT[:16], D)
    codecs = {"MS ADPCM": (adpcm, {**block_rows(adpcm), **cb_size_rows(adpcm, 4 + 4 * 7),
                                   **ms_adpcm_rows(adpcm)}),
              "IMA ADPCM": (ima, {**block_rows(ima), **cb_size_rows(ima, 2)}),
              "GSM 6.10": (gsm, {**block_rows(gsm), **cb_size_rows(gsm, 2)}),
              "MPEG layer 3": (mp3, {
                  **block_rows(mp3, samples_per_block=False), **cb_size_rows(mp3, 12),
                  **{f"{name} {value}": mp3.file((field, value))
                     for name, field in MP3_FIELDS.items() for value in (0, 65535)},
                  **frame_rows(mp3, 0),
                  "frames of noise": noise_frames(mp3),
                  "noise": riff(chunk(b"fmt ", mp3.format),
                                chunk(b"data", random.Random(55).randbytes(4000)))}),
              **{name: (encoding, {**block_rows(encoding, samples_per_block=False),
                                   **{f"bits {bits}": encoding.file((PCM_FIELDS["bits"], bits))
                                      for bits in bit_depths}})
                 for name, encoding, bit_depths in (("A-law", alaw, (0, 16)),
                                                    ("mu-law", mulaw, (0, 16)),
                                                    ("float", floats, (0, 16, 24, 64)))}}
    rows = []
    for codec, (encoding, mutations) in codecs.items():
        rows.append((codec, f"{codec} as encoded", encoding.file(), VALID))
        rows += [(codec, f"{codec}, {name}", content, UP_TO_THE_PLAYER)
                 for name, content in mutations.items()]
    rows.append(("float", "float, 64 bits as encoded", doubles.file(), VALID))
    # Layer 3 plays with a frame of a byte, and at the least and the most it carries.
    rows += [("MPEG layer 3", f"MPEG layer 3, {name}", content, VALID)
             for name, content in frame_rows(mp3, 1).items()]
    rows += [("MPEG layer 3", f"MPEG layer 3 at {kilobits} kbit/s, {rate} Hz, as encoded",
              mp3_encoding(kilobits, rate).file(), VALID)
             for kilobits, rate in ((8, 8000), (320, 48000))]
    wrapped = extensible(pcm)
    rows += [("extensible", "PCM as extensible", wrapped.file(), VALID),
             ("extensible", "PCM as extensible, no channel mask", extensible(pcm, mask=0).file(),
              VALID)]
    rows += [("extensible", f"PCM as extensible, {name}", content, UP_TO_THE_PLAYER)
             for name, content in {
                 "valid bits 0": extensible(pcm, valid_bits=0).file(),
                 "valid bits 17, above the container": extensible(pcm, valid_bits=17).file(),
                 "valid bits 65535": extensible(pcm, valid_bits=65535).file(),
                 "channel mask of 2 speakers": extensible(pcm, mask=3).file(),
                 "channel mask of 32 speakers": extensible(pcm, mask=0xFFFFFFFF).file(),
                 "unknown sub-format": extensible(pcm, tag=0x7777).file(),
                 **cb_size_rows(wrapped, 22),
                 **block_rows(wrapped, samples_per_block=False)}.items()]
    rows += [("extensible", f"{codec} as extensible", extensible(encoding).file(),
              UP_TO_THE_PLAYER) for codec, (encoding, _) in codecs.items()]
    return rows


def variants():
    """Every variant once: where two mutations make the same file, the first
    names it."""
    rows, seen = [], set()
    for row in pcm_variants() + compressed_variants():
        if row[2] not in seen:
            rows.append(row)
            seen.add(row[2])
    return rows


# -- the player and the check ---------------------------------------------------
def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def write_variants(rows, folder):
    """Writes each variant into `folder`; returns their paths, in order."""
    paths = [os.path.join(folder, f"{number:03}.wav") for number in range(len(rows))]
    for path, (_, _, content, _) in zip(paths, rows):
        with open(path, "wb") as out:
            out.write(content)
    return paths


def judged_harmful(prefix, folder, paths):
    """The piano's own check of each file: True where it would give the
    default sound in place of the file."""
    judged = dict(line.split() for line in wininfo(prefix, "judge", windows_path(folder)))
    return [judged[os.path.basename(path)] == "1" for path in paths]


def play(env, path):
    """What the player did with the file: "returned", "hung", or "crashed"
    with the exit code. The tool says which of the first two it saw; a
    process that ends without saying either crashed. A Wine start that
    stalls or fails before the player has the file is tried again."""
    for attempt in range(3):
        process = subprocess.Popen(["wine", os.path.join(TOOLS, "wininfo.exe"), "play",
                                    windows_path(path)], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        try:
            lines = process.communicate(timeout=60)[0].split()
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            lines = process.communicate()[0].split() + ["hung"]
        if "playing" in lines:
            if lines[-1] == "hung" or (lines[-1] == "returned" and process.returncode == 0):
                return lines[-1]
            return f"crashed (exit {process.returncode})"
    raise AssertionError(f"wininfo play {path} did not start, three times")


def the_files_own_trouble(pool, env, rows, paths, played, harmful):
    """A crash or a hang that the check left to the player is the file's
    only if it comes again: the file is played twice more. A crash on a
    valid file that does not come again is the player's own (seen once in
    more than a thousand plays, on a loaded machine), and counts as a
    return. Returns the outcomes so settled, and what each replay gave."""
    suspects = [n for n, outcome in enumerate(played) if outcome != "returned" and not harmful[n]]
    replays = dict(zip(suspects, pool.map(lambda n: [play(env, paths[n]) for _ in range(2)],
                                          suspects)))
    settled = list(played)
    for number, outcomes in replays.items():
        if outcomes == ["returned"] * 2:
            print(f"{rows[number][1]}: the player {played[number]} once, then returned twice")
            settled[number] = "returned"
    return settled, replays


def wrong_verdicts(rows, played, harmful, replays):
    """Every verdict of the check that the player's outcome, or the row's
    expectation, shows wrong."""
    wrong = []
    for number, ((_, name, _, expected), outcome) in enumerate(zip(rows, played)):
        if outcome != "returned" and not harmful[number]:
            wrong.append(f"{name}: the player {outcome}, then {' and '.join(replays[number])}; "
                         "the check left it to the player")
        if expected == VALID and harmful[number]:
            wrong.append(f"{name}: a valid file, judged harmful")
        if expected == PAST_THE_BOUND and not harmful[number]:
            wrong.append(f"{name}: past the bound, and left to the player")
    return wrong


def print_table(rows, played, harmful):
    table = collections.defaultdict(collections.Counter)
    for (kind, _, _, _), outcome, judged in zip(rows, played, harmful):
        table[kind].update([outcome.split()[0], "harmful" if judged else "left"])
    columns = ("returned", "crashed", "hung", "left", "harmful")
    print("\n{:22}{:>9} | player:{:>9}{:>8}{:>5} | check:{:>5}{:>8}".format(
        "class", "variants", *columns))
    for kind, counts in table.items():
        print("{:22}{:9} |        {:9}{:8}{:5} |       {:5}{:8}".format(
            kind, sum(counts[c] for c in columns[:3]), *(counts[c] for c in columns)))


def test_every_file_that_crashes_or_hangs_the_player_is_judged_harmful(prefix, tmp_path):
    rows = variants()
    paths = write_variants(rows, str(tmp_path))
    harmful = judged_harmful(prefix, str(tmp_path), paths)
    # The players' sound goes nowhere.
    home = tmp_path / "home"
    home.mkdir()
    write_asoundrc(str(home))
    env = dict(prefix.env, HOME=str(home))
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        played = list(pool.map(lambda path: play(env, path), paths))
        played, replays = the_files_own_trouble(pool, env, rows, paths, played, harmful)
    print_table(rows, played, harmful)
    assert len(rows) >= 300
    wrong = wrong_verdicts(rows, played, harmful, replays)
    if wrong:
        pytest.fail("\n".join(wrong))

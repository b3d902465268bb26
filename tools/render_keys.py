#!/usr/bin/python3
"""Helper for render_keys.sh.

  render_keys.py score TAKE.mid        write the MIDI take: one note per key
  render_keys.py finish TAKE.f32 DIR   cut the rendered take into DIR/NN.wav

Keys are numbered like the 88 keys of a piano (40 = middle C, 49 = A 440).
"""
import subprocess
import struct
import sys
import wave

import numpy as np

FIRST, LAST = 40, 64
RATE = 44100
SLOT = 13.0         # seconds per key in the take; the previous note has died away long before
HOLD = 10.0         # note held past the end of the file, so the damper never shows in it
VELOCITY = 110      # velocity 110 gives the most even attack-to-body balance across these keys
TUNE_SPAN = (0.05, 2.0)  # seconds of the note its pitch is measured over: past the hammer noise
RING_DB = 50.0      # a note rings until its level has fallen this far below its loudest
ENVELOPE = 0.05     # seconds of the RMS window that the level is measured over
# A few keys' samples fall 50 dB within about 1.5 s and then linger just
# below that for seconds; cut there, they would stop sooner than their
# neighbours. No file is shorter than this.
MIN_LENGTH = 2.5
FADE = 0.2          # closing fade, from where the note has died away to an exact zero
PEAK_DBFS = -1.0
SPREAD_DB = 1.5     # how far a key's crest factor may exceed the median before its attack is limited
TICKS_PER_SECOND = 960  # 480 ticks per quarter at 120 bpm


def key_hz(n):
    return 440.0 * 2.0 ** ((n - 49) / 12)


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def score(path):
    ev = vlq(0) + b"\xff\x51\x03\x07\xa1\x20"   # 120 bpm, stated rather than left to the player
    ev += vlq(0) + bytes([0xC0, 0])              # GM program 0: acoustic grand
    hold = round(HOLD * TICKS_PER_SECOND)
    gap = round(SLOT * TICKS_PER_SECOND) - hold
    for i, n in enumerate(range(FIRST, LAST + 1)):
        ev += vlq(0 if i == 0 else gap) + bytes([0x90, n + 20, VELOCITY])
        ev += vlq(hold) + bytes([0x80, n + 20, 0])
    ev += vlq(gap) + b"\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480))
        f.write(b"MTrk" + struct.pack(">I", len(ev)) + ev)


def fundamental_hz(x, expected):
    """Strongest peak within half an octave of the expected pitch.

    Piano strings are inharmonic, so the upper partials would mislead; the
    window keeps only the fundamental partial (the 2nd is a full octave up).
    The fundamental starts a little sharp and sags by a few cents as the note
    decays, so it is measured over its first two seconds, not just the
    attack.
    """
    seg = x[int(TUNE_SPAN[0] * RATE):int(TUNE_SPAN[1] * RATE)]
    size = 1 << 19
    spectrum = np.abs(np.fft.rfft(seg * np.hanning(len(seg)), size))
    lo, hi = (int(expected * r * size / RATE) for r in (2 ** -0.5, 2 ** 0.5))
    i = lo + int(np.argmax(spectrum[lo:hi]))
    a, b, c = np.log(spectrum[i - 1:i + 2])
    return (i + 0.5 * (a - c) / (a - 2 * b + c)) * RATE / size


def sox_f32(x, *effects):
    out = subprocess.run(
        ["sox", "-t", "f32", "-r", str(RATE), "-c", "1", "-", "-t", "f32", "-r", str(RATE), "-", *effects],
        input=x.astype("<f4").tobytes(), stdout=subprocess.PIPE, check=True).stdout
    return np.frombuffer(out, "<f4").astype(np.float64)


def tune(x, n):
    # The samples are a few cents off equal temperament; pull each key onto pitch
    # so the keys stay in tune with each other in chords.
    cents = 1200 * np.log2(key_hz(n) / fundamental_hz(x, key_hz(n)))
    return sox_f32(x, "speed", "%.3fc" % cents, "rate", "-v", str(RATE))


def trim_front(x):
    # Start where the note does, so a key press sounds at once. The first kept
    # sample is ~60 dB down; a short ramp removes even that step.
    start = int(np.argmax(np.abs(x) >= 1e-3 * np.abs(x).max()))
    x = x[start:].copy()
    ramp = 32
    x[:ramp] *= np.linspace(0.0, 1.0, ramp, endpoint=False)
    return x


def crest_db(x):
    head = x[:RATE // 2]
    return 20 * np.log10(np.abs(x).max() / np.sqrt(np.mean(head ** 2)))


def limit(x, ceiling, half=int(0.005 * RATE)):
    """Smooth gain dip so |x| never exceeds ceiling.

    A running minimum over +-half followed by an average over +-half never
    rises above the gain each sample needs, yet changes slowly enough to be
    heard as a slightly softer hammer rather than distortion.
    """
    need = np.minimum(1.0, ceiling / np.maximum(np.abs(x), 1e-12))
    padded = np.pad(need, half, mode="edge")
    floor = np.lib.stride_tricks.sliding_window_view(padded, 2 * half + 1).min(axis=1)
    kernel = np.hanning(2 * half + 3)[1:-1]
    gain = np.convolve(np.pad(floor, half, mode="edge"), kernel / kernel.sum(), mode="valid")
    return x * gain


def level(notes):
    # Scaling every key to the same peak is not enough: a few keys have a much
    # spikier attack and would then sound clearly softer than their neighbours.
    # Tame those attacks first, then bring every peak to the same level.
    cap = np.median([crest_db(x) for x in notes.values()]) + SPREAD_DB
    for n, x in notes.items():
        over = crest_db(x) - cap
        if over > 0:
            x = limit(x, np.abs(x).max() * 10 ** (-over / 20))
        notes[n] = x * 10 ** (PEAK_DBFS / 20) / np.abs(x).max()


def envelope(x):
    """Mean square of the ENVELOPE seconds up to and including each sample,
    from the first full window on."""
    width = int(ENVELOPE * RATE)
    total = np.concatenate([[0.0], np.cumsum(x * x)])
    return (total[width:] - total[:-width]) / width


def ring_out(x):
    """The note up to where it has died away for good, RING_DB below its
    loudest, and its closing fade: the note is held far longer than this
    in the take, so a key-up never shows."""
    level = envelope(x)
    # Half a decibel to spare, for the rounding to 16 bits.
    loud = np.nonzero(level > level.max() * 10 ** (-(RING_DB + 0.5) / 10))[0]
    quiet_from = loud[-1] + 1 + int(ENVELOPE * RATE)   # end of the first quiet window after it
    fade_at = max(quiet_from, round((MIN_LENGTH - FADE) * RATE))
    length = fade_at + int(FADE * RATE)
    if length > (HOLD - 1.0) * RATE:
        sys.exit("render_keys.py: a note still rings near the end of its hold; raise HOLD")
    return fade_out(x[:length])


def fade_out(x):
    k = int(FADE * RATE)
    x = x.copy()
    x[-k:] *= 0.5 * (1 + np.cos(np.linspace(0.0, np.pi, k)))   # ends on exactly 0
    return x


def write_wav(path, x):
    pcm = np.clip(np.round(x * 32767), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())


def finish(take_path, out_dir):
    take = np.fromfile(take_path, "<f4").astype(np.float64)
    notes = {}
    for n in range(FIRST, LAST + 1):
        start = round((n - FIRST) * SLOT * RATE)
        x = tune(take[start:start + round(SLOT * RATE)], n)
        notes[n] = trim_front(x)
    level(notes)
    for n, x in notes.items():
        write_wav("%s/%d.wav" % (out_dir, n), ring_out(x))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "score":
        score(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "finish":
        finish(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)

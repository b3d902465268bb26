"""Measurements on the key sound files, shared by the tests.

Samples are returned as floats in [-1, 1); levels are in dB relative to full
scale (dBFS).
"""
import wave
from dataclasses import dataclass

import numpy as np


@dataclass
class Sound:
    samples: np.ndarray   # mono float, or frames x channels if not mono
    rate: int
    channels: int
    sample_width: int     # bytes
    compression: str


def read_wav(path):
    with wave.open(str(path), "rb") as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        comp = w.getcomptype()
        raw = w.readframes(w.getnframes())
    if width != 2:
        raise ValueError("%s: %d-byte samples, only 16-bit PCM is read" % (path, width))
    x = np.frombuffer(raw, "<i2").astype(np.float64) / 32768.0
    if channels > 1:
        x = x.reshape(-1, channels)
    return Sound(x, rate, channels, width, comp)


def write_wav(path, samples, rate):
    pcm = np.clip(np.round(np.asarray(samples) * 32768.0), -32768, 32767).astype("<i2")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())


def key_hz(n):
    """Equal-tempered pitch of key n of an 88-key piano (49 = A 440)."""
    return 440.0 * 2.0 ** ((n - 49) / 12)


def cents(f, ref):
    return 1200.0 * np.log2(f / ref)


def db(amplitude):
    return 20.0 * np.log10(max(amplitude, 1e-10))


def fundamental_hz(x, rate, expected, start=0.05, stop=1.05):
    """Frequency of the fundamental partial near the expected pitch.

    Only the strongest spectral peak within half an octave of `expected` is
    considered: piano partials are stretched by inharmonicity, so anything
    derived from the upper partials would read sharp. A long stretch of
    signal (start..stop seconds, by default the first second after the hammer
    noise), zero-padded, and a parabola through the log magnitude around the
    peak gives a fraction of a cent.
    """
    seg = x[int(start * rate):int(stop * rate)]
    size = 1 << 19
    spectrum = np.abs(np.fft.rfft(seg * np.hanning(len(seg)), size))
    lo = int(expected * 2 ** -0.5 * size / rate)
    hi = int(expected * 2 ** 0.5 * size / rate)
    i = lo + int(np.argmax(spectrum[lo:hi]))
    a, b, c = np.log(spectrum[i - 1:i + 2] + 1e-30)
    return (i + 0.5 * (a - c) / (a - 2 * b + c)) * rate / size


def onset_ms(x, rate, threshold_dbfs=-40.0):
    """Time of the first sample louder than the threshold; inf if none is."""
    loud = np.abs(x) > 10 ** (threshold_dbfs / 20)
    return 1000.0 * np.argmax(loud) / rate if loud.any() else float("inf")


def peak_dbfs(x):
    return db(np.abs(x).max())


def head_rms_dbfs(x, rate, seconds=0.5):
    head = x[:int(seconds * rate)]
    return db(np.sqrt(np.mean(head ** 2)))


def tail_rms_dbfs(x, rate, ms=10.0):
    tail = x[-int(ms * rate / 1000):]
    return db(np.sqrt(np.mean(tail ** 2)))


def envelope_dbfs(x, rate, seconds=0.05):
    """RMS level of the `seconds` up to each sample, from the first full
    window on: a short-window envelope that follows a note's decay."""
    width = int(seconds * rate)
    total = np.concatenate([[0.0], np.cumsum(np.asarray(x) ** 2)])
    return 10.0 * np.log10(np.maximum((total[width:] - total[:-width]) / width, 1e-20))

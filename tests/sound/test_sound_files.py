"""Checks on the rendered key sounds keys/40.wav .. keys/64.wav.

Run with: /usr/bin/python3 -m pytest -q tests/sound
Set MORVANE_KEYS to check a folder other than the repository's keys/.
"""
import os
import statistics
import sys
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import wavcheck as wc  # noqa: E402

KEYS_DIR = Path(os.environ.get("MORVANE_KEYS") or Path(__file__).resolve().parents[2] / "keys")
KEYS = range(40, 65)
RATE = 44100
MAX_TOTAL_BYTES = 12_000_000
FADE_SECONDS = 0.2
RING_DB = 50.0


def key_path(n):
    return KEYS_DIR / ("%d.wav" % n)


def load(n):
    return wc.read_wav(key_path(n))


# Each check takes a sound and its key number and fails with a message naming
# what is wrong, so the same code judges the real files and the damaged copies.

def assert_format(s, n):
    assert (s.channels, s.sample_width, s.rate, s.compression) == (1, 2, RATE, "NONE"), \
        "key %d: want mono 16-bit PCM at %d Hz" % (n, RATE)
    seconds = len(s.samples) / s.rate
    assert 2.5 <= seconds <= 10.0, "key %d lasts %.2f s" % (n, seconds)


def assert_in_tune(s, n):
    # A piano note drifts a few cents flat as it decays; it must be in tune both
    # while it is loud and over the whole of it.
    want = wc.key_hz(n)
    for start, stop in [(0.05, 1.05), (0.05, 2.0)]:
        got = wc.fundamental_hz(s.samples, s.rate, want, start, stop)
        off = wc.cents(got, want)
        assert abs(off) <= 5.0, "key %d sounds at %.2f Hz over %.2f-%.2f s, %+.1f cents from %.2f Hz" % (
            n, got, start, stop, off, want)


def assert_immediate(s, n):
    t = wc.onset_ms(s.samples, s.rate, -40.0)
    assert t <= 5.0, "key %d first reaches -40 dBFS after %.1f ms" % (n, t)


def assert_peak(s, n):
    p = wc.peak_dbfs(s.samples)
    assert -1.5 <= p <= -0.5, "key %d peaks at %.2f dBFS, want about -1" % (n, p)


def assert_rings_out(s, n):
    # The note dies away by itself before the closing fade starts.
    level = wc.envelope_dbfs(s.samples, s.rate)
    before_fade = level[-int(FADE_SECONDS * s.rate) - 1]
    assert before_fade <= level.max() - RING_DB, \
        "key %d still at %.1f dB from its loudest when its fade starts" % (n, before_fade - level.max())


def assert_clean_ending(s, n):
    x = s.samples
    tail = x[-int(0.01 * s.rate):]
    level = wc.envelope_dbfs(x, s.rate)
    drop = level[-int(FADE_SECONDS * s.rate) - 1] - level[-1]
    assert drop >= 15.0, "key %d: its last %.1f s is no fade (%.1f dB)" % (n, FADE_SECONDS, drop)
    assert wc.tail_rms_dbfs(x, s.rate, 10.0) < -60.0, "key %d: last 10 ms not faded out" % n
    assert wc.peak_dbfs(tail) < -50.0, "key %d: last 10 ms still has a peak" % n
    assert abs(x[-1]) <= 1 / 32768, "key %d ends on %d, not on silence" % (n, round(x[-1] * 32768))


@pytest.fixture(scope="module")
def head_levels():
    return {n: wc.head_rms_dbfs(load(n).samples, RATE) for n in KEYS}


@pytest.mark.parametrize("check", [assert_format, assert_in_tune, assert_immediate,
                                   assert_peak, assert_rings_out, assert_clean_ending],
                         ids=lambda f: f.__name__[len("assert_"):])
@pytest.mark.parametrize("n", KEYS)
def test_key_file(n, check):
    assert key_path(n).is_file(), "missing %s" % key_path(n)
    check(load(n), n)


@pytest.mark.parametrize("n", KEYS)
def test_loudness_matches_the_others(n, head_levels):
    # First half second: what the ear compares when playing up and down the keys.
    median = statistics.median(head_levels.values())
    diff = head_levels[n] - median
    assert abs(diff) <= 3.0, "key %d is %+.1f dB from the median loudness" % (n, diff)


def test_all_keys_fit_the_size_budget():
    total = sum(key_path(n).stat().st_size for n in KEYS)
    assert total <= MAX_TOTAL_BYTES, "keys take %d bytes" % total


# The checks above must reject broken sounds, not just pass good ones:
# damage a real file in a known way and make sure the right check objects.

def resample(x, speed):
    """Play x `speed` times faster, which raises its pitch by the same factor."""
    t = np.arange(0, len(x) - 1, speed)
    return np.interp(t, np.arange(len(x)), x)


def fade(x, seconds):
    """x with its last `seconds` faded linearly to zero."""
    k = int(seconds * RATE)
    return np.concatenate([x[:-k], x[-k:] * np.linspace(1, 0, k)])


DAMAGE = [
    ("semitone sharp", lambda x: resample(x, 2 ** (1 / 12)), assert_in_tune),
    ("semitone flat", lambda x: resample(x, 2 ** (-1 / 12)), assert_in_tune),
    ("quarter tone sharp", lambda x: resample(x, 2 ** (1 / 24)), assert_in_tune),
    ("50 ms late", lambda x: np.concatenate([np.zeros(int(0.05 * RATE)), x]), assert_immediate),
    ("cut off mid-note", lambda x: x[:int(1.6 * RATE)], assert_clean_ending),
    ("faded out while ringing", lambda x: fade(x[:int(1.5 * RATE)], 0.2), assert_rings_out),
    ("faded over 10 ms", lambda x: fade(x[:-int(FADE_SECONDS * RATE)], 0.01), assert_clean_ending),
    ("clipped", lambda x: np.clip(x * 4, -1, 1), assert_peak),
]


@pytest.mark.parametrize("n", [40, 49, 64])
@pytest.mark.parametrize("damage, spoil, check", DAMAGE, ids=[d[0] for d in DAMAGE])
def test_checks_reject_damaged_copy(tmp_path, n, damage, spoil, check):
    original = load(n).samples
    intact = tmp_path / "intact.wav"
    spoiled = tmp_path / "spoiled.wav"
    # The unharmed copy goes through the same write/read path, so a failure
    # below is down to the damage and not to the copying.
    wc.write_wav(intact, original, RATE)
    wc.write_wav(spoiled, spoil(original), RATE)
    check(wc.read_wav(intact), n)
    with pytest.raises(AssertionError):
        check(wc.read_wav(spoiled), n)

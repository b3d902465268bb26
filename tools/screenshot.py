#!/usr/bin/python3
"""Remakes docs/piano.png, the README's picture: the real executable on a
virtual screen with a chord held (Q, T and 5: D4, A4 and G#4), cropped to
the title, the label row and the keyboard. Run it through tools/screenshot.sh."""
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from desktop import ROOT, Piano, Prefix, Screen, wait_for  # noqa: E402
from layout import black_key, keyboard_origin, white_key  # noqa: E402

WIDTH, HEIGHT = 1920, 1080
ORIGIN = keyboard_origin(WIDTH, HEIGHT)
CHORD = {"q": white_key(1, ORIGIN), "t": white_key(5, ORIGIN), "5": black_key(3, ORIGIN)}
MARGIN = 20          # black border kept around the drawing
TITLE_RISE = 60      # the title's top above the keyboard
OUTPUT = os.path.join(ROOT, "docs", "piano.png")


def changed_in(before, after, box):
    left, top, right, bottom = box
    return np.any(before[top:bottom, left:right] != after[top:bottom, left:right])


def main():
    with tempfile.TemporaryDirectory(prefix="screenshot-", dir=os.path.join(ROOT, "build")) as work:
        screen = Screen(WIDTH, HEIGHT)
        prefix = Prefix(os.path.join(work, "prefix"), screen.display)
        piano = Piano(screen, prefix)
        try:
            piano.wait_window()
            piano.focus()
            released = piano.shot_client()
            piano.key(*CHORD, action="keydown")
            wait_for(lambda: all(changed_in(released, piano.shot_client(), box)
                                 for box in CHORD.values()), 30, "the chord drawn pressed")
            image = piano.shot_client()
            piano.key(*CHORD, action="keyup")
        finally:
            piano.stop()
            prefix.kill()
            screen.close()
    left, top = ORIGIN[0] - MARGIN, ORIGIN[1] - TITLE_RISE - MARGIN
    right, bottom = (edge + MARGIN for edge in white_key(14, ORIGIN)[2:])
    crop = np.ascontiguousarray(image[top:bottom, left:right].astype(np.uint8))
    # A palette PNG without time stamps: small, and the same bytes each run.
    subprocess.run(["convert", "-size", f"{right - left}x{bottom - top}", "-depth", "8", "rgb:-",
                    "-strip", "-define", "png:exclude-chunks=date,time", f"PNG8:{OUTPUT}"],
                   input=crop.tobytes(), check=True)
    print(f"screenshot: wrote {OUTPUT} ({os.path.getsize(OUTPUT):,} bytes)")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Remakes docs/piano.png, the README's picture: the real executable on a
virtual screen with a chord held (Q, T and 5: D4, A4 and F#4), cropped to
the title, the label row and the keyboard. Run it through tools/screenshot.sh."""
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from desktop import ROOT, Piano, Prefix, Screen, wait_for  # noqa: E402
from layout import black_key, keyboard_origin, white_key  # noqa: E402

CHORD = {"q": white_key(1, (0, 0)), "t": white_key(5, (0, 0)), "5": black_key(3, (0, 0))}
MARGIN = 20          # black border kept around the drawing
TITLE_RISE = 60      # the title's top above the keyboard
OUTPUT = os.path.join(ROOT, "docs", "piano.png")


def changed_in(before, after, box, origin):
    left, top, right, bottom = box
    x, y = origin
    return np.any(before[y + top:y + bottom, x + left:x + right]
                  != after[y + top:y + bottom, x + left:x + right])


def main():
    with tempfile.TemporaryDirectory(prefix="screenshot-", dir=os.path.join(ROOT, "build")) as work:
        screen = Screen(1920, 1080)
        prefix = Prefix(os.path.join(work, "prefix"), screen.display)
        piano = Piano(screen, prefix)
        try:
            piano.wait_window()
            piano.focus()
            origin = keyboard_origin(screen.width, screen.height)
            released = piano.shot_client()
            piano.key(*CHORD, action="keydown")
            wait_for(lambda: all(changed_in(released, piano.shot_client(), box, origin)
                                 for box in CHORD.values()), 30, "the chord drawn pressed")
            image = piano.shot_client()
            piano.key(*CHORD, action="keyup")
        finally:
            piano.stop()
            prefix.kill()
            screen.close()
    left, top = origin[0] - MARGIN, origin[1] - TITLE_RISE - MARGIN
    right, bottom = origin[0] + 1050 + MARGIN, origin[1] + 420 + MARGIN
    crop = np.ascontiguousarray(image[top:bottom, left:right].astype(np.uint8))
    # A palette PNG without time stamps: small, and the same bytes each run.
    subprocess.run(["convert", "-size", f"{right - left}x{bottom - top}", "-depth", "8", "rgb:-",
                    "-strip", "-define", "png:exclude-chunks=date,time", f"PNG8:{OUTPUT}"],
                   input=crop.tobytes(), check=True)
    print(f"screenshot: wrote {OUTPUT} ({os.path.getsize(OUTPUT):,} bytes)")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes res/app.ico: one 32 x 32, 16-colour image of a small keyboard.

The icon is drawn here from simple shapes so that it can be changed and
rebuilt; the .ico beside it is this script's output, committed so that a
build needs no Python. Run: python3 res/make_icon.py
"""
import os
import struct

SIZE = 32
# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GREY, WHITE = 0, 4, 7, 8, 15
CLEAR = None   # transparent through the AND mask


def draw():
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]

    def fill(left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                pixels[y][x] = colour

    # A navy case with its corners cut, a silver rule across its top,
    # five white keys with grey gaps, and three black keys with a shadow.
    fill(1, 2, 31, 30, NAVY)
    for x, y in ((1, 2), (30, 2), (1, 29), (30, 29)):
        pixels[y][x] = CLEAR
    fill(3, 5, 29, 6, SILVER)
    fill(3, 8, 28, 28, WHITE)
    for k in range(5):
        fill(3 + 5 * k + 4, 8, 3 + 5 * k + 5, 28, GREY)
    for boundary in (7, 12, 22):
        fill(boundary - 1, 8, boundary + 2, 20, BLACK)
        fill(boundary + 2, 9, boundary + 3, 21, GREY)
        fill(boundary, 20, boundary + 3, 21, GREY)
    return pixels


def encode(pixels):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):   # DIBs are stored bottom-up
        nibbles = [BLACK if p is CLEAR else p for p in row]
        colour_rows.append(bytes((nibbles[x] << 4) | nibbles[x + 1] for x in range(0, SIZE, 2)))
        bits = 0
        for p in row:
            bits = (bits << 1) | (p is CLEAR)
        mask_rows.append(struct.pack(">I", bits))
    image = header + palette + b"".join(colour_rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "app.ico")
    with open(path, "wb") as out:
        out.write(encode(draw()))

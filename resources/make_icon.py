#!/usr/bin/env python3
"""Writes the window icon, app.ico: one 16x16 image at 24 bits per pixel.

Two folders, an amber one (the backup) and a green one (the mod) with an
arrow between them: what the program does, at a size where detail is lost.
Run it again after changing the picture; its output is committed.
"""
import struct
import sys

W = H = 16
BLACK = (0, 0, 0)
AMBER = (254, 210, 4)
AMBER_DARK = (170, 120, 0)
GREEN = (40, 200, 40)
GREEN_DARK = (0, 110, 0)
RED = (230, 30, 30)

def picture():
    px = [[BLACK] * W for _ in range(H)]  # px[y][x], y = 0 at the top

    def box(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = colour

    # The backup: an amber folder at the top left, with its tab.
    box(1, 1, 3, 1, AMBER_DARK)
    box(1, 2, 7, 6, AMBER)
    box(1, 6, 7, 6, AMBER_DARK)
    # The mod: a green folder at the bottom right.
    box(8, 9, 10, 9, GREEN_DARK)
    box(8, 10, 14, 14, GREEN)
    box(8, 14, 14, 14, GREEN_DARK)
    # A red arrow from one to the other: down from the backup, then right
    # into the mod.
    box(3, 7, 4, 12, RED)
    box(3, 11, 5, 12, RED)
    for i in range(3):
        box(5 + i, 9 + i, 5 + i, 14 - i, RED)
    return px

def ico(px):
    # Bottom-up BGR rows (48 bytes, already a multiple of 4), then the AND
    # mask: 16 rows of 32 bits, all 0 so that every pixel is opaque.
    xor = b"".join(bytes(c for rgb in px[y] for c in (rgb[2], rgb[1], rgb[0]))
                   for y in reversed(range(H)))
    mask = b"\0" * (4 * H)
    header = struct.pack("<IiiHHIIiiII", 40, W, 2 * H, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "app.ico"
    with open(out, "wb") as f:
        f.write(ico(picture()))

#!/usr/bin/env python3
"""Draws the stub's two icons and writes them as .ico files.

Each icon is one 32 x 32 image in the 16 standard colours with a
transparency mask. The pictures are built from simple shapes below; change
a shape, run this script, and rebuild the stub:

    python3 stub/icons/draw_icons.py      (writes main.ico, uninstall.ico here)
"""
import os
import struct
import sys

SIZE = 32
CLEAR = None  # transparent pixel

# The 16-colour palette by index, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


class Canvas:
    def __init__(self):
        self.px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def dot(self, x, y, c):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.px[y][x] = c

    def fill(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.dot(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.dot(x, y0, c)
            self.dot(x, y1, c)
        for y in range(y0, y1 + 1):
            self.dot(x0, y, c)
            self.dot(x1, y, c)

    def panel(self, x0, y0, x1, y1, face, light=WHITE, shade=GRAY, edge=BLACK):
        """A raised rectangle: face, light top-left, shaded bottom-right, outline."""
        self.fill(x0, y0, x1, y1, face)
        self.fill(x0 + 1, y0 + 1, x1 - 1, y0 + 1, light)
        self.fill(x0 + 1, y0 + 1, x0 + 1, y1 - 1, light)
        self.fill(x0 + 1, y1 - 1, x1 - 1, y1 - 1, shade)
        self.fill(x1 - 1, y0 + 1, x1 - 1, y1 - 1, shade)
        self.frame(x0, y0, x1, y1, edge)


def software_box(cv, x0, y0, x1, y1, depth=4):
    """A boxed product seen from the front-right: front, top and side faces."""
    for k in range(1, depth + 1):  # top face, one row per step back
        cv.fill(x0 + k, y0 - k, x1 + k - 1, y0 - k, YELLOW)
        cv.dot(x0 + k, y0 - k, BLACK)
    cv.fill(x0 + depth, y0 - depth, x1 + depth, y0 - depth, BLACK)
    for k in range(1, depth + 1):  # right side, one column per step back
        cv.fill(x1 + k, y0 - k + 1, x1 + k, y1 - k, OLIVE)
        cv.dot(x1 + k, y1 - k, BLACK)
    cv.fill(x1 + depth, y0 - depth, x1 + depth, y1 - depth, BLACK)
    cv.fill(x0, y0, x1, y1, YELLOW)
    cv.fill(x0 + 1, y0 + 2, x1 - 1, y0 + 7, BLUE)        # title panel
    cv.fill(x0 + 3, y0 + 4, x1 - 3, y0 + 5, WHITE)       # its lettering
    cv.fill(x0 + 1, y1 - 4, x1 - 1, y1 - 3, RED)         # stripe
    cv.frame(x0, y0, x1, y1, BLACK)


def computer(cv):
    cv.panel(1, 1, 21, 17, SILVER)
    cv.fill(4, 4, 18, 14, NAVY)                          # screen
    cv.frame(3, 3, 19, 15, GRAY)
    cv.fill(5, 5, 17, 13, TEAL)
    cv.fill(6, 6, 11, 6, AQUA)                           # reflection
    cv.fill(6, 6, 6, 9, AQUA)
    cv.fill(8, 18, 14, 19, GRAY)                         # neck
    cv.frame(8, 18, 14, 19, BLACK)
    cv.panel(3, 20, 19, 23, SILVER)                      # foot


def diskette(cv, x0, y0):
    x1, y1 = x0 + 12, y0 + 12
    cv.fill(x0, y0, x1, y1, NAVY)
    cv.frame(x0, y0, x1, y1, BLACK)
    cv.dot(x1, y0, CLEAR)                                # clipped corner
    cv.dot(x1 - 1, y0, BLACK)
    cv.dot(x1, y0 + 1, BLACK)
    cv.fill(x0 + 3, y0, x0 + 9, y0 + 4, SILVER)          # shutter
    cv.frame(x0 + 3, y0, x0 + 9, y0 + 4, BLACK)
    cv.fill(x0 + 6, y0 + 1, x0 + 7, y0 + 3, NAVY)        # window in it
    cv.fill(x0 + 2, y0 + 6, x1 - 2, y1 - 1, WHITE)       # label
    cv.fill(x0 + 3, y0 + 8, x1 - 3, y0 + 8, GRAY)
    cv.fill(x0 + 3, y0 + 10, x1 - 4, y0 + 10, GRAY)


def waste_bin(cv, x0, y0, x1, y1):
    cv.fill(x0 + 4, y0 - 3, x1 - 4, y0 - 2, GRAY)       # handle
    cv.frame(x0 + 4, y0 - 3, x1 - 4, y0 - 2, BLACK)
    cv.panel(x0 - 1, y0 - 1, x1 + 1, y0 + 2, SILVER)     # lid
    top = y0 + 3
    for y in range(top, y1 + 1):                         # body narrows downward
        inset = (y - top) // 6
        left, right = x0 + inset, x1 - inset
        cv.fill(left, y, right, y, SILVER)
        cv.dot(left + 1, y, WHITE)
        for x in range(left + 3, right - 1, 3):          # ribs
            cv.dot(x, y, GRAY)
        cv.dot(left, y, BLACK)
        cv.dot(right, y, BLACK)
    inset = (y1 - top) // 6
    cv.fill(x0 + inset, y1, x1 - inset, y1, BLACK)


def main_icon():
    cv = Canvas()
    computer(cv)
    software_box(cv, 18, 15, 27, 30)
    diskette(cv, 1, 18)
    return cv


def uninstall_icon():
    cv = Canvas()
    software_box(cv, 1, 10, 12, 29)
    waste_bin(cv, 19, 9, 30, 30)
    return cv


def ico_bytes(cv):
    """One 4-bit image with its AND mask, rows stored bottom-up."""
    xor_rows, and_rows = [], []
    for row in reversed(cv.px):
        nibbles = [0 if c is CLEAR else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is CLEAR else 0)
        and_rows.append(bits.to_bytes(SIZE // 8, "big"))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = (struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
             + palette + b"".join(xor_rows) + b"".join(and_rows))
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return header + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else here
    for name, cv in (("main.ico", main_icon()), ("uninstall.ico", uninstall_icon())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(ico_bytes(cv))


if __name__ == "__main__":
    main()

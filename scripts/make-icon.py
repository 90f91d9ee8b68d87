#!/usr/bin/env python3
"""Draws the application icon, a small printer with a sheet of paper, and
writes it as a Windows icon file (32x32 and 16x16, 32-bit colour with an AND
mask) to ui/marlet.ico, or to the path given as the first argument."""

import os
import struct
import sys

TRANSPARENT = (0, 0, 0, 0)
OUTLINE = (40, 44, 52, 255)
BODY = (150, 158, 172, 255)
BODY_LIGHT = (196, 202, 212, 255)
BODY_DARK = (104, 112, 126, 255)
PAPER = (250, 250, 250, 255)
INK = (70, 110, 190, 255)
SLOT = (30, 32, 38, 255)
LED = (40, 200, 70, 255)


def draw(size):
    """The icon as rows of RGBA pixels, top row first."""
    pixels = [[TRANSPARENT] * size for _ in range(size)]
    unit = size / 32.0

    def rect(x0, y0, x1, y1, colour):
        # Coordinates on a 32-unit grid, end exclusive.
        for y in range(int(round(y0 * unit)), int(round(y1 * unit))):
            for x in range(int(round(x0 * unit)), int(round(x1 * unit))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour

    def framed(x0, y0, x1, y1, fill):
        rect(x0, y0, x1, y1, OUTLINE)
        edge = 1 / unit  # one pixel at any size
        rect(x0 + edge, y0 + edge, x1 - edge, y1 - edge, fill)

    # The sheet standing out of the paper feed at the top.
    framed(9, 2, 23, 14, PAPER)
    if size >= 32:
        for y in (5, 8, 11):
            rect(11, y, 21, y + 1, INK)
    else:
        rect(11, 6, 21, 8, INK)
    # The body, with a lighter top face and a darker base.
    framed(3, 12, 29, 27, BODY)
    rect(4, 13, 28, 16, BODY_LIGHT)
    rect(4, 23, 28, 26, BODY_DARK)
    # The output slot with the printed sheet's edge, and the power lamp.
    rect(8, 19, 24, 21, SLOT)
    rect(10, 20, 22, 21, PAPER)
    rect(24, 14, 26, 16, LED)
    # Feet.
    rect(5, 27, 9, 29, OUTLINE)
    rect(23, 27, 27, 29, OUTLINE)
    return pixels


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "ui", "marlet.ico")
    sizes = (32, 16)
    images = [icon_image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(path, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the starter's icons and writes them as .ico files beside this script.

The icons are simple shapes, drawn pixel by pixel so that no image tool is
needed: run it again after changing a colour or a shape and commit the output.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def ico(images):
    """images: list of (size, pixels) with pixels[y][x] = (r, g, b, a)."""
    head = struct.pack("<HHH", 0, 1, len(images))
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, px in images:
        mask_row = ((size + 31) // 32) * 4
        bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                          size * size * 4 + mask_row * size, 0, 0, 0, 0)
        for y in range(size - 1, -1, -1):  # bottom-up rows, BGRA
            for x in range(size):
                r, g, b, a = px[y][x]
                bmp += bytes((b, g, r, a))
        for y in range(size - 1, -1, -1):  # AND mask: 1 = transparent
            row = bytearray(mask_row)
            for x in range(size):
                if px[y][x][3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            bmp += bytes(row)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(bmp), offset)
        blobs += bmp
        offset += len(bmp)
    return head + entries + blobs


def disc(size, fill, mark=(255, 255, 255)):
    """A filled circle with a white arrow pointing right (the starter's mark)."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    c = (size - 1) / 2.0
    rad = size / 2.0 - 0.5
    for y in range(size):
        for x in range(size):
            if math.hypot(x - c, y - c) <= rad:
                px[y][x] = fill + (255,)
    # arrow: a triangle in the middle
    s = size / 16.0
    for y in range(size):
        for x in range(size):
            dx, dy = (x - c) / s, (y - c) / s
            if -2.5 <= dx <= 3.5 and abs(dy) <= (3.5 - dx) * 0.75 and abs(dy) <= 3.5:
                px[y][x] = mark + (255,)
    return px


def cross(size, colour):
    """The close glyph: a two-pixel-wide X on a transparent ground."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for i in range(size):
        for x in (i, size - 1 - i):
            px[i][x] = colour + (255,)
    return px


def write(name, images):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(ico(images))


def main():
    write("bootkin.ico", [(16, disc(16, (40, 110, 200))), (32, disc(32, (40, 110, 200)))])
    write("close.ico", [(8, cross(8, (64, 64, 64)))])
    write("small_default.ico", [(16, disc(16, (40, 110, 200)))])
    write("small_fernbrook.ico", [(16, disc(16, (46, 140, 70)))])
    write("small_pallida.ico", [(16, disc(16, (150, 120, 190)))])


if __name__ == "__main__":
    main()

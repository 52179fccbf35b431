#!/usr/bin/env python3
"""Draws the updater's icon (a download arrow on a blue disc) into a .ico with 16, 32 and
48 pixel images, so the art lives as code and is rebuilt with the program."""
import math
import struct
import sys


def pixel(size, x, y):
    c = (size - 1) / 2.0
    r = size / 2.0 - 0.5
    dx, dy = x - c, y - c
    d = math.hypot(dx, dy)
    if d > r:
        return (0, 0, 0, 0)
    # Disc: a vertical gradient from light to deep blue, with a darker rim.
    t = y / max(1, size - 1)
    blue = (int(70 + 40 * (1 - t)), int(150 + 60 * (1 - t)), 235, 255)
    if d > r - max(1.0, size / 16):
        blue = (20, 73, 142, 255)
    # Arrow: a shaft and a head pointing down, and a bar below it.
    u, v = dx / size, dy / size
    shaft = abs(u) < 0.09 and -0.30 < v < 0.05
    head = v >= 0.05 and v < 0.25 and abs(u) < (0.25 - v) * 1.2
    bar = abs(u) < 0.26 and 0.28 < v < 0.34
    if shaft or head or bar:
        return (255, 255, 255, 255)
    return blue


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as BMP rows are stored
        row = b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in (pixel(size, x, y) for x in range(size)))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\x00" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])

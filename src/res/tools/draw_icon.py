#!/usr/bin/env python3
"""Draws the program icon (a shield with a check mark on a blue tile) as a multi-size .ico.

    python3 draw_icon.py assistant.ico
"""
import struct
import sys


def inside_shield(x, y):
    # Unit coordinates: flat top, sides that curve in to a point at the bottom.
    if y < 0.12 or y > 0.92:
        return False
    half = 0.34 if y < 0.5 else 0.34 * (1 - ((y - 0.5) / 0.42) ** 1.6)
    return abs(x - 0.5) <= half


def near_check(x, y, width):
    def near(ax, ay, bx, by):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= width * width
    return near(0.33, 0.5, 0.46, 0.64) or near(0.46, 0.64, 0.69, 0.36)


def pixel(size, col, row):
    x, y = (col + 0.5) / size, (row + 0.5) / size
    margin = 0.04
    corner = 0.18
    cx = min(max(x, margin + corner), 1 - margin - corner)
    cy = min(max(y, margin + corner), 1 - margin - corner)
    if (x - cx) ** 2 + (y - cy) ** 2 > corner * corner:
        return (0, 0, 0, 0)
    if inside_shield(x, y):
        if near_check(x, y, 0.055):
            return (40, 150, 70, 255)
        return (250, 250, 250, 255)
    shade = int(40 * y)
    return (20, 100 - shade, 200 - shade, 255)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for row in reversed(range(size)):  # bottom-up
        for col in range(size):
            r, g, b, a = pixel(size, col, row)
            rows.append(struct.pack("BBBB", b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_stride * size)


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])

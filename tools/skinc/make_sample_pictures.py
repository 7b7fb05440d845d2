#!/usr/bin/env python3
"""Draws the PNG pictures of the sample skin (data/skins/src/pictures) with 4x4 supersampling."""
import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, pixels):
    raw = b"".join(b"\0" + bytes(pixels[y * width * 4:(y + 1) * width * 4]) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def render(width, height, shade):
    """shade(x, y) -> (r, g, b, a) in 0..1 at a sample point; averaged over 16 samples."""
    out = []
    for y in range(height):
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(4):
                for sx in range(4):
                    r, g, b, a = shade(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / 16
            if a > 0:
                rgb = [min(255, round(255 * c / acc[3])) for c in acc[:3]]
            else:
                rgb = [0, 0, 0]
            out += rgb + [round(255 * a)]
    return out


def rounded_box(px, py, x0, y0, x1, y1, radius):
    cx = min(max(px, x0 + radius), x1 - radius)
    cy = min(max(py, y0 + radius), y1 - radius)
    return math.hypot(px - cx, py - cy) - radius  # < 0 inside


def row_background(x, y):
    d = rounded_box(x, y, 0.5, 0.5, 31.5, 31.5, 9)
    if d > 0:
        return (0, 0, 0, 0)
    if d > -2:
        return (0.44, 0.63, 0.85, 1)
    t = y / 32
    return (0.16 + 0.06 * t, 0.30 + 0.05 * t, 0.48 + 0.06 * t, 1)


def icon(x, y):
    if (x - 12) ** 2 + (y - 12) ** 2 > 11 ** 2:
        return (0, 0, 0, 0)
    if rounded_box(x, y, 9.5, 5, 14.5, 14, 2.5) < 0 or (11 <= x <= 13 and 14 <= y <= 18.5):
        return (1, 1, 1, 1)
    return (0.85, 0.23, 0.23, 1)


def screen_background(x, y):
    t = y / 64
    return (0.11 + 0.12 * t, 0.13 + 0.16 * t, 0.19 + 0.21 * t, 1)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "..", "data", "skins", "src", "pictures")
    os.makedirs(folder, exist_ok=True)
    write_png(os.path.join(folder, "row_bg.png"), 32, 32, render(32, 32, row_background))
    write_png(os.path.join(folder, "icon.png"), 24, 24, render(24, 24, icon))
    write_png(os.path.join(folder, "screen_bg.png"), 16, 64, render(16, 64, screen_background))


if __name__ == "__main__":
    main()

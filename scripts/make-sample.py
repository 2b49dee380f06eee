#!/usr/bin/env python3
"""Writes docs/sample.png, the picture the README's main job rounds: a colour
wheel of hues across, light to dark down, a checkerboard over it and a dark
frame, so that the cut corners and their edge show plainly. Run once; the PNG
is kept in the repository."""
import colorsys
import struct
import sys
import zlib

WIDTH, HEIGHT = 480, 320
FRAME, SQUARE = 8, 40


def pixel(x, y):
    if x < FRAME or y < FRAME or x >= WIDTH - FRAME or y >= HEIGHT - FRAME:
        return (30, 34, 48)
    hue = x / WIDTH
    value = 1.0 - 0.45 * y / HEIGHT
    saturation = 0.55 if ((x // SQUARE) + (y // SQUARE)) % 2 else 0.8
    return tuple(round(255 * c) for c in colorsys.hsv_to_rgb(hue, saturation, value))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main(path):
    rows = b"".join(b"\0" + bytes(c for x in range(WIDTH) for c in pixel(x, y)) for y in range(HEIGHT))
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 2, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs/sample.png")

#!/usr/bin/env python3
"""Writes an RGBA PNG of four coloured quadrants for the image tests (Python standard library only).

usage: make_test_png.py OUTPUT WIDTH HEIGHT

Top left red, top right blue, bottom left green, bottom right white; all opaque. The PNG is built
from its chunks with zlib, independently of the image library that the service uses.
"""

import struct
import sys
import zlib

RED = (255, 0, 0, 255)
BLUE = (0, 0, 255, 255)
GREEN = (0, 255, 0, 255)
WHITE = (255, 255, 255, 255)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def quadrant_rows(width, height):
    rows = []
    for y in range(height):
        row = bytearray([0])  # filter type 0 (None)
        for x in range(width):
            left = x < width // 2
            top = y < height // 2
            row += bytes(RED if top and left else BLUE if top else GREEN if left else WHITE)
        rows.append(bytes(row))
    return b"".join(rows)


def main():
    output, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
           chunk(b"IDAT", zlib.compress(quadrant_rows(width, height), 9)) + chunk(b"IEND", b""))
    with open(output, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()

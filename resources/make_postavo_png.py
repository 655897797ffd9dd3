#!/usr/bin/python3
"""Writes resources/postavo.png, the mailer's window icon: a 32x32 envelope on a blue tile.

Only the standard library is used (zlib and struct), so the icon can be made again on any
machine: /usr/bin/python3 resources/make_postavo_png.py
"""
import os
import struct
import zlib

SIZE = 32
BLUE = (30, 90, 170, 255)
PAPER = (250, 248, 240, 255)
INK = (40, 40, 60, 255)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    # A rounded tile, an envelope on it, and the flap drawn as two diagonals.
    corner = 4
    dx = min(x, SIZE - 1 - x)
    dy = min(y, SIZE - 1 - y)
    if dx < corner and dy < corner and (corner - dx) ** 2 + (corner - dy) ** 2 > corner**2:
        return CLEAR
    left, right, top, bottom = 5, 26, 9, 23
    if left <= x <= right and top <= y <= bottom:
        if x in (left, right) or y in (top, bottom):
            return INK
        # The flap: from both upper corners down to the middle.
        half = (right - left) / 2.0
        mid = left + half
        depth = (bottom - top) * 0.6
        fy = top + depth * (1 - abs(x - mid) / half)
        if abs(y - fy) < 0.8:
            return INK
        return PAPER
    return BLUE


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(rows, 9))
    png += chunk(b"IEND", b"")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "postavo.png")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the 15 x 15 status lamps as PNG: green pressed (or keyed), red
released, grey for an output that cannot key.

Run from this folder; the PNGs are kept in the tree, so the build needs no
Python. A round lamp with a grey rim, a light highlight towards the upper
left and transparent surroundings.
"""
import math
import struct
import zlib

SIZE = 15
TONES = {
    # light, body, shade, dark
    "green": ((0x3E, 0xE9, 0x3E), (0x1C, 0xAF, 0x1C), (0x1C, 0xAF, 0xAF), (0x00, 0x79, 0x79)),
    "red": ((0xFF, 0x1E, 0x9A), (0xBE, 0x00, 0x68), (0xBE, 0x56, 0x00), (0x67, 0x2E, 0x00)),
    "grey": ((0xD8, 0xD8, 0xD8), (0xA8, 0xA8, 0xA8), (0x80, 0x80, 0x80), (0x58, 0x58, 0x58)),
}
RIM = (0x80, 0x80, 0x80)
HIGHLIGHT = (0xF0, 0xF0, 0xF0)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def pixel(x, y, tones):
    light, body, shade, dark = tones
    cx = cy = (SIZE - 1) / 2
    r = math.hypot(x - cx, y - cy)
    if r > 7.2:
        return (0, 0, 0, 0)
    if r > 6.2:
        return RIM + (255,)
    # distance from the light source at the upper left
    d = math.hypot(x - 4.5, y - 4.5) / 9.0
    if math.hypot(x - 4.5, y - 4.5) < 1.6:
        colour = HIGHLIGHT
    elif d < 0.35:
        colour = mix(light, body, d / 0.35)
    elif d < 0.8:
        colour = mix(body, shade, (d - 0.35) / 0.45)
    else:
        colour = mix(shade, dark, min(1.0, (d - 0.8) / 0.4))
    return colour + (255,)


def png(path, tones):
    rows = b""
    for y in range(SIZE):
        rows += b"\x00" + b"".join(bytes(pixel(x, y, tones)) for x in range(SIZE))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


for name, tones in TONES.items():
    png(f"lamps/{name}.png", tones)

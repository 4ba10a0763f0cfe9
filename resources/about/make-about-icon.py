#!/usr/bin/env python3
"""Draws the About window's 32 x 32 picture as a 16-colour indexed PNG.

Run from this folder; the PNG is kept in the tree, so the build needs no
Python. A small white building with a dark-magenta doorway under a cyan
roof edge, with a green and a yellow slab floating above it, on a
transparent ground. Only colours of the classic 16-colour palette are used.
"""
import struct
import zlib

SIZE = 32
PALETTE = [
    (0x00, 0x00, 0x00),  # . transparent (index 0)
    (0x00, 0x00, 0x00),  # k black
    (0xFF, 0xFF, 0xFF),  # w white
    (0xC0, 0xC0, 0xC0),  # s silver
    (0x80, 0x80, 0x80),  # g grey
    (0x80, 0x00, 0x80),  # m dark magenta
    (0x00, 0xFF, 0xFF),  # c cyan
    (0x00, 0x80, 0x80),  # t teal
    (0xFF, 0xFF, 0x00),  # y yellow
    (0x80, 0x80, 0x00),  # o olive
    (0x00, 0xFF, 0x00),  # l lime green
    (0x00, 0x80, 0x00),  # d dark green
]
CODES = ".kwsgmctyold"

ROWS = [
    "................................",
    "................................",
    "................................",
    "..........kkkkkkkkkkkk..........",
    ".........kyyyyyyyyyyyyk.........",
    "........kyyyyyyyyyyyyyyk........",
    "........kooooooooooooook........",
    ".........kkkkkkkkkkkkkk.........",
    "................................",
    "........kkkkkkkkkkkkkkkk........",
    ".......kllllllllllllllllk.......",
    "......kllllllllllllllllllk......",
    "......kddddddddddddddddddk......",
    ".......kkkkkkkkkkkkkkkkkk.......",
    "................................",
    "........kkkkkkkkkkkkkkkk........",
    "......kkcccccccccccccccckk......",
    "....kkcccccccccccccccccccckk....",
    "...kcccccccccccccccccccccccck...",
    "...kttttttttttttttttttttttttk...",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "......kwwwwwwwwwwwwwwwwwwsk.....",
    "......kwwssswwwwwwwwssswwsk.....",
    "......kwwsgswwwwwwwwsgswwsk.....",
    "......kwwssswwkkkkwwssswwsk.....",
    "......kwwwwwwwkmmkwwwwwwwsk.....",
    "......kwwwwwwwkmmkwwwwwwwsk.....",
    "......kwwwwwwwkmmkwwwwwwwsk.....",
    "......kwwwwwwwkmmkwwwwwwwsk.....",
    "......kkkkkkkkkkkkkkkkkkkkk.....",
    "................................",
    "................................",
]


def index(code):
    return CODES.index(code)


def png(path):
    assert len(ROWS) == SIZE and all(len(row) == SIZE for row in ROWS)
    raw = b""
    for row in ROWS:
        raw += b"\x00"
        for x in range(0, SIZE, 2):
            raw += bytes([(index(row[x]) << 4) | index(row[x + 1])])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(colour) for colour in PALETTE)
    trns = b"\x00"  # index 0 is see-through, every other entry opaque
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) + chunk(b"tRNS", trns)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


png("abouticon.png")

#!/usr/bin/env python3
"""Turn a text picture of a 32x32 tray icon into a .ico file (or a PNG preview).

Usage:
    python3 tools/mkicon.py input.txt output.ico
    python3 tools/mkicon.py --png input.txt output.png

A source file holds comment lines starting with '#', then exactly 32 rows of
32 characters, one character per pixel.  Blank lines are ignored.  The
characters name the colours of the standard 16-colour Windows palette:

    .  transparent             K  black (0)
    r  dark red (1)            R  red (9)
    g  dark green (2)          G  green (10)
    y  dark yellow (3)         Y  yellow (11)
    b  dark blue (4)           B  blue (12)
    m  dark magenta (5)        M  magenta (13)
    c  dark cyan (6)           C  cyan (14)
    L  light grey (7)          D  dark grey (8)
    W  white (15)

A picture that uses colours is written as one 4-bit image with the 16-colour
palette.  A picture that is transparent everywhere is written as a 1-bit,
2-colour image whose AND mask hides every pixel.

The .ico holds an ICONDIR, one ICONDIRENTRY and one DIB: a BITMAPINFOHEADER
whose height counts both the XOR image and the AND mask, the palette, the
XOR image bottom-up, and the AND mask bottom-up (1 = transparent).  The
preview PNG is drawn 8 times larger, transparent pixels as a grey checker.
"""

import struct
import sys
import zlib

SIZE = 32

# (character, (red, green, blue)) in palette-index order.
PALETTE = [
    ("K", (0x00, 0x00, 0x00)),
    ("r", (0x80, 0x00, 0x00)),
    ("g", (0x00, 0x80, 0x00)),
    ("y", (0x80, 0x80, 0x00)),
    ("b", (0x00, 0x00, 0x80)),
    ("m", (0x80, 0x00, 0x80)),
    ("c", (0x00, 0x80, 0x80)),
    ("L", (0xC0, 0xC0, 0xC0)),
    ("D", (0x80, 0x80, 0x80)),
    ("R", (0xFF, 0x00, 0x00)),
    ("G", (0x00, 0xFF, 0x00)),
    ("Y", (0xFF, 0xFF, 0x00)),
    ("B", (0x00, 0x00, 0xFF)),
    ("M", (0xFF, 0x00, 0xFF)),
    ("C", (0x00, 0xFF, 0xFF)),
    ("W", (0xFF, 0xFF, 0xFF)),
]
TRANSPARENT = "."
COLOUR_INDEX = {ch: i for i, (ch, _) in enumerate(PALETTE)}

PREVIEW_SCALE = 8
CHECKER_LIGHT = (0xE0, 0xE0, 0xE0)
CHECKER_DARK = (0xC8, 0xC8, 0xC8)


class SourceError(Exception):
    pass


def parse_picture(text, name="<source>"):
    """Return the picture as a list of 32 strings of 32 legend characters."""
    rows = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.rstrip("\r\n")
        if line.startswith("#") or not line.strip():
            continue
        if len(line) != SIZE:
            raise SourceError("%s:%d: row has %d characters, expected %d"
                              % (name, number, len(line), SIZE))
        for column, ch in enumerate(line, 1):
            if ch != TRANSPARENT and ch not in COLOUR_INDEX:
                raise SourceError("%s:%d:%d: unknown pixel character %r"
                                  % (name, number, column, ch))
        rows.append(line)
    if len(rows) != SIZE:
        raise SourceError("%s: found %d pixel rows, expected %d"
                          % (name, len(rows), SIZE))
    return rows


def _and_mask(rows):
    # Each mask row is 32 bits, already a whole DWORD.
    data = bytearray()
    for row in reversed(rows):
        bits = 0
        for ch in row:
            bits = (bits << 1) | (1 if ch == TRANSPARENT else 0)
        data += struct.pack(">I", bits)
    return bytes(data)


def _xor_4bit(rows):
    # Transparent pixels carry colour 0 so that the screen shows through
    # unchanged where the AND mask is set.
    data = bytearray()
    for row in reversed(rows):
        indices = [COLOUR_INDEX.get(ch, 0) for ch in row]
        for i in range(0, SIZE, 2):
            data.append((indices[i] << 4) | indices[i + 1])
    return bytes(data)


def build_ico(rows):
    """Return the bytes of a single-image .ico for the picture."""
    blank = all(ch == TRANSPARENT for row in rows for ch in row)
    if blank:
        bit_count = 1
        palette = [(0, 0, 0), (0xFF, 0xFF, 0xFF)]
        xor = bytes(SIZE * 4)
    else:
        bit_count = 4
        palette = [rgb for _, rgb in PALETTE]
        xor = _xor_4bit(rows)
    mask = _and_mask(rows)

    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bit_count,
                         0, len(xor) + len(mask), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for (r, g, b) in palette)
    image = header + colours + xor + mask

    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, len(palette), 0, 1,
                        bit_count, len(image), 6 + 16)
    return icondir + entry + image


def _png_chunk(kind, payload):
    return (struct.pack(">I", len(payload)) + kind + payload
            + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF))


def build_png(rows, scale=PREVIEW_SCALE):
    """Return the bytes of an enlarged RGB preview of the picture."""
    colours = {ch: rgb for ch, rgb in PALETTE}
    width = SIZE * scale
    raw = bytearray()
    for y in range(width):
        raw.append(0)  # filter type: none
        row = rows[y // scale]
        for x in range(width):
            ch = row[x // scale]
            if ch == TRANSPARENT:
                light = ((x // scale) + (y // scale)) % 2 == 0
                raw += bytes(CHECKER_LIGHT if light else CHECKER_DARK)
            else:
                raw += bytes(colours[ch])
    ihdr = struct.pack(">IIBBBBB", width, width, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _png_chunk(b"IHDR", ihdr)
            + _png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _png_chunk(b"IEND", b""))


def main(argv):
    args = argv[1:]
    png = False
    if args and args[0] == "--png":
        png = True
        args = args[1:]
    if len(args) != 2:
        sys.stderr.write("usage: mkicon.py [--png] input.txt output\n")
        return 2
    source, target = args
    try:
        with open(source, encoding="ascii") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        sys.stderr.write("mkicon: cannot read %s: %s\n" % (source, e))
        return 1
    try:
        rows = parse_picture(text, source)
    except SourceError as e:
        sys.stderr.write("mkicon: %s\n" % e)
        return 1
    data = build_png(rows) if png else build_ico(rows)
    try:
        with open(target, "wb") as f:
            f.write(data)
    except OSError as e:
        sys.stderr.write("mkicon: cannot write %s: %s\n" % (target, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

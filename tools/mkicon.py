#!/usr/bin/env python3
"""Turn a text picture of a 32x32 tray icon into a .ico file (or a PNG preview).

Usage:
    python3 tools/mkicon.py input.txt output.ico
    python3 tools/mkicon.py --png [--size N] input.txt output.png

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

The .ico holds the picture at every size the tray may ask for at 100 to
300 % scaling (SIZES: 16, 20, 24, 32, 40 and 48 pixels), each in the same
form: an ICONDIR, one ICONDIRENTRY per size, and per size one DIB: a
BITMAPINFOHEADER whose height counts both the XOR image and the AND mask,
the palette, the XOR image bottom-up, and the AND mask bottom-up
(1 = transparent).  The 32-pixel image is the drawing itself; the others
are drawn from it by resample(), which keeps to the 16 colours and keeps
the outline, so no size is blurred.  The preview PNG is drawn 8 times
larger, transparent pixels as a grey checker.
"""

import struct
import sys
import zlib

SIZE = 32
SIZES = (16, 20, 24, 32, 40, 48)

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


def resample(rows, size):
    """Return the picture redrawn at size x size pixels.

    Each new pixel takes the colour that covers most of its area in the
    drawing, a colour counted the more the rarer it is in the whole picture:
    thin details (the outline, the eyes, the mouth) then survive a shrink
    that plain majority would fill with the face's yellow, and no colour
    outside the palette appears.
    """
    if size == SIZE:
        return list(rows)
    frequency = {}
    for row in rows:
        for ch in row:
            frequency[ch] = frequency.get(ch, 0) + 1
    out = []
    for y in range(size):
        top, bottom = y * SIZE / size, (y + 1) * SIZE / size
        line = []
        for x in range(size):
            left, right = x * SIZE / size, (x + 1) * SIZE / size
            weight = {}
            for sy in range(int(top), min(SIZE, int(-(-bottom // 1)))):
                h = min(bottom, sy + 1) - max(top, sy)
                for sx in range(int(left), min(SIZE, int(-(-right // 1)))):
                    w = min(right, sx + 1) - max(left, sx)
                    ch = rows[sy][sx]
                    weight[ch] = weight.get(ch, 0) + h * w / frequency[ch] ** 0.5
            # Ties go to the palette's order, transparency last: the result
            # does not hang on the order of a dictionary.
            line.append(max(weight, key=lambda c: (round(weight[c], 9),
                                                   -COLOUR_INDEX.get(c, 99))))
        out.append("".join(line))
    return out


def _and_mask(rows):
    # Each mask row is padded to whole DWORDs.
    size = len(rows)
    stride = (size + 31) // 32 * 4
    data = bytearray()
    for row in reversed(rows):
        bits = 0
        for ch in row:
            bits = (bits << 1) | (1 if ch == TRANSPARENT else 0)
        data += (bits << (stride * 8 - size)).to_bytes(stride, "big")
    return bytes(data)


def _xor_4bit(rows):
    # Transparent pixels carry colour 0 so that the screen shows through
    # unchanged where the AND mask is set. Rows are padded to whole DWORDs.
    size = len(rows)
    stride = (size * 4 + 31) // 32 * 4
    data = bytearray()
    for row in reversed(rows):
        indices = [COLOUR_INDEX.get(ch, 0) for ch in row] + [0]
        line = bytearray((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        data += line + bytes(stride - len(line))
    return bytes(data)


def _image(rows, blank):
    size = len(rows)
    if blank:
        bit_count = 1
        palette = [(0, 0, 0), (0xFF, 0xFF, 0xFF)]
        xor = bytes((size + 31) // 32 * 4 * size)
    else:
        bit_count = 4
        palette = [rgb for _, rgb in PALETTE]
        xor = _xor_4bit(rows)
    mask = _and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bit_count,
                         0, len(xor) + len(mask), 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for (r, g, b) in palette)
    return bit_count, len(palette), header + colours + xor + mask


def build_ico(rows, sizes=SIZES):
    """Return the bytes of a .ico with the picture at each of the sizes."""
    blank = all(ch == TRANSPARENT for row in rows for ch in row)
    images = [(size,) + _image(resample(rows, size), blank) for size in sizes]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, bit_count, colours, image in images:
        directory += struct.pack("<BBBBHHII", size, size, colours, 0, 1,
                                 bit_count, len(image), offset)
        offset += len(image)
    return directory + b"".join(image for _, _, _, image in images)


def _png_chunk(kind, payload):
    return (struct.pack(">I", len(payload)) + kind + payload
            + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF))


def build_png(rows, scale=PREVIEW_SCALE):
    """Return the bytes of an enlarged RGB preview of the picture."""
    colours = {ch: rgb for ch, rgb in PALETTE}
    width = len(rows) * scale
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
    size = SIZE
    if args and args[0] == "--png":
        png = True
        args = args[1:]
        if len(args) > 1 and args[0] == "--size" and args[1].isdigit():
            size = int(args[1])
            args = args[2:]
    if len(args) != 2:
        sys.stderr.write("usage: mkicon.py [--png [--size N]] input.txt output\n")
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
    data = build_png(resample(rows, size)) if png else build_ico(rows)
    try:
        with open(target, "wb") as f:
            f.write(data)
    except OSError as e:
        sys.stderr.write("mkicon: cannot write %s: %s\n" % (target, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Draw the 300x150 title picture of the splash window as a 24-bit BMP.

Usage:
    python3 tools/mktitle.py output.bmp
    python3 tools/mktitle.py --png output.png
    python3 tools/mktitle.py [--png] --cat resources/icons/app.txt output

The picture is composed from sources in the repository only: the cat of the
tray icon (resources/icons/app.txt, see tools/mkicon.py) enlarged four
times and sitting on a cushion, a sky with two clouds, a letter flying past,
the name "Kivvet" and an "LE" badge drawn with the small pixel font below,
and the version line (major.minor, read from resources/version.h).  The BMP goes into the resource library KivvetLE.dll
as the bitmap "TITLE"; the PNG is a preview at the same size for looking at
the picture while changing it.

The BMP is a BITMAPFILEHEADER, a 40-byte BITMAPINFOHEADER, no palette, and
the pixels bottom-up as blue, green, red (each row 900 bytes, already a
multiple of four).
"""

import os
import re
import struct
import sys
import zlib

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mkicon  # noqa: E402  (the cat's picture and its palette)

WIDTH = 300
HEIGHT = 150
CAT_SCALE = 4
DEFAULT_CAT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "..", "resources", "icons", "app.txt")
VERSION_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                              "..", "resources", "version.h")


def read_version(path=VERSION_HEADER):
    """'Version major.minor' from the #define lines of resources/version.h."""
    with open(path, encoding="utf-8") as header:
        text = header.read()
    numbers = []
    for part in ("MAJOR", "MINOR"):
        found = re.search(r"^#define KIVVET_VERSION_%s (\d+)\s*$" % part, text, re.M)
        if not found:
            raise ValueError("%s: no KIVVET_VERSION_%s" % (path, part))
        numbers.append(str(int(found.group(1))))
    return "Version " + ".".join(numbers)


VERSION = read_version()

# Where things stand, in pixels from the upper-left corner.
CAT_LEFT = 10          # left edge of the enlarged 32x32 icon
CAT_TOP = 14           # top edge of the enlarged icon (its first two rows are empty)
TEXT_LEFT = 150        # left edge of the name, the badge and the version

SKY_TOP = (0x8E, 0xCB, 0xF5)
SKY_BOTTOM = (0xFF, 0xF4, 0xDC)
CLOUD = (0xFF, 0xFF, 0xFF)
CUSHION = (0xF2, 0x8F, 0xA6)
CUSHION_DARK = (0xC2, 0x5A, 0x78)
CUSHION_LIGHT = (0xF9, 0xC2, 0xCF)
NAME_FILL = (0xFF, 0xD0, 0x2A)
NAME_SHADE = (0xE8, 0x9A, 0x10)
INK = (0x20, 0x20, 0x30)
BADGE = (0xE0, 0x45, 0x3A)
WHITE = (0xFF, 0xFF, 0xFF)
NAVY = (0x2A, 0x3C, 0x78)
LETTER_PAPER = (0xFF, 0xFF, 0xF4)
LETTER_RED = (0xE0, 0x30, 0x30)

# A proportional pixel font, seven rows high; "#" is ink.  Lower-case
# letters use rows 2..6.  Only the characters the picture needs, plus the
# digits and a few more, so that a new version number needs no drawing.
FONT = {
    " ": ["...", "...", "...", "...", "...", "...", "..."],
    ".": [".", ".", ".", ".", ".", ".", "#"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": ["#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": ["..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."],
    "E": ["####", "#...", "#...", "###.", "#...", "#...", "####"],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#...", "#...", "#...", "#...", "#...", "#...", "####"],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "e": ["....", "....", ".##.", "#..#", "####", "#...", ".###"],
    "i": [".", "#", ".", "#", "#", "#", "#"],
    "n": ["....", "....", "###.", "#..#", "#..#", "#..#", "#..#"],
    "o": ["....", "....", ".##.", "#..#", "#..#", "#..#", ".##."],
    "r": ["....", "....", "#.##", "##..", "#...", "#...", "#..."],
    "s": ["....", "....", ".###", "#...", ".##.", "...#", "###."],
    "t": [".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"],
    "v": [".....", ".....", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
}
FONT_HEIGHT = 7


class PictureError(Exception):
    pass


class Canvas:
    """A picture of RGB triples, row by row from the top."""

    def __init__(self, width, height, colour=(0, 0, 0)):
        self.width = width
        self.height = height
        self.pixels = [[colour] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = mix(self.pixels[y][x], colour, alpha)

    def rect(self, left, top, width, height, colour):
        for y in range(top, top + height):
            for x in range(left, left + width):
                self.put(x, y, colour)

    def ellipse(self, cx, cy, rx, ry, colour, alpha=1.0):
        for y in range(int(cy - ry) - 1, int(cy + ry) + 2):
            for x in range(int(cx - rx) - 1, int(cx + rx) + 2):
                if ((x + 0.5 - cx) / rx) ** 2 + ((y + 0.5 - cy) / ry) ** 2 <= 1.0:
                    self.blend(x, y, colour, alpha)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def text_width(text, scale):
    """Width in pixels of a text drawn with the pixel font."""
    glyphs = [glyph(ch) for ch in text]
    if not glyphs:
        return 0
    return (sum(len(g[0]) for g in glyphs) + len(glyphs) - 1) * scale


def glyph(ch):
    try:
        return FONT[ch]
    except KeyError:
        raise PictureError("the pixel font has no character %r" % ch)


def text_mask(text, scale):
    """The set of (x, y) pixels that the text covers, from its upper-left corner."""
    mask = set()
    left = 0
    for ch in text:
        rows = glyph(ch)
        for gy, row in enumerate(rows):
            for gx, cell in enumerate(row):
                if cell == "#":
                    for dy in range(scale):
                        for dx in range(scale):
                            mask.add((left + gx * scale + dx, gy * scale + dy))
        left += (len(rows[0]) + 1) * scale
    return mask


def draw_text(canvas, text, left, top, scale, fill, outline=None, thickness=0,
              shade=None, shadow=None):
    """Draw a text; with an outline of the given thickness around it, the
    lower part of each stroke in shade, and a soft shadow under it all."""
    mask = text_mask(text, scale)
    grown = set(mask)
    if outline is not None:
        for (x, y) in mask:
            for dy in range(-thickness, thickness + 1):
                for dx in range(-thickness, thickness + 1):
                    grown.add((x + dx, y + dy))
    if shadow is not None:
        for (x, y) in grown:
            canvas.blend(left + x + 2, top + y + 3, shadow, 0.35)
    if outline is not None:
        for (x, y) in grown:
            canvas.put(left + x, top + y, outline)
    height = FONT_HEIGHT * scale
    for (x, y) in mask:
        colour = fill
        if shade is not None and y >= height * 0.6:
            colour = shade
        canvas.put(left + x, top + y, colour)


def draw_background(canvas):
    for y in range(canvas.height):
        colour = mix(SKY_TOP, SKY_BOTTOM, y / (canvas.height - 1))
        for x in range(canvas.width):
            canvas.pixels[y][x] = colour
    # Two soft clouds, each a few overlapping discs.
    for (cx, cy, size) in ((214, 14, 1.0), (62, 14, 0.7)):
        for (dx, dy, r) in ((-14, 4, 9), (0, 0, 12), (14, 3, 10), (26, 6, 7)):
            canvas.ellipse(cx + dx * size, cy + dy * size, r * size * 1.3,
                           r * size, CLOUD, 0.75)
    # Sparkles: small plus signs.
    for (x, y) in ((282, 40), (100, 10), (288, 128), (272, 20)):
        for d in range(-2, 3):
            canvas.blend(x + d, y, WHITE, 0.9)
            canvas.blend(x, y + d, WHITE, 0.9)


def draw_cushion(canvas):
    cx, cy = CAT_LEFT + 16 * CAT_SCALE, CAT_TOP + 30 * CAT_SCALE - 2
    canvas.ellipse(cx + 3, cy + 6, 70, 14, INK, 0.18)          # its shadow
    canvas.ellipse(cx, cy, 70, 15, CUSHION_DARK)
    canvas.ellipse(cx, cy - 1, 68, 13, CUSHION)
    canvas.ellipse(cx - 20, cy - 6, 30, 4, CUSHION_LIGHT, 0.8)  # its shine


def draw_cat(canvas, rows):
    colours = {ch: rgb for ch, rgb in mkicon.PALETTE}
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            if ch == mkicon.TRANSPARENT:
                continue
            canvas.rect(CAT_LEFT + x * CAT_SCALE, CAT_TOP + y * CAT_SCALE,
                        CAT_SCALE, CAT_SCALE, colours[ch])


def draw_letter(canvas, left, top):
    """A small envelope with a red heart seal, flying in from the right."""
    w, h = 30, 20
    for i, length in enumerate((10, 16, 7)):
        y = top + 5 + i * 5
        for x in range(left + w + 3, left + w + 3 + length):
            canvas.blend(x, y, WHITE, 0.9)
    canvas.rect(left - 1, top - 1, w + 2, h + 2, INK)
    canvas.rect(left, top, w, h, LETTER_PAPER)
    # The flap: two lines from the upper corners to the middle.
    for i in range(w // 2):
        y = top + (i * (h - 8)) // (w // 2)
        canvas.put(left + i, y, INK)
        canvas.put(left + w - 1 - i, y, INK)
    heart = ["##.##", "#####", ".###.", "..#.."]
    for gy, row in enumerate(heart):
        for gx, cell in enumerate(row):
            if cell == "#":
                canvas.put(left + w // 2 - 2 + gx, top + h - 9 + gy, LETTER_RED)


def draw_badge(canvas, text, right, top):
    """A rounded red badge holding the text in white, its right edge at right."""
    scale = 3
    pad_x, pad_y = 7, 4
    width = text_width(text, scale) + 2 * pad_x
    height = FONT_HEIGHT * scale + 2 * pad_y
    left = right - width
    radius = 6
    for y in range(height):
        for x in range(width):
            # Distance into a corner decides whether the pixel is inside.
            cx = min(x, width - 1 - x)
            cy = min(y, height - 1 - y)
            if cx < radius and cy < radius:
                if (radius - cx - 0.5) ** 2 + (radius - cy - 0.5) ** 2 > radius ** 2:
                    continue
                edge = (radius - cx - 0.5) ** 2 + (radius - cy - 0.5) ** 2 > (radius - 2) ** 2
            else:
                edge = cx < 2 or cy < 2
            canvas.blend(left + x + 2, top + y + 3, INK, 0.3)
            canvas.put(left + x, top + y, INK if edge else BADGE)
    draw_text(canvas, text, left + pad_x, top + pad_y, scale, WHITE)
    return left, width, height


def compose(rows):
    """The whole picture, from the cat's 32 rows of legend characters."""
    canvas = Canvas(WIDTH, HEIGHT)
    draw_background(canvas)
    draw_cushion(canvas)
    draw_cat(canvas, rows)
    draw_letter(canvas, 128, 2)

    name_scale = 4
    name_top = 28
    draw_text(canvas, "Kivvet", TEXT_LEFT, name_top, name_scale, NAME_FILL,
              outline=INK, thickness=3, shade=NAME_SHADE, shadow=INK)
    name_right = TEXT_LEFT + text_width("Kivvet", name_scale)
    draw_badge(canvas, "LE", name_right + 3, name_top + FONT_HEIGHT * name_scale + 10)
    draw_text(canvas, VERSION, TEXT_LEFT, 118, 2, NAVY)
    return canvas


def build_bmp(canvas):
    """The bytes of a 24-bit bottom-up BMP of the canvas."""
    stride = (canvas.width * 3 + 3) & ~3
    image = bytearray()
    for row in reversed(canvas.pixels):
        line = bytearray()
        for (r, g, b) in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        image += line
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24,
                       0, len(image), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    return header + info + bytes(image)


def build_png(canvas):
    raw = bytearray()
    for row in canvas.pixels:
        raw.append(0)
        for rgb in row:
            raw += bytes(rgb)
    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + mkicon._png_chunk(b"IHDR", ihdr)
            + mkicon._png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + mkicon._png_chunk(b"IEND", b""))


def main(argv):
    args = argv[1:]
    png = False
    cat = DEFAULT_CAT
    while args and args[0].startswith("--"):
        if args[0] == "--png":
            png = True
            args = args[1:]
        elif args[0] == "--cat" and len(args) > 1:
            cat = args[1]
            args = args[2:]
        else:
            break
    if len(args) != 1:
        sys.stderr.write("usage: mktitle.py [--png] [--cat picture.txt] output\n")
        return 2
    target = args[0]
    try:
        with open(cat, encoding="ascii") as f:
            rows = mkicon.parse_picture(f.read(), cat)
    except (OSError, UnicodeDecodeError) as e:
        sys.stderr.write("mktitle: cannot read %s: %s\n" % (cat, e))
        return 1
    except mkicon.SourceError as e:
        sys.stderr.write("mktitle: %s\n" % e)
        return 1
    try:
        canvas = compose(rows)
    except PictureError as e:
        sys.stderr.write("mktitle: %s\n" % e)
        return 1
    data = build_png(canvas) if png else build_bmp(canvas)
    try:
        with open(target, "wb") as f:
            f.write(data)
    except OSError as e:
        sys.stderr.write("mktitle: cannot write %s: %s\n" % (target, e))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

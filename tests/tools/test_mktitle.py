#!/usr/bin/env python3
"""Checks the title picture that tools/mktitle.py draws for KivvetLE.dll.

Run from anywhere:  python3 tests/tools/test_mktitle.py
The picture is built with the tool's command line, as the build does, and
read back with a BMP reader of its own here.
"""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "mktitle.py")
CAT = os.path.join(ROOT, "resources", "icons", "app.txt")

# Palette of the icon sources (resources/icons/legend.txt).
VGA = {"K": (0, 0, 0), "R": (255, 0, 0), "Y": (255, 255, 0), "W": (255, 255, 255)}


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL] + list(args),
                          capture_output=True, text=True)


def decode_bmp(data):
    """Return (fields, rows of (r, g, b)), top row first."""
    magic, size, _, _, offset = struct.unpack_from("<2sIHHI", data, 0)
    bi = struct.unpack_from("<IiiHHIIiiII", data, 14)
    fields = dict(magic=magic, size=size, offset=offset, bi_size=bi[0],
                  width=bi[1], height=bi[2], planes=bi[3], bits=bi[4],
                  compression=bi[5], image_size=bi[6], colours_used=bi[9])
    width, height = bi[1], abs(bi[2])
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        line = height - 1 - y if bi[2] > 0 else y
        base = offset + line * stride
        rows.append([(data[base + 3 * x + 2], data[base + 3 * x + 1], data[base + 3 * x])
                     for x in range(width)])
    return fields, rows


def cat_rows():
    with open(CAT) as f:
        return [l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")]


class TitlePicture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "title.bmp")
            result = run_tool(target)
            if result.returncode != 0:
                raise AssertionError(result.stderr)
            with open(target, "rb") as f:
                cls.data = f.read()
        cls.fields, cls.rows = decode_bmp(cls.data)

    def test_is_a_bottom_up_24bit_bmp_of_300_by_150(self):
        f = self.fields
        self.assertEqual((f["magic"], f["size"], f["offset"]), (b"BM", len(self.data), 54))
        self.assertEqual((f["bi_size"], f["width"], f["height"]), (40, 300, 150))
        self.assertEqual((f["planes"], f["bits"], f["compression"]), (1, 24, 0))
        self.assertEqual(f["image_size"], 300 * 3 * 150)
        self.assertEqual(len(self.data), 54 + 300 * 3 * 150)

    def test_sky_is_at_the_top(self):
        # A top-down image, or red and blue swapped, turns the sky upside
        # down or orange.
        top, bottom = self.rows[0][0], self.rows[-1][0]
        self.assertGreater(top[2], top[0] + 60, "top left %r is not sky blue" % (top,))
        self.assertGreater(bottom[0], bottom[2], "bottom left %r is not warm" % (bottom,))

    def test_cat_is_the_tray_icon_enlarged_four_times(self):
        # Every pixel of each 4x4 block has the icon's colour where the icon
        # is black, yellow or red; the cat stands whole inside the picture.
        left, top = 10, 14
        checked = 0
        for y, row in enumerate(cat_rows()):
            for x, ch in enumerate(row):
                if ch not in VGA:
                    continue
                for dy in range(4):
                    for dx in range(4):
                        self.assertEqual(self.rows[top + 4 * y + dy][left + 4 * x + dx],
                                         VGA[ch], "icon pixel %d,%d" % (x, y))
                checked += 1
        self.assertGreater(checked, 500)

    def test_name_and_version_leave_ink_right_of_the_cat(self):
        # The text area holds dark ink (outline and version) and the name's
        # yellow; a missing text would leave only sky there.
        area = [p for row in self.rows[20:140] for p in row[150:296]]
        dark = sum(1 for p in area if max(p) < 0x80)
        yellow = sum(1 for p in area if p[0] > 0xF0 and p[1] > 0xB0 and p[2] < 0x60)
        self.assertGreater(dark, 800)
        self.assertGreater(yellow, 300)

    def test_same_sources_give_the_same_bytes(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "again.bmp")
            self.assertEqual(run_tool(target).returncode, 0)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), self.data)


class Failures(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def test_broken_cat_is_refused_without_output(self):
        source = os.path.join(self.tmp.name, "cat.txt")
        with open(source, "w") as f:
            f.write("." * 32 + "\n")
        target = os.path.join(self.tmp.name, "title.bmp")
        result = run_tool("--cat", source, target)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("pixel rows", result.stderr)
        self.assertFalse(os.path.exists(target))

    def test_missing_cat_and_unwritable_output_are_reported(self):
        result = run_tool("--cat", os.path.join(self.tmp.name, "none.txt"),
                          os.path.join(self.tmp.name, "title.bmp"))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("none.txt", result.stderr)
        result = run_tool(os.path.join(self.tmp.name, "no", "such", "title.bmp"))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("cannot write", result.stderr)

    def test_text_the_font_cannot_draw_is_an_error(self):
        sys.path.insert(0, os.path.join(ROOT, "tools"))
        sys.dont_write_bytecode = True
        import mktitle
        with self.assertRaises(mktitle.PictureError):
            mktitle.text_width("Version 2.23β", 2)


class Version(unittest.TestCase):
    def test_version_line_is_major_minor_of_version_h(self):
        sys.path.insert(0, os.path.join(ROOT, "tools"))
        sys.dont_write_bytecode = True
        import mktitle
        with open(os.path.join(ROOT, "resources", "version.h"), encoding="utf-8") as f:
            header = f.read()
        major = re.search(r"^#define KIVVET_VERSION_MAJOR (\d+)$", header, re.M).group(1)
        minor = re.search(r"^#define KIVVET_VERSION_MINOR (\d+)$", header, re.M).group(1)
        self.assertEqual(mktitle.VERSION, "Version %s.%s" % (major, minor))
        text = re.search(r'^#define KIVVET_VERSION_TEXT "([0-9.]+)"$', header, re.M).group(1)
        self.assertTrue(text.startswith("%s.%s." % (major, minor)), text)

    def test_header_without_the_numbers_is_an_error(self):
        sys.path.insert(0, os.path.join(ROOT, "tools"))
        sys.dont_write_bytecode = True
        import mktitle
        with tempfile.TemporaryDirectory() as tmp:
            header = os.path.join(tmp, "version.h")
            with open(header, "w") as f:
                f.write("#define KIVVET_VERSION_MAJOR 2\n")
            with self.assertRaises(ValueError):
                mktitle.read_version(header)


class Preview(unittest.TestCase):
    def test_png_preview_has_the_size_of_the_picture(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "title.png")
            result = run_tool("--png", target)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(target, "rb") as f:
                data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack_from(">4sII", data, 12), (b"IHDR", 300, 150))


if __name__ == "__main__":
    unittest.main()

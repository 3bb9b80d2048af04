#!/usr/bin/env python3
"""Checks the tray icons that tools/mkicon.py builds from resources/icons.

Run from anywhere:  python3 tests/tools/test_mkicon.py
The icons are built with the tool's command line, as the build does, and read
back with a decoder of their own here, so a fault in the writer cannot hide
behind the same fault in the reader.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "mkicon.py")
ICONS = os.path.join(ROOT, "resources", "icons")
NAMES = ["app", "get", "blank", "voice1", "voice2", "nogood"]

# Palette index -> legend character, as documented in resources/icons/legend.txt.
LEGEND = "KrgybmcLDRGYBMCW"
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
       (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
       (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL] + list(args),
                          capture_output=True, text=True)


def source_rows(name):
    with open(os.path.join(ICONS, name + ".txt")) as f:
        return [l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")]


def decode_ico(data, index=3):
    """Return (fields, rows) of one image (default the 32x32 one), rows as
    legend characters, top row first."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    width, height, colours, _, planes, bits, size, offset = \
        struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
    bi = struct.unpack_from("<IiiHHIIiiII", data, offset)
    fields = dict(reserved=reserved, kind=kind, count=count, width=width,
                  height=height, colours=colours, planes=planes, bits=bits,
                  size=size, offset=offset, bi_size=bi[0], bi_width=bi[1],
                  bi_height=bi[2], bi_planes=bi[3], bi_bits=bi[4],
                  bi_compression=bi[5])
    n = bi[1]
    pos = offset + bi[0]
    ncolours = 1 << bi[4]
    palette = []
    for i in range(ncolours):
        b, g, r, _ = struct.unpack_from("<BBBB", data, pos + 4 * i)
        palette.append((r, g, b))
    fields["palette"] = palette
    pos += 4 * ncolours
    xor_stride = ((n * bi[4] + 31) // 32) * 4
    mask_stride = ((n + 31) // 32) * 4
    xor = data[pos:pos + xor_stride * n]
    mask = data[pos + xor_stride * n:pos + xor_stride * n + mask_stride * n]
    fields["mask"] = mask
    fields["xor"] = xor
    fields["end"] = pos + xor_stride * n + mask_stride * n
    rows = []
    for y in range(n):
        line = n - 1 - y  # bottom-up
        out = []
        for x in range(n):
            bit = (mask[line * mask_stride + x // 8] >> (7 - x % 8)) & 1
            if bit:
                out.append(".")
                continue
            if bi[4] == 4:
                byte = xor[line * xor_stride + x // 2]
                index = byte >> 4 if x % 2 == 0 else byte & 15
            else:
                byte = xor[line * xor_stride + x // 8]
                index = (byte >> (7 - x % 8)) & 1
            out.append(LEGEND[VGA.index(palette[index])])
        rows.append("".join(out))
    return fields, rows


class BuiltIcons(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.data = {}
        cls.pixels = {}
        for name in NAMES:
            target = os.path.join(cls.tmp.name, name + ".ico")
            result = run_tool(os.path.join(ICONS, name + ".txt"), target)
            if result.returncode != 0:
                raise AssertionError("%s: %s" % (name, result.stderr))
            with open(target, "rb") as f:
                cls.data[name] = f.read()
            cls.pixels[name] = decode_ico(cls.data[name])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_colour_icons_hold_a_4bit_image_at_every_tray_size(self):
        # Padded rows (20 and 40 pixels are no whole DWORD in the mask) and
        # the images packed end to end, the last one ending the file.
        for name in ["app", "get", "voice1", "voice2", "nogood"]:
            offset = 6 + 16 * 6
            for index, n in enumerate((16, 20, 24, 32, 40, 48)):
                with self.subTest(name, size=n):
                    f, rows = decode_ico(self.data[name], index)
                    image = 40 + 64 + (n * 4 + 31) // 32 * 4 * n + (n + 31) // 32 * 4 * n
                    self.assertEqual((f["reserved"], f["kind"], f["count"]), (0, 1, 6))
                    self.assertEqual((f["width"], f["height"], f["colours"]), (n, n, 16))
                    self.assertEqual((f["planes"], f["bits"]), (1, 4))
                    offset += image
                    self.assertEqual((f["size"], f["offset"] + image), (image, offset))
                    self.assertEqual((f["bi_size"], f["bi_width"], f["bi_height"]), (40, n, 2 * n))
                    self.assertEqual((f["bi_planes"], f["bi_bits"], f["bi_compression"]), (1, 4, 0))
                    self.assertEqual(f["palette"], VGA)
                    # The outline and the yellow face survive at every size.
                    self.assertGreater(sum(r.count("K") for r in rows), n)
                    self.assertGreater(sum(r.count("Y") for r in rows), n * n // 5)
            self.assertEqual(offset, len(self.data[name]))

    def test_every_pixel_reads_back_as_drawn(self):
        # Catches rows written top-down, swapped nibbles and a mirrored mask.
        for name in NAMES:
            with self.subTest(name):
                self.assertEqual(self.pixels[name][1], source_rows(name))

    def test_blank_icon_is_1bit_with_every_pixel_masked(self):
        for index, n in enumerate((16, 20, 24, 32, 40, 48)):
            with self.subTest(size=n):
                f, rows = decode_ico(self.data["blank"], index)
                stride = (n + 31) // 32 * 4
                self.assertEqual((f["colours"], f["bits"], f["bi_bits"], f["bi_height"]), (2, 1, 1, 2 * n))
                self.assertEqual(f["xor"], bytes(stride * n))
                self.assertTrue(all(r == "." * n for r in rows))

    def test_voice_frames_change_only_the_mouth(self):
        app = self.pixels["app"][1]
        for name in ["voice1", "voice2"]:
            with self.subTest(name):
                other = self.pixels[name][1]
                changed = [(x, y) for y in range(32) for x in range(32)
                           if app[y][x] != other[y][x]]
                self.assertTrue(changed, "mouth does not move")
                xs = [x for x, _ in changed]
                ys = [y for _, y in changed]
                box = (max(xs) - min(xs) + 1) * (max(ys) - min(ys) + 1)
                self.assertLessEqual(box, 40, "changes spread over %r" % changed)
                # The mouth sits in the lower middle of the face.
                self.assertTrue(12 <= min(xs) and max(xs) <= 19 and min(ys) >= 18)
                self.assertIn("R", "".join(other[y][x] for x, y in changed))

    def test_get_and_nogood_look_different_from_app(self):
        app = self.pixels["app"][1]
        for name in ["get", "nogood"]:
            with self.subTest(name):
                changed = sum(a != b for ra, rb in zip(app, self.pixels[name][1])
                              for a, b in zip(ra, rb))
                self.assertGreater(changed, 20)


class MalformedSources(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def build(self, rows):
        source = os.path.join(self.tmp.name, "bad.txt")
        target = os.path.join(self.tmp.name, "bad.ico")
        with open(source, "w") as f:
            f.write("# a broken picture\n" + "\n".join(rows) + "\n")
        return run_tool(source, target), target

    def test_broken_pictures_are_refused_without_output(self):
        good = ["." * 32] * 32
        cases = {
            "31 rows": (good[:31], "31 pixel rows"),
            "33 rows": (good + ["." * 32], "33 pixel rows"),
            "short row": (good[:5] + ["." * 31] + good[6:], "31 characters"),
            "long row": (good[:5] + ["." * 33] + good[6:], "33 characters"),
            "unknown colour": (good[:7] + ["." * 10 + "X" + "." * 21] + good[8:],
                               "'X'"),
        }
        for label, (rows, message) in cases.items():
            with self.subTest(label):
                result, target = self.build(rows)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(target))

    def test_missing_source_is_reported(self):
        result = run_tool(os.path.join(self.tmp.name, "none.txt"),
                          os.path.join(self.tmp.name, "none.ico"))
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("none.txt", result.stderr)


class Preview(unittest.TestCase):
    def test_png_preview_is_a_valid_enlarged_picture(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "app.png")
            result = run_tool("--png", os.path.join(ICONS, "app.txt"), target)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(target, "rb") as f:
                data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        length, kind = struct.unpack_from(">I4s", data, 8)
        width, height = struct.unpack_from(">II", data, 16)
        self.assertEqual((kind, width, height), (b"IHDR", 256, 256))
        crc = struct.unpack_from(">I", data, 16 + length)[0]
        self.assertEqual(crc, zlib.crc32(data[12:16 + length]) & 0xFFFFFFFF)


if __name__ == "__main__":
    unittest.main()

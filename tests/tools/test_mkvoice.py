#!/usr/bin/env python3
"""The built-in voice has exactly the format the program announces with."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "mkvoice.py")


class VoiceFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "voice.wav")
            subprocess.run([sys.executable, TOOL, path], check=True)
            with open(path, "rb") as wave:
                cls.data = wave.read()

    def test_header_is_riff_wave_pcm_mono_22050_8bit(self):
        self.assertEqual(11696, len(self.data))
        riff, size, wave = struct.unpack("<4sI4s", self.data[:12])
        self.assertEqual((b"RIFF", 11688, b"WAVE"), (riff, size, wave))
        fmt = struct.unpack("<4sIHHIIHH", self.data[12:36])
        self.assertEqual((b"fmt ", 16, 1, 1, 22050, 22050, 1, 8), fmt)
        self.assertEqual((b"data", 11652), struct.unpack("<4sI", self.data[36:44]))

    def test_is_a_sound_shorter_than_a_second_that_starts_and_ends_quietly(self):
        samples = self.data[44:]
        self.assertLess(len(samples) / 22050, 1.0)
        self.assertGreater(max(samples) - min(samples), 150)  # clearly audible
        self.assertLessEqual(max(abs(s - 128) for s in samples[:20]), 3)  # no click
        self.assertLessEqual(max(abs(s - 128) for s in samples[-20:]), 3)

    def test_is_the_same_every_time(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "again.wav")
            subprocess.run([sys.executable, TOOL, path], check=True)
            with open(path, "rb") as wave:
                self.assertEqual(self.data, wave.read())


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Synthesises the cat's built-in voice: a short "meow" as a RIFF WAVE file
of uncompressed PCM, 1 channel, 22050 samples per second, 8 bits unsigned,
11652 samples (about 0.53 s; 11696 bytes with its header).

  mkvoice.py OUTPUT.wav

The cry is a voiced tone whose pitch rises and falls (the "mi-a-o") with a
few harmonics that brighten in the middle as the mouth opens, a soft
onset, a little vibrato and a fading end. It is fully determined by the
code: the same file every time.
"""
import math
import struct
import sys

RATE = 22050
SAMPLES = 11652


def pitch(progress):
    # 520 Hz rising to 820 Hz at a third of the cry, then falling to 430 Hz.
    if progress < 0.33:
        return 520 + (820 - 520) * math.sin(progress / 0.33 * math.pi / 2)
    rest = (progress - 0.33) / 0.67
    return 820 - (820 - 430) * rest ** 1.3


def envelope(progress):
    attack = min(1.0, progress / 0.08)
    release = min(1.0, (1.0 - progress) / 0.25)
    return attack * attack * (3 - 2 * attack) * max(0.0, release) ** 1.5


def brightness(progress):
    # How open the mouth is: closed ("m"), wide ("a"), rounding ("o").
    return 0.25 + 0.75 * math.sin(min(1.0, progress / 0.8) * math.pi) ** 0.8


def samples():
    phase = 0.0
    for n in range(SAMPLES):
        progress = n / (SAMPLES - 1)
        vibrato = 1 + 0.012 * math.sin(2 * math.pi * 6.5 * n / RATE)
        phase += 2 * math.pi * pitch(progress) * vibrato / RATE
        open_ = brightness(progress)
        value = 0.0
        for harmonic, weight in ((1, 1.0), (2, 0.55), (3, 0.45), (4, 0.25), (5, 0.15), (6, 0.08)):
            value += weight * (open_ ** (harmonic - 1)) * math.sin(harmonic * phase)
        yield value * envelope(progress)


def wave_bytes():
    values = list(samples())
    peak = max(abs(v) for v in values) or 1.0
    data = bytes(max(0, min(255, round(128 + 110 * v / peak))) for v in values)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE, 1, 8)
    header += b"data" + struct.pack("<I", len(data))
    return header + data


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    with open(argv[1], "wb") as out:
        out.write(wave_bytes())


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""Photographs a part of the X screen without pause until a file appears.

  grabscreen.py WIDTHxHEIGHT+X+Y PREFIX STOPFILE

Each picture that differs from the one before it is kept as PREFIX-N.ppm.
ImageMagick's import starts a process for every picture and takes a second
or more on a busy machine, as long as the title window stands; this one
process asks the X server ($DISPLAY, 24-bit) itself, many times a second.
"""
import ctypes
import os
import re
import sys


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong),
                ("obdata", ctypes.c_void_p), ("create_image", ctypes.c_void_p),
                ("destroy_image", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p))]


def main():
    width, height, x, y = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", sys.argv[1]).groups())
    prefix, stop = sys.argv[2], sys.argv[3]
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("no X display")
    root = x11.XDefaultRootWindow(display)
    z_pixmap, all_planes = 2, 0xFFFFFFFF
    kept, previous = 0, None
    while not os.path.exists(stop):
        image = x11.XGetImage(display, root, x, y, width, height, all_planes, z_pixmap)
        if not image:
            continue
        picture = image.contents
        if picture.bits_per_pixel != 32:
            sys.exit("not a 24-bit screen")
        line = picture.bytes_per_line
        raw = ctypes.string_at(picture.data, line * height)
        picture.destroy_image(ctypes.cast(image, ctypes.c_void_p))
        if raw == previous:
            continue
        previous = raw
        # Rows of blue, green, red and a spare byte, little-endian.
        rows = b"".join(raw[row * line:row * line + width * 4] for row in range(height))
        rgb = bytearray(width * height * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = rows[2::4], rows[1::4], rows[0::4]
        kept += 1
        with open(f"{prefix}-{kept}.ppm", "wb") as out:
            out.write(b"P6 %d %d 255\n" % (width, height) + rgb)


main()

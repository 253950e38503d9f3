#!/usr/bin/python3
"""Reads the 32-bit pixels of the window titled TITLE and compares every
pixel that PICTURE (an RGBA file) does not leave fully transparent with that
pixel premultiplied by its alpha, alpha in the top byte. Prints
"TITLE alpha: same" or the first difference.

usage: probe_alpha.py TITLE PICTURE   (DISPLAY from the environment)
"""
import subprocess
import sys

from PIL import Image
from Xlib import X, display


def main():
    title, picture = sys.argv[1:3]
    win_id = int(subprocess.check_output(["xdotool", "search", "--sync", "--name", "^%s$" % title]).split()[0])
    ref = Image.open(picture).convert("RGBA")
    d = display.Display()
    win = d.create_resource_object("window", win_id)
    depth = win.get_geometry().depth
    if depth != 32:
        print("%s alpha: window depth %d" % (title, depth))
        return
    w, h = ref.size
    image = win.get_image(0, 0, w, h, X.ZPixmap, 0xFFFFFFFF)
    stride = len(image.data) // h
    for y in range(h):
        for x in range(w):
            r, g, b, a = ref.getpixel((x, y))
            if not a:
                continue
            want = a << 24 | (r * a // 255) << 16 | (g * a // 255) << 8 | (b * a // 255)
            at = y * stride + x * 4
            got = int.from_bytes(image.data[at:at + 4], sys.byteorder)
            if got != want:
                print("%s alpha: at %d,%d %08X, want %08X" % (title, x, y, got, want))
                return
    print("%s alpha: same" % title)


if __name__ == "__main__":
    main()

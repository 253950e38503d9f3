#!/usr/bin/python3
"""Reads a rectangle of a window with XGetImage and writes it as a binary
PPM (P6, 8 bits per channel) to standard output.

usage: xprobe.py WINDOW X Y WIDTH HEIGHT   (DISPLAY from the environment)
"""
import sys

from Xlib import X, display


def channel(value, mask):
    shift = (mask & -mask).bit_length() - 1
    bits = bin(mask).count("1")
    v = (value & mask) >> shift
    return (v * 255 + (1 << bits) // 2 - 1) // ((1 << bits) - 1) if bits < 8 else v >> (bits - 8)


def main():
    win_id, x, y, w, h = (int(a, 0) for a in sys.argv[1:6])
    d = display.Display()
    win = d.create_resource_object("window", win_id)
    geom = win.get_geometry()
    visual = None
    for depth in d.screen().allowed_depths:
        for v in depth.visuals:
            if depth.depth == geom.depth and v.visual_class == X.TrueColor:
                visual = visual or v
    attrs = win.get_attributes()
    for depth in d.screen().allowed_depths:
        for v in depth.visuals:
            if v.visual_id == attrs.visual:
                visual = v
    image = win.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
    data = image.data
    bpp = 2 if geom.depth == 16 else 4
    stride = len(data) // h
    out = bytearray()
    for row in range(h):
        for col in range(w):
            at = row * stride + col * bpp
            value = int.from_bytes(data[at:at + bpp], sys.byteorder)
            out += bytes(channel(value, m) for m in (visual.red_mask, visual.green_mask, visual.blue_mask))
    sys.stdout.buffer.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(out))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Checks every byte of icon.png against the sheet layout: the ZEPHYRANE
marker, then per entry a header row (width, height, flags as 32-bit
values) and the normal and selected images side by side."""
import sys
from PIL import Image

RED, GREEN, BLUE = (255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)


def value(v):
    return ((v >> 16) & 255, (v >> 8) & 255, v & 255, v >> 24)


def expected():
    entries = [(16, 16, RED, BLUE, 1 | 4), (32, 32, GREEN, None, 0)]
    width = max(3, max(w * (2 if sel else 1) for w, _, _, sel, _ in entries))
    height = 1 + sum(1 + h for _, h, _, _, _ in entries)
    im = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    for x, v in enumerate((0x005A4550, 0x00485952, 0x00414E45)):
        im.putpixel((x, 0), value(v))
    row = 1
    for w, h, normal, sel, flags in entries:
        for x, v in enumerate((w, h, flags)):
            im.putpixel((x, row), value(v))
        for y in range(h):
            for x in range(w):
                im.putpixel((x, row + 1 + y), normal)
                if sel:
                    im.putpixel((w + x, row + 1 + y), sel)
        row += 1 + h
    return im


got = Image.open("icon.png")
want = expected()
if got.mode != "RGBA" or got.size != want.size or got.tobytes() != want.tobytes():
    sys.exit(f"icon.png: {got.mode} {got.size} differs from the expected {want.size} sheet")

#!/usr/bin/python3
"""A 6x4 PNG whose every pixel has its own colour."""
from PIL import Image

im = Image.new("RGB", (6, 4))
for y in range(4):
    for x in range(6):
        im.putpixel((x, y), (40 * x + 20, 60 * y + 10, 255 - 30 * x - 20 * y))
im.save("pattern.png")

#!/usr/bin/python3
"""clip_shape_ref.py inputs | REF: writes the pictures clip_shape.qxs loads
(a shape on a magenta key, a gradient), or the display it must end with,
worked out here with PIL from the same pictures."""
import sys
from PIL import Image, ImageDraw

W, H = 64, 48
KEY = (255, 0, 255)


def shape():
    im = Image.new("RGB", (24, 20), KEY)
    d = ImageDraw.Draw(im)
    d.ellipse((1, 1, 22, 18), fill=(255, 255, 255))
    d.rectangle((8, 6, 12, 12), fill=KEY)
    return im


def gradient():
    im = Image.new("RGB", (W, H))
    im.putdata([(x * 4, y * 5, 200) for y in range(H) for x in range(W)])
    return im


def clip(im, src, region, x0, y0):
    """Copies src onto im where the region's mask (the shape at x0, y0,
    cut at the output's edges) is set."""
    m = shape()
    for y in range(H):
        for x in range(W):
            u, v = x - x0, y - y0
            if 0 <= u < m.width and 0 <= v < m.height and m.getpixel((u, v)) != KEY and region(x, y):
                im.putpixel((x, y), src.getpixel((x, y)) if isinstance(src, Image.Image) else src)


if sys.argv[1] == "inputs":
    shape().save("shape.png")
    gradient().save("fill.png")
    sys.exit()
out = Image.new("RGB", (W, H), (0, 0, 0))
every = lambda x, y: True
clip(out, (0x20, 0x40, 0xC0), every, 10, 8)                         # the box
clip(out, (0, 255, 0), lambda x, y: y == 15, 10, 8)                   # a line across
clip(out, (255, 0, 0), lambda x, y: x == 20, 10, 8)                   # a line down
clip(out, gradient(), every, -5, 26)                                   # the brush, cut region
clip(out, (255, 255, 255), lambda x, y: (x, y) in ((0, 26), (14, 40)), -5, 26)  # plots
out.save(sys.argv[1])

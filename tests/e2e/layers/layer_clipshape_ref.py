#!/usr/bin/python3
"""layer_clipshape_ref.py inputs | REF: writes the lopsided shape
layer_clipshape.qxs makes its clip regions from, or the display it must
end with, worked out here with PIL from the same shape."""
import sys
from PIL import Image, ImageChops, ImageDraw

W, H = 200, 100
KEY = (255, 0, 255)


def shape():
    im = Image.new("RGB", (20, 16), KEY)
    d = ImageDraw.Draw(im)
    d.polygon([(0, 0), (19, 0), (0, 15)], fill=(255, 255, 255))
    d.rectangle((3, 3, 6, 5), fill=KEY)
    d.rectangle((15, 11, 19, 15), fill=(255, 255, 255))
    return im


def clipped(colour, rect, at):
    """A display-sized picture of one colour and where a layer filling
    rect shows it: inside the shape placed at at."""
    mask = Image.new("L", (W, H), 0)
    mask.paste(Image.eval(shape().convert("L"), lambda v: 255 if v == 255 else 0), at)
    box = Image.new("L", (W, H), 0)
    ImageDraw.Draw(box).rectangle(rect, fill=255)
    both = ImageChops.darker(mask, box)
    return Image.new("RGB", (W, H), colour), both


if sys.argv[1] == "inputs":
    shape().save("shape.png")
    sys.exit()
out = Image.new("RGB", (W, H), (0, 0, 0))
# Doubled about its top left corner (10, 10).
im, m = clipped((255, 0, 0), (10, 10, 49, 39), (15, 15))
out.paste(im.crop((10, 10, 50, 40)).resize((80, 60), Image.NEAREST), (10, 10),
          m.crop((10, 10, 50, 40)).resize((80, 60), Image.NEAREST))
# A quarter turn about its centre (150, 50).
im, m = clipped((0, 255, 0), (130, 35, 169, 64), (135, 38))
out.paste(im.rotate(90, center=(150, 50)), (0, 0), m.rotate(90, center=(150, 50)))
out.save(sys.argv[1])

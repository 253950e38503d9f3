#!/usr/bin/python3
"""layer_clipshape_ref.py inputs | REF | anchors[2x] REF: writes the lopsided
shape layer_clipshape.qxs and layer_clipanchor.qxs make their clip regions
from, or the display either must end with, worked out here with PIL from
the same shape."""
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


def turned(out, colour, at, anchor, angle, region):
    """A 40 x 30 layer whose anchor point is at at, clipped to region (a box
    (x, y, w, h) or the shape's top left corner), turned by angle: the
    clipped picture turns as a whole and its bounding box is placed by the
    anchor."""
    left, top = at[0] - int(40 * anchor[0]), at[1] - int(30 * anchor[1])
    local = Image.new("L", (40, 30), 0)
    if len(region) == 4:
        x, y, w, h = region
        ImageDraw.Draw(local).rectangle((x - left, y - top, x - left + w - 1, y - top + h - 1), fill=255)
    else:
        m = Image.eval(shape().convert("L"), lambda v: 255 if v == 255 else 0)
        local.paste(m, (region[0] - left, region[1] - top))
    local = local.rotate(angle, expand=True)
    w, h = local.size
    out.paste(Image.new("RGB", (w, h), colour), (at[0] - int(w * anchor[0]), at[1] - int(h * anchor[1])), local)


if sys.argv[1] == "inputs":
    shape().save("shape.png")
    sys.exit()
if sys.argv[1] in ("anchors", "anchors2x"):
    out = Image.new("RGB", (240, 120), (0, 0, 0))
    turned(out, (255, 0, 0), (10, 10), (0, 0), 90, (15, 12, 20, 10))
    turned(out, (0, 255, 0), (60, 10), (0, 0), 90, (62, 14))
    turned(out, (0, 0, 255), (160, 110), (1, 1), 90, (125, 95, 25, 12))
    turned(out, (255, 255, 0), (230, 10), (1, 0), 270, (205, 20))
    if sys.argv[1] == "anchors2x":
        out = out.resize((480, 240), Image.NEAREST)
    out.save(sys.argv[2])
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

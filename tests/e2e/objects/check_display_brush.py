#!/usr/bin/python3
"""Builds with PIL what display_brush.qxs should show and compares it with
the window's pixels (1 per channel where blending enters)."""
import sys

from PIL import Image

exp = Image.new("RGB", (200, 100), (0, 0, 0x80))
exp.paste((255, 0, 0), (90, 45, 110, 55))           # #CENTER, #CENTER
exp.paste((255, 0, 0), (0, 10, 20, 20))             # anchor 1, 1 at 20, 20
under = exp.crop((150, 10, 160, 20))                # transparency 128
exp.paste(Image.blend(under, Image.new("RGB", (10, 10), (255, 255, 255)), 127 / 255), (150, 10))
pattern = Image.open("pattern.png").convert("RGB")
exp.paste(pattern.resize((12, 8), Image.NEAREST), (10, 60))   # scalex 2, scaley 2
exp.paste(pattern.transpose(Image.ROTATE_90), (60, 60))      # rotate 90
exp.paste(pattern.crop((2, 1, 5, 3)), (120, 60))            # DisplayBrushPart

got = Image.open("shot.ppm").convert("RGB")
bad = [(x, y, got.getpixel((x, y)), exp.getpixel((x, y)))
       for y in range(100) for x in range(200)
       if max(abs(a - b) for a, b in zip(got.getpixel((x, y)), exp.getpixel((x, y)))) > 1]
if bad:
    print("%d pixels differ, first: %s" % (len(bad), bad[:8]))
    sys.exit(1)

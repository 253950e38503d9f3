#!/usr/bin/python3
"""pattern.bmp: 40 x 30 of distinct colours with a red square; framed.bmp:
a picture inside a black frame of uneven widths; gradient.bmp: channels
linear in x and y."""
from PIL import Image

im = Image.new("RGB", (40, 30))
for y in range(30):
    for x in range(40):
        im.putpixel((x, y), (6 * x + 10, 8 * y + 5, 200 - 3 * x))
for y in range(10, 16):
    for x in range(20, 26):
        im.putpixel((x, y), (255, 0, 0))
im.save("pattern.bmp")
framed = Image.new("RGB", (40, 30))
framed.paste(im.crop((0, 0, 25, 17)), (3, 7))
framed.save("framed.bmp")
# gradient.bmp: 64 x 48, every channel linear in x and y.
grad = Image.new("RGB", (64, 48))
for y in range(48):
    for x in range(64):
        grad.putpixel((x, y), (3 * x + 20, 4 * y + 10, 200 - 2 * x))
grad.save("gradient.bmp")

#!/usr/bin/python3
"""pattern.bmp: 40 x 30 of distinct colours with a red square; framed.bmp:
a picture inside a black frame of uneven widths; gradient.bmp: channels
linear in x and y.

With "ripple IN OUT WAVELENGTH AMPLITUDE PHASE FX FY [X Y GROUND]" it
writes the water ripple of IN as OUT instead, each pixel taken from the
source position of the ripple's formula (centre at the truncated fractions
of the size, distances by the integer square root, sines from a table of
0.001 radian steps made by repeated addition); with X Y GROUND the result
is put at X, Y on the picture GROUND."""
import math
import sys

from PIL import Image


def ripple(src, out, wavelength, amplitude, phase, fx, fy, at=None):
    im = Image.open(src).convert("RGB")
    w, h = im.size
    fx, fy = min(max(fx, 0.0), 1.0), min(max(fy, 0.0), 1.0)
    cx, cy = int(w * fx), int(h * fy)
    radius = max(cx, cy)
    wavelength = max(1.0, wavelength)
    sine, x = [], 0.0
    for k in range(6300):
        sine.append(math.sin(x) if k else 0.0)
        x += 0.001
    two_pi = 6.28318530717959
    result = Image.new("RGB", (w, h))
    for y in range(h):
        for x in range(w):
            d = math.isqrt((x - cx) ** 2 + (y - cy) ** 2)
            a = d / wavelength * two_pi - phase
            while a > two_pi:
                a -= two_pi
            while a < 0:
                a += two_pi
            v = amplitude * sine[min(int(a / 0.001), 6299)] * (radius - d) / radius if radius else 0.0
            if d:
                v = v * wavelength / d
            sx = min(max(int(x + (x - cx) * v), 0), w - 1)
            sy = min(max(int(y + (y - cy) * v), 0), h - 1)
            result.putpixel((x, y), im.getpixel((sx, sy)))
    if at:
        canvas = Image.open(at[2]).convert("RGB")
        canvas.paste(result, (int(at[0]), int(at[1])))
        result = canvas
    result.save(out)


if len(sys.argv) > 1 and sys.argv[1] == "ripple":
    numbers = [float(a) for a in sys.argv[4:9]]
    ripple(sys.argv[2], sys.argv[3], *numbers, at=sys.argv[9:12] or None)
    sys.exit(0)

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

#!/usr/bin/python3
"""Reference pictures of gradients, sampled at pixel centres with the pad
rule (before the first stop its colour, after the last stop its colour).

  gradients.py linear W H ANGLE START END [POS COLOUR ...] OUT
      ANGLE 0 top to bottom, 90 left to right, 180 bottom to top, 270 right to left
  gradients.py radial W H CX CY BORDER START END [POS COLOUR ...] OUT
      from the centre (CX, CY as fractions) out to the farthest corner, shrunk by BORDER
Colours are RRGGBB in hex, positions 0.0 to 1.0.
"""
import math
import sys

from PIL import Image


def rgb(text):
    v = int(text, 16)
    return ((v >> 16) & 255, (v >> 8) & 255, v & 255)


def stops_of(start, end, rest):
    if not rest:
        return [(0.0, rgb(start)), (1.0, rgb(end))]
    return [(float(rest[i]), rgb(rest[i + 1])) for i in range(0, len(rest), 2)]


def colour_at(stops, t):
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if p0 <= t < p1:
            f = (t - p0) / (p1 - p0)
            return tuple(round(a + (b - a) * f) for a, b in zip(c0, c1))
    return stops[-1][1]


def main(a):
    kind, w, h = a[0], int(a[1]), int(a[2])
    out = a[-1]
    im = Image.new("RGB", (w, h))
    if kind == "linear":
        angle = int(a[3]) % 360
        stops = stops_of(a[4], a[5], a[6:-1])
        along = {0: lambda x, y: (y + 0.5) / h, 90: lambda x, y: (x + 0.5) / w,
                 180: lambda x, y: (h - y - 0.5) / h, 270: lambda x, y: (w - x - 0.5) / w}[angle]
    else:
        cx, cy, border = float(a[3]), float(a[4]), float(a[5])
        stops = stops_of(a[6], a[7], a[8:-1])
        radius = (max(abs(0.5 - cx), abs(0.5 - cy)) + 0.5) * math.hypot(w, h) * (1.0 - border)

        def along(x, y):
            return math.hypot(x + 0.5 - w * cx, y + 0.5 - h * cy) / radius
    for y in range(h):
        for x in range(w):
            im.putpixel((x, y), colour_at(stops, along(x, y)))
    im.save(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Reference picture of draw_shapes.qxs: the plain boxes and the line set
exactly, the anti-aliased circle and triangle by 16 x 16 supersampling of
the true shapes (pixel (i, j) covers [i, i+1) x [j, j+1)).

  shapes_ref.py OUT
"""
import sys

from PIL import Image

W, H = 200, 120
img = Image.new("RGB", (W, H), (255, 255, 255))
px = img.load()


def rect(x, y, w, h, c):
    for j in range(y, y + h):
        for i in range(x, x + w):
            px[i, j] = c


def covered(inside, x0, y0, x1, y1, c, n=16):
    for j in range(y0, y1):
        for i in range(x0, x1):
            k = sum(inside(i + (a + 0.5) / n, j + (b + 0.5) / n) for a in range(n) for b in range(n))
            if k:
                f = k / (n * n)
                old = px[i, j]
                px[i, j] = tuple(round(c[m] * f + old[m] * (1 - f)) for m in range(3))


def triangle(p):
    def side(a, b, x, y):
        return (b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])

    def inside(x, y):
        s = [side(p[k], p[(k + 1) % 3], x, y) for k in range(3)]
        return all(v >= 0 for v in s) or all(v <= 0 for v in s)
    return inside


rect(10, 10, 40, 30, (255, 0, 0))                       # Box, #FILLCOLOR
rect(67, 7, 36, 26, (0, 0, 255))                        # #EDGE border of 3
rect(70, 10, 30, 20, (0, 255, 0))                       # the box inside it
covered(lambda x, y: (x - 150.5) ** 2 + (y - 40.5) ** 2 <= 25.5 ** 2, 123, 13, 178, 68, (0, 0, 0))
covered(triangle([(20.5, 60.5), (70.5, 60.5), (45.5, 100.5)]), 18, 58, 73, 103, (0, 0, 255))
rect(100, 100, 81, 1, (255, 0, 255))                    # Line
rect(120, 80, 10, 10, (0, 128, 0))                      # plain Box
rect(84, 49, 20, 15, (128, 128, 128))                   # #SHADOW, south-east by 4
rect(80, 45, 20, 15, (255, 255, 0))
rect(150, 75, 30, 15, (255, 0, 0))                      # #FILLNONE: a 1-pixel outline
rect(151, 76, 28, 13, (255, 255, 255))
px[5, 5] = (0x12, 0x34, 0x56)                           # Plot
img.save(sys.argv[1])

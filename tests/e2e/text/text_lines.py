#!/usr/bin/python3
"""Checks the lines of text in a snapshot of wrapped blocks.
Usage: text_lines.py PICTURE SCALE BLOCKS LINES [RIGHT]: the picture holds
BLOCKS + 1 blocks of LINES text lines each, stacked and equal (BLOCKS 0:
one block); with RIGHT, some line's ink reaches past RIGHT x SCALE."""
import sys
from PIL import Image

name, scale, extra, count = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
im = Image.open(name).convert("L")
w, h = im.size
px = im.load()
ink = [[x for x in range(w) if px[x, y] > 60] for y in range(h)]
lines, top = [], None
for y in range(h + 1):
    if y < h and ink[y] and top is None:
        top = y
    elif (y == h or not ink[y]) and top is not None:
        lines.append((top, y))
        top = None
assert len(lines) == count * (extra + 1), "%d lines: %s" % (len(lines), lines)
rows = lambda a, b: [tuple(px[x, y] for x in range(w)) for y in range(a, b)]
first = lines[0][0]
for k in range(1, extra + 1):
    other = lines[k * count][0]
    assert rows(first, lines[count - 1][1]) == rows(other, other + lines[count - 1][1] - first), "block %d differs" % k
if len(sys.argv) > 5:
    right = max(max(ink[y]) for a, b in lines for y in range(a, b))
    assert right > float(sys.argv[5]) * scale, "ink ends at %d: cut at the wrap width" % right

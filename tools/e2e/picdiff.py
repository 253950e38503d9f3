#!/usr/bin/python3
"""Compares two picture files pixel by pixel (RGBA, 8 bits per channel).

Usage: picdiff.py ACTUAL REFERENCE [TOLERANCE]

TOLERANCE is the largest difference allowed in any channel (default 0).
Fully transparent pixels compare by their alpha only. Exit status: 0 equal,
1 different (a summary on stdout), 77 when PIL is not installed.
Run with Debian's /usr/bin/python3, which has PIL.
"""

import sys

try:
    from PIL import Image
except ImportError:
    print("PIL is not installed for %s" % sys.executable)
    sys.exit(77)


def load(path):
    with Image.open(path) as im:
        return im.convert("RGBA")


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__)
        return 2
    tolerance = int(argv[2]) if len(argv) == 3 else 0
    try:
        a, b = load(argv[0]), load(argv[1])
    except OSError as e:
        print("cannot read a picture: %s" % e)
        return 1
    if a.size != b.size:
        print("sizes differ: %s is %dx%d, %s is %dx%d" % (argv[0], a.size[0], a.size[1], argv[1], *b.size))
        return 1
    width = a.size[0]
    worst, count, first = 0, 0, None
    for i, (p, q) in enumerate(zip(a.getdata(), b.getdata())):
        if p[3] == 0 and q[3] == 0:
            continue
        d = max(abs(p[c] - q[c]) for c in range(4))
        if d > tolerance:
            count += 1
            if first is None:
                first = (i % width, i // width, p, q)
        worst = max(worst, d)
    if count:
        x, y, p, q = first
        print("%d pixels differ by more than %d (worst %d); first at %d,%d: %s against %s" % (
            count, tolerance, worst, x, y, p, q))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

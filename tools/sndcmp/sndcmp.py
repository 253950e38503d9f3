#!/usr/bin/python3
"""Compares two raw PCM files sample by sample.

Usage: sndcmp.py A B FORMAT [TOLERANCE]
FORMAT is u8, s16le or s16be; TOLERANCE (default 0) the largest difference
allowed. Exit status 0 when the lengths agree and every sample is within it.
"""
import sys


def samples(path, fmt):
    data = open(path, "rb").read()
    if fmt == "u8":
        return list(data)
    order = "little" if fmt == "s16le" else "big"
    return [int.from_bytes(data[i:i + 2], order, signed=True) for i in range(0, len(data) - 1, 2)]


def main(argv):
    a, b, fmt = argv[1], argv[2], argv[3]
    tolerance = int(argv[4]) if len(argv) > 4 else 0
    x, y = samples(a, fmt), samples(b, fmt)
    if len(x) != len(y):
        print("%s has %d samples, %s has %d" % (a, len(x), b, len(y)))
        return 1
    worst = max((abs(p - q), i) for i, (p, q) in enumerate(zip(x, y))) if x else (0, 0)
    if worst[0] > tolerance:
        print("sample %d differs by %d (allowed %d)" % (worst[1], worst[0], tolerance))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

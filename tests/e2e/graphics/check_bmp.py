"""Prints a BMP's size, dimensions, row size, the first pixel's colour and
every pixel, rows top-down ("|" between rows); with several files, each
line starts with the file's name."""
import struct
import sys

for name in sys.argv[1:]:
    data = open(name, "rb").read()
    w, h = struct.unpack_from("<ii", data, 18)
    row = (len(data) - 54) // h
    b, g, r = data[54], data[55], data[56]
    rows = []
    for y in range(h - 1, -1, -1):
        at = 54 + y * row
        rows.append(",".join("%02X%02X%02X" % (data[at + 3 * x + 2], data[at + 3 * x + 1], data[at + 3 * x])
                             for x in range(w)))
    prefix = name + ": " if len(sys.argv) > 2 else ""
    print(f"{prefix}bmp {len(data)} bytes {w}x{h} row {row} first {r:02X}{g:02X}{b:02X} rows {'|'.join(rows)}")

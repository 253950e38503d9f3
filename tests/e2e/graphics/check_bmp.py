"""Prints a BMP's size, dimensions, row size and the first pixel's colour;
with several files, each line starts with the file's name."""
import struct
import sys

for name in sys.argv[1:]:
    data = open(name, "rb").read()
    w, h = struct.unpack_from("<ii", data, 18)
    row = (len(data) - 54) // h
    b, g, r = data[54], data[55], data[56]
    prefix = name + ": " if len(sys.argv) > 2 else ""
    print(f"{prefix}bmp {len(data)} bytes {w}x{h} row {row} first {r:02X}{g:02X}{b:02X}")

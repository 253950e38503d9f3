"""Prints a BMP's size, dimensions, row size and the first pixel's colour."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
w, h = struct.unpack_from("<ii", data, 18)
row = (len(data) - 54) // h
b, g, r = data[54], data[55], data[56]
print(f"bmp {len(data)} bytes {w}x{h} row {row} first {r:02X}{g:02X}{b:02X}")

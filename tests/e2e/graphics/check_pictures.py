"""Prints format, size and the first pixel of pictures the player saved:
PIL reads PNG, JPEG and GIF, netpbm's ilbmtoppm reads ILBM."""
import subprocess
import sys

from PIL import Image

for name in sys.argv[1:]:
    if name.endswith(".iff"):
        ppm = subprocess.run(["ilbmtoppm", name], capture_output=True, check=True).stdout
        fields = ppm.split(maxsplit=4)
        w, h, body = int(fields[1]), int(fields[2]), fields[4]
        print(f"ILBM {w}x{h} first {body[0]:02X}{body[1]:02X}{body[2]:02X}")
        continue
    im = Image.open(name)
    fmt, size = im.format, im.size
    r, g, b = im.convert("RGB").getpixel((0, 0))
    near = "exact" if (r, g, b) == (0x12, 0x34, 0x56) else (
        "near" if max(abs(r - 0x12), abs(g - 0x34), abs(b - 0x56)) <= 8 else f"{r:02X}{g:02X}{b:02X}")
    print(f"{fmt} {size[0]}x{size[1]} {near}")

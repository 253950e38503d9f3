#!/usr/bin/python3
"""Source pictures and references for the brush and BGPic listings.

  pictures.py make                      src.png (16x8 RGBA), tex.png (5x3 RGB)
  pictures.py opaque SRC X Y W H OUT    the part of SRC with alpha dropped
  pictures.py flatten SRC RRGGBB OUT    SRC composed over a colour
  pictures.py tile SRC W H OX OY OUT    SRC tiled over W x H from offset OX, OY
"""
import sys

from PIL import Image


def make():
    im = Image.new("RGBA", (16, 8))
    for y in range(8):
        for x in range(16):
            im.putpixel((x, y), (x * 16, y * 32, 255 - x * 8, 255 if x < 4 else x * 15))
    im.save("src.png")
    tex = Image.new("RGB", (5, 3))
    for y in range(3):
        for x in range(5):
            tex.putpixel((x, y), (x * 50, y * 100, 77))
    tex.save("tex.png")


def main(a):
    if a[0] == "make":
        make()
    elif a[0] == "opaque":
        x, y, w, h = map(int, a[2:6])
        Image.open(a[1]).convert("RGB").crop((x, y, x + w, y + h)).save(a[6])
    elif a[0] == "flatten":
        src = Image.open(a[1]).convert("RGBA")
        back = Image.new("RGBA", src.size, "#" + a[2])
        Image.alpha_composite(back, src).convert("RGB").save(a[3])
    elif a[0] == "tile":
        src = Image.open(a[1]).convert("RGB")
        w, h, ox, oy = map(int, a[2:6])
        out = Image.new("RGB", (w, h))
        for y in range(h):
            for x in range(w):
                out.putpixel((x, y), src.getpixel(((x + ox) % src.width, (y + oy) % src.height)))
        out.save(a[6])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Writes a bitmap ".font" contents file and one size file from the format's
rules, for tests: make_bitmap_font.py DIR NAME YSIZE [--kern] [--id 0x0F00]
[--incomplete] [--color] [--container | --linked]. With --container the size
file is appended to the contents file and named by a ":::chunk" entry; with
--linked NAME.linked holds what an applet links as "::font:NAME": a flags word
0, the contents file and the size file after it, named by a "::linkedfont"
entry (its offset counted from the contents file's start). A colour font has depth 2, plane pick 0x02 (one
stored plane: the glyph boxes) and the colours 0x0F00 and 0x00F0. Glyph c (lowest 32, highest 126) is a filled box c % 7 + 1
pixels wide; space entries are width + 1, kern entries -1 when asked."""
import argparse, os, struct

def size_file(ysize, kern, color=False):
    low, high = 32, 126
    count = high - low + 2
    widths = [(c % 7) + 1 for c in range(low, high + 1)] + [3]
    modulo = (sum(widths) + 7) // 8
    modulo += modulo & 1
    bits = [[0] * (modulo * 8) for _ in range(ysize)]
    loc, first = [], 0
    for w in widths:
        loc.append(first << 16 | w)
        for row in bits:
            for x in range(first, first + w):
                row[x] = 1
        first += w
    strip = bytearray()
    for row in bits:
        for b in range(modulo):
            v = 0
            for k in range(8):
                v = v << 1 | row[b * 8 + k]
            strip.append(v)
    header_end = 186 if color else 142
    strip_off = header_end - 32
    loc_off = strip_off + len(strip)
    space_off = loc_off + 4 * count
    kern_off = space_off + 2 * count if kern else 0
    head = bytearray(header_end)
    struct.pack_into(">H", head, 50, 0x0F80)
    struct.pack_into(">hBBhhhhBBIhIII", head, 110, ysize, 0, 0x60, 8, ysize - 2, 1, 0, low, high,
                     strip_off, modulo, loc_off, space_off, kern_off)
    body = strip + struct.pack(">%dI" % count, *loc) + struct.pack(">%dh" % count, *[w + 1 for w in widths])
    if kern:
        body += struct.pack(">%dh" % count, *([-1] * count))
    if color:
        head[112] = 0x40
        head[144] = 2
        head[148] = 0x02
        record_off = header_end - 32 + len(body)
        struct.pack_into(">I", head, 150, record_off)
        struct.pack_into(">I", head, 154, strip_off)
        body += struct.pack(">HHI", 0, 2, record_off + 8) + struct.pack(">HH", 0x0F00, 0x00F0)
    return bytes(head + body)

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir"); ap.add_argument("name"); ap.add_argument("ysize", type=int)
    ap.add_argument("--kern", action="store_true"); ap.add_argument("--incomplete", action="store_true")
    ap.add_argument("--color", action="store_true")
    ap.add_argument("--container", action="store_true")
    ap.add_argument("--linked", action="store_true")
    ap.add_argument("--id", default="0x0F00")
    a = ap.parse_args()
    data = size_file(a.ysize, a.kern, a.color)
    rel = "%s/%d" % (a.name, a.ysize)
    if a.container or a.linked:
        name = "%s%d:%d*%s" % ("::linkedfont" if a.linked else ":::chunk", 4 + 260, len(data), rel)
    else:
        os.makedirs(os.path.join(a.dir, a.name), exist_ok=True)
        with open(os.path.join(a.dir, rel), "wb") as f:
            f.write(data)
        name = "::incomplete" if a.incomplete else rel
    entry = name.encode().ljust(256, b"\0") + struct.pack(">hBB", a.ysize, 0, 0)
    contents = struct.pack(">Hh", int(a.id, 0), 1) + entry
    if a.linked:
        with open(os.path.join(a.dir, a.name + ".linked"), "wb") as f:
            f.write(struct.pack(">I", 0) + contents + data)
        return
    with open(os.path.join(a.dir, a.name + ".font"), "wb") as f:
        f.write(contents + (data if a.container else b""))

if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes an IFF ANIM from frames of palette indices, for the reader tests.

make_anim.py OUT MODE INTERLEAVE LONG WIDTH HEIGHT PLANES FRAMES SEED [ehb] [dpan=N] [mask=T] [ilace]
ilace marks the deltas of modes 100 and 101 interlaced (rows two apart).
MODE is 5, 7, 8, 100 or 101; LONG 1 uses long items in modes 7 and 8.
The frames are random blocks over a moving bar; the indices of every frame
go to OUT.frames (width x height bytes each) for comparison.
"""
import random
import struct
import sys


def chunk(cid, data):
    pad = b'\0' if len(data) & 1 else b''
    return cid + struct.pack('>I', len(data)) + data + pad


def to_planes(ix, w, h, planes):
    rb = ((w + 15) >> 4) * 2
    out = [bytearray(rb * h) for _ in range(planes)]
    for y in range(h):
        for x in range(w):
            v = ix[y * w + x]
            for p in range(planes):
                if v >> p & 1:
                    out[p][y * rb + x // 8] |= 0x80 >> (x & 7)
    return out


def byterun1(row):
    out = bytearray()
    i = 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([(257 - (j - i)) & 0xFF, row[i]])
            i = j
        else:
            n = min(128, len(row) - i)
            out += bytes([n - 1]) + row[i:i + n]
            i += n
    return out


def items(plane, rb, h, col, size):
    return [int.from_bytes(plane[y * rb + col * size:y * rb + col * size + size], 'big') for y in range(h)]


def column_ops(new, old, limit):
    """(kind, count, values) ops: 'skip', 'copy', 'repeat'."""
    ops, y, h = [], 0, len(new)
    while y < h:
        if new[y] == old[y]:
            n = 1
            while y + n < h and new[y + n] == old[y + n] and n < limit:
                n += 1
            if y + n < h:
                ops.append(('skip', n, []))
            y += n
            continue
        n = 1
        while y + n < h and new[y + n] == new[y] and n < limit:
            n += 1
        if n >= 3:
            ops.append(('repeat', n, [new[y]]))
            y += n
            continue
        n = 1
        while y + n < h and new[y + n] != old[y + n] and n < limit:
            n += 1
        ops.append(('copy', n, new[y:y + n]))
        y += n
    return ops


def encode_plane(mode, new, old, rb, h, long_items, xor, ilace=False):
    if mode == 5:
        out = bytearray()
        for col in range(rb):
            nv, ov = items(new, rb, h, col, 1), items(old, rb, h, col, 1)
            if xor:
                nv = [a ^ b for a, b in zip(nv, ov)]
                ov = [0] * h
            ops = column_ops(nv, ov, 127)
            out.append(len(ops))
            for kind, n, vals in ops:
                if kind == 'skip':
                    out.append(n)
                elif kind == 'copy':
                    out += bytes([0x80 | n]) + bytes(vals)
                else:
                    out += bytes([0, n, vals[0]])
        return out, None
    if mode == 7:
        size = 4 if long_items else 2
        oplist, datalist = bytearray(), bytearray()
        for col in range(rb // size):
            ops = column_ops(items(new, rb, h, col, size), items(old, rb, h, col, size), 127)
            oplist.append(len(ops))
            for kind, n, vals in ops:
                if kind == 'skip':
                    oplist.append(n)
                elif kind == 'copy':
                    oplist.append(0x80 | n)
                    for v in vals:
                        datalist += v.to_bytes(size, 'big')
                else:
                    oplist += bytes([0, n])
                    datalist += vals[0].to_bytes(size, 'big')
        return oplist, datalist
    if mode == 8:
        out = bytearray()

        def columns(size, first, count):
            for col in range(first, first + count):
                ops = column_ops(items(new, rb, h, col, size), items(old, rb, h, col, size), 0x7FFF)
                out.extend(len(ops).to_bytes(size, 'big'))
                flag = 0x80000000 if size == 4 else 0x8000
                for kind, n, vals in ops:
                    if kind == 'skip':
                        out.extend(n.to_bytes(size, 'big'))
                    elif kind == 'copy':
                        out.extend((flag | n).to_bytes(size, 'big'))
                        for v in vals:
                            out.extend(v.to_bytes(size, 'big'))
                    else:
                        out.extend(bytes(size) + n.to_bytes(size, 'big') + vals[0].to_bytes(size, 'big'))
        if long_items:
            columns(4, 0, rb // 4)
            if rb % 4:
                columns(2, rb // 2 - 1, 1)
        else:
            columns(2, 0, rb // 2)
        return out, None
    size = 4 if mode == 100 else 2
    step = 2 if ilace else 1
    entries = []
    for col in range(rb // size):
        nv, ov = items(new, rb, h, col, size), items(old, rb, h, col, size)
        for first in range(step):
            rows = list(range(first, h, step))
            i = 0
            while i < len(rows):
                if nv[rows[i]] == ov[rows[i]]:
                    i += 1
                    continue
                n = 1
                while i + n < len(rows) and nv[rows[i + n]] != ov[rows[i + n]]:
                    n += 1
                run = [nv[y] for y in rows[i:i + n]]
                off = rows[i] * rb + col * size
                fmt = '>i' if size == 4 else '>h'
                if len(set(run)) == 1 and n > 1:
                    entries.append(struct.pack(fmt, n) + struct.pack('>I', off) + run[0].to_bytes(size, 'big'))
                else:
                    entries.append(struct.pack(fmt, -n) + struct.pack('>I', off) + b''.join(v.to_bytes(size, 'big') for v in run))
                i += n
    head = struct.pack('>I' if size == 4 else '>H', len(entries))
    return head + b''.join(entries), None


def main():
    out, mode, interleave, long_items, w, h, planes, nframes, seed = sys.argv[1:10]
    mode, interleave, long_items, w, h, planes, nframes, seed = map(int, (mode, interleave, long_items, w, h, planes, nframes, seed))
    extra = sys.argv[10:]
    ehb = 'ehb' in extra
    dpan = [int(a[5:]) for a in extra if a.startswith('dpan=')]
    mask = [int(a[5:]) for a in extra if a.startswith('mask=')]
    ilace = 'ilace' in extra
    rnd = random.Random(seed)
    colours = 1 << planes
    frames = []
    for f in range(nframes):
        ix = [(x // 5 + f) % colours if (y + f) % 7 else 0 for y in range(h) for x in range(w)]
        for _ in range(3):
            bx, by = rnd.randrange(w), rnd.randrange(h)
            c = rnd.randrange(colours)
            for y in range(by, min(h, by + 6)):
                for x in range(bx, min(w, bx + 9)):
                    ix[y * w + x] = c
        frames.append(ix)
    # Modes 100 and 101 anims carry two extra deltas for looping.
    stored = frames + frames[:2] if mode in (100, 101) else frames
    rb = ((w + 15) >> 4) * 2
    ncol = 32 if ehb else min(colours, 256)
    cmap = bytes(rnd.randrange(256) for _ in range(ncol * 3))
    bmhd = struct.pack('>HHhhBBBBHBBhh', w, h, 0, 0, planes, 2 if mask else 0, 1, 0, mask[0] if mask else 0, 10, 11, w, h)
    p0 = to_planes(frames[0], w, h, planes)
    body = bytearray()
    for y in range(h):
        for p in range(planes):
            body += byterun1(p0[p][y * rb:(y + 1) * rb])
    anhd0 = struct.pack('>BBHHhhIIBBI16x', 0, 0, w, h, 0, 0, 0, 3, 0, 0, 0)
    first = b'ILBM' + chunk(b'BMHD', bmhd) + chunk(b'ANHD', anhd0) + chunk(b'CMAP', cmap) + \
        chunk(b'CAMG', struct.pack('>I', 0x80 if ehb else 0)) + \
        (chunk(b'DPAN', struct.pack('>HHI', 4, dpan[0], 0)) if dpan else b'') + chunk(b'BODY', bytes(body))
    forms = [chunk(b'FORM', first)]
    bufs = [p0, [bytearray(p) for p in p0]]
    nxt = 0
    for i in range(1, len(stored)):
        target = nxt
        ref = bufs[target] if interleave == 0 else bufs[target]
        newp = to_planes(stored[i], w, h, planes)
        offsets = [0] * 16
        data = bytearray(64)
        for p in range(planes):
            if newp[p] == ref[p]:
                continue
            a, b = encode_plane(mode, newp[p], ref[p], rb, h, long_items, mode == 5 and interleave == 1, ilace)
            offsets[p] = len(data)
            data += a
            if b is not None:
                offsets[p + 8] = len(data)
                data += b
        data[0:64] = struct.pack('>16I', *offsets)
        bits = (1 if long_items else 0) | (0x40 if ilace else 0)
        anhd = struct.pack('>BBHHhhIIBBI16x', mode, 0, w, h, 0, 0, 0, i + 2, interleave, 0, bits)
        forms.append(chunk(b'FORM', b'ILBM' + chunk(b'ANHD', anhd) + chunk(b'DLTA', bytes(data))))
        bufs[target] = newp
        if interleave == 0:
            nxt ^= 1
    anim = b'ANIM' + b''.join(forms)
    with open(out, 'wb') as f:
        f.write(chunk(b'FORM', anim))
    with open(out + '.frames', 'wb') as f:
        for ix in frames:
            f.write(bytes(ix))
    with open(out + '.cmap', 'wb') as f:
        f.write(cmap)


main()

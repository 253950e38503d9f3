#!/usr/bin/env python3
"""Writes a CDXL file from frames of palette indices, for the reader tests.

make_cdxl.py OUT WIDTH HEIGHT PLANES FRAMES SOUND CHUNK HAM SEED
SOUND is the sound bytes per chunk, CHUNK the chunk size (0: the smallest
even size that holds everything), HAM 1 marks HAM frames. The indices of
every frame go to OUT.frames, each frame's colours (0x0RGB) to OUT.cmap as
big-endian words, the sound bytes to OUT.sound.
"""
import random
import struct
import sys


def to_planes(ix, w, h, planes):
    rb = ((w + 15) >> 4) * 2
    out = bytearray(rb * h * planes)
    for y in range(h):
        for x in range(w):
            v = ix[y * w + x]
            for p in range(planes):
                if v >> p & 1:
                    out[p * rb * h + y * rb + x // 8] |= 0x80 >> (x & 7)
    return bytes(out)


def main():
    out = sys.argv[1]
    w, h, planes, nframes, sound, chunk, ham, seed = map(int, sys.argv[2:10])
    rnd = random.Random(seed)
    rb = ((w + 15) >> 4) * 2
    colours = 16 if ham and planes <= 6 else 64 if ham else 1 << planes
    pal_size = colours * 2
    need = 32 + pal_size + rb * h * planes + sound
    size = chunk or need + (need & 1)
    assert size >= need
    data, frames, cmaps, sounds = bytearray(), bytearray(), bytearray(), bytearray()
    for f in range(nframes):
        ix = [rnd.randrange(1 << planes) if (x + y + f) % 5 == 0 else (x // 3 + f) % (1 << planes)
              for y in range(h) for x in range(w)]
        cmap = b''.join(struct.pack('>H', rnd.randrange(4096)) for _ in range(colours))
        snd = bytes(rnd.randrange(256) for _ in range(sound))
        head = struct.pack('>BBIIIHHBBHH8x', 1, 1 if ham else 0, size, size, f, w, h, 0, planes, pal_size, sound)
        body = head + cmap + to_planes(ix, w, h, planes) + snd
        data += body + bytes(size - len(body))
        frames += bytes(ix)
        cmaps += cmap
        sounds += snd
    for suffix, blob in (('', data), ('.frames', frames), ('.cmap', cmaps), ('.sound', sounds)):
        with open(out + suffix, 'wb') as fh:
            fh.write(blob)


main()

#!/usr/bin/env python3
"""Writes four-channel "M.K." modules for the replayer's tests and benchmarks.

Usage: mkmod.py PRESET OUT.mod
Presets:
  timing  a constant-level sample under volume and timing effects (pitch
          cannot matter, so any player's output can be compared)
  exact   as timing, with only the effects whose ticks and levels every
          player agrees on (set and fine volume, cut, speed, pattern delay
          and loop, break)
  tone    sine notes over all octaves and finetunes, arpeggio, slides,
          portamento and vibrato
  pitch   one voice under the pitch effects, a few rows each: held note,
          slides up and down, tone portamento, vibrato, arpeggio, and
          portamento and vibrato continued beside a volume slide
  busy    four voices of notes and effects
  long    about four minutes of busy patterns, for benchmarks
  damaged out-of-range lengths, positions, samples and periods
"""
import math
import struct
import sys

PERIODS = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
           428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
           214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]


class Module:
    def __init__(self, name="zephyrane test"):
        self.name = name
        self.samples = []  # (name, bytes, finetune, volume, loopstart words, looplen words)
        self.patterns = []
        self.order = []
        self.song_length = None

    def sample(self, data, volume=64, finetune=0, loop=None, name="smp"):
        """Adds a sample (signed bytes); loop = (start, length) in bytes."""
        if len(data) % 2:
            data = data + b"\0"
        ls, ll = (loop[0] // 2, loop[1] // 2) if loop else (0, 1)
        self.samples.append((name, bytes(data), finetune, volume, ls, ll))
        return len(self.samples)

    def pattern(self):
        p = [[(0, 0, 0, 0)] * 4 for _ in range(64)]
        self.patterns.append(p)
        return p

    def bytes(self):
        out = bytearray(self.name.encode()[:20].ljust(20, b"\0"))
        for i in range(31):
            if i < len(self.samples):
                name, data, ft, vol, ls, ll = self.samples[i]
                out += name.encode()[:22].ljust(22, b"\0")
                out += struct.pack(">HBBHH", len(data) // 2, ft & 15, vol, ls, ll)
            else:
                out += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
        order = self.order or list(range(len(self.patterns)))
        length = self.song_length if self.song_length is not None else len(order)
        out += bytes([length & 255, 127])
        out += bytes(order[:128]).ljust(128, b"\0")
        out += b"M.K."
        for p in self.patterns:
            for row in p:
                for period, smp, eff, prm in row:
                    out += bytes([(smp & 0xF0) | (period >> 8 & 15), period & 255,
                                  (smp & 15) << 4 | (eff & 15), prm & 255])
        for s in self.samples:
            out += s[1]
        return bytes(out)


def sine(length, amp=100):
    return bytes((int(round(amp * math.sin(2 * math.pi * i / length))) & 255) for i in range(length))


def constant(length, level=64):
    return bytes([level & 255]) * length


def timing():
    m = Module("timing")
    s = m.sample(constant(4000), volume=64, loop=(0, 4000))
    note = PERIODS[12]
    p = m.pattern()  # volume effects
    p[0] = [(note, s, 0xC, 48), (note, s, 0xC, 20), (note, s, 0, 0), (note, s, 0xC, 63)]
    p[4][0] = (0, 0, 0xA, 0x02)
    p[8][1] = (0, 0, 0xA, 0x30)
    p[12][2] = (0, 0, 0xE, 0xA4)
    p[14][2] = (0, 0, 0xE, 0xB8)
    p[16][3] = (0, 0, 0xE, 0xC3)
    p[20][3] = (note, s, 0x7, 0x48)
    p[21][3] = (0, 0, 0x7, 0x00)
    p[24][0] = (note, s, 0xC, 70)
    p[28][1] = (note, s, 0xE, 0xD2)
    p[32][2] = (note, s, 0xE, 0x92)
    p[36][0] = (0, 0, 0xF, 3)
    p[40][1] = (0, 0, 0xF, 150)
    p[44][2] = (note, s, 0x5, 0x04)
    p[48][3] = (note, s, 0x6, 0x20)
    p[52][0] = (0, 0, 0xD, 0x08)
    p = m.pattern()  # timing: speed, tempo, pattern loop, delay, break
    p[0] = [(note, s, 0xF, 5), (note, s, 0xC, 30), (note, s, 0xF, 100), (note, s, 0xC, 10)]
    p[2][0] = (0, 0, 0xE, 0x60)
    p[3][1] = (0, 0, 0xA, 0x04)
    p[4][0] = (0, 0, 0xE, 0x62)
    p[6][2] = (0, 0, 0xE, 0xE2)
    p[8][3] = (note, s, 0xF, 32)
    p[10][0] = (0, 0, 0xF, 6)
    p[11][3] = (0, 0, 0xF, 125)
    p[16][1] = (0, 0, 0xD, 0x32)
    p = m.pattern()
    p[0] = [(note, s, 0xC, 40), (0, 0, 0, 0), (note, s, 0xC, 0), (note, s, 0xA, 0x10)]
    p[40][0] = (0, 0, 0xB, 3)
    p = m.pattern()
    p[0][1] = (note, s, 0xC, 50)
    p[63][2] = (note, s, 0xC, 25)
    m.order = [0, 1, 2, 3]
    return m


def exact():
    m = Module("exact")
    s = m.sample(constant(4000), volume=40, loop=(0, 4000))
    note = PERIODS[12]
    p = m.pattern()  # set volume, fine volume, note cut
    for r in range(0, 64, 4):
        p[r][0] = (note, s, 0xC, (r * 7) % 63)
        p[r + 2][1] = (note, s, 0xE, 0xC0 | (r // 4 % 6))
    for r in range(1, 60, 3):
        p[r][3] = (0, 0, 0xE, 0xA4 if r % 2 else 0xB3)
    p[0][3] = (note, s, 0xC, 32)
    p = m.pattern()  # speed, pattern delay, pattern loop, break
    for r in range(0, 64, 2):
        p[r][0] = (note, s, 0xC, 60 if r % 4 else 20)
    p[4][1] = (0, 0, 0xE, 0x60)
    p[9][1] = (0, 0, 0xE, 0x62)
    p[12][2] = (0, 0, 0xF, 3)
    p[20][2] = (0, 0, 0xE, 0xE2)
    p[26][2] = (0, 0, 0xF, 9)
    p[34][2] = (0, 0, 0xF, 6)
    p[48][3] = (0, 0, 0xD, 0x10)
    p = m.pattern()
    for r in range(16, 64, 4):
        p[r][1] = (note, s, 0xC, r - 10)
    m.order = [0, 1, 2]
    return m


def tone():
    m = Module("tone")
    s = m.sample(sine(32), volume=48, loop=(0, 32))
    p = m.pattern()
    for i in range(36):
        p[i][0] = (PERIODS[i], s, 0, 0)
    for i in range(16):
        p[36 + i][1] = (PERIODS[12], s, 0xE, 0x50 | i)
    p = m.pattern()
    p[0][0] = (PERIODS[12], s, 0, 0x47)
    p[8][1] = (PERIODS[6], s, 0x1, 2)
    p[16][2] = (PERIODS[18], s, 0x2, 3)
    p[24][3] = (PERIODS[24], s, 0, 0)
    p[25][3] = (PERIODS[12], 0, 0x3, 8)
    p[32][0] = (PERIODS[20], s, 0x4, 0x48)
    p[33][0] = (0, 0, 0x4, 0)
    p[40][1] = (PERIODS[10], s, 0xE, 0x31)
    p[41][1] = (PERIODS[20], 0, 0x3, 4)
    p[48][2] = (PERIODS[15], s, 0xE, 0x13)
    p[49][2] = (0, 0, 0xE, 0x23)
    return m


def pitch():
    m = Module("pitch")
    s = m.sample(sine(32), volume=48, loop=(0, 32))
    p = m.pattern()
    p[0][0] = (PERIODS[24], s, 0, 0)
    p[2][0] = (PERIODS[24], s, 0x1, 2)
    for r in range(3, 6):
        p[r][0] = (0, 0, 0x1, 2)
    p[6][0] = (PERIODS[20], s, 0x2, 3)
    for r in range(7, 10):
        p[r][0] = (0, 0, 0x2, 3)
    p[10][0] = (PERIODS[24], s, 0, 0)
    p[11][0] = (PERIODS[18], 0, 0x3, 8)
    for r in range(12, 16):
        p[r][0] = (0, 0, 0x3, 0)
    p[16][0] = (PERIODS[24], s, 0x4, 0x48)
    for r in range(17, 20):
        p[r][0] = (0, 0, 0x4, 0)
    p[20][0] = (PERIODS[24], s, 0x0, 0x47)
    for r in range(21, 24):
        p[r][0] = (0, 0, 0x0, 0x47)
    p[24][0] = (PERIODS[12], s, 0, 0)
    p[25][0] = (PERIODS[24], 0, 0x3, 6)
    for r in range(26, 28):
        p[r][0] = (0, 0, 0x5, 0x10)
    p[28][0] = (PERIODS[24], s, 0x4, 0x66)
    for r in range(29, 32):
        p[r][0] = (0, 0, 0x6, 0x10)
    p[32][0] = (0, 0, 0xC, 0)
    m.order = [0]
    return m


def busy(patterns=4, seed=1, tempos=True):
    m = Module("busy")
    smps = [m.sample(sine(64, 90), volume=50, loop=(0, 64)),
            m.sample(bytes(((i * 37) ^ (i >> 3) * 11) & 255 for i in range(3000)), volume=40),
            m.sample(bytes((int(60 * math.sin(i / 5.0) + 30 * math.sin(i / 1.7))) & 255 for i in range(2400)),
                     volume=64, loop=(400, 2000)),
            m.sample(bytes(((i % 50) * 5 - 120) & 255 for i in range(500)), volume=56, finetune=3, loop=(100, 400))]
    state = seed
    def rnd(n):
        nonlocal state
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        return (state >> 8) % n
    effects = [(0, 0), (0, 0), (0, 0x37), (0xA, 0x02), (0xA, 0x20), (0x1, 2), (0x2, 2), (0x4, 0x46),
               (0xC, 40), (0x7, 0x34), (0xE, 0x93), (0x9, 2), (0x6, 0x01), (0xE, 0xC4)]
    if tempos:  # tempos whose tick is not a whole number of samples
        effects += [(0xF, 126), (0xF, 139), (0xF, 97), (0xE, 0x00), (0xE, 0x01)]
    for _ in range(patterns):
        p = m.pattern()
        for r in range(64):
            row = []
            for ch in range(4):
                if rnd(3) == 0:
                    eff, prm = effects[rnd(len(effects))]
                    row.append((PERIODS[rnd(36)], smps[(ch + rnd(2)) % 4], eff, prm))
                elif rnd(4) == 0:
                    row.append((0, 0, 0xA, 0x01))
                else:
                    row.append((0, 0, 0, 0))
            p[r] = row
    m.order = list(range(patterns))
    return m


def long_module():
    # 6 ticks of 20 ms per row: 7.68 s per pattern; 32 positions ~ 4 minutes.
    m = busy(patterns=16, seed=7, tempos=False)
    m.name = "long"
    m.order = [i % 16 for i in range(32)]
    return m


def damaged():
    m = Module("damaged")
    s = m.sample(sine(64), volume=90, loop=(40, 200))  # loop past the sample
    p = m.pattern()
    p[0] = [(5000, s, 0, 0), (PERIODS[3], 40, 0, 0), (PERIODS[3], s, 0x9, 0xFF), (1, s, 0xF, 1)]
    p[1][0] = (PERIODS[8], s, 0xE, 0xF8)
    p[4][1] = (0, 0, 0xB, 200)
    m.song_length = 200
    m.order = [0]
    return m


PRESETS = {"timing": timing, "exact": exact, "tone": tone, "pitch": pitch, "busy": busy, "long": long_module, "damaged": damaged}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in PRESETS:
        sys.exit(__doc__)
    with open(sys.argv[2], "wb") as f:
        f.write(PRESETS[sys.argv[1]]().bytes())


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Reads the windows titled A, B, ... (B and the rest autoscaled copies of
A) and checks that each shows A's window scaled by the player's nearest
rule: columns by the truncated 16.16 step, rows by a single-precision sum.
Prints "STEP xN: ok" per scaled window, or where it first differs.

usage: scaled_window.py STEP TITLE_A TITLE_B [TITLE_C ...]
"""
import struct
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def window(title):
    wid = subprocess.check_output(["xdotool", "search", "--sync", "--name", "^%s$" % title]).split()[0]
    geo = subprocess.check_output(["xwininfo", "-id", wid]).decode()
    size = {k: int(line.split()[-1]) for line in geo.splitlines() for k in ("Width:", "Height:")
            if line.strip().startswith(k)}
    w, h = size["Width:"], size["Height:"]
    ppm = subprocess.check_output(["/usr/bin/python3", os.path.join(HERE, "xprobe.py"), wid, "0", "0", str(w), str(h)])
    data = ppm.split(b"\n", 3)[3]
    return w, h, data


def main():
    step, titles = sys.argv[1], sys.argv[2:]
    time.sleep(0.2)  # the player's last requests reach the server first
    w, h, a = window(titles[0])
    for title in titles[1:]:
        sw, sh, b = window(title)
        xstep = int(f32(f32(w) / f32(sw)) * 65536.0)
        cols = [min((i * xstep) >> 16, w - 1) for i in range(sw)]
        ystep, acc, rows = f32(f32(h) / f32(sh)), 0.0, []
        for _ in range(sh):
            rows.append(min(int(acc), h - 1))
            acc = f32(acc + ystep)
        bad = []
        for j in range(sh):
            for i in range(sw):
                at, want = (j * sw + i) * 3, (rows[j] * w + cols[i]) * 3
                if b[at:at + 3] != a[want:want + 3]:
                    bad.append((i, j, a[want:want + 3].hex(), b[at:at + 3].hex()))
        name = "%s x%d" % (step, round(sw / w))
        if bad:
            i, j, want, got = bad[0]
            print("%s: %d pixels differ, first at %d,%d: %s shown as %s" % (name, len(bad), i, j, want, got))
        else:
            print("%s: ok" % name)
    sys.stdout.flush()


if __name__ == "__main__":
    main()

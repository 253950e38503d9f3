#!/usr/bin/python3
"""The pictures of the off-screen renderer (tests/fx/fxframes) for listings
that play the same effects on screen, frame by frame.

  fxframes_match.py make FXFRAMES W H SPEED X Y ID...
      runs FXFRAMES for each ID into directory ID (every frame); the new
      picture becomes b.png, the old one a.png at (X, Y) of a grey picture
      X and Y larger on each side
  fxframes_match.py compare W H X Y DEPTH ID...
      the W x H rectangle at (X, Y) of e<ID>_<k>.bmp (k = 1 .. the effect's
      frame count, no more) must equal ID/frame<k>.raw; at depth 16 within
      the 565 rounding
"""
import os
import subprocess
import sys

import numpy as np
from PIL import Image


def raw_rgb(path, w, h):
    a = np.fromfile(path, dtype="<u4").reshape(h, w).astype(np.int64)
    return np.dstack([(a >> 16) & 255, (a >> 8) & 255, a & 255])


def make(tool, w, h, speed, x, y, ids):
    for i in ids:
        os.makedirs(i, exist_ok=True)
        subprocess.run([tool, i, str(w), str(h), str(speed), "0", i] + [str(k) for k in range(1, 1000)],
                       check=True)
    old = np.full((h + 2 * y, w + 2 * x, 3), 128, dtype=np.uint8)
    old[y:y + h, x:x + w] = raw_rgb(os.path.join(ids[0], "old.raw"), w, h)
    Image.fromarray(old).save("a.png")
    Image.fromarray(raw_rgb(os.path.join(ids[0], "new.raw"), w, h).astype(np.uint8)).save("b.png")


def compare(w, h, x, y, depth, ids):
    tolerance = 0 if depth in ("", "24") else 8
    bad = 0
    for i in ids:
        info = dict(line.split(None, 1) for line in open(os.path.join(i, "info.txt")) if " " in line)
        frames = int(info["frames"])
        for k in range(1, frames + 2):
            shot = "e%s_%d.bmp" % (i, k)
            if k > frames:
                if os.path.exists(shot):
                    print("effect %s: more than %d frames" % (i, frames))
                    bad += 1
                break
            if not os.path.exists(shot):
                print("effect %s: frame %d missing" % (i, k))
                bad += 1
                break
            got = np.asarray(Image.open(shot).convert("RGB"), dtype=np.int64)[y:y + h, x:x + w]
            want = raw_rgb(os.path.join(i, "frame%d.raw" % k), w, h)
            if got.shape != want.shape:
                print("effect %s frame %d: size %s" % (i, k, got.shape))
                bad += 1
                continue
            diff = np.abs(got - want).max(axis=2)
            if diff.max() > tolerance:
                r, c = np.argwhere(diff > tolerance)[0]
                print("effect %s frame %d: %d pixels differ, first at %d,%d: %s vs %s"
                      % (i, k, int((diff > tolerance).sum()), c, r, got[r, c], want[r, c]))
                bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    a = sys.argv
    if len(a) > 8 and a[1] == "make":
        make(a[2], int(a[3]), int(a[4]), int(a[5]), int(a[6]), int(a[7]), a[8:])
        sys.exit(0)
    if len(a) > 7 and a[1] == "compare":
        sys.exit(compare(int(a[2]), int(a[3]), int(a[4]), int(a[5]), a[6], a[7:]))
    sys.exit(__doc__)

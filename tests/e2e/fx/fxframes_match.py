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


def watch(title, w, h, prefix):
    import time
    from Xlib import X, display
    d = display.Display()

    def find(win):
        try:
            if win.get_wm_name() == title:
                return win
            for c in win.query_tree().children:
                r = find(c)
                if r:
                    return r
        except Exception:
            pass
        return None
    win = None
    for _ in range(1000):
        win = find(d.screen().root)
        if win:
            break
        time.sleep(0.01)
    depth = win.get_geometry().depth
    visual = [v for dp in d.screen().allowed_depths for v in dp.visuals
              if v.visual_id == win.get_attributes().visual][0]
    shots = []

    def grab():
        data = win.get_image(0, 0, w, h, X.ZPixmap, 0xFFFFFFFF).data
        if not shots or shots[-1] != data:
            shots.append(data)
    grab()
    open(prefix + "ready", "w").close()
    while not os.path.exists(prefix + "stop"):
        grab()
    grab()
    # Converted after the run, so that the grabs follow every frame.
    bpp = 2 if depth == 16 else 4
    for n, data in enumerate(shots):
        a = np.frombuffer(data, dtype="<u2" if bpp == 2 else "<u4").reshape(h, -1)[:, :w].astype(np.int64)
        rgb = []
        for mask in (visual.red_mask, visual.green_mask, visual.blue_mask):
            shift, bits = (mask & -mask).bit_length() - 1, bin(mask).count("1")
            v = (a & mask) >> shift
            rgb.append((v * 255 + (1 << bits) // 2 - 1) // ((1 << bits) - 1) if bits < 8 else v >> (bits - 8))
        Image.fromarray(np.dstack(rgb).astype(np.uint8)).save("%s%03d.png" % (prefix, n))
    open(prefix + "done", "w").close()


def nearest(img, W, H):
    h, w = img.shape[:2]
    step = int(np.float32(np.float32(w) / np.float32(W)) * np.float32(65536))
    cols = [(i * step) >> 16 for i in range(W)]
    ystep, acc, rows = np.float32(np.float32(h) / np.float32(H)), np.float32(0), []
    for _ in range(H):
        rows.append(int(acc))
        acc = np.float32(acc + ystep)
    return img[rows][:, cols]


def window(old, x, y, w, h, sw, sh, depth, prefix, i):
    tolerance = 0 if depth in ("", "24") else 8
    base = np.asarray(Image.open(old).convert("RGB"), dtype=np.int64)
    info = dict(line.split(None, 1) for line in open(os.path.join(i, "info.txt")) if " " in line)
    frames = int(info["frames"])
    pics = [nearest(base, sw, sh)]
    for k in range(1, frames + 1):
        pic = base.copy()
        pic[y:y + h, x:x + w] = raw_rgb(os.path.join(i, "frame%d.raw" % k), w, h)
        pics.append(nearest(pic, sw, sh))
    seen, last, bad = [], 0, 0
    n = 0
    while os.path.exists("%s%03d.png" % (prefix, n)):
        got = np.asarray(Image.open("%s%03d.png" % (prefix, n)).convert("RGB"), dtype=np.int64)
        k = next((k for k in range(last, frames + 1) if np.abs(got - pics[k]).max() <= tolerance), None)
        if k is None:
            d = np.abs(got - pics[-1]).max(axis=2) > tolerance
            r, c = np.argwhere(d)[0] if d.any() else (0, 0)
            print("effect %s: picture %d is no frame from %d on (%d pixels off the last, first at %d,%d)"
                  % (i, n, last, int(d.sum()), c, r))
            bad += 1
        else:
            last = k
            seen.append(k)
        n += 1
    if not any(0 < k < frames for k in seen):
        print("effect %s: no middle frame among %s" % (i, seen))
        bad += 1
    if not seen or seen[-1] != frames:
        print("effect %s: ends on %s, not frame %d" % (i, seen[-1:] or "nothing", frames))
        bad += 1
    return 1 if bad else 0


def still(base, over, x, y, sw, sh, depth, shots):
    tolerance = 0 if depth in ("", "24") else 8
    pic = np.asarray(Image.open(base).convert("RGB"), dtype=np.int64).copy()
    if over != "-":
        o = np.asarray(Image.open(over).convert("RGB"), dtype=np.int64)
        pic[y:y + o.shape[0], x:x + o.shape[1]] = o
    want = nearest(pic, sw, sh)
    bad = 0
    for shot in shots:
        got = np.asarray(Image.open(shot).convert("RGB"), dtype=np.int64)
        d = np.abs(got - want).max(axis=2) > tolerance if got.shape == want.shape else np.ones((1, 1), bool)
        if d.any():
            r, c = np.argwhere(d)[0]
            print("%s: %d pixels differ, first at %d,%d" % (shot, int(d.sum()), c, r))
            bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    a = sys.argv
    if len(a) > 8 and a[1] == "make":
        make(a[2], int(a[3]), int(a[4]), int(a[5]), int(a[6]), int(a[7]), a[8:])
        sys.exit(0)
    if len(a) == 6 and a[1] == "watch":
        watch(a[2], int(a[3]), int(a[4]), a[5])
        sys.exit(0)
    if len(a) == 12 and a[1] == "window":
        sys.exit(window(a[2], *(int(v) for v in a[3:9]), a[9], a[10], a[11]))
    if len(a) > 9 and a[1] == "still":
        sys.exit(still(a[2], a[3], int(a[4]), int(a[5]), int(a[6]), int(a[7]), a[8], a[9:]))
    if len(a) > 7 and a[1] == "compare":
        sys.exit(compare(int(a[2]), int(a[3]), int(a[4]), int(a[5]), a[6], a[7:]))
    sys.exit(__doc__)

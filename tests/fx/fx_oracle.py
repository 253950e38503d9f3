#!/usr/bin/python3
"""Replays transitions in numpy from the effects' own formulas and compares
key frames with the player's renderers (written by fxframes), bit for bit."""
import argparse, ctypes, os, subprocess, sys
import numpy as np

NORMAL, FAST, SLOW = -1, -2, -3
libc = ctypes.CDLL("libc.so.6")


def c_rand(seed, n):
    # The harness seeds libc's generator before phase 0.
    libc.srand(seed)
    return np.array([libc.rand() for _ in range(n)], dtype=np.int64)


def step_size(speed, total, normal, fast, slow):
    s = {NORMAL: total // normal, FAST: total // fast, SLOW: total // slow}.get(speed, speed)
    return max(s, 1)


def frame_count(total, step, exact):
    return 1 if total < 1 else -(-total // step) + (0 if exact else 1)


def channels(px):
    return [(px.astype(np.int64) >> sh) & 255 for sh in (16, 8, 0)]


def pack(r, g, b):  # colour kernels leave 0 in the top byte
    return ((r << 16) | (g << 8) | b).astype(np.uint32)


def tint(px, colour, level):
    if level >= 255:  # the rectangle fill tints only below 255: above, it fills
        return np.full(px.shape, colour, np.uint32)
    return pack(*[c + (((k - c) * level) >> 8) for c, k in zip(channels(px), channels(np.int64(colour)))])


def mix(src, dst, level):
    return pack(*[s + (((d - s) * (255 - level)) >> 8) for s, d in zip(channels(src), channels(dst))])


def blit(canvas, img, ox, oy):
    h, w = canvas.shape
    ih, iw = img.shape
    x0, y0, x1, y1 = max(ox, 0), max(oy, 0), min(ox + iw, w), min(oy + ih, h)
    if x0 < x1 and y0 < y1:
        canvas[y0:y1, x0:x1] = img[y0 - oy:y1 - oy, x0 - ox:x1 - ox]


def scale_nearest(img, w, h):
    sh, sw = img.shape
    xstep, ystep = np.float32(sw) / np.float32(w), np.float32(sh) / np.float32(h)
    fixed = int(xstep * np.float32(65536))
    rows, acc = [], np.float32(0)
    for _ in range(h):
        rows.append(int(acc))
        acc = np.float32(acc + ystep)
    return img[np.array(rows)][:, (np.arange(w, dtype=np.int64) * fixed) >> 16]


def pixelate(img, b):
    h, w = img.shape
    out = img.copy()
    for y in range(0, h, b):
        for x in range(0, w, b):
            out[y:y + b, x:x + b] = img[y, x]
    return out


# Each effect: (id, setup(speed, param, w, h) -> state with 'frames'; frame(state, k, canvas, old, new) -> level or None)
def fade_setup(blend):
    def setup(speed, param, w, h):
        step = 10 if speed < 1 else min(speed, 255)
        colour = c_rand(5, 1)[0] % 16777216 if param == -1 else param
        return dict(step=step, colour=colour, frames=frame_count(511 - step, step, 0), blend=blend)
    return setup


def fade_frame(st, k, canvas, old, new):
    v = k * st['step']
    shade = 0 if v >= 511 else (v if v <= 255 else 511 - v)
    src = new if st['blend'] or v > 255 else old
    canvas[:] = tint(src, st['colour'], shade) if shade > 0 else src


def crossfade_setup(speed, param, w, h):
    step = 10 if speed < 1 else min(speed, 120)
    return dict(step=step, frames=frame_count(255, step, 1))


def crossfade_frame(st, k, canvas, old, new):
    v = min(k * st['step'], 255)
    canvas[:] = new if v == 255 else mix(old, new, 255 - v)
    return v


def push_setup(speed, param, w, h):
    s = step_size(speed, w, 40, 10, 100)
    return dict(step=s, frames=frame_count(w - s, s, 0))


def push_frame(st, k, canvas, old, new):
    w = canvas.shape[1]
    p = min(k * st['step'], w)
    blit(canvas, new, p - w, 0)
    blit(canvas, old, p, 0)


def slide_setup(speed, param, w, h):
    s = min(step_size(speed, w, 60, 30, 120), 30)
    return dict(step=s, fill=np.uint32(0 if param == -1 else param), frames=frame_count(2 * w - s, s, 0))


def slide_frame(st, k, canvas, old, new):
    h, w = canvas.shape
    s, p = st['step'], k * st['step']
    if p >= 2 * w:
        blit(canvas, new, 0, 0)
    elif p > w:
        # Mended: a step that does not divide the side leaves part of the old
        # picture in; the first frame of the second half clears it, as a seek does.
        if p - s <= w:
            canvas[:] = st['fill']
        blit(canvas, new, p - 2 * w, 0)
    else:
        blit(canvas, np.full((h, s), st['fill'], np.uint32), w - p, 0)
        if w - p > 0:
            blit(canvas, old, -p, 0)


def stretch_setup(speed, param, w, h):
    s = step_size(speed, w, 30, 10, 80)
    return dict(step=s, frames=frame_count(w - s, s, 0))


def stretch_frame(st, k, canvas, old, new):
    h, w = canvas.shape
    blit(canvas, scale_nearest(new, min(k * st['step'], w), h), 0, 0)


def pixelzoom_setup(speed, param, w, h):
    return dict(frames=25)


def pixelzoom_frame(st, k, canvas, old, new):
    if k < 25:
        canvas[:] = pixelate(new, 25 - k)


def dissolve_setup(speed, param, w, h):
    step = {FAST: 8, NORMAL: 4, SLOW: 2}.get(speed, min(max(speed, 1), 8))
    return dict(step=step, map=c_rand(5, w * h).reshape(h, w) % 255, frames=frame_count(256, step, 1))


def dissolve_frame(st, k, canvas, old, new):
    level = k * st['step']
    # The done frame reveals every pixel.
    canvas[:] = np.where(st['map'] < level, new, old) if level < 256 else new


EFFECTS = {
    'CROSSFADE': (115, crossfade_setup, crossfade_frame),
    'FADE': (116, fade_setup(False), fade_frame),
    'BLEND': (117, fade_setup(True), fade_frame),
    'PUSHLEFT': (78, push_setup, push_frame),
    'SLIDERIGHT': (102, slide_setup, slide_frame),
    'STRETCHLEFT': (55, stretch_setup, stretch_frame),
    'PIXELZOOM1': (132, pixelzoom_setup, pixelzoom_frame),
    'DISSOLVE': (139, dissolve_setup, dissolve_frame),
}
# name, width, height, speed, parameter
CASES = [(n, w, h, sp, pa) for n in EFFECTS for (w, h, sp, pa) in ((64, 48, NORMAL, -1), (37, 29, 7, 0x12A4F6))]
CASES += [('DISSOLVE', 37, 29, FAST, -1), ('STRETCHLEFT', 64, 48, SLOW, -1), ('CROSSFADE', 37, 29, 200, -1),
          ('FADE', 37, 29, 16, -1), ('BLEND', 37, 29, 17, -1), ('SLIDERIGHT', 37, 29, 10, -1), ('PUSHLEFT', 37, 29, 500, -1)]


def run_case(tool, workdir, name, w, h, speed, param):
    eid, setup, frame = EFFECTS[name]
    st = setup(speed, param, w, h)
    n = st['frames']
    keys = sorted({1, max(1, n // 2), max(1, n - 1), n})
    out = os.path.join(workdir, f"{name}_{w}x{h}_{speed}")
    os.makedirs(out, exist_ok=True)
    subprocess.run([tool, str(eid), str(w), str(h), str(speed), str(param), out] + [str(k) for k in keys], check=True)
    info = dict(l.split(' ', 1) for l in open(os.path.join(out, 'info.txt')).read().splitlines())
    load = lambda f: np.fromfile(os.path.join(out, f), dtype=np.uint32).reshape(h, w)
    old, new = load('old.raw'), load('new.raw')
    errors = []
    if int(info['frames']) != n or int(info['steps']) != n or info['done'] != '1':
        errors.append(f"frames {info['frames']} steps {info['steps']} done {info['done']}, oracle {n}")
    canvas, levels = old.copy(), []
    for k in range(1, n + 1):
        levels.append(frame(st, k, canvas, old, new))
        if k in keys:
            got = load(f'frame{k}.raw')
            bad = np.argwhere(got != canvas)
            if len(bad):
                y, x = bad[0]
                errors.append(f"frame {k}/{n}: {len(bad)} pixels differ, first ({x},{y}) got {got[y, x]:#010x} want {canvas[y, x]:#010x}")
    if name == 'CROSSFADE' and [str(v) for v in levels] != info['levels'].split():
        errors.append(f"levels {info['levels']} want {levels}")
    if not np.array_equal(canvas, new):
        errors.append("oracle does not end on the new picture")
    return errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--fxframes', required=True)
    ap.add_argument('--workdir', required=True)
    ap.add_argument('--only')
    a = ap.parse_args()
    failed = 0
    for case in CASES:
        if a.only and case[0] != a.only:
            continue
        errs = run_case(a.fxframes, a.workdir, *case)
        print(("FAIL " if errs else "ok   ") + " ".join(map(str, case)))
        for e in errs:
            print("     " + e)
        failed += bool(errs)
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()

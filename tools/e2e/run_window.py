#!/usr/bin/python3
"""Window test: runs one listing on an unscaled display and on scaled ones
and checks that every scaled window shows the unscaled window scaled by the
display's nearest rule (16.16 column step, truncated; single-precision row
sum), black in letterbox margins.

The listing stops at sync points: it sets its window title to "stepN" (a
suffix after "/" says what kind of step it is, see STEP KINDS) and waits
until the file "goN" exists in the folder named by QXWIN_GO.  The runner
reads the window from outside (XGetImage) until two reads 80 ms apart
agree, keeps the picture and creates the file.

The listing learns its configuration from the environment:
  QXWIN_GO       folder of the go files (unset: the listing runs through)
  QXWIN_MODE     0 unscaled, 1 autoscale, 2 layer scaling ("scalemode")
  QXWIN_SW/SH    scaled size of the window (0 when unscaled)
  QXWIN_KEEP     1: "keepproportions"
  QXWIN_RW/RH    size for the listing's ChangeDisplaySize steps (0: none)
  QXWIN_DW/DH    size to create the display at (unset: 64 x 48)

STEP KINDS (suffix of the title):
  (none)    compared in every configuration
  auto      compared only under autoscale (a transition's middle frame, text:
            layer scaling computes them anew at the window's size)
  drawn     exact under autoscale; layer scaling draws the shapes anew at
            the window's size (curves, and outlines whose line width is
            scaled too, centred on the scaled path: at scale 2 a 1-pixel
            outline becomes a 2-wide line, up to 3 pixels on the window):
            each colour must cover at least two thirds of the window
            pixels it covers in the nearest-scaled picture (an outline as
            thin as unscaled covers about half) and at most twice as many,
            and every pixel of the one must lie within the scale (plus
            one) of a pixel of its colour in the other
  scaled    autoscale only: the window must be a nearest-scaled picture of
            some display-size picture (a frame drawn from the generator
            seeded with the time, which differs from run to run)
  resize    the listing has just called ChangeDisplaySize with QXWIN_RW/RH
  outside   before reading, the runner resizes the window to the
            configuration's resize size (xdotool windowsize)
  back      before reading, the runner resizes the window back
  watch     after this step, until the next one, the runner reads the window
            again and again: under autoscale every picture it catches (a
            transition's frames) must be a scaled picture of some
            display-size picture
  ordered   a watch in every configuration that also keeps the pictures it
            catches: from one to the next, the pixels that show the next
            step's picture where it differs from this step's must never
            become fewer (frames in order; nothing of the new picture shown
            whole before the first frame). For effects that change each
            pixel once (stripes, wipes, blends).
  held      BeginRefresh holds the window back: in every configuration the
            window must still show the previous step's picture (unless the
            window took another size)
  scroll    a watch in every configuration that also keeps the pictures it
            catches: unscaled and layer-scaled, each must show the next
            step's picture moved as a whole over this step's picture (a
            scroll: the new picture at its scaled size, in one piece)
  sameN     (N a number) also in every configuration, the unscaled one
            too: the window equals this run's window N steps before (a
            picture the listing must come back to, say a layer drawn
            empty before an effect shows it)
  autosameN both: the unscaled run's picture only under autoscale, the
            one N steps before in every configuration
  Every window must have the configuration's size, or its resize size at
  "resize" and "outside" steps.
  (a step whose display is resized, by ChangeDisplaySize or from outside,
  is compared at the window's size as read; an unscaled display that grows
  ("grow") must show what the player shows on a display made at the grown
  size from the start: a run of its own, "grown")

Usage: run_window.py --qxasm PATH --player PATH [--workdir DIR]
                     [--depth 24|16] [--wm openbox] [--configs a,b,...] LISTING

Exit status: 0 all steps agree, 1 a mismatch or a failed run, 77 skipped.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "x11"))
import run_e2e  # noqa: E402
import xprobe  # noqa: E402

try:
    from Xlib import X, display as xdisplay
    from Xlib.error import XError
except ImportError:  # Debian's python3-xlib
    X = None

SKIP = 77
WIDTH, HEIGHT = 64, 48  # the listings' display size

# name: (scalemode, scaled size, keepproportions, resize size)
CONFIGS = {
    "plain": (0, (0, 0), 0, (0, 0)),
    "auto2": (1, (128, 96), 0, (192, 144)),
    "auto3": (1, (192, 144), 0, (256, 192)),
    "layer2": (2, (128, 96), 0, (256, 192)),
    "auto2box": (1, (150, 96), 1, (300, 144)),
    "grow": (0, (0, 0), 0, (128, 96)),
    "grown": (0, (0, 0), 0, (0, 0)),  # the reference of "grow", made at its resize size
}
REFERENCES = ("plain", "grown")
DEFAULT_CONFIGS = ("auto2", "auto3", "layer2", "auto2box")


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def nearest_maps(sw, sh, dw, dh):
    """Source column of each destination column and source row of each
    destination row, as the player's nearest scaler picks them."""
    step = int(f32(f32(sw / dw) * 65536.0))
    cols = [min((i * step) >> 16, sw - 1) for i in range(dw)]
    ystep, acc, rows = f32(sh / dh), 0.0, []
    for _ in range(dh):
        rows.append(min(int(acc), sh - 1))
        acc = f32(acc + ystep)
    return cols, rows


class Picture:
    """width x height RGB triples, row by row."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def at(self, x, y):
        return self.pixels[y * self.width + x]

    def __eq__(self, other):
        return (isinstance(other, Picture) and self.width == other.width and self.height == other.height
                and self.pixels == other.pixels)


def scaled(src, sw, sh, ww, wh, left=0, top=0):
    """src scaled to sw x sh by the nearest rule, placed at left, top in a
    black ww x wh picture."""
    cols, rows = nearest_maps(src.width, src.height, sw, sh)
    out = [(0, 0, 0)] * (ww * wh)
    for j, r in enumerate(rows):
        if not 0 <= top + j < wh:
            continue
        base = r * src.width
        for i, c in enumerate(cols):
            if 0 <= left + i < ww:
                out[(top + j) * ww + left + i] = src.pixels[base + c]
    return Picture(ww, wh, out)


def letterbox(ww, wh, keep):
    """(scaled width, scaled height, left, top) of the display's picture in
    a ww x wh window."""
    if not keep:
        return ww, wh, 0, 0
    sh = int(HEIGHT / WIDTH * ww)
    if sh <= wh:
        return ww, sh, 0, (wh - sh) // 2
    sw = int(WIDTH / HEIGHT * wh)
    return sw, wh, (ww - sw) // 2, 0


def unscale(win, box):
    """The display-size picture that a nearest-scaled window shows: for
    each source column and row the first window pixel that maps to it."""
    sw, sh, left, top = box
    cols, rows = nearest_maps(WIDTH, HEIGHT, sw, sh)
    first_col, first_row = {}, {}
    for i, c in enumerate(cols):
        first_col.setdefault(c, i)
    for j, r in enumerate(rows):
        first_row.setdefault(r, j)
    return Picture(WIDTH, HEIGHT, [win.at(left + first_col[x], top + first_row[y])
                                   for y in range(HEIGHT) for x in range(WIDTH)])


def not_scaled(win, keep):
    """Pixels of the window that no nearest-scaled display-size picture
    has there (0 when the window is one), with the picture it would be."""
    box = letterbox(win.width, win.height, keep)
    again = scaled(unscale(win, box), box[0], box[1], win.width, win.height, box[2], box[3])
    return sum(1 for a, b in zip(win.pixels, again.pixels) if a != b), again


def not_redrawn(win, expected, reach):
    """Why a window that draws the expected picture's shapes anew does not
    show them (None when it does): a colour covering too few pixels (an
    outline as thin as unscaled covers about half) or too many (more than
    twice: a scaled line width drawn centred covers up to about 1.5 to 2
    times the nearest-scaled outline), or a pixel of one picture farther
    than reach from its colour in the other."""
    w, h = win.width, win.height
    counts = [{}, {}]
    for i, pic in enumerate((win, expected)):
        for p in pic.pixels:
            counts[i][p] = counts[i].get(p, 0) + 1
    for colour in sorted(set(counts[0]) | set(counts[1])):
        have, want = counts[0].get(colour, 0), counts[1].get(colour, 0)
        if have < want - max(4, want // 3) or have > 2 * want + 4:
            return "colour %02x%02x%02x covers %d pixels, expected about %d" % (colour + (have, want))
    for a, b, name in ((win, expected, "window"), (expected, win, "scaled picture")):
        for y in range(h):
            for x in range(w):
                c = a.pixels[y * w + x]
                if b.pixels[y * w + x] == c:
                    continue
                if not any(b.pixels[yy * w + xx] == c
                           for yy in range(max(0, y - reach), min(h, y + reach + 1))
                           for xx in range(max(0, x - reach), min(w, x + reach + 1))):
                    return "the %s's pixel at %d,%d has no pixel of its colour within %d" % (name, x, y, reach)
    return None


def read_window(d, win):
    """The whole window as a Picture, or None when it cannot be read."""
    try:
        g = win.get_geometry()
        if g.width < 1 or g.height < 1:
            return None
        image = win.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
        attrs = win.get_attributes()
    except XError:
        return None
    visual = None
    for depth in d.screen().allowed_depths:
        for v in depth.visuals:
            if v.visual_id == attrs.visual:
                visual = v
    bpp = 2 if g.depth == 16 else 4
    data, stride = image.data, len(image.data) // g.height
    cache, pixels = {}, []
    masks = (visual.red_mask, visual.green_mask, visual.blue_mask)
    for row in range(g.height):
        line = data[row * stride:row * stride + g.width * bpp]
        for value in (struct.unpack("<%d%s" % (g.width, "H" if bpp == 2 else "I"), line)):
            rgb = cache.get(value)
            if rgb is None:
                rgb = cache[value] = tuple(xprobe.channel(value, m) for m in masks)
            pixels.append(rgb)
    return Picture(g.width, g.height, pixels)


def write_picture(path, pics):
    """The pictures side by side (reference, window, differences in red),
    as PNG with PIL, else as PPM."""
    gap = 4
    w = sum(p.width for p in pics) + gap * (len(pics) - 1)
    h = max(p.height for p in pics)
    rows = [[(64, 64, 64)] * w for _ in range(h)]
    x0 = 0
    for p in pics:
        for y in range(p.height):
            rows[y][x0:x0 + p.width] = p.pixels[y * p.width:(y + 1) * p.width]
        x0 += p.width + gap
    flat = bytes(c for row in rows for px in row for c in px)
    try:
        from PIL import Image
        Image.frombytes("RGB", (w, h), flat).save(path + ".png")
        return path + ".png"
    except ImportError:
        with open(path + ".ppm", "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (w, h) + flat)
        return path + ".ppm"


class Step:
    def __init__(self, number, kind, picture):
        self.number, self.kind, self.picture = number, kind, picture


class Run:
    """One run of the player in one configuration on its own X server."""

    def __init__(self, name, applet, player, workdir, depth, wm, timeout):
        self.name, self.applet, self.player = name, applet, player
        self.workdir, self.depth, self.wm, self.timeout = workdir, depth, wm, timeout
        self.steps, self.problem, self.output = [], None, ""
        self.watched = []  # (step, pixels, window, scaled) of frames that were not scaled pictures
        self.frames = {}  # step of an "ordered" watch: the different pictures caught, in order

    def env(self, session):
        mode, (sw, sh), keep, (rw, rh) = CONFIGS[self.name]
        if self.name == "plain":
            rw = rh = 0
        env = dict(os.environ, DISPLAY=session.display, QXWIN_GO=self.go, QXWIN_MODE=str(mode),
                   QXWIN_SW=str(sw), QXWIN_SH=str(sh), QXWIN_KEEP=str(keep),
                   QXWIN_RW=str(rw), QXWIN_RH=str(rh))
        if self.name == "grown":
            env["QXWIN_DW"], env["QXWIN_DH"] = (str(v) for v in CONFIGS["grow"][3])
        supp = os.path.join(HERE, "lsan_system.supp")
        env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), "suppressions=" + supp,
                                                    "print_suppressions=0"]))
        return env

    def run(self):
        self.go = os.path.join(self.workdir, "go-" + self.name)
        os.makedirs(self.go, exist_ok=True)
        try:
            session = run_e2e.XSession(self.depth, self.wm)
        except OSError as e:
            self.problem = "no X server: %s" % e
            return
        try:
            env = self.env(session)
            log = open(os.path.join(self.workdir, self.name + ".log"), "w+")
            proc = subprocess.Popen([self.player, "-QUIET", "-NOSOUND", "-DEBUGDEVICE", "console", self.applet],
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                    env=env, cwd=self.workdir)
            try:
                self.follow(proc, env, session)
            finally:
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
                    self.problem = self.problem or "the player did not end after the last step"
                log.seek(0)
                self.output = log.read()
                log.close()
                if proc.returncode != 0 and not self.problem:
                    self.problem = "the player exited with %d" % proc.returncode
        finally:
            session.close()

    def follow(self, proc, env, session):
        d = xdisplay.Display(session.display)
        try:
            self.follow_on(d, proc, env)
        finally:
            d.close()

    def find_window(self, d):
        """The top-level client window whose name starts with "step"."""
        def walk(w):
            try:
                name = w.get_wm_name()
                if isinstance(name, bytes):
                    name = name.decode("latin-1")
                if name and name.startswith("step"):
                    return w
                for c in w.query_tree().children:
                    found = walk(c)
                    if found:
                        return found
            except XError:
                pass
            return None
        return walk(d.screen().root)

    def title(self, win):
        try:
            name = win.get_wm_name()
        except XError:
            return None
        return name.decode("latin-1") if isinstance(name, bytes) else name

    def follow_on(self, d, proc, env):
        deadline = time.monotonic() + self.timeout
        win, expect, watching = None, 1, False
        while time.monotonic() < deadline:
            if win is None:
                win = self.find_window(d)
            name = self.title(win) if win is not None else None
            if name and name.startswith("step%d" % expect) and (
                    name[4:].split("/")[0] == str(expect)):
                kind = name.partition("/")[2]
                self.act(kind, win, env)
                self.steps.append(Step(expect, kind, self.stable(d, win)))
                open(os.path.join(self.go, "go%d" % expect), "w").close()
                watching = kind in ("ordered", "scroll") or (kind == "watch" and CONFIGS[self.name][0] == 1)
                if kind in ("ordered", "scroll"):
                    self.frames[expect] = []
                expect += 1
                continue
            if proc.poll() is not None:
                return
            if watching:
                self.watch(d, win, expect - 1)
            else:
                time.sleep(0.01)
        self.problem = "timed out waiting for step %d" % expect

    def watch(self, d, win, step):
        """One read of the window between steps: kept when it is not a
        scaled picture (the first such frame after each step), and after
        an "ordered" step when it differs from the last one kept."""
        now = read_window(d, win)
        seen = self.frames.get(step)
        if now is not None and seen is not None and (not seen or seen[-1] != now):
            seen.append(now)
        if now is None or CONFIGS[self.name][0] != 1 or (now.width, now.height) != CONFIGS[self.name][1]:
            return
        differ, again = not_scaled(now, CONFIGS[self.name][2])
        if differ and not any(w[0] == step for w in self.watched):
            self.watched.append((step, differ, now, again))

    def act(self, kind, win, env):
        _, _, _, (rw, rh) = CONFIGS[self.name]
        if self.name in REFERENCES or kind not in ("outside", "back"):
            return
        if kind == "outside":
            w, h = rw, rh
        else:
            w, h = CONFIGS[self.name][1] if CONFIGS[self.name][0] else (WIDTH, HEIGHT)
        subprocess.run(["xdotool", "windowsize", str(win.id), str(w), str(h)], env=env,
                       capture_output=True, timeout=10)
        for _ in range(200):
            try:
                g = win.get_geometry()
                if (g.width, g.height) == (w, h):
                    break
            except XError:
                break
            time.sleep(0.01)
        time.sleep(0.8)  # the player repaints in its next poll

    def stable(self, d, win):
        last = read_window(d, win)
        for _ in range(50):
            time.sleep(0.08)
            now = read_window(d, win)
            if now is not None and now == last:
                return now
            last = now
        return last


def out_of_order(run, workdir):
    """Mismatch texts of the "ordered" watches of one run: the count of
    pixels showing the next step's picture (where it differs from the
    step's own) must not fall from one caught picture to the next."""
    fails, by_number = [], {s.number: s for s in run.steps}
    for step, seen in sorted(run.frames.items()):
        old, new = by_number.get(step), by_number.get(step + 1)
        if not old or old.kind != "ordered" or not new or not old.picture or not new.picture:
            continue
        o, n = old.picture, new.picture
        counts = [sum(1 for a, b, c in zip(f.pixels, o.pixels, n.pixels) if b != c and a == c)
                  if (f.width, f.height) == (n.width, n.height) else 0 for f in seen]
        for i in range(1, len(counts)):
            if counts[i] < counts[i - 1]:
                path = write_picture(os.path.join(workdir, "order-%s-after-step%d" % (run.name, step)),
                                     [o, seen[i - 1], seen[i], n])
                fails.append("frames after step %d [%s]: %d pixels of the new picture, then %d "
                             "(%d pictures caught); old | earlier | later | new: %s" % (
                                 step, run.name, counts[i - 1], counts[i], len(seen), path))
                break
    return fails


def not_held(run, workdir):
    """Mismatch texts of the "held" steps of one run: the window must
    still be the previous step's."""
    fails, by_number = [], {s.number: s for s in run.steps}
    for s in run.steps:
        before = by_number.get(s.number - 1)
        if s.kind != "held" or not before or not s.picture or not before.picture or s.picture == before.picture:
            continue
        if (s.picture.width, s.picture.height) != (before.picture.width, before.picture.height):
            continue  # a BGPic of another size resized the window: nothing to hold
        path = write_picture(os.path.join(workdir, "held-%s-step%d" % (run.name, s.number)),
                             [before.picture, s.picture])
        fails.append("step %d/held [%s]: the window changed before EndRefresh; before | window: %s" % (
            s.number, run.name, path))
    return fails


def moved_over(frame, old, new):
    """Whether frame is new moved by one offset over old: new inside its
    moved rectangle, old outside. The offset follows from the box of the
    pixels that are not old's."""
    w, h = frame.width, frame.height
    diff = [i for i, (a, b) in enumerate(zip(frame.pixels, old.pixels)) if a != b]
    if not diff:
        return True
    xs, ys = [i % w for i in diff], [i // w for i in diff]
    x0, x1, y0, y1 = min(xs), max(xs), min(ys), max(ys)
    for dx in sorted({x0 + k for k in range(-1, 2)} | {x1 + 1 - w + k for k in range(-1, 2)}):
        for dy in sorted({y0 + k for k in range(-1, 2)} | {y1 + 1 - h + k for k in range(-1, 2)}):
            if all(frame.pixels[y * w + x] == (new.pixels[(y - dy) * w + x - dx]
                                               if 0 <= x - dx < w and 0 <= y - dy < h else old.pixels[y * w + x])
                   for y in range(h) for x in range(w)):
                return True
    return False


def not_moved(run, workdir):
    """Mismatch texts of the "scroll" watches of an unscaled or layer-scaled
    run (autoscaled frames are checked as scaled pictures instead)."""
    fails, by_number = [], {s.number: s for s in run.steps}
    if CONFIGS[run.name][0] == 1:
        return fails
    for st in run.steps:
        new = by_number.get(st.number + 1)
        if st.kind != "scroll" or not new or not st.picture or not new.picture:
            continue
        for f in run.frames.get(st.number, []):
            if (f.width, f.height) == (st.picture.width, st.picture.height) and not moved_over(
                    f, st.picture, new.picture):
                path = write_picture(os.path.join(workdir, "scroll-%s-after-step%d" % (run.name, st.number)),
                                     [st.picture, f, new.picture])
                fails.append("frame after step %d [%s]: not the new picture moved over the old one "
                             "(%d pictures caught); old | frame | new: %s" % (
                                 st.number, run.name, len(run.frames[st.number]), path))
                break
    return fails


def not_same(run, workdir):
    """Mismatch texts of one run's "sameN" steps: the window must equal
    the one N steps before."""
    fails, by_number = [], {s.number: s for s in run.steps}
    for st in run.steps:
        kind = st.kind[4:] if st.kind.startswith("auto") else st.kind
        if not kind.startswith("same") or not kind[4:].isdigit():
            continue
        before = by_number.get(st.number - int(kind[4:]))
        if before and before.picture and st.picture and before.picture != st.picture:
            path = write_picture(os.path.join(workdir, "same-%s-step%d" % (run.name, st.number)),
                                 [before.picture, st.picture])
            fails.append("step %d/%s [%s]: the window is not the one of step %d; then | now: %s" % (
                st.number, st.kind, run.name, before.number, path))
    return fails


def compare(ref, run, workdir, grown_ref=None):
    """Mismatch texts of one configuration against the unscaled run (and,
    for a grown display, the run made at the grown size)."""
    mode, _, keep, _ = CONFIGS[run.name]
    fails = []
    by_number = {s.number: s for s in run.steps}
    grown_by_number = {s.number: s for s in grown_ref.steps} if grown_ref else {}
    for rs in ref.steps:
        label = "step %d%s [%s]" % (rs.number, "/" + rs.kind if rs.kind else "", run.name)
        s = by_number.get(rs.number)
        if s is None:
            fails.append("%s: never reached" % label)
            continue
        if s.kind != rs.kind:
            fails.append("%s: title kind differs (%r)" % (label, s.kind))
        if (rs.kind == "scaled" or rs.kind.startswith("auto")) and mode != 1:
            continue
        win = s.picture
        if win is None or rs.picture is None:
            fails.append("%s: window not readable" % label)
            continue
        base = CONFIGS[run.name][1] if mode else (WIDTH, HEIGHT)
        want = CONFIGS[run.name][3] if rs.kind in ("resize", "outside") and any(CONFIGS[run.name][3]) else base
        if (win.width, win.height) != want:
            fails.append("%s: window is %dx%d, expected %dx%d" % (label, win.width, win.height, *want))
            continue
        if rs.kind == "scaled":
            differ, again = not_scaled(win, keep)
            if differ:
                path = write_picture(os.path.join(workdir, "diff-%s-step%d" % (run.name, rs.number)), [win, again])
                fails.append("%s: not a scaled picture, %d pixels differ; window | scaled: %s" % (label, differ, path))
            continue
        if mode == 0 and (win.width, win.height) != (WIDTH, HEIGHT):
            gs = grown_by_number.get(rs.number)
            expected = gs.picture if gs else None
            if expected is None or (expected.width, expected.height) != (win.width, win.height):
                fails.append("%s: the run made at %dx%d has no window of that size here" % (label, *want))
                continue
        elif mode == 0:
            expected = rs.picture
        else:
            box = letterbox(win.width, win.height, keep)
            expected = scaled(rs.picture, box[0], box[1], win.width, win.height, box[2], box[3])
        if rs.kind == "drawn" and mode == 2:
            problem = not_redrawn(win, expected, -(-win.width // WIDTH) + 1)
            if problem:
                path = write_picture(os.path.join(workdir, "diff-%s-step%d" % (run.name, rs.number)),
                                     [rs.picture, expected, win])
                fails.append("%s: %s; unscaled | expected | window: %s" % (label, problem, path))
            continue
        differ = sum(1 for a, b in zip(win.pixels, expected.pixels) if a != b)
        if differ:
            diff = Picture(win.width, win.height,
                           [(255, 0, 0) if a != b else (0, 0, 0) for a, b in zip(win.pixels, expected.pixels)])
            path = write_picture(os.path.join(workdir, "diff-%s-step%d" % (run.name, rs.number)),
                                 [rs.picture, expected, win, diff])
            fails.append("%s: %d pixels differ (window %dx%d); unscaled | expected | window | diff: %s" % (
                label, differ, win.width, win.height, path))
    for step, differ, win, again in run.watched:
        path = write_picture(os.path.join(workdir, "frame-%s-after-step%d" % (run.name, step)), [win, again])
        fails.append("frame after step %d [%s]: not a scaled picture, %d pixels differ; window | scaled: %s" % (
            step, run.name, differ, path))
    if len(run.steps) > len(ref.steps):
        fails.append("[%s] reached %d steps, the unscaled run %d" % (run.name, len(run.steps), len(ref.steps)))
    return fails


def main(argv):
    ap = argparse.ArgumentParser(description="Compare a listing's window on scaled and unscaled displays.")
    ap.add_argument("--qxasm", required=True)
    ap.add_argument("--player", required=True)
    ap.add_argument("--workdir")
    ap.add_argument("--depth", choices=("16", "24"), default="24")
    ap.add_argument("--wm", choices=("openbox",))
    ap.add_argument("--configs", help="comma-separated: " + ", ".join(c for c in CONFIGS if c not in REFERENCES))
    ap.add_argument("--timeout", type=float, default=240.0)
    ap.add_argument("--save", action="store_true", help="write every step's window into the work folder")
    ap.add_argument("listing")
    a = ap.parse_args(argv)
    if X is None:
        print("SKIP: python3-xlib is not installed")
        return SKIP
    for tool in ("Xvfb", "xdotool") + ((a.wm,) if a.wm else ()):
        if not shutil.which(tool):
            print("SKIP: %s is not installed" % tool)
            return SKIP
    configs = a.configs.split(",") if a.configs else list(DEFAULT_CONFIGS)
    for c in configs:
        if c not in CONFIGS or c in REFERENCES:
            print("FAIL: unknown configuration %s" % c)
            return 1
    workdir = os.path.abspath(a.workdir) if a.workdir else tempfile.mkdtemp(prefix="qxwin.")
    if os.path.isdir(workdir):
        shutil.rmtree(workdir)
    os.makedirs(workdir)
    # The listing's ";! setup:" lines make its inputs in the work folder.
    with open(a.listing, encoding="utf-8") as f:
        spec = run_e2e.parse_spec(f.read(), os.path.basename(a.listing))
    subst = {"dir": workdir, "src": os.path.dirname(os.path.abspath(a.listing)), "depth": a.depth}
    for c in spec["setup"]:
        c = run_e2e.expand(c, subst)
        r = subprocess.run(c, shell=True, cwd=workdir, capture_output=True, text=True)
        if r.returncode:
            print("FAIL: setup failed: %s\n%s%s" % (c, r.stdout, r.stderr))
            return 1
    applet = os.path.join(workdir, "window.qxa")
    proc = subprocess.run([a.qxasm, "-a", a.listing, "-o", applet], capture_output=True, text=True)
    if proc.returncode:
        print("FAIL: qxasm failed:\n%s" % proc.stderr)
        return 1
    # Each run has its own X server: they run side by side.
    runs = [Run(name, applet, os.path.abspath(a.player), workdir, a.depth, a.wm, a.timeout)
            for name in ["plain"] + configs + (["grown"] if "grow" in configs else [])]
    threads = [threading.Thread(target=r.run) for r in runs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    ref, fails = runs[0], []
    if a.save:
        for r in runs:
            for st in r.steps:
                if st.picture:
                    write_picture(os.path.join(workdir, "%s-step%d" % (r.name, st.number)), [st.picture])
    for r in runs:
        if r.problem:
            tail = "\n".join(r.output.splitlines()[-15:])
            fails.append("[%s] %s after %d steps\n%s" % (r.name, r.problem, len(r.steps), tail))
    if not ref.steps:
        fails.append("[plain] no step reached")
    grown_ref = next((r for r in runs if r.name == "grown"), None)
    for r in runs:
        fails += out_of_order(r, workdir) + not_held(r, workdir) + not_same(r, workdir) + not_moved(r, workdir)
    for r in runs[1:]:
        if r.name not in REFERENCES:
            fails += compare(ref, r, workdir, grown_ref)
    where = "%s at depth %s%s" % (os.path.basename(a.listing), a.depth, " with " + a.wm if a.wm else "")
    if fails:
        print("FAIL: %s: %d steps, %d mismatches or problems" % (where, len(ref.steps), len(fails)))
        for f in fails:
            print("* " + f)
        return 1
    print("PASS: %s: %d steps in %s" % (where, len(ref.steps), ", ".join(configs)))
    if not a.workdir:
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

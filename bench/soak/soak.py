#!/usr/bin/env python3
"""Runs the soak applet (soak.qxs) on a private Xvfb with its sound on an
ALSA file PCM and its downloads from a local nginx, and checks that it
holds steady: after a warm-up resident memory does not keep growing
(below), the open descriptors and the object counts stay the same from the
first report on, and the frame time does not drift. The drift is wall-clock time and so only means
something on a quiet machine: --no-drift-check prints it without judging
it (the test suite runs that way, beside other work).

Usage: soak.py --qxasm PATH --player PATH [--seconds 600] [--report 60] [--workdir DIR]
               [--no-drift-check]"""
import argparse
import os
import threading
import shutil
import subprocess
import sys
import time
import wave
import math

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, os.pardir, os.pardir))
sys.path.insert(0, os.path.join(ROOT, "tools", "e2e"))
import peers  # noqa: E402
import run_e2e  # noqa: E402

# Resident memory is read ten times a second. A single reading swings by
# up to a megabyte with the buffers a frame holds, so each second counts
# with its highest reading. Over the first WARMUP_S the player settles
# (its readings dip by most of a megabyte and come back); after that a line
# plus at most one rise (a jump, or a climb over up to RISE_S seconds, at
# the place that fits best) is fitted to those maxima by least squares, and
# the line's slope stays below RSS_SLOPE_KB_S. A one-time step (a cache
# filled, the allocator growing once beside other work) goes into the rise
# wherever it comes; a leak is spread over every second and stays in the
# slope. Clean runs with a step of 1 to 2 MB anywhere measure at most
# 14 KB/s, a leak of 20 KB/s at least 19 (README.md). The whole run, a step
# included, grows by less than RSS_TOTAL_KB from report to report.
WARMUP_S = 10
SLOPE_WINDOW_S = 40  # at least this long after the warm-up
RISE_S = 4
RSS_SLOPE_KB_S = 16
RSS_TOTAL_KB = 4096
DRIFT = 1.25  # the last period's frame time against the first one's


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def per_second_max(samples, since, until):
    top = {}
    for t, kb in samples:
        if since <= t <= until:
            top[int(t)] = max(kb, top.get(int(t), 0))
    return [(t + 0.5, kb) for t, kb in sorted(top.items())]


def growth(points):
    """Fits kb = a + slope * t + rise * h(t) to the points by least squares,
    h going from 0 to 1 once, as a jump or over up to RISE_S seconds, at the
    place that leaves the least error (rise 0: a plain line). Gives (slope
    in KB/s, rise in KB, time the rise ends)."""
    n = len(points)
    mt = sum(t for t, _ in points) / n
    mk = sum(kb for _, kb in points) / n
    ts = [t - mt for t, _ in points]
    ks = [kb - mk for _, kb in points]
    stt = sum(t * t for t in ts)
    stk = sum(t * k for t, k in zip(ts, ks))
    skk = sum(k * k for k in ks)
    best = (skk - stk * stk / stt, stk / stt, 0.0, None)
    for width in range(1, RISE_S + 1):
        for i in range(n - 1):  # the rise begins after point i
            hs = [min(max((j - i) / width, 0.0), 1.0) for j in range(n)]
            mh = sum(hs) / n
            hs = [h - mh for h in hs]
            shh = sum(h * h for h in hs)
            sth = sum(t * h for t, h in zip(ts, hs))
            shk = sum(h * k for h, k in zip(hs, ks))
            det = stt * shh - sth * sth
            if det <= 0:
                continue
            b = (stk * shh - shk * sth) / det
            c = (shk * stt - stk * sth) / det
            err = skk - b * stk - c * shk
            if c > 0 and err < best[0]:
                best = (err, b, c, points[min(i + width, n - 1)][0])
    return best[1:]


def prepare(work, seconds, report, port):
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "mkmod.py"), "busy",
                    os.path.join(work, "song.mod")], check=True)
    with wave.open(os.path.join(work, "loop.wav"), "wb") as w:
        w.setparams((2, 2, 22050, 0, "NONE", ""))
        frames = bytearray()
        for i in range(22050):
            v = int(8000 * math.sin(2 * math.pi * 440 * i / 22050))
            frames += v.to_bytes(2, "little", signed=True) * 2
        w.writeframes(bytes(frames))
    with open(os.path.join(work, ".asoundrc"), "w") as f:
        f.write('pcm.!default { type file; slave.pcm "null"; file "/dev/null"; format "raw" }\n')
    with open(os.path.join(HERE, "soak.qxs")) as f:
        text = f.read()
    # The run goes on two seconds past the last report, so that the driver
    # reads the player's figures before it begins to shut down.
    for k, v in (("port", port), ("seconds", str(seconds + 2)), ("report", str(report))):
        text = text.replace("{" + k + "}", v)
    with open(os.path.join(work, "soak.qxs"), "w") as f:
        f.write(text)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--qxasm", required=True)
    ap.add_argument("--player", required=True)
    ap.add_argument("--seconds", type=int, default=600)
    ap.add_argument("--report", type=int, default=60)
    ap.add_argument("--workdir", default="/tmp/qxsoak")
    ap.add_argument("--no-drift-check", dest="drift_check", action="store_false")
    a = ap.parse_args(argv)
    a.qxasm, a.player = os.path.abspath(a.qxasm), os.path.abspath(a.player)
    work = os.path.abspath(a.workdir)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    peers.LIFETIME = a.seconds + 120
    server = peers.Peers()
    session = None
    try:
        problem = server.start(["nginx"], work)
        if problem == "":
            print("SKIP: nginx is not installed")
            return 77
        if problem:
            print("FAIL: " + problem)
            return 1
        prepare(work, a.seconds, a.report, server.subst["port"])
        subprocess.run([a.qxasm, "-a", os.path.join(work, "soak.qxs"), "-o", os.path.join(work, "soak.qxa")],
                       check=True)
        session = run_e2e.XSession("24", None)
        env = dict(os.environ, HOME=work, DISPLAY=session.display)
        supp = os.path.join(ROOT, "tools", "e2e", "lsan_system.supp")
        env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % supp
        # Freed memory goes back at once, so that resident memory tells.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "quarantine_size_mb=0"]))
        return soak(a, work, env)
    finally:
        if session:
            session.close()
        server.stop()


def soak(a, work, env):
    player = subprocess.Popen([a.player, "-QUIET", "-FORCEFLUSH", "-DEBUGDEVICE", "console", "soak.qxa"], cwd=work, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    rows, other = [], []
    start = time.monotonic()
    samples, done = [], threading.Event()

    # Resident memory between the reports as well.
    def sample():
        while not done.wait(0.1):
            try:
                kb = rss_kb(player.pid)
            except OSError:
                return
            if kb:  # 0 once the player has ended
                samples.append((time.monotonic() - start, kb))
    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    for line in player.stdout:
        words = line.split()
        if words and words[0] == "report":
            rows.append({"t": time.monotonic() - start, "secs": int(words[1]), "frames": int(words[2]),
                         "timeouts": int(words[3]), "counts": words[4:], "rss": rss_kb(player.pid),
                         "fds": len(os.listdir("/proc/%d/fd" % player.pid))})
            r = rows[-1]
            print("%4d s  rss %7d KB  fds %3d  frames %6d  timeouts %5d  objects %s" % (
                r["secs"], r["rss"], r["fds"], r["frames"], r["timeouts"], " ".join(r["counts"])), flush=True)
        else:
            other.append(line.rstrip("\n"))
    try:
        err = player.communicate(timeout=60)[1]
    except subprocess.TimeoutExpired:
        player.kill()
        err = player.communicate()[1]
    done.set()
    sampler.join()
    fails = []
    if player.returncode != 0:
        fails.append("exit status %d:\n%s" % (player.returncode, err[-3000:]))
    if other != ["end"]:
        fails.append("output besides the reports: %r" % other)
    if len(rows) < 3:
        fails.append("%d reports, at least 3 needed" % len(rows))
    else:
        base, last = rows[0], rows[-1]
        times = []
        for prev, row in zip(rows, rows[1:]):
            frames = row["frames"] - prev["frames"]
            times.append(1000.0 * (row["secs"] - prev["secs"]) / frames if frames else float("inf"))
        print("frame time per period (ms): " + " ".join("%.2f" % t for t in times))
        total = last["rss"] - base["rss"]
        points = per_second_max(samples, WARMUP_S, last["t"])
        if last["t"] - WARMUP_S < SLOPE_WINDOW_S or len(points) < 3:
            fails.append("too short to judge memory: at least %d s are needed" % (WARMUP_S + SLOPE_WINDOW_S))
        else:
            grow, rise, at = growth(points)
            print("resident memory after %d s: %+.1f KB/s%s; after the first report: %+d KB"
                  % (WARMUP_S, grow, " beside one rise of %d KB by %d s" % (rise, at) if rise >= 1 else "", total))
            if grow >= RSS_SLOPE_KB_S:
                fails.append("resident memory grew by %.1f KB/s after the warm-up" % grow)
        if total >= RSS_TOTAL_KB:
            fails.append("resident memory grew by %d KB over the run" % total)
        if any(r["fds"] != base["fds"] for r in rows):
            fails.append("open descriptors changed: %s" % [r["fds"] for r in rows])
        if any(r["counts"] != base["counts"] for r in rows):
            fails.append("object counts changed: %s" % [r["counts"] for r in rows])
        if a.drift_check and times[-1] > times[0] * DRIFT:
            fails.append("frame time drifted from %.2f to %.2f ms" % (times[0], times[-1]))
    for f in fails:
        print("FAIL: " + f)
    if not fails:
        print("PASS: steady over %d s" % rows[-1]["secs"])
    return 1 if fails else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

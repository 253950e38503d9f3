#!/usr/bin/env python3
"""Script VM speed against Debian's lua5.1, lua5.4 and luajit -joff, one command.

Assembles every scripts/NAME.qxs, runs it in-process with bench_vm (hook off
and hook on) and runs scripts/NAME.lua under each peer: lua5.1, lua5.4 and
luajit with its compiler off (a pure interpreter). Every side times its own
processor time around the script only, best of --repeat rounds, the rounds
alternating between the sides so that all see the same load. Prints each
time, the ratio of ours to every peer, hook off and on, and the geometric
means, and checks that ours returns what lua5.1 returns.

Usage: run_vm_bench.py [--build DIR] [--repeat N] [--cpu N] [--whole] [NAME ...]
The build directory should be a Release build with bench_vm and qxasm built
(default: build-release next to this source tree). --cpu N pins every run to
processor N with taskset.

--whole measures as users run it instead: each script assembled as an
applet and run by the player (build/src/main/zephyrane, its line hook
installed as at start-up, display opened) against `lua5.1 NAME.lua` and
the other peers as whole processes, wall-clock time from exec to exit,
median of --repeat, once pinned to --cpu N (default: the last processor)
and once unpinned. Start-up is printed apart: an applet that returns at
once against `lua5.1 -e ""`. Without DISPLAY it starts its own Xvfb.

Targets, hook off and on: every ratio against lua5.1 at most 1.0 and the
geometric mean against lua5.1 at most 0.72 (the level of lua5.4 here); the
exit status is 1 when they are missed or results differ.
"""
import argparse
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "x11"))
import xvfb as xvfbserver  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCRIPTS = os.path.join(HERE, "scripts")

# name, executable, extra switches, Debian package
PEERS = [("lua5.1", "lua5.1", [], "lua5.1"),
         ("lua5.4", "lua5.4", [], "lua5.4"),
         ("luajit", "luajit", ["-joff"], "luajit")]
TARGET_WORST = 1.0
TARGET_GEO = 0.72

# Runs a script file, then prints its processor time and its return values.
LUA_DRIVER = (
    "local f = assert(loadfile(arg[1])) "
    "local function pack(...) return {n = select('#', ...), ...} end "
    "local best, out = nil, nil "
    "for r = 1, tonumber(arg[2]) do "
    "  local t = os.clock() local res = pack(f()) t = os.clock() - t "
    "  if not best or t < best then best = t end "
    "  local parts = {} "
    "  for i = 1, res.n do local v = res[i] "
    "    parts[i] = type(v) == 'number' and string.format('%.14g', v) or tostring(v) end "
    "  out = table.concat(parts, '\\t') "
    "end "
    "io.write(string.format('%.4f', best), ' ', out, '\\n')"
)


def find_peer(exe, package):
    path = shutil.which(exe)
    if path:
        return path
    print("%s missing: installing Debian's %s package" % (exe, package), file=sys.stderr)
    cmd = ["apt-get", "install", "-y", package]
    if os.geteuid() != 0 and shutil.which("sudo"):
        cmd = ["sudo"] + cmd
    subprocess.run(cmd, check=False)
    return shutil.which(exe)


def parse(output):
    seconds, _, values = output.strip().partition(" ")
    return float(seconds), values


def run(cmd, pin):
    if pin is not None:
        cmd = ["taskset", "-c", str(pin)] + cmd
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.strip()))
    return parse(proc.stdout)


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values))


def start_xvfb():
    """A private Xvfb for the player when there is no X server; (process, name)."""
    try:
        return xvfbserver.start_xvfb()
    except OSError as e:
        sys.exit(str(e))


def wall(cmd, pin):
    """Seconds from exec to exit of one whole process."""
    if pin is not None:
        cmd = ["taskset", "-c", str(pin)] + cmd
    t = time.perf_counter()
    proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    t = time.perf_counter() - t
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.strip()))
    return t


def whole_process(args, names, peers, qxasm):
    player = os.path.join(args.build, "src", "main", "zephyrane")
    if not os.path.exists(player):
        sys.exit("%s missing: build it with cmake --build %s --target zephyrane" % (player, args.build))
    xvfb = None
    if not os.environ.get("DISPLAY"):
        xvfb, os.environ["DISPLAY"] = start_xvfb()
    pnames = [p for p, _ in peers]
    missed = False
    try:
        with tempfile.TemporaryDirectory() as tmp:
            applets = {}
            for name in names + ["_empty"]:
                listing = os.path.join(SCRIPTS, name + ".qxs")
                if name == "_empty":
                    listing = os.path.join(tmp, "empty.qxs")
                    with open(listing, "w") as f:
                        f.write("    RETURN 0 1\n")
                applets[name] = os.path.join(tmp, name + ".qxa")
                asm = subprocess.run([qxasm, "-a", listing, "-o", applets[name]], capture_output=True, text=True)
                if asm.returncode != 0:
                    sys.exit("qxasm failed on %s:\n%s" % (name, asm.stderr.strip()))
            empty_lua = os.path.join(tmp, "empty.lua")
            open(empty_lua, "w").close()
            pin_cpu = args.cpu if args.cpu is not None else (os.cpu_count() or 1) - 1
            for pin in (pin_cpu, None):
                rows = []
                for name in ["_empty"] + names:
                    script = empty_lua if name == "_empty" else os.path.join(SCRIPTS, name + ".lua")
                    ours, ref = [], {p: [] for p in pnames}
                    # Rounds alternate between the sides so that all see the same load.
                    for _ in range(args.repeat):
                        ours.append(wall([player, "-QUIET", applets[name]], pin))
                        for peer, cmd in peers:
                            ref[peer].append(wall(cmd + [script], pin))
                    rows.append((name, statistics.median(ours), {p: statistics.median(ref[p]) for p in pnames},
                                 max(ours) - min(ours)))
                print("whole process, wall-clock median of %d, %s" %
                      (args.repeat, "pinned to processor %d" % pin if pin is not None else "not pinned"))
                print("%-10s %7s %7s" % ("benchmark", "ours", "spread") + "".join(" %7s" % p for p in pnames) +
                      "".join(" %8s" % ("/" + p) for p in pnames))
                for name, o, ref, spread in rows:
                    print("%-10s %7.3f %7.3f" % ("start-up" if name == "_empty" else name, o, spread) +
                          "".join(" %7.3f" % ref[p] for p in pnames) + "".join(" %8.2f" % (o / ref[p]) for p in pnames))
                body = rows[1:]
                for p in pnames:
                    print("geometric mean ours/%-7s %.3f" % (p + ":", geomean([o / ref[p] for _, o, ref, _ in body])))
                worst = max(o / ref["lua5.1"] for _, o, ref, _ in body)
                geo = geomean([o / ref["lua5.1"] for _, o, ref, _ in body])
                print("targets against lua5.1: every ratio <= %.2f (worst %.2f), geometric mean <= %.2f (%.2f)\n"
                      % (TARGET_WORST, worst, TARGET_GEO, geo))
                missed = missed or worst > TARGET_WORST or geo > TARGET_GEO
    finally:
        if xvfb:
            xvfb.kill()
            xvfb.wait()
    return 1 if missed else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-release"))
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--cpu", type=int, default=None)
    ap.add_argument("--whole", action="store_true")
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()

    bench_vm = os.path.join(args.build, "bench", "vm", "bench_vm")
    qxasm = os.path.join(args.build, "tools", "qxasm")
    for tool in ([] if args.whole else [bench_vm]) + [qxasm]:
        if not os.path.exists(tool):
            sys.exit("%s missing: build it with cmake --build %s --target bench_vm qxasm" % (tool, args.build))
    peers = []
    for name, exe, switches, package in PEERS:
        path = find_peer(exe, package)
        if not path:
            sys.exit("%s is not available" % exe)
        peers.append((name, [path] + switches))

    names = args.names or sorted(f[:-4] for f in os.listdir(SCRIPTS) if f.endswith(".qxs"))
    if args.whole:
        return whole_process(args, names, peers, qxasm)
    rows = []  # (name, off, on, {peer: seconds})
    mismatch = False
    with tempfile.TemporaryDirectory() as tmp:
        driver = os.path.join(tmp, "driver.lua")
        with open(driver, "w") as f:
            f.write(LUA_DRIVER)
        for name in names:
            chunk = os.path.join(tmp, name + ".qxc")
            asm = subprocess.run([qxasm, "-c", os.path.join(SCRIPTS, name + ".qxs"), "-o", chunk],
                                 capture_output=True, text=True)
            if asm.returncode != 0:
                sys.exit("qxasm failed on %s:\n%s" % (name, asm.stderr.strip()))
            off = on = float("inf")
            ref = {peer: float("inf") for peer, _ in peers}
            values = {}
            for _ in range(args.repeat):
                t, ours = run([bench_vm, chunk, "--repeat", "1"], args.cpu)
                off = min(off, t)
                t, _ = run([bench_vm, chunk, "--hook", "--repeat", "1"], args.cpu)
                on = min(on, t)
                for peer, cmd in peers:
                    t, values[peer] = run(cmd + [driver, os.path.join(SCRIPTS, name + ".lua"), "1"], args.cpu)
                    ref[peer] = min(ref[peer], t)
            if ours != values["lua5.1"]:
                mismatch = True
                print("%s: results differ: ours %r, lua5.1 %r" % (name, ours, values["lua5.1"]))
            rows.append((name, off, on, ref))

    pnames = [p for p, _ in peers]
    print("pinned to processor %d" % args.cpu if args.cpu is not None else "not pinned")
    print("%-10s %7s %7s" % ("benchmark", "ours", "hook") + "".join(" %7s" % p for p in pnames) +
          "".join(" %8s" % ("/" + p) for p in pnames) + "".join(" %8s" % ("hk/" + p) for p in pnames))
    for name, off, on, ref in rows:
        print("%-10s %7.3f %7.3f" % (name, off, on) + "".join(" %7.3f" % ref[p] for p in pnames) +
              "".join(" %8.2f" % (off / ref[p]) for p in pnames) + "".join(" %8.2f" % (on / ref[p]) for p in pnames))
    geo = {}
    for p in pnames:
        geo[(p, "off")] = geomean([off / ref[p] for _, off, _, ref in rows])
        geo[(p, "on")] = geomean([on / ref[p] for _, _, on, ref in rows])
        print("geometric mean ours/%-7s %.2f hook off, %.2f hook on" % (p + ":", geo[(p, "off")], geo[(p, "on")]))
    lua54 = geomean([ref["lua5.4"] / ref["lua5.1"] for *_, ref in rows])
    peerjit = geomean([ref["luajit"] / ref["lua5.1"] for *_, ref in rows])
    print("peers against lua5.1: lua5.4 %.2f, luajit -joff %.2f" % (lua54, peerjit))
    worst = max(max(off, on) / ref["lua5.1"] for _, off, on, ref in rows)
    print("targets against lua5.1, hook off and on: every ratio <= %.2f (worst %.2f), geometric mean <= %.2f"
          % (TARGET_WORST, worst, TARGET_GEO))
    missed = worst > TARGET_WORST or max(geo[("lua5.1", "off")], geo[("lua5.1", "on")]) > TARGET_GEO
    return 1 if mismatch or missed else 0


if __name__ == "__main__":
    sys.exit(main())

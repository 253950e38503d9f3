#!/usr/bin/env python3
"""Script VM speed against Debian's lua5.1, lua5.4 and luajit -joff, one command.

Assembles every scripts/NAME.qxs, runs it in-process with bench_vm (hook off
and hook on) and runs scripts/NAME.lua under each peer: lua5.1, lua5.4 and
luajit with its compiler off (a pure interpreter). Every side times its own
processor time around the script only, best of --repeat rounds, the rounds
alternating between the sides so that all see the same load. Prints each
time, the ratio of ours to every peer, hook off and on, and the geometric
means, and checks that ours returns what lua5.1 returns.

Usage: run_vm_bench.py [--build DIR] [--repeat N] [--cpu N] [NAME ...]
The build directory should be a Release build with bench_vm and qxasm built
(default: build-release next to this source tree). --cpu N pins every run to
processor N with taskset.

Targets, hook off and on: every ratio against lua5.1 at most 1.0 and the
geometric mean against lua5.1 at most 0.72 (the level of lua5.4 here); the
exit status is 1 when they are missed or results differ.
"""
import argparse
import math
import os
import shutil
import subprocess
import sys
import tempfile

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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-release"))
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--cpu", type=int, default=None)
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()

    bench_vm = os.path.join(args.build, "bench", "vm", "bench_vm")
    qxasm = os.path.join(args.build, "tools", "qxasm")
    for tool in (bench_vm, qxasm):
        if not os.path.exists(tool):
            sys.exit("%s missing: build it with cmake --build %s --target bench_vm qxasm" % (tool, args.build))
    peers = []
    for name, exe, switches, package in PEERS:
        path = find_peer(exe, package)
        if not path:
            sys.exit("%s is not available" % exe)
        peers.append((name, [path] + switches))

    names = args.names or sorted(f[:-4] for f in os.listdir(SCRIPTS) if f.endswith(".qxs"))
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

#!/usr/bin/env python3
"""Script VM speed against Debian's lua5.1, one command.

Assembles every scripts/NAME.qxs, runs it in-process with bench_vm (hook off
and hook on) and runs scripts/NAME.lua under lua5.1; both sides time their
own processor time around the script only, best of --repeat rounds. Prints
each time, the ratio ours/lua5.1 and the geometric mean, and checks that
both sides return the same values.

Usage: run_vm_bench.py [--build DIR] [--repeat N] [NAME ...]
The build directory should be a Release build with bench_vm and qxasm built
(default: build-release next to this source tree).
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

# Runs a script file, then prints its processor time and its return values.
LUA_DRIVER = (
    "local f = assert(loadfile(arg[1])) "
    "local best, out = nil, nil "
    "for r = 1, tonumber(arg[2]) do "
    "  local t = os.clock() local res = {f()} t = os.clock() - t "
    "  if not best or t < best then best = t end "
    "  local parts = {} "
    "  for i = 1, table.getn(res) do local v = res[i] "
    "    parts[i] = type(v) == 'number' and string.format('%.14g', v) or tostring(v) end "
    "  out = table.concat(parts, '\\t') "
    "end "
    "io.write(string.format('%.4f', best), ' ', out, '\\n')"
)


def find_lua():
    lua = shutil.which("lua5.1")
    if lua:
        return lua
    print("lua5.1 missing: installing Debian's lua5.1 package", file=sys.stderr)
    cmd = ["apt-get", "install", "-y", "lua5.1"]
    if os.geteuid() != 0 and shutil.which("sudo"):
        cmd = ["sudo"] + cmd
    subprocess.run(cmd, check=False)
    return shutil.which("lua5.1")


def parse(output):
    seconds, _, values = output.strip().partition(" ")
    return float(seconds), values


def run(cmd):
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr.strip()))
    return parse(proc.stdout)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-release"))
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("names", nargs="*")
    args = ap.parse_args()

    bench_vm = os.path.join(args.build, "bench", "vm", "bench_vm")
    qxasm = os.path.join(args.build, "tools", "qxasm")
    for tool in (bench_vm, qxasm):
        if not os.path.exists(tool):
            sys.exit("%s missing: build it with cmake --build %s --target bench_vm qxasm" % (tool, args.build))
    lua = find_lua()
    if not lua:
        sys.exit("lua5.1 is not available")

    names = args.names or sorted(f[:-4] for f in os.listdir(SCRIPTS) if f.endswith(".qxs"))
    rows = []
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
            # Rounds alternate the three runs so that all see the same load.
            off = on = ref = float("inf")
            for _ in range(args.repeat):
                t, ours = run([bench_vm, chunk, "--repeat", "1"])
                off = min(off, t)
                t, _ = run([bench_vm, chunk, "--hook", "--repeat", "1"])
                on = min(on, t)
                t, theirs = run([lua, driver, os.path.join(SCRIPTS, name + ".lua"), "1"])
                ref = min(ref, t)
            if ours != theirs:
                mismatch = True
                print("%s: results differ: ours %r, lua5.1 %r" % (name, ours, theirs))
            rows.append((name, ref, off, on))

    print("%-10s %9s %9s %9s %11s %11s %9s" % ("benchmark", "lua5.1 s", "ours s", "hook s",
                                             "ratio off", "ratio hook", "hook +%"))
    for name, ref, off, on in rows:
        print("%-10s %9.3f %9.3f %9.3f %11.2f %11.2f %8.1f%%" % (
            name, ref, off, on, off / ref, on / ref, (on - off) / off * 100))
    geo_off = math.exp(sum(math.log(off / ref) for _, ref, off, _ in rows) / len(rows))
    geo_on = math.exp(sum(math.log(on / ref) for _, ref, _, on in rows) / len(rows))
    worst = max(off / ref for _, ref, off, _ in rows)
    print("geometric mean ours/lua5.1: %.2f hook off, %.2f hook on" % (geo_off, geo_on))
    print("targets (hook off): every ratio <= 1.0 (worst %.2f), geometric mean <= 0.8" % worst)
    return 1 if mismatch or worst > 1.0 or geo_off > 0.8 else 0


if __name__ == "__main__":
    sys.exit(main())

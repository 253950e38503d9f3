#!/usr/bin/env python3
"""An idle applet as users run it: the player in WaitEvent with one
SetInterval(1000), on a private Xvfb, for --seconds (10).

Two runs of the real player (start-up included):
1. unobserved: processor time of the whole process (user + system, from
   wait4) and, just before the end, the voluntary context switches of each
   of its threads (/proc/PID/task/TID/status): every one is a wake-up;
2. under `strace -f -c`: the system calls of the whole process, and under
   `strace -f` the calls per thread.
Targets: under 1% of a core, and the script thread woken only by its timer
(about one wake-up a second, a few more at start-up).

Usage: idle_applet.py [--build DIR] [--seconds N]
"""
import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "x11"))
import xvfb as xvfbserver  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

APPLET = """\
; Idle: one interval of a second, then WaitEvent for ever.
    GETGLOBAL 0 "setinterval"
    LOADK 1 #1
    CLOSURE 2 tick
    LOADK 3 #1000
    CALL 0 4 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1
.function tick
.params 1
    RETURN 0 1
.end
"""


def start_xvfb():
    try:
        return xvfbserver.start_xvfb()
    except OSError as e:
        sys.exit(str(e))


def thread_switches(pid):
    """{tid: (name, voluntary context switches)} of a running process."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                status = f.read()
        except OSError:
            continue
        name = re.search(r"^Name:\s*(.*)$", status, re.M).group(1)
        switches = int(re.search(r"^voluntary_ctxt_switches:\s*(\d+)", status, re.M).group(1))
        out[int(tid)] = (name, switches)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--seconds", type=float, default=10.0)
    args = ap.parse_args()
    player = os.path.join(args.build, "src", "main", "zephyrane")
    qxasm = os.path.join(args.build, "tools", "qxasm")
    for tool in (player, qxasm):
        if not os.path.exists(tool):
            sys.exit("%s missing: build it first (./run.sh builds both)" % tool)
    if not shutil.which("strace"):
        sys.exit("strace missing: apt-get install strace")
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    try:
        with tempfile.TemporaryDirectory() as tmp:
            listing, applet = os.path.join(tmp, "idle.qxs"), os.path.join(tmp, "idle.qxa")
            with open(listing, "w") as f:
                f.write(APPLET)
            subprocess.run([qxasm, "-a", listing, "-o", applet], check=True)

            # 1. Unobserved.
            proc = subprocess.Popen([player, "-QUIET", applet], env=env)
            main_tid = proc.pid
            time.sleep(args.seconds - 0.1)
            threads = thread_switches(proc.pid)
            time.sleep(0.1)
            proc.send_signal(signal.SIGKILL)
            _, _, usage = os.wait4(proc.pid, 0)
            cpu = usage.ru_utime + usage.ru_stime
            print("idle applet, %.0f s, start-up included: processor time %.3f s = %.2f%% of a core "
                  "(target < 1%%)" % (args.seconds, cpu, 100 * cpu / args.seconds))
            print("voluntary context switches (wake-ups) per thread:")
            for tid, (name, switches) in sorted(threads.items()):
                role = "script thread" if tid == main_tid else name
                print("  %-28s %6d  (%.1f/s)" % (role, switches, switches / args.seconds))

            # 2. Under strace: all calls, then per thread.
            trace = os.path.join(tmp, "trace")
            proc = subprocess.Popen(["strace", "-f", "-qq", "-o", trace, player, "-QUIET", applet], env=env)
            time.sleep(args.seconds)
            # Ending the player ends strace.
            with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
                for child in f.read().split():
                    os.kill(int(child), signal.SIGKILL)
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            calls = collections.defaultdict(collections.Counter)
            first = None
            with open(trace) as f:
                for line in f:
                    m = re.match(r"(\d+)\s+(?:<\.\.\. )?(\w+)", line)
                    if not m or "resumed>" in line:
                        continue
                    tid = int(m.group(1))
                    first = first or tid
                    calls[tid][m.group(2)] += 1
            print("system calls per thread under strace -f over %.0f s (start-up included):" % args.seconds)
            for tid, counter in sorted(calls.items()):
                role = "script thread" if tid == first else "thread %d" % tid
                top = ", ".join("%s %d" % kv for kv in counter.most_common(5))
                print("  %-14s %6d: %s" % (role, sum(counter.values()), top))
    finally:
        xvfb.kill()
        xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs a few end-to-end listings with the Nth allocation failing
(QX_FAIL_ALLOC=N, honoured by test builds), N stepping through the
allocations of each run. A run may pass, or end with an error report
("Out of memory!" where the failed allocation was the script's); it must
never crash, hang, or draw a sanitizer or leak report.

Usage: alloc_failures.py QXASM PLAYER WORKDIR [--budget SECONDS] [--points N] LISTING..."""
import argparse
import concurrent.futures
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "e2e"))
import run_e2e  # noqa: E402

HANG = 20.0  # seconds a run may take before it counts as hung
BAD = ("AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:")
local = threading.local()
real_run_player = run_e2e.run_player


def run_player(cmd, env, workdir, stdin, spec, subst):
    """The player of the current thread's run, with its failure set."""
    env = dict(env, QX_FAIL_ALLOC=local.fail)
    spec = dict(spec, timeout=min(spec["timeout"], HANG))
    try:
        local.result = real_run_player(cmd, env, workdir, stdin, spec, subst)
    except subprocess.TimeoutExpired:
        local.result = "hang"
        raise
    return local.result


run_e2e.run_player = run_player
run_e2e.print = lambda *args, **kwargs: None  # its verdicts do not apply here


def run(qxasm, player, listing, workdir, fail):
    local.fail, local.result = str(fail), None
    run_e2e.run_test(listing, qxasm, player, workdir)
    return local.result


def points(total, count):
    """A quarter of the points on the first allocations, a quarter evenly
    through the run, half through its last sixth (the script's own part;
    the rest is start-up)."""
    def spread(lo, hi, n):
        return [lo + (hi - lo) * (i + 1) // (n + 1) for i in range(n)]
    chosen = list(range(1, count // 4 + 1)) + spread(0, total, count // 4)
    chosen += spread(total - total // 6, total, count - len(chosen))
    return sorted(set(n for n in chosen if 1 <= n <= total))


def verdict(result):
    """None when the run ended cleanly, else what went wrong; plus its kind."""
    if result == "hang":
        return "hung", "hang"
    if result is None:
        return None, "not run"
    err = result.stderr
    for b in BAD:
        if b in err:
            return "sanitizer report:\n" + err[-3000:], "crash"
    if result.returncode < 0 or result.returncode > 128:
        return "killed by a signal (%d):\n%s" % (result.returncode, err[-3000:]), "crash"
    if result.returncode == 0:
        return None, "ran on"
    # "Not enough memory." is the start-up's own report, before the VM exists.
    if "Out of memory" in result.stdout + err or "Not enough memory." in result.stdout:
        return None, "out of memory"
    if "Unprotected error" in err:
        return None, "unprotected error"
    return None, "other error"


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("qxasm")
    ap.add_argument("player")
    ap.add_argument("workdir")
    ap.add_argument("listings", nargs="+")
    ap.add_argument("--budget", type=float, default=150)
    ap.add_argument("--points", type=int, default=16)
    ap.add_argument("--jobs", type=int, default=3)
    ap.add_argument("--verbose", action="store_true", help="show how every run ended")
    a = ap.parse_args(argv)
    a.qxasm, a.player = os.path.abspath(a.qxasm), os.path.abspath(a.player)
    start = time.monotonic()
    jobs = []
    for i, listing in enumerate(a.listings):
        result = run(a.qxasm, a.player, listing, os.path.join(a.workdir, "count%d" % i), "count")
        total = 0
        for line in (result.stderr if result and result != "hang" else "").splitlines():
            if line.startswith("allocations: "):
                total = int(line.split()[1])
        if not total:
            print("FAIL: %s: no allocation count (is this a sanitizer build?)" % listing)
            return 1
        print("%s: %d allocations" % (os.path.basename(listing), total))
        jobs += [(listing, n) for n in points(total, a.points)]
    tally, problems, skipped = {}, [], 0
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        def one(k):
            listing, n = jobs[k]
            if time.monotonic() - start > a.budget:
                return listing, n, "budget"
            return listing, n, run(a.qxasm, a.player, listing, os.path.join(a.workdir, "run%d" % k), n)
        for listing, n, result in pool.map(one, range(len(jobs))):
            if result == "budget":
                skipped += 1
                continue
            problem, kind = verdict(result)
            if a.verbose and result not in (None, "hang"):
                print("%s %d: exit %d %s" % (os.path.basename(listing), n, result.returncode,
                                            (result.stdout + result.stderr).strip().splitlines()[-3:]))
            tally[kind] = tally.get(kind, 0) + 1
            if problem:
                problems.append("%s with allocation %d failing: %s" % (os.path.basename(listing), n, problem))
    print("runs: %s; left out for the budget: %d" % (", ".join("%s %d" % kv for kv in sorted(tally.items())), skipped))
    for p in problems:
        print("FAIL: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Script-fed music while the script only waits: the real player in
WaitEvent with one music made by CreateMusic and played, on ALSA's null
device and a private Xvfb, for --seconds (10), in three runs:

- "end": the FillMusicBuffer handler queues the end buffer at once;
- "starved": the handler feeds nothing (the music plays silence endlessly);
- "fed": the handler feeds the frames it is asked for.

Per run: the handler's calls, and the processor time of the whole process
(user + system from wait4, start-up included) with each thread's share read
from /proc just before the end. Targets: under 2% of a core; a handler that
queued the end is not asked again, one that feeds nothing or feeds what it
is asked for is asked about once a second of sound.

Usage: scriptfed_idle.py [--build DIR] [--seconds N]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "x11"))
import xvfb as xvfbserver  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

# {feed}: what the handler does after counting its call (R0 is the event).
APPLET = """\
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1
    CLOSURE 2 fill
    SETTABLE 1 "fillmusicbuffer" 2
    CALL 0 2 1
    LOADK 0 #0
    SETGLOBAL 0 "calls"
    GETGLOBAL 0 "createmusic"
    LOADK 1 #1
    LOADK 2 #44100
    LOADK 3 #3
    CALL 0 4 1
    GETGLOBAL 0 "playmusic"
    LOADK 1 #1
    LOADK 2 #0
    CALL 0 3 1
    GETGLOBAL 0 "settimeout"
    LOADK 1 #1
    CLOSURE 2 stop
    LOADK 3 #{ms}
    CALL 0 4 1
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1
.function fill
.params 1
    GETGLOBAL 1 "calls"
    ADD 1 1 #1
    SETGLOBAL 1 "calls"
{feed}
    RETURN 0 1
.end
.function stop
.params 1
    GETGLOBAL 1 "consoleprint"
    GETGLOBAL 2 "calls"
    CALL 1 2 1
    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1
.end
"""

FEEDS = {
    "end": """\
    GETGLOBAL 1 "fillmusicbuffer"
    GETTABLE 2 0 "id"
    LOADK 3 "end"
    LOADK 4 #0
    CALL 1 4 1""",
    "starved": "",
    "fed": """\
    GETGLOBAL 1 "fillmusicbuffer"
    GETTABLE 2 0 "id"
    LOADK 3 "mute"
    GETTABLE 4 0 "samples"
    CALL 1 4 1""",
}


def thread_times(pid):
    """{tid: (name, user + system ticks)} of a running process."""
    out = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        out[int(tid)] = (name, int(fields[11]) + int(fields[12]))
    return out


def run(kind, player, qxasm, tmp, env, seconds):
    listing, applet = os.path.join(tmp, kind + ".qxs"), os.path.join(tmp, kind + ".qxa")
    with open(listing, "w") as f:
        f.write(APPLET.replace("{ms}", str(int(seconds * 1000))).replace("{feed}", FEEDS[kind]))
    subprocess.run([qxasm, "-a", listing, "-o", applet], check=True)
    before = os.times()
    proc = subprocess.Popen([player, "-QUIET", applet], env=env, stdout=subprocess.PIPE, text=True)
    time.sleep(max(seconds - 0.3, 0.1))
    threads = thread_times(proc.pid)
    if proc.pid in threads:
        threads[proc.pid] = ("script thread", threads[proc.pid][1])
    out, _ = proc.communicate(timeout=seconds + 30)
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
    return out.strip(), cpu, threads


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
    try:
        xvfb, display = xvfbserver.start_xvfb()
    except OSError as e:
        sys.exit(str(e))
    tick = os.sysconf("SC_CLK_TCK")
    try:
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, ".asoundrc"), "w") as f:
                f.write("pcm.!default { type null }\n")
            env = dict(os.environ, DISPLAY=display, HOME=tmp)
            print("script-fed music, 44,100 Hz 16-bit stereo on ALSA's null device, %.0f s of WaitEvent "
                  "(start-up included); target under 2%% of a core" % args.seconds)
            for kind in ("end", "starved", "fed"):
                calls, cpu, threads = run(kind, player, qxasm, tmp, env, args.seconds)
                print("  %-8s handler calls %-6s processor time %.3f s = %.2f%% of a core (%s)" %
                      (kind, calls, cpu, 100 * cpu / args.seconds, "met" if cpu / args.seconds < 0.02 else "MISSED"))
                busy = sorted(threads.values(), key=lambda t: -t[1])
                print("           by thread: " + ", ".join("%s %.2f s" % (n, t / tick) for n, t in busy if t))
    finally:
        xvfb.kill()
        xvfb.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())

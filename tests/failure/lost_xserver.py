#!/usr/bin/env python3
"""Kills the X server while an applet draws: the player must exit 1 with
its report of the lost connection, within a few seconds, with its
temporary files removed and no core or sanitizer report.

Usage: lost_xserver.py QXASM PLAYER WORKDIR"""
import os
import shutil
import signal
import subprocess
import sys
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "x11"))
import xvfb as xvfbserver  # noqa: E402

here = os.path.dirname(os.path.abspath(__file__))


def main(qxasm, player, work):
    shutil.rmtree(work, ignore_errors=True)
    tmp = os.path.join(work, "tmp")
    os.makedirs(tmp)
    applet = os.path.join(work, "draw.qxa")
    # Packed: the player unpacks it into a temporary file of its own.
    subprocess.run([qxasm, "-z", os.path.join(here, "lost_xserver.qxs"), "-o", applet], check=True)
    xvfb, display = xvfbserver.start_xvfb("640x480x24")
    env = dict(os.environ, DISPLAY=display)
    player = subprocess.Popen([player, "-QUIET", "-TEMPDIR", tmp, applet], cwd=work, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    problems = []
    # Running once its unpacked copy exists (its output is buffered); then
    # it draws a while longer.
    for _ in range(200):
        if os.listdir(tmp) or player.poll() is not None:
            break
        time.sleep(0.05)
    if not os.listdir(tmp):
        problems.append("no temporary file while running (the test proves nothing)")
    time.sleep(1)
    xvfb.send_signal(signal.SIGKILL)
    xvfb.wait()
    try:
        out, err = player.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        player.kill()
        out, err = player.communicate()
        problems.append("the player hung after the X server went")
    if player.returncode != 1:
        problems.append("exit status %d, expected 1" % player.returncode)
    if "X server" not in err:
        problems.append("no report of the lost X server")
    if "Sanitizer" in err or "runtime error" in err:
        problems.append("sanitizer report")
    left = os.listdir(tmp)
    if left:
        problems.append("temporary files left: %s" % ", ".join(left))
    cores = [n for n in os.listdir(work) if n.startswith("core")]
    if cores:
        problems.append("core files: %s" % ", ".join(cores))
    if problems:
        print("FAIL:\n* " + "\n* ".join(problems))
        print("--- stdout ---\n%s--- stderr ---\n%s" % (out, err))
        return 1
    print("PASS: exit 1 after the X server was killed")
    return 0


if __name__ == "__main__":
    if not shutil.which("Xvfb"):
        print("SKIP: no Xvfb")
        sys.exit(77)
    sys.exit(main(*sys.argv[1:4]))

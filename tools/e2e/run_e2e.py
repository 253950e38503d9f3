#!/usr/bin/env python3
"""End-to-end test driver: one listing (.qxs) holds the script and, in lines
starting with ";!", what running it must produce.  The driver assembles the
listing with qxasm, runs the player on the result and compares.

Usage: run_e2e.py --qxasm PATH --player PATH [--workdir DIR] TEST.qxs

Exit status: 0 pass, 1 fail, 77 skipped (CTest SKIP_RETURN_CODE).
See tools/qxasm/FORMAT.md for the expectation lines.
"""

import argparse
import difflib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

import peers as netpeers
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x11"))
import xvfb as xvfbserver  # noqa: E402

SKIP = 77
MODES = ("applet", "packed", "chunk", "text", "raw", "none", "linked")
MULTI = ("stdout", "stderr", "stdout-contains", "stderr-contains", "output-contains",
         "not-output", "env", "unset-env", "text", "raw", "args", "args-after", "qxasm",
         "stdin", "write", "plugin", "link", "make-dir", "empty-after", "plugin-build", "peer",
         "setup", "check", "xdotool", "picture")
SINGLE = ("mode", "exit", "timeout", "skip", "asm-error", "file", "link-applet", "player-copy",
          "xserver", "wm", "report", "gtk")
QXLINK = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "qxlink", "qxlink.py")
FLAGS = ("stdout-empty", "stderr-empty")
PICDIFF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "picdiff.py")
# Debian's Python has PIL; the first python3 on PATH may not.
PIL_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


class SpecError(Exception):
    pass


def parse_spec(text, name="test"):
    """Collects the ";!" lines of a listing into a dict of lists/values."""
    spec = {k: [] for k in MULTI}
    spec.update({"mode": "applet", "exit": 0, "timeout": 30.0, "skip": None,
                 "asm-error": None, "file": None, "link-applet": "applet", "player-copy": None,
                 "xserver": None, "wm": None, "report": "console", "gtk": None})
    spec.update({k: False for k in FLAGS})
    for lineno, line in enumerate(text.splitlines(), 1):
        stripped = line.lstrip()
        if not stripped.startswith(";!"):
            continue
        body = stripped[2:].strip()
        key, sep, value = body.partition(":")
        key = key.strip().lower()
        # The value keeps inner spacing; one blank after the colon is dropped.
        if value.startswith(" "):
            value = value[1:]
        value = value.rstrip("\r\n")
        where = "%s:%d" % (name, lineno)
        if key in FLAGS and not sep:
            spec[key] = True
        elif not sep:
            raise SpecError("%s: expectation line needs 'key: value'" % where)
        elif key in MULTI:
            spec[key].append(value)
        elif key in SINGLE:
            if key == "mode":
                value = value.strip().lower()
                if value not in MODES:
                    raise SpecError("%s: mode must be one of %s" % (where, ", ".join(MODES)))
            elif key == "link-applet":
                value = value.strip().lower()
                if value not in ("applet", "packed"):
                    raise SpecError("%s: link-applet must be applet or packed" % where)
            elif key == "exit":
                try:
                    value = int(value.strip(), 0)
                except ValueError:
                    raise SpecError("%s: exit needs a number" % where)
            elif key == "xserver":
                if value.strip() not in ("8", "16", "24"):
                    raise SpecError("%s: xserver needs a depth of 8, 16 or 24" % where)
                value = value.strip()
            elif key == "wm":
                value = value.strip()
                if value != "openbox":
                    raise SpecError("%s: wm must be openbox" % where)
            elif key == "report":
                value = value.strip().lower()
                if value not in ("console", "requester"):
                    raise SpecError("%s: report must be console or requester" % where)
            elif key == "gtk":
                value = value.strip().lower()
                if value != "hidden":
                    raise SpecError("%s: gtk must be hidden" % where)
            elif key == "timeout":
                try:
                    value = float(value.strip())
                except ValueError:
                    raise SpecError("%s: timeout needs a number" % where)
            spec[key] = value
        else:
            raise SpecError("%s: unknown expectation '%s'" % (where, key))
    return spec


def expand(text, subst):
    for k, v in subst.items():
        text = text.replace("{" + k + "}", v)
    return text


def place_player(player, where):
    """Puts the player into a folder of its own: a hard link where the file
    system allows it (the sanitised player is large and many listings need
    one), else a copy."""
    dest = os.path.join(where, os.path.basename(player))
    try:
        os.link(player, dest)
        return dest
    except OSError:
        return shutil.copy2(player, dest)


def make_linked(spec, listing, qxasm, player, workdir, subst):
    """Assembles the applet and links it with the plug-ins to a copy of the player."""
    stem = os.path.splitext(os.path.basename(listing))[0]
    applet = os.path.join(workdir, stem + ".link.qxa")
    switches = ["-z"] if spec["link-applet"] == "packed" else ["-a"]
    for extra in spec["qxasm"]:
        switches += shlex.split(expand(extra, subst))
    proc = subprocess.run([qxasm] + switches + [listing, "-o", applet], capture_output=True, text=True,
                          errors="replace")
    if proc.returncode != 0:
        return None, "qxasm failed:\n%s" % proc.stderr.strip()
    path = os.path.join(workdir, expand(spec["file"], subst) if spec["file"] else stem)
    cmd = [sys.executable, QXLINK, "--player", player, "--applet", applet, "-o", path]
    for p in spec["plugin"]:
        cmd += ["--plugin", expand(p, subst)]
    for extra in spec["link"]:
        cmd += shlex.split(expand(extra, subst))
    proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace")
    if proc.returncode != 0:
        return None, "qxlink failed:\n%s" % (proc.stderr.strip() or proc.stdout.strip())
    return path, None


def make_input(spec, listing, qxasm, workdir, subst):
    """Writes the file handed to the player; returns its path, or None plus a failure text."""
    mode = spec["mode"]
    default_ext = {"applet": ".qxa", "packed": ".qxa", "chunk": ".qxb"}.get(mode, ".qxa")
    stem = os.path.splitext(os.path.basename(listing))[0]
    path = os.path.join(workdir, expand(spec["file"], subst) if spec["file"] else stem + default_ext)
    if mode == "none":
        return path, None
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if mode == "text":
        with open(path, "w", encoding="utf-8") as f:
            f.write("".join(expand(t, subst) + "\n" for t in spec["text"]))
        return path, None
    if mode == "raw":
        try:
            data = bytes.fromhex("".join(spec["raw"]))
        except ValueError as e:
            return None, "bad raw: bytes: %s" % e
        with open(path, "wb") as f:
            f.write(data)
        return path, None
    switches = {"applet": ["-a"], "packed": ["-z"], "chunk": ["-c"]}[mode]
    for extra in spec["qxasm"]:
        switches += shlex.split(expand(extra, subst))
    cmd = [qxasm] + switches + [listing, "-o", path]
    proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace")
    if spec["asm-error"] is not None:
        if proc.returncode == 0:
            return None, "qxasm succeeded, expected it to fail with: %s" % spec["asm-error"]
        if spec["asm-error"] not in proc.stderr:
            return None, "qxasm error text differs.\nexpected to contain: %s\nactual: %s" % (
                spec["asm-error"], proc.stderr.strip())
        return None, ""  # expected assembler failure: done, passed
    if proc.returncode != 0:
        return None, "qxasm failed (%s):\n%s" % (" ".join(map(shlex.quote, cmd)), proc.stderr.strip())
    return path, None


def build_plugins(spec, workdir, subst):
    """Compiles the "plugin-build: DEST=SOURCE [flags]" plug-ins as C shared
    objects; returns None, a failure text, or "" when no compiler exists."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
    cc = os.environ.get("CC") or shutil.which("cc")
    for item in spec["plugin-build"]:
        dest, sep, rest = expand(item, subst).partition("=")
        words = shlex.split(rest)
        if not sep or not dest.strip() or not words:
            return "plugin-build needs DEST=SOURCE [flags]"
        if not cc:
            return ""
        target = os.path.join(workdir, dest.strip())
        os.makedirs(os.path.dirname(target), exist_ok=True)
        cmd = [cc, "-shared", "-fPIC", "-I", os.path.join(root, "src"), "-o", target] + words
        proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace")
        if proc.returncode != 0:
            return "plug-in build failed (%s):\n%s" % (" ".join(map(shlex.quote, cmd)), proc.stderr.strip())
    return None


def hide_gtk(workdir):
    """A directory holding a libgtk-x11-2.0.so.0 that cannot be loaded (it
    refers to a symbol nothing defines); first on LD_LIBRARY_PATH it hides
    the real GTK, so the player answers on the console. Built once beside
    the scratch directories and shared by the listings. None without a
    compiler, else the directory or a failure text in a tuple."""
    where = os.path.join(os.path.dirname(workdir), ".nogtk")
    if os.path.exists(os.path.join(where, "libgtk-x11-2.0.so.0")):
        return where
    cc = os.environ.get("CC") or shutil.which("cc")
    if not cc:
        return None
    # Built aside and renamed into place: parallel listings may race here.
    build = tempfile.mkdtemp(prefix=".nogtk.", dir=os.path.dirname(workdir))
    try:
        source = os.path.join(build, "stub.c")
        with open(source, "w") as f:
            f.write("extern int qx_e2e_absent_symbol;\nint *qx_e2e_stub = &qx_e2e_absent_symbol;\n")
        proc = subprocess.run([cc, "-shared", "-fPIC", "-o", os.path.join(build, "libgtk-x11-2.0.so.0"),
                               source], capture_output=True, text=True, errors="replace")
        if proc.returncode != 0:
            return ("stub GTK build failed:\n%s" % proc.stderr.strip(),)
        try:
            os.rename(build, where)
        except OSError:
            pass  # another listing was first
    finally:
        shutil.rmtree(build, ignore_errors=True)
    return where


DEPTH_TOLERANCE = {"8": 64, "16": 16}


def at_depth(spec, depth):
    """The same listing on an X server of another depth: colours are rounded
    to that depth, so pictures get a tolerance to match."""
    if depth and spec["xserver"]:
        spec["xserver"] = depth
        spec["picture"] = [with_tolerance(p, DEPTH_TOLERANCE.get(depth, 0)) for p in spec["picture"]]


def with_tolerance(item, least):
    """A "picture:" item whose tolerance is at least `least`."""
    left, sep, command = item.partition("=")
    words = left.split()
    if not sep or len(words) not in (1, 2):
        return item
    tolerance = max(int(words[1]) if len(words) == 2 and words[1].isdigit() else 0, least)
    return "%s %d =%s" % (words[0], tolerance, command)


def compare_picture(item, workdir, env, subst):
    """ "picture: FILE [TOLERANCE] = COMMAND": COMMAND makes the reference
    {ref} in the scratch directory after the run; FILE must match it within
    TOLERANCE per channel. Returns a failure text, "" to skip, or None."""
    left, sep, command = item.partition("=")
    words = shlex.split(expand(left, subst))
    if not sep or not command.strip() or len(words) not in (1, 2):
        return "picture needs FILE [TOLERANCE] = COMMAND"
    actual = os.path.join(workdir, words[0])
    tolerance = words[1] if len(words) == 2 else "0"
    ref = actual + ".ref.png"
    command = expand(command.strip(), dict(subst, ref=ref))
    r = subprocess.run(command, shell=True, cwd=workdir, env=env, capture_output=True, text=True)
    if r.returncode:
        return "reference command failed: %s\n%s%s" % (command, r.stdout, r.stderr)
    r = subprocess.run([PIL_PYTHON, PICDIFF, actual, ref, tolerance], capture_output=True, text=True)
    if r.returncode == SKIP:
        return ""
    if r.returncode:
        return "picture %s differs from %s:\n%s%s" % (words[0], command, r.stdout, r.stderr)
    return None


def diff(expected, actual, label):
    lines = difflib.unified_diff(expected, actual, "expected " + label, "actual " + label, lineterm="")
    return "\n".join(lines)


def check(spec, result, subst):
    """Returns a list of failure texts."""
    fails = []
    out, err = result.stdout, result.stderr
    out_lines, err_lines = out.splitlines(), err.splitlines()
    if result.returncode != spec["exit"]:
        fails.append("exit status %d, expected %d" % (result.returncode, spec["exit"]))
    for key, actual_lines, actual in (("stdout", out_lines, out), ("stderr", err_lines, err)):
        expected = [expand(x, subst) for x in spec[key]]
        if expected and expected != actual_lines:
            fails.append("%s differs:\n%s" % (key, diff(expected, actual_lines, key)))
        if spec[key + "-empty"] and actual:
            fails.append("%s should be empty, got:\n%s" % (key, actual))
        for want in spec[key + "-contains"]:
            want = expand(want, subst)
            if want not in actual:
                fails.append("%s does not contain: %r" % (key, want))
    for want in spec["output-contains"]:
        want = expand(want, subst)
        if want not in out and want not in err:
            fails.append("output (stdout or stderr) does not contain: %r" % want)
    for bad in spec["not-output"]:
        bad = expand(bad, subst)
        if bad in out or bad in err:
            fails.append("output contains what it must not: %r" % bad)
    return fails


class XSession:
    """A private Xvfb (display number chosen by the server), an optional
    window manager, both stopped on exit."""

    def __init__(self, depth, wm):
        self.procs = []
        self.default = False  # given to a listing that did not ask for one
        server, self.display = xvfbserver.start_xvfb("1024x768x" + depth)
        self.procs.append(server)
        if wm:
            env = dict(os.environ, DISPLAY=self.display)
            self.procs.append(subprocess.Popen([wm, "--sm-disable"], env=env,
                                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            for _ in range(500):  # ready once it announces itself
                probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                                       capture_output=True, text=True)
                if "window id" in probe.stdout:
                    break
                time.sleep(0.01)

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            p.wait()


def wait_for_window(env, proc, timeout):
    """Waits until the server shows a named window (the player's, on a server
    of the test's own), so that a slow start on a loaded machine does not
    send the first step before the window is there; gives up after a while
    because some listings open their window only later."""
    deadline = time.monotonic() + min(10, timeout)
    while time.monotonic() < deadline and proc.poll() is None:
        probe = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], env=env,
                               capture_output=True, text=True)
        if probe.stdout.strip():
            return
        time.sleep(0.02)


def run_player(cmd, env, workdir, stdin, spec, subst):
    """Runs the player; with xdotool steps, each runs 0.3 s after the last
    while the player runs."""
    if not spec["xdotool"]:
        return subprocess.run(cmd, capture_output=True, text=True, errors="replace", env=env,
                              cwd=workdir, input=stdin, timeout=spec["timeout"])
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, errors="replace", env=env, cwd=workdir)
    wait_for_window(env, proc, spec["timeout"])
    for step in spec["xdotool"]:
        time.sleep(0.3)
        try:  # "search --sync" waits for ever when the window never shows
            subprocess.run(["xdotool"] + shlex.split(expand(step, subst)), env=env, cwd=workdir,
                           capture_output=True, timeout=spec["timeout"])
        except subprocess.TimeoutExpired:
            break
    try:
        out, err = proc.communicate(stdin, timeout=spec["timeout"])
    except subprocess.TimeoutExpired as e:
        proc.kill()
        proc.communicate()
        raise e
    return subprocess.CompletedProcess(cmd, proc.returncode, out, err)


def needs_default_server(spec):
    """Every applet opens a display at start-up: a listing without a server
    of its own (and not naming one) gets a private one without a manager."""
    return (not spec["xserver"] and spec["asm-error"] is None and
            not any(e.partition("=")[0].strip() == "DISPLAY" for e in spec["env"]))


def run_test(listing, qxasm, player, workdir, depth=None):
    session = None
    try:
        with open(listing, encoding="utf-8", errors="replace") as f:
            spec = parse_spec(f.read(), os.path.basename(listing))
        at_depth(spec, depth)
        if spec["skip"] is None and spec["xserver"]:
            session = XSession(spec["xserver"], spec["wm"])
        elif spec["skip"] is None and needs_default_server(spec):
            session = XSession("24", None)
            session.default = True
    except SpecError:
        pass  # reported by the run itself
    except OSError as e:
        print("SKIP: %s" % e)
        return SKIP
    try:
        return run_one(listing, qxasm, player, workdir, session, depth)
    finally:
        if session:
            session.close()


def run_one(listing, qxasm, player, workdir, session, depth):
    with open(listing, encoding="utf-8", errors="replace") as f:
        text = f.read()
    if ";! peer:" not in text:
        return run_listing(listing, text, qxasm, player, workdir, None, session, depth)
    running = netpeers.Peers()
    try:
        return run_listing(listing, text, qxasm, player, workdir, running, session, depth)
    finally:
        running.stop()


def run_listing(listing, text, qxasm, player, workdir, running, session, depth=None):
    try:
        spec = parse_spec(text, os.path.basename(listing))
        at_depth(spec, depth)
    except SpecError as e:
        print("FAIL: %s" % e)
        return 1
    if spec["skip"] is not None:
        print("SKIP: %s" % spec["skip"])
        return SKIP
    if os.path.isdir(workdir):
        shutil.rmtree(workdir)
    os.makedirs(workdir)
    subst = {"dir": workdir, "src": os.path.dirname(os.path.abspath(listing)), "depth": spec["xserver"] or ""}
    if running is not None:
        # Peers listen on free ports; the listing is assembled with them filled in.
        problem = running.start(spec["peer"], workdir)
        if problem == "":
            print("SKIP: a peer of %s is not installed" % ", ".join(spec["peer"]))
            return SKIP
        if problem:
            print("FAIL: %s" % problem)
            return 1
        subst.update(running.subst)
        listing = os.path.join(workdir, os.path.basename(listing))
        with open(listing, "w", encoding="utf-8") as f:
            f.write(expand(text, subst))
    for d in spec["make-dir"]:
        os.makedirs(os.path.join(workdir, expand(d, subst)), exist_ok=True)
    problem = build_plugins(spec, workdir, subst)
    if problem == "":
        print("SKIP: no C compiler for plugin-build")
        return SKIP
    if problem:
        print("FAIL: %s" % problem)
        return 1
    if spec["player-copy"]:
        # A copy of the player in its own folder, so that a "Plugins" folder
        # beside it is the one the player scans.
        where = os.path.join(workdir, expand(spec["player-copy"], subst))
        os.makedirs(where, exist_ok=True)
        player = place_player(player, where)
    if spec["mode"] == "linked":
        path, problem = make_linked(spec, listing, qxasm, player, workdir, subst)
    else:
        path, problem = make_input(spec, listing, qxasm, workdir, subst)
    if problem == "":
        print("PASS (assembler failed as expected)")
        return 0
    if problem:
        print("FAIL: %s" % problem)
        return 1
    subst["applet"] = path
    # "write: NAME=LINE" appends a line to a further file of the scratch directory.
    for w in spec["write"]:
        name, sep, line = w.partition("=")
        if not sep or not name.strip():
            print("FAIL: write needs NAME=LINE")
            return 1
        extra = os.path.join(workdir, expand(name.strip(), subst))
        os.makedirs(os.path.dirname(extra), exist_ok=True)
        with open(extra, "a", encoding="utf-8", newline="") as f:
            f.write(expand(line, subst) + "\n")
    # "setup: COMMAND" runs a shell command in the scratch directory before the
    # player (making inputs); "check: COMMAND" after it (comparing outputs).
    # A setup whose first word is not installed skips the test.
    for c in spec["setup"]:
        c = expand(c, subst)
        if not shutil.which(shlex.split(c)[0]):
            print("SKIP: %s is not installed" % shlex.split(c)[0])
            return SKIP
        r = subprocess.run(c, shell=True, cwd=workdir, capture_output=True, text=True)
        if r.returncode:
            print("FAIL: setup failed: %s\n%s%s" % (c, r.stdout, r.stderr))
            return 1
    args = []
    for a in spec["args"]:
        args += shlex.split(expand(a, subst))
    after = []
    for a in spec["args-after"]:
        after += shlex.split(expand(a, subst))
    if spec["mode"] == "linked":
        cmd = [path] + args + after  # the applet is inside the program
    else:
        cmd = [player] + args + ([] if spec["mode"] == "none" else [path]) + after
    env = dict(os.environ)
    for e in spec["env"]:
        k, _, v = expand(e, subst).partition("=")
        env[k.strip()] = v
    for k in spec["unset-env"]:
        env.pop(k.strip(), None)
    # The GTK stack loaded at run time keeps one-time allocations to the end.
    supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan_system.supp")
    env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), "suppressions=" + supp, "print_suppressions=0"]))
    if session:
        env["DISPLAY"] = session.display
        # Error reports of a listing on an X server come on the console
        # unless it asks for the requester.
        if spec["report"] == "console" and not session.default:
            cmd[1:1] = ["-DEBUGDEVICE", "console"]
    elif not any(e.partition("=")[0].strip() == "DISPLAY" for e in spec["env"]):
        env.pop("DISPLAY", None)
    # A listing that did not ask for a server answers its requesters and
    # gets its reports on the console, as a player without GTK does.
    if spec["gtk"] == "hidden" or (session and session.default):
        stub = hide_gtk(workdir)
        if stub is None:
            print("SKIP: no C compiler for the GTK stub")
            return SKIP
        if isinstance(stub, tuple):
            print("FAIL: %s" % stub[0])
            return 1
        env["LD_LIBRARY_PATH"] = stub + os.pathsep + env.get("LD_LIBRARY_PATH", "")
    stdin = "".join(expand(s, subst) + "\n" for s in spec["stdin"])
    shown = " ".join(shlex.quote(c) for c in cmd)
    try:
        result = run_player(cmd, env, workdir, stdin, spec, subst)
    except subprocess.TimeoutExpired as e:
        print("FAIL: timed out after %gs: %s" % (spec["timeout"], shown))
        for label, data in (("stdout", e.stdout), ("stderr", e.stderr)):
            if data:
                print("--- %s so far ---\n%s" % (label, data if isinstance(data, str) else data.decode("utf-8", "replace")))
        return 1
    except OSError as e:
        print("FAIL: cannot run the player: %s" % e)
        return 1
    fails = check(spec, result, subst)
    for c in spec["check"]:
        c = expand(c, subst)
        r = subprocess.run(c, shell=True, cwd=workdir, env=env, capture_output=True, text=True)
        if r.returncode:
            fails.append("check failed: %s\n%s%s" % (c, r.stdout, r.stderr))
    for item in spec["picture"]:
        problem = compare_picture(item, workdir, env, subst)
        if problem == "":
            print("SKIP: PIL is not installed for the picture comparison")
            return SKIP
        if problem:
            fails.append(problem)
    for d in spec["empty-after"]:
        where = os.path.join(workdir, expand(d, subst))
        left = os.listdir(where) if os.path.isdir(where) else []
        if left:
            fails.append("%s is not empty after the run: %s" % (d, ", ".join(sorted(left))))
    if not fails:
        print("PASS: %s" % shown)
        return 0
    print("FAIL: %s" % shown)
    for f in fails:
        print("* " + f)
    print("--- stdout ---\n%s--- stderr ---\n%s--- exit %d ---" % (result.stdout, result.stderr, result.returncode))
    return 1


def main(argv):
    ap = argparse.ArgumentParser(description="Run one end-to-end listing against the player.")
    ap.add_argument("--qxasm", required=True)
    ap.add_argument("--player", required=True)
    ap.add_argument("--workdir", help="scratch directory (emptied first); default: a fresh temporary one")
    ap.add_argument("--depth", choices=("8", "16", "24"),
                    help="run a listing that names an X server at this depth instead")
    ap.add_argument("test")
    a = ap.parse_args(argv)
    if a.workdir:
        workdir = os.path.abspath(a.workdir)
        rc = run_test(a.test, a.qxasm, a.player, workdir, a.depth)
        # A passing listing leaves nothing behind (linked players are tens of
        # megabytes each); a failing one keeps its files for a look.
        if rc in (0, SKIP) and not os.environ.get("QX_E2E_KEEP"):
            shutil.rmtree(workdir, ignore_errors=True)
        return rc
    tmp = tempfile.mkdtemp(prefix="qxe2e.")
    try:
        return run_test(a.test, a.qxasm, a.player, tmp, a.depth)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

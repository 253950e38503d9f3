"""A private Xvfb whose display number the server picks (-displayfd), so
that parallel runs do not collide."""
import os
import subprocess


def start_xvfb(screen="1280x1024x24"):
    """Starts Xvfb with one screen of this geometry and depth; returns
    (process, display name). Raises OSError when the server does not start."""
    read, write = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", screen,
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        proc.terminate()
        proc.wait()
        raise OSError("Xvfb did not start")
    return proc, ":" + number

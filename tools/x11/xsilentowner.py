#!/usr/bin/python3
"""Takes the CLIPBOARD selection and never answers a request for it.

usage: xsilentowner.py SECONDS
Prints "owner" once it holds the selection, then stays for SECONDS.
"""
import sys
import time

from Xlib import X, display


def main():
    d = display.Display()
    w = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    w.set_selection_owner(d.intern_atom("CLIPBOARD"), X.CurrentTime)
    d.sync()
    print("owner", flush=True)
    time.sleep(float(sys.argv[1]))
    d.close()


if __name__ == "__main__":
    main()

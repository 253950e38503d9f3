#!/usr/bin/python3
"""A window manager that carries out every configure request SECONDS after
it came, one after the other: what a busy manager does to a program that
asks for several sizes in a row (the answers come late and apart).

usage: xslowwm.py SECONDS
Prints "ready" once it manages the screen; ends with the server.
"""
import sys
import time

from Xlib import X, display, error


def main():
    delay = float(sys.argv[1])
    d = display.Display()
    root = d.screen().root
    catch = error.CatchError(error.BadAccess)
    root.change_attributes(event_mask=X.SubstructureRedirectMask, onerror=catch)
    d.sync()
    if catch.get_error():
        print("another manager runs", flush=True)
        return 1
    print("ready", flush=True)
    try:
        while True:
            e = d.next_event()
            if e.type == X.MapRequest:
                e.window.map()
            elif e.type == X.ConfigureRequest:
                time.sleep(delay)
                fields = {}
                for bit, name in ((X.CWX, "x"), (X.CWY, "y"), (X.CWWidth, "width"),
                                  (X.CWHeight, "height"), (X.CWBorderWidth, "border_width")):
                    if e.value_mask & bit:
                        fields[name] = getattr(e, name)
                e.window.configure(**fields)
            d.flush()
    except (error.ConnectionClosedError, OSError):
        return 0


if __name__ == "__main__":
    sys.exit(main())

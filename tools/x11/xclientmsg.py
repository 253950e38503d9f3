#!/usr/bin/python3
"""Sends a format-32 ClientMessage to a window.

usage: xclientmsg.py WINDOW TYPE [DATA0 ...]
TYPE and data items are atom names or numbers; WM_PROTOCOLS with the data
WM_DELETE_WINDOW is what a window manager's close button sends.
"""
import sys

from Xlib import X, display
from Xlib.protocol import event


def main():
    d = display.Display()
    win = d.create_resource_object("window", int(sys.argv[1], 0))

    def value(text):
        try:
            return int(text, 0)
        except ValueError:
            return d.intern_atom(text)

    data = [value(a) for a in sys.argv[3:]][:5]
    data += [0] * (5 - len(data))
    ev = event.ClientMessage(window=win, client_type=value(sys.argv[2]), data=(32, data))
    win.send_event(ev, event_mask=X.NoEventMask)
    d.sync()  # a round trip: the server has handled the event before we leave
    d.close()


if __name__ == "__main__":
    main()

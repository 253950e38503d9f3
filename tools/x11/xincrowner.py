#!/usr/bin/python3
"""A CLIPBOARD owner that answers UTF8_STRING through a broken INCR transfer.

usage: xincrowner.py MODE SECONDS
MODE "odd": the first chunk has format 32; "stall": one good chunk, then
silence. Prints "owner" once it holds the selection.
"""
import sys
import time

from Xlib import X, Xatom, display
from Xlib.protocol import event


def main():
    mode = sys.argv[1]
    d = display.Display()
    atom = d.intern_atom
    w = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    w.set_selection_owner(atom("CLIPBOARD"), X.CurrentTime)
    d.sync()
    print("owner", flush=True)
    end = time.time() + float(sys.argv[2])
    transfer = None  # (requestor, property)
    sent = 0
    while time.time() < end:
        if not d.pending_events():
            time.sleep(0.01)
            continue
        ev = d.next_event()
        if ev.type == X.SelectionRequest:
            if ev.target == atom("TARGETS"):
                ev.requestor.change_property(ev.property, Xatom.ATOM, 32, [atom("TARGETS"), atom("UTF8_STRING")])
            else:
                ev.requestor.change_attributes(event_mask=X.PropertyChangeMask)
                ev.requestor.change_property(ev.property, atom("INCR"), 32, [4096])
                transfer = (ev.requestor, ev.property)
            ev.requestor.send_event(event.SelectionNotify(time=ev.time, requestor=ev.requestor,
                                                          selection=ev.selection, target=ev.target,
                                                          property=ev.property))
            d.flush()
        elif ev.type == X.PropertyNotify and transfer and ev.state == X.PropertyDelete \
                and ev.atom == transfer[1] and sent == 0:
            sent = 1
            if mode == "odd":
                transfer[0].change_property(transfer[1], atom("UTF8_STRING"), 32, [1, 2, 3])
            else:
                transfer[0].change_property(transfer[1], atom("UTF8_STRING"), 8, b"chunk")
            d.flush()
    d.close()


if __name__ == "__main__":
    main()

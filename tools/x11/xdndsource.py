#!/usr/bin/python3
"""A minimal Xdnd version 5 source dropping a text/uri-list on a window.

usage: xdndsource.py TARGET_WINDOW DATA_FILE [--typelist]
Prints "status ACCEPT" from the target's XdndStatus, then, when accepted,
"finished ACCEPTED ACTION" from its XdndFinished. With --typelist the
types go through XdndTypeList (bit 0 of XdndEnter) instead of data[2].
"""
import sys
import time

from Xlib import X, Xatom, display
from Xlib.protocol import event


def main():
    d = display.Display()
    target = d.create_resource_object("window", int(sys.argv[1], 0))
    payload = open(sys.argv[2], "rb").read()
    use_list = "--typelist" in sys.argv[3:]
    atom = d.intern_atom
    uri = atom("text/uri-list")
    src = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
    src.set_selection_owner(atom("XdndSelection"), X.CurrentTime)

    def send(kind, data):
        data = list(data) + [0] * (5 - len(data))
        target.send_event(event.ClientMessage(window=target, client_type=atom(kind), data=(32, data)),
                          event_mask=X.NoEventMask)
        d.flush()

    if use_list:
        src.change_property(atom("XdndTypeList"), Xatom.ATOM, 32,
                            [atom("text/plain"), atom("STRING"), atom("TEXT"), uri])
        send("XdndEnter", [src.id, (5 << 24) | 1, 0, 0, 0])
    else:
        send("XdndEnter", [src.id, 5 << 24, uri, 0, 0])
    send("XdndPosition", [src.id, 0, (10 << 16) | 10, X.CurrentTime, atom("XdndActionCopy")])

    deadline = time.time() + 8
    accepted = None
    while time.time() < deadline:
        if not d.pending_events():
            time.sleep(0.01)
            continue
        ev = d.next_event()
        if ev.type == X.ClientMessage and ev.client_type == atom("XdndStatus"):
            accepted = ev.data[1][1] & 1
            print("status", accepted, flush=True)
            if accepted:
                send("XdndDrop", [src.id, 0, X.CurrentTime])
            else:
                send("XdndLeave", [src.id])
                break
        elif ev.type == X.SelectionRequest:
            ev.requestor.change_property(ev.property, ev.target, 8, payload)
            note = event.SelectionNotify(time=ev.time, requestor=ev.requestor, selection=ev.selection,
                                         target=ev.target, property=ev.property)
            ev.requestor.send_event(note)
            d.flush()
        elif ev.type == X.ClientMessage and ev.client_type == atom("XdndFinished"):
            print("finished", ev.data[1][1], ev.data[1][2] == atom("XdndActionCopy"), flush=True)
            break
    d.close()


if __name__ == "__main__":
    main()

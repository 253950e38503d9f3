#!/usr/bin/python3
"""Compares the title properties of the player's window with what libX11's
Xutf8SetWMProperties writes for the same title on a window of our own.

usage: same_title.py TITLE   (DISPLAY and the locale from the environment)
Prints "TITLE: same as Xlib (N properties)" or each difference.
"""
import ctypes
import sys

x11 = ctypes.CDLL("libX11.so.6")
libc = ctypes.CDLL(None)
ulong, vp = ctypes.c_ulong, ctypes.c_void_p
x11.XOpenDisplay.restype = vp
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ulong
x11.XDefaultRootWindow.argtypes = [vp]
x11.XCreateSimpleWindow.restype = ulong
x11.XCreateSimpleWindow.argtypes = [vp, ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                    ctypes.c_uint, ctypes.c_uint, ulong, ulong]
x11.Xutf8SetWMProperties.argtypes = [vp, ulong, ctypes.c_char_p, ctypes.c_char_p, vp,
                                     ctypes.c_int, vp, vp, vp]
x11.XListProperties.restype = ctypes.POINTER(ulong)
x11.XListProperties.argtypes = [vp, ulong, ctypes.POINTER(ctypes.c_int)]
x11.XGetWindowProperty.argtypes = [vp, ulong, ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
                                   ulong, ctypes.POINTER(ulong), ctypes.POINTER(ctypes.c_int),
                                   ctypes.POINTER(ulong), ctypes.POINTER(ulong),
                                   ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte))]
x11.XGetAtomName.restype = vp
x11.XGetAtomName.argtypes = [vp, ulong]
x11.XInternAtom.restype = ulong
x11.XInternAtom.argtypes = [vp, ctypes.c_char_p, ctypes.c_int]
x11.XQueryTree.argtypes = [vp, ulong, ctypes.POINTER(ulong), ctypes.POINTER(ulong),
                           ctypes.POINTER(ctypes.POINTER(ulong)), ctypes.POINTER(ctypes.c_uint)]
x11.XFree.argtypes = [vp]
x11.XSync.argtypes = [vp, ctypes.c_int]
libc.setlocale.restype = ctypes.c_char_p
libc.setlocale.argtypes = [ctypes.c_int, ctypes.c_char_p]


def name(d, atom):
    p = x11.XGetAtomName(d, atom)
    text = ctypes.cast(p, ctypes.c_char_p).value.decode("latin-1")
    x11.XFree(p)
    return text


def prop(d, w, atom):
    """(type name, format, bytes) of a property, None when it is not set."""
    kind, fmt, items, after = ulong(), ctypes.c_int(), ulong(), ulong()
    data = ctypes.POINTER(ctypes.c_ubyte)()
    if x11.XGetWindowProperty(d, w, atom, 0, 1 << 20, 0, 0, ctypes.byref(kind), ctypes.byref(fmt),
                              ctypes.byref(items), ctypes.byref(after), ctypes.byref(data)):
        return None
    if not kind.value:
        return None
    size = {8: 1, 16: ctypes.sizeof(ctypes.c_short), 32: ctypes.sizeof(ctypes.c_long)}[fmt.value]
    raw = ctypes.string_at(data, items.value * size)
    x11.XFree(data)
    return name(d, kind.value), fmt.value, raw


def props(d, w):
    n = ctypes.c_int()
    atoms = x11.XListProperties(d, w, ctypes.byref(n))
    found = {name(d, atoms[i]): atoms[i] for i in range(n.value)}
    if atoms:
        x11.XFree(atoms)
    return found


def player_window(d, root):
    """The player's newest top-level window (the one with the window hints
    that was created last)."""
    motif = x11.XInternAtom(d, b"_MOTIF_WM_HINTS", 1)
    r, parent = ulong(), ulong()
    children, count = ctypes.POINTER(ulong)(), ctypes.c_uint()
    x11.XQueryTree(d, root, ctypes.byref(r), ctypes.byref(parent), ctypes.byref(children),
                   ctypes.byref(count))
    found = [children[i] for i in range(count.value) if motif and prop(d, children[i], motif)]
    return max(found) if found else None


def main():
    title = sys.argv[1].encode("utf-8", "surrogateescape")
    shown = "".join(c if c.isprintable() else "\\x%02x" % ord(c) for c in sys.argv[1])
    libc.setlocale(0, b"")  # LC_CTYPE as the player takes it
    d = x11.XOpenDisplay(None)
    root = x11.XDefaultRootWindow(d)
    player = player_window(d, root)
    if not player:
        print("no player window")
        return 1
    ours = x11.XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0)
    x11.Xutf8SetWMProperties(d, ours, title, title, None, 0, None, None, None)
    x11.XSync(d, 0)
    wanted = props(d, ours)
    theirs = props(d, player)
    bad = 0
    for key, atom in sorted(wanted.items()):
        want = prop(d, ours, atom)
        got = prop(d, player, theirs[key]) if key in theirs else None
        if got != want:
            print("%s: %s differs: %r, Xlib wrote %r" % (shown, key, got, want))
            bad += 1
    if not bad:
        print("%s: same as Xlib (%d properties)" % (shown, len(wanted)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

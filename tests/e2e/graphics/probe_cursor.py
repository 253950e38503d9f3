#!/usr/bin/python3
"""Moves the mouse over the window titled TITLE and reads the cursor image
the server shows through XFixes. Compares its size, hot spot and pixels with
the part X, Y, W, H of PICTURE (RGBA), premultiplied by its alpha as cursor
pixels are. Prints "TITLE cursor WxH: same" or what differs.

usage: probe_cursor.py TITLE PICTURE X Y W H HOTX HOTY   (DISPLAY from the environment)
"""
import ctypes
import subprocess
import sys
import time

from PIL import Image


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def main():
    title, picture = sys.argv[1:3]
    x, y, w, h, hx, hy = (int(v) for v in sys.argv[3:9])
    ref = Image.open(picture).convert("RGBA").crop((x, y, x + w, y + h))
    want = []
    for j in range(h):
        for i in range(w):
            r, g, b, a = ref.getpixel((i, j))
            want.append(a << 24 | (r * a // 255) << 16 | (g * a // 255) << 8 | (b * a // 255))
    win = subprocess.check_output(["xdotool", "search", "--sync", "--name", "^%s$" % title]).split()[0]
    subprocess.check_call(["xdotool", "mousemove", "--window", win, "20", "20"])
    xlib = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    dpy = xlib.XOpenDisplay(None)
    event, error = ctypes.c_int(), ctypes.c_int()
    if not dpy or not xfixes.XFixesQueryExtension(dpy, ctypes.byref(event), ctypes.byref(error)):
        print("%s cursor: no XFixes" % title)
        return
    # The server changes the cursor when it handles the motion; a few tries
    # cover a slow one.
    for _ in range(40):
        image = xfixes.XFixesGetCursorImage(dpy).contents
        if (image.width, image.height) == (w, h):
            break
        time.sleep(0.05)
    got = (image.width, image.height, image.xhot, image.yhot)
    if got != (w, h, hx, hy):
        print("%s cursor: %dx%d hot %d,%d" % ((title,) + got))
        return
    for n in range(w * h):
        pixel = image.pixels[n] & 0xFFFFFFFF
        if pixel != want[n]:
            print("%s cursor: at %d,%d %08X, want %08X" % (title, n % w, n // w, pixel, want[n]))
            return
    print("%s cursor %dx%d: same" % (title, w, h))


if __name__ == "__main__":
    main()

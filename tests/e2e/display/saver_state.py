#!/usr/bin/python3
"""Prints the server's screen-saver state: off, on, cycle or disabled."""
import ctypes
import sys

x11 = ctypes.CDLL("libX11.so.6")
xss = ctypes.CDLL("libXss.so.1")


class Info(ctypes.Structure):
    _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong),
                ("event_mask", ctypes.c_ulong)]


x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Info)]
d = x11.XOpenDisplay(None)
info = Info()
xss.XScreenSaverQueryInfo(d, x11.XDefaultRootWindow(d), ctypes.byref(info))
print(sys.argv[1] + ":", ["off", "on", "cycle", "disabled"][info.state])

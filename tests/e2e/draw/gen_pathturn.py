#!/usr/bin/python3
"""Writes draw_pathturn.qxs: a path layer turned by 30 degrees is drawn
again from its path, so it matches the same path built from the turned
points and drawn with layers off (a turned picture would not)."""
import math
from listing import Listing

# MoveTo, LineTo, CurveTo (three points), LineTo, ClosePath.
ITEMS = [("MoveTo", [(0, 0)]), ("LineTo", [(60, 0)]), ("CurveTo", [(80, 10), (70, 40), (40, 45)]),
         ("LineTo", [(0, 30)])]
a = math.radians(360 - 30)
M = (math.cos(a), math.sin(a), -math.sin(a), math.cos(a))


def turned(p):
    return (M[0] * p[0] + M[2] * p[1], M[1] * p[0] + M[3] * p[1])


def path(L, pid, turn):
    L.call("StartPath", pid)
    for name, points in ITEMS:
        args = []
        for p in points:
            args += list(turned(p) if turn else p)
        L.call(name, pid, *args)
    L.call("ClosePath", pid)


L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 200, "height": 160, "color": 0x203040})
L.call("OpenDisplay", 1)
L.call("SetFormStyle", 16)
L.call("SetFillStyle", 1)
path(L, 1, False)
path(L, 2, True)
L.check("enable", "EnableLayers")
L.check("layer", "DrawPath", 1, 70, 40, 0xFFCC00, {"rotate": 30})
L.call("SaveSnapshot", "turned.bmp", 1, 0)
L.check("cls", "Cls")
L.check("disable", "DisableLayers")
L.check("direct", "DrawPath", 2, 70, 40, 0xFFCC00)
L.call("SaveSnapshot", "direct.bmp", 1, 0)
header = """; A path layer turned by 30 degrees is drawn again from its path: it
; matches the path of the turned points drawn with layers off.
; Written by gen_pathturn.py.
;! xserver: 24
;! args: -QUIET
;! picture: turned.bmp 6 = cp direct.bmp {ref}
"""
header += "".join(f";! stdout: {e}\n" for e in "enable=0 layer=0 cls=0 disable=0 direct=0".split())
with open("draw_pathturn.qxs", "w") as f:
    f.write(header + L.text())

#!/usr/bin/python3
"""Writes draw_shapelayers.qxs: shapes and a path drawn as layers, one moved
and one removed, against the same shapes drawn with layers off at the new
places."""
from listing import Listing

POLY = [0, 0, 40, 5, 15, 30]


POLY2 = [0, 0, 30, 10, 5, 35]


def shapes(L, dx, dy, prefix, restyled=False):
    L.check(prefix + "circle", "Circle", 30 + dx, 30 + dy, 20, 0xFF0000)
    L.check(prefix + "poly", "Polygon", 100, 55, POLY2 if restyled else POLY, 3, 0x0000FF)
    if restyled:
        L.check(prefix + "line", "Line", 10, 95, 155, 50, 0xFFFF00, {"thickness": 5})
    else:
        L.check(prefix + "line", "Line", 5, 95, 150, 60, 0xFFFF00, {"thickness": 3})
    L.check(prefix + "path", "DrawPath", 1, 110, 10, 0xFFFFFF)


L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 160, "height": 100, "color": 0x336699})
L.call("OpenDisplay", 1)
L.call("StartPath", 1)
L.call("MoveTo", 1, 0, 0)
L.call("CurveTo", 1, 30, 0, 40, 30, 10, 35)
L.call("ClosePath", 1)
L.call("SetFillStyle", 1)
L.call("SetFormStyle", 16)
L.check("enable", "EnableLayers")
L.check("box", "Box", 60, 10, 40, 30, 0x00FF00, {"roundlevel": 30})
shapes(L, 0, 0, "")
L.check("move", "ShowLayer", 2, 100010, 100020)
L.check("remove", "RemoveLayer", 1)
L.style(1, [("type",), ("radius",), ("fillstyle",), ("color",)])
# The line keeps its end points through a move; lines, polygons and dashes restyle.
L.check("moveline", "ShowLayer", 3, 100005, 100000)
L.check("line", "SetLayerStyle", 3, {"thickness": 5, "y2": 50})
L.check("poly", "SetLayerStyle", 2, {"vertices": POLY2})
L.check("dashes", "SetLayerStyle", 4, {"dashes": [4, 2]})
L.style(3, [("x1",), ("x2",), ("y2",), ("thickness",)])
L.style(2, [("numvertices",), ("vertices", 2)])
L.style(4, [("dashes", 1), ("vectorengine",)])
L.call("SaveSnapshot", "layers.bmp", 1, 0)
L.check("cls", "Cls")
L.check("disable", "DisableLayers")
shapes(L, 10, 20, "direct", True)
L.call("SaveSnapshot", "direct.bmp", 1, 0)
expect = """enable=0 box=0 circle=0 poly=0 line=0 path=0 move=0 remove=0 type=15 radius=20 fillstyle=1 color=16711680
moveline=0 line=0 poly=0 dashes=0 x1=10 x2=155 y2=50 thickness=5 numvertices=4 vertices=30 dashes=2
vectorengine=default cls=0 disable=0
directcircle=0 directpoly=0 directline=0 directpath=0 done"""
header = """; Shapes and a path drawn as layers, the circle moved, the box removed and
; the line, polygon and path restyled, look exactly as the same shapes
; drawn with layers off at the new places.
; Written by gen_shapelayers.py.
;! xserver: 24
;! args: -QUIET
;! picture: layers.bmp 0 = cp direct.bmp {ref}
"""
L.write("draw_shapelayers.qxs", header, expect)

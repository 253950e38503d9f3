#!/usr/bin/python3
"""Writes draw_paths.qxs: a curved path filled and stroked and an open
path stroked with mitres and square caps, against cairo drawing the same
(path_ref.c)."""
from listing import Listing

L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 160, "height": 100, "color": 0x336699})
L.call("OpenDisplay", 1)
L.call("StartPath", 1)
L.call("MoveTo", 1, 20, 80)
L.call("CurveTo", 1, 40, 10, 90, 10, 110, 60)
L.call("LineTo", 1, 60, 90)
L.call("ClosePath", 1)
L.call("StartPath", 2)
L.call("MoveTo", 2, 120, 20)
L.call("LineTo", 2, 150, 50)
L.call("LineTo", 2, 125, 80)
L.call("SetFormStyle", 16)
L.call("SetFillStyle", 1)
L.check("fill", "DrawPath", 1, 0, 0, 0xFF0000)
L.call("SetFillStyle", 0, 5)
L.call("SetLineJoin", 1)
L.check("stroke", "DrawPath", 1, 0, 0, 0xFFFF00)
L.call("SetFillStyle", 0, 6)
L.call("SetLineJoin", 0)
L.call("SetLineCap", 2)
L.check("open", "DrawPath", 2, 0, 0, 0xFFFFFF)
L.call("SaveSnapshot", "paths.bmp", 1, 0)
expect = "fill=0 stroke=0 open=0 done"
header = """; A curved path filled and stroked with round joins, and an open path
; stroked with mitres and square caps, against cairo drawing the same paths
; (path_ref.c): FreeType's and cairo's anti-aliasing differ only at edges.
; Written by gen_paths.py.
;! xserver: 24
;! args: -QUIET
;! picture: paths.bmp 24 = cc -o path_ref {src}/path_ref.c $(pkg-config --cflags --libs cairo) && ./path_ref {ref}
"""
with open("draw_paths.qxs", "w") as f:
    f.write(header)
    for e in expect.split():
        f.write(f";! stdout: {e}\n")
    f.write(L.text().replace("    RETURN 0 1\n", '    GETGLOBAL 0 "consoleprint"\n    LOADK 1 "done"\n    CALL 0 2 1\n    RETURN 0 1\n'))

#!/usr/bin/python3
"""Writes draw_vectorpaths.qxs: the vectorgraphics commands' results and
error codes."""
from listing import Listing

L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 160, "height": 100})
L.call("OpenDisplay", 1)
L.check("start", "StartPath", 1)
L.value("empty", "IsPathEmpty", 1)
L.check("drawempty", "DrawPath", 1, 0, 0)
L.call("AddEllipseToPath", 1, 100, 100, 50, 25)
L.value("ext", "GetPathExtents", 1, fields=())
L.call("ClearPath", 1)
L.call("MoveTo", 1, 10, 10)
L.call("LineTo", 1, 50, 10)
L.call("RelCurveTo", 1, 0, 20, -40, 20, -40, 40)
L.call("ClosePath", 1)
L.value("full", "IsPathEmpty", 1)
L.value("point", "GetCurrentPoint", 1)
L.check("copyself", "CopyPath", 1, 1)
L.check("appendself", "AppendPath", 1, 1)
L.check("copy", "CopyPath", 1, 2)
L.check("append", "AppendPath", 2, 1)
L.check("translate", "TranslatePath", 2, 5, 5)
L.check("missing", "FreePath", 7)
L.value("miter", "SetMiterLimit", 4)
L.check("dash", "SetDash", 2, 5, 3)
L.value("getdash", "GetDash")
L.check("solid", "SetDash", 0, -1)
L.value("nodash", "GetDash")
L.check("engine", "SetVectorEngine", "foo")
L.check("default", "SetVectorEngine", "Default")
L.check("draw", "DrawPath", 1, 20, 20, 0xFF0000)
L.call("PathItems", 1, results=1)
L.emit("MOVE 45 0")
L.emit("CALL 45 1 2")
L.emit('GETTABLE 42 45 "type"')
L._print("item", 42)
L.emit("MOVE 45 0")
L.emit("CALL 45 1 2")
L.emit('GETTABLE 42 45 "x"')
L._print("item2", 42)
L.check("force", "ForcePathUse", 1)
L.check("circle0", "Circle", 80, 50, 0, 0x00FF00)
L.check("circle", "Circle", 80, 50, 20, 0x00FF00)
L.check("unforce", "ForcePathUse", 0)
L.check("circlebad", "Circle", 80, 50, 0, 0x00FF00)
L.check("free", "FreePath", 1)
L.check("gone", "IsPathEmpty", 1)
expect = """start=0 empty=1 drawempty=1394 ext=49.5 full=0 point=10 copyself=1055 appendself=1055 copy=0 append=0
translate=0 missing=1393 miter=4 dash=0 getdash=2 solid=0 nodash=-1 engine=1531 default=0 draw=0
item=MoveTo item2=50 force=0 circle0=1394 circle=0 unforce=0 circlebad=1055 free=0 gone=1393 done"""
header = """; The vectorgraphics commands: building, copying and querying paths, the
; vector settings, engines, drawing, PathItems and ForcePathUse, with their
; error codes. Written by gen_vectorpaths.py.
;! xserver: 24
;! args: -QUIET
"""
with open("draw_vectorpaths.qxs", "w") as f:
    f.write(header)
    for e in expect.split():
        f.write(f";! stdout: {e}\n")
    f.write(L.text().replace("    RETURN 0 1\n", '    GETGLOBAL 0 "consoleprint"\n    LOADK 1 "done"\n    CALL 0 2 1\n    RETURN 0 1\n'))

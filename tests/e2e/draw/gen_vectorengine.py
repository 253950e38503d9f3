#!/usr/bin/python3
"""Writes draw_vectorengine.qxs: a vector engine plug-in selected by name
measures and draws paths, also as a layer that names it."""
from listing import Listing

L = Listing()
L.call("LoadPlugin", "extra/kitvector")
L.check("select", "SetVectorEngine", "KitVector")
L.call("StartPath", 1)
L.call("MoveTo", 1, 0, 0)
L.call("LineTo", 1, 20, 10)
L.call("GetPathExtents", 1, results=4)
L.emit("MOVE 40 2")
L.emit("MOVE 41 3")
L._print("x2", 40)
L._print("y2", 41)
L.check("draw", "DrawPath", 1, 10, 10, 0xFF0000)
# The engine's plane: rows alternately covered and empty.
for label, y in (("row0", 10), ("row1", 11), ("row9", 19)):
    L.call("ReadPixel", 15, y, results=1)
    L.emit("MOVE 40 0")
    L._print(label, 40)
# A path away from the origin: the engine checks that pair B holds its
# extents' corner and pair A (0, 0), and refuses the drawing otherwise.
L.call("StartPath", 3)
L.call("MoveTo", 3, 5, 3)
L.call("LineTo", 3, 20, 10)
L.check("offset", "DrawPath", 3, 40, 40, 0xFF0000)
# Text added under the plug-in holds its vector font; the inbuilt engine draws it with its own.
L.check("font", "SetFont", "Bitstream Vera Sans", 20)
L.call("StartPath", 2)
L.call("MoveTo", 2, 0, 20)
L.check("text", "AddTextToPath", 2, "ab")
L.call("SetVectorEngine", "default")
L.check("drawtext", "DrawPath", 2, 100, 10, 0xFFFFFF)
L.call("SetVectorEngine", "kitvector")
L.check("enable", "EnableLayers")
L.check("layer", "DrawPath", 1, 50, 50, 0x00FF00)
L.call("GetLayerStyle", 1, results=1)
L.emit('GETTABLE 42 0 "vectorengine"')
L._print("engine", 42)
L.check("restyle", "SetLayerStyle", 1, {"vectorengine": "default"})
L.check("badkey", "SetLayerStyle", 1, {"vectorengine": "nosuch"})
L.check("unknown", "SetVectorEngine", "nosuch")
L.check("default", "SetVectorEngine", "Default")
header = """; A vector engine plug-in (capability 0x20) found by its file name in any
; case measures and draws a path with the records it is handed (the kit
; engine refuses records whose fields are off, and a drawing whose pair B
; is not its extents' corner); a path layer names its engine and is
; redrawn by another; an unknown engine gives 1531.
; Written by gen_vectorengine.py.
;! xserver: 24
;! args: -QUIET
;! plugin-build: extra/kitvector.qxp={src}/../../plugins/kit/testplugin.c '-DKIT_NAME="kitvector"' -DKIT_CAPS=QX_CAP_VECTORGRAPHICS -DKIT_VECTOR
"""
expect = "select=0 x2=20 y2=10 draw=0 row0=16711680 row1=0 row9=0 offset=0 font=0 text=0 drawtext=0 enable=0 layer=0 engine=kitvector.qxp restyle=0 badkey=1531 unknown=1531 default=0"
with open("draw_vectorengine.qxs", "w") as f:
    f.write(header + "".join(f";! stdout: {e}\n" for e in expect.split()) + L.text())

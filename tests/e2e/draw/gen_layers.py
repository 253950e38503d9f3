#!/usr/bin/python3
"""Writes draw_layers.qxs: with layers enabled Plot is refused and Cls
removes every layer."""
from listing import Listing

L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 200, "height": 100})
L.call("OpenDisplay", 1)
L.check("enable", "EnableLayers")
L.call("CreateBrush", 1, 20, 20, 0xFF0000)
L.check("brushlayer", "DisplayBrush", 1, 10, 10, {"name": "b"})
L.value("before", "LayerExists", "b")
L.check("plot", "Plot", 5, 5)
L.check("cls", "Cls", 0xFF0000)
L.value("after", "LayerExists", "b")
header = """; With layers enabled Plot is refused and Cls removes every layer.
; Written by gen_layers.py.
;! xserver: 24
;! args: -QUIET
"""
expect = "enable=0 brushlayer=0 before=1 plot=1271 cls=0 after=0 done"
body = L.text()
with open("draw_layers.qxs", "w") as f:
    f.write(header)
    for e in expect.split():
        f.write(f";! stdout: {e}\n")
    f.write(body.replace("    RETURN 0 1\n", '    GETGLOBAL 0 "consoleprint"\n    LOADK 1 "done"\n    CALL 0 2 1\n    RETURN 0 1\n'))

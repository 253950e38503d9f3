#!/usr/bin/python3
"""Writes draw_shapestyles.qxs: with layers on, a shape's shadow, edge, wide
outline and transparency become the layer's style, read back and restyled
with GetLayerStyle and SetLayerStyle."""
from listing import Listing

L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 160, "height": 100, "color": 0x336699})
L.call("OpenDisplay", 1)
L.check("enable", "EnableLayers")
L.call("SetFillStyle", 1)
L.call("SetFormStyle", 32, 0x000000, 4)
L.check("shadowbox", "Box", 10, 10, 40, 30, 0xFF0000)
L.style(1, [("sizex",), ("sizey",), ("shadow",), ("shadowsize",), ("shadowdir",), ("formstyle",)])
L.check("noshadow", "SetLayerStyle", 1, {"shadow": 0})
L.style(1, [("shadow",)])
L.call("SetFormStyle", 1)
L.call("SetFillStyle", 0)
L.call("SetLineWidth", 6)
L.check("outline", "Box", 60, 10, 40, 30, 0x00FF00)
L.style(2, [("sizex",), ("sizey",), ("border",), ("bordersize",), ("bordercolor",)])
L.check("wider", "SetLayerStyle", 2, {"bordersize": 5})
L.style(2, [("bordersize",)])
L.call("SetLineWidth", 1)
L.call("SetFillStyle", 1)
L.call("SetFormStyle", 64, 0xFFFF00, 2)
L.check("edgecircle", "Circle", 110, 10, 15, 0x800000FF)
L.style(3, [("radius",), ("border",), ("bordersize",), ("bordercolor",), ("transparency",), ("color",), ("formstyle",)])
L.call("StartPath", 1)
L.call("MoveTo", 1, 0, 0)
L.call("LineTo", 1, 30, 0)
L.call("LineTo", 1, 15, 20)
L.call("ClosePath", 1)
L.call("SetFormStyle", 1)
L.call("SetFormStyle", 32, 0x000000, 5, 2)
L.check("path", "DrawPath", 1, 20, 60, 0xFFFFFF)
L.style(4, [("type",), ("shadow",), ("shadowsize",), ("shadowdir",), ("formstyle",)])
L.check("formon", "SetLayerStyle", 1, {"formstyle": 96})
L.style(1, [("shadow",), ("border",), ("formstyle",)])
L.check("formoff", "SetLayerStyle", 1, {"formstyleclear": 32})
L.style(1, [("shadow",), ("border",)])
L.check("formnormal", "SetLayerStyle", 1, {"formstyle": 33})
L.style(1, [("shadow",)])
L.call("CreateBrush", 7, 8, 8, 0x00FF00)
L.check("texture", "SetLayerStyle", 1, {"fillstyle": 3, "texturebrush": 7})
L.style(1, [("fillstyle",), ("texturebrush",)])
# The layer keeps filling with a texture brush the script frees, and a new
# brush of that number is not taken for it.
L.check("texfree", "FreeBrush", 7)
L.check("texsize", "SetLayerStyle", 1, {"sizex": 44})
L.call("CreateBrush", 7, 8, 8, 0x0000FF)
L.check("texback", "SetLayerStyle", 1, {"sizex": 40})
L.call("ReadPixel", 12, 12, results=1)
L.emit("MOVE 30 0")
L._print("texpixel", 30)
L.call("SetFormStyle", 1)
L.call("SetFillStyle", 1)
L.call("Box", 60, 60, 40, 20, 0xFFFFFF)
L.check("gradient", "SetLayerStyle", 5, {"fillstyle": 2, "gradientstyle": 3, "gradientstartcolor": 0xFF0000,
                                         "gradientendcolor": 0x0000FF, "gradientcenterx": 0.25, "gradientcentery": 0.5,
                                         "gradientbalance": 0.5, "gradientborder": 0})
# The same gradient drawn with its centre from the draw library: both
# layers show the same pixels along the middle row.
L.call("SetFillStyle", 2, 3, 0xFF0000, 0x0000FF, 0, {"centerx": 0.25})
L.call("Box", 110, 60, 40, 20, 0xFFFFFF)
offsets = (1, 4, 8, 10, 14, 20, 30, 38)
L.emit("LOADK 33 #0")
for d in offsets:
    L.call("ReadPixel", 60 + d, 70, results=1)
    L.emit("MOVE 30 0")
    L.call("ReadPixel", 110 + d, 70, results=1)
    L.emit("EQ 0 30 0")
    L.emit("JMP @1")
    L.emit("ADD 33 33 #1")
L._print("samepixels", 33)
# Colour stops change the gradient; the layer's own style read back and
# handed over again keeps them.
L.emit("LOADK 33 #0")
L.emit("LOADK 34 #0")
for d in (4, 10, 20):
    L.call("ReadPixel", 60 + d, 70, results=1)
    L.emit("MOVE 30 0")
    L.call("SetLayerStyle", 5, {"gradientcolors": [0x00FF00, 0, 0x00FF00, 1]})
    L.call("ReadPixel", 60 + d, 70, results=1)
    L.emit("MOVE 31 0")
    L.call("GetLayerStyle", 5, results=1)
    L.emit("MOVE 2 0")
    L.emit('GETGLOBAL 0 "setlayerstyle"')
    L.emit("LOADK 1 #5")
    L.emit("CALL 0 3 1")
    L.call("ReadPixel", 60 + d, 70, results=1)
    L.emit("EQ 0 31 0")
    L.emit("JMP @1")
    L.emit("ADD 34 34 #1")
    L.emit("EQ 1 30 31")
    L.emit("JMP @1")
    L.emit("ADD 33 33 #1")
    # Another start colour drops the stops again.
    L.call("SetLayerStyle", 5, {"gradientstartcolor": 0xFF0001})
    L.call("SetLayerStyle", 5, {"gradientstartcolor": 0xFF0000})
L._print("stopsshown", 33)
L._print("stopskept", 34)
expect = """enable=0 shadowbox=0 sizex=40 sizey=30 shadow=1 shadowsize=4 shadowdir=3 formstyle=1 noshadow=0 shadow=0
outline=0 sizex=40 sizey=30 border=1 bordersize=3 bordercolor=65280 wider=0 bordersize=5
edgecircle=0 radius=15 border=1 bordersize=2 bordercolor=16776960 transparency=128 color=255 formstyle=1
path=0 type=49 shadow=1 shadowsize=5 shadowdir=2 formstyle=1
formon=0 shadow=1 border=1 formstyle=1 formoff=0 shadow=0 border=1 formnormal=0 shadow=1
texture=0 fillstyle=3 texturebrush=7 texfree=0 texsize=0 texback=0 texpixel=65280 gradient=0 samepixels=%d stopsshown=3 stopskept=3 done""" % len(offsets)
header = """; With layers on, the effects of a shape become its layer's style: a
; shadow, a #FILLNONE line of width 6 (a 1-pixel outline with a 3-pixel
; border in its colour), an edge and a transparent colour are read back
; with GetLayerStyle and restyled with SetLayerStyle; the layer keeps the
; shape's own size. A path's shadow becomes its layer's too. SHADOW and
; EDGE in a restyled form style switch the layer's shadow and border; a
; texture brush and a gradient's centre are taken by the layer; NORMAL
; with SHADOW still switches the shadow on. A freed texture brush stays the
; layer's. Colour stops survive the layer's style read back and handed
; over again.
; Written by gen_shapestyles.py.
;! xserver: 24
;! args: -QUIET
"""
L.write("draw_shapestyles.qxs", header, expect)

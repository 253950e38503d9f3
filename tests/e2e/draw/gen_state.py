#!/usr/bin/python3
"""Writes draw_state.qxs: the draw state's defaults, clamps and refusals."""
from listing import Listing

L = Listing()
L.value("fill", "GetFillStyle", fields=["thickness"])
L.value("form", "GetFormStyle")
L.value("width", "GetLineWidth")
L.check("shadow", "SetFormStyle", 32)
L.value("form2", "GetFormStyle", fields=["shadowcolor", "shadowsize", "shadowdir"])
L.check("edge", "SetFormStyle", 64, 0xFF0000, 100)
L.value("form3", "GetFormStyle", fields=["bordersize", "bordercolor"])
L.check("shadow0", "SetFormStyle", 32, 0, 0)
L.check("shadowdir", "SetFormStyle", 32, 0, 4, 9)
L.value("form4", "GetFormStyle", fields=["shadowsize", "shadowdir"])
L.check("aatoomany", "SetFormStyle", 16, 1)
L.check("edgefour", "SetFormStyle", 64, 0xFF, 5, 7)
L.value("form5", "GetFormStyle", fields=["bordersize", "bordercolor"])
L.check("normal", "SetFormStyle", 1)
L.check("aa", "SetFormStyle", 16)
L.value("form6", "GetFormStyle")
L.check("none0", "SetFillStyle", 0, 0)
L.value("width2", "GetLineWidth")
L.check("linewidth0", "SetLineWidth", 0)
L.check("grad0", "SetFillStyle", 2, 0, 0xFF0000, 0x0000FF)
L.value("grad", "GetFillStyle", fields=["type", "style", "angle", "startcolor", "centerx"])
L.check("grad1", "SetFillStyle", 2, 1, 0xFF0000, 0x0000FF)
L.value("grad1v", "GetFillStyle", fields=["angle"])
L.check("centerout", "SetFillStyle", 2, 3, 1, 2, 45, {"centerx": 1.5})
L.check("onepair", "SetFillStyle", 2, 3, 1, 2, 45, {"colors": [0xFF0000, 0.0]})
L.check("texture", "SetFillStyle", 3, 7, 2, 3)
L.value("tex", "GetFillStyle", fields=["brush", "x", "y"])
L.check("bad", "SetFillStyle", 7)
L.value("badv", "GetFillStyle")
L.check("boxzero", "Box", 0, 0, 0, 10)
L.check("circlezero", "Circle", 10, 10, 0)
L.check("arcsame", "Arc", 100, 100, 50, 50, 90, 90)
L.check("arcneg", "Arc", 100, 100, 50, 50, -10, 90)
L.check("poly1000", "Polygon", 0, 0, [0, 0, 10, 0], 1000)
L.check("polyshort", "Polygon", 0, 0, [0, 0, 10, 0], 3)
L.check("polynotable", "Polygon", 0, 0, 5, 3)
L.check("plotout", "Plot", -5, -5)
L.check("readout", "ReadPixel", -5, -5)
L.call("CreateBrush", 3, 20, 20, 0xFFFFFF, {"mask": 1, "clear": 1})
L.check("selmask", "SelectMask", 3)
L.value("maskbefore", "ReadPixel", 2, 2)
L.check("maskfill", "SetFillStyle", 1)
L.check("maskbox", "Box", 0, 0, 5, 5, 0)
L.value("maskin", "ReadPixel", 2, 2)
L.value("maskout", "ReadPixel", 10, 10)
L.check("maskend", "EndSelect")
L.check("selbrush", "SelectBrush", 3)
L.check("cls", "Cls", 0x7F12FF00)  # only the low 24 bits count
L.value("clsread", "ReadPixel", 19, 19)
L.check("brushend", "EndSelect")
# A full alpha channel and a full mask: drawing sets only what it covers, a
# mask in the mask mode, and ReadPixel reads the alpha bytes.
L.call("SetFormStyle", 1)
L.call("CreateBrush", 4, 40, 40, 0, {"alphachannel": 1})
L.check("selalpha", "SelectAlphaChannel", 4)
L.value("alphafresh", "ReadPixel", 2, 2)
L.check("alphaplot", "Plot", 30, 30, 0x80000000)
L.value("alphaplotted", "ReadPixel", 30, 30)
L.call("SetAlphaIntensity", 100)
L.check("alphacircle", "Circle", 0, 0, 9)
L.value("alphacentre", "ReadPixel", 9, 9)
L.value("alphacorner", "ReadPixel", 0, 0)
L.call("SetAlphaIntensity", -1)
L.check("alphacircle2", "Circle", 5, 5, 4)
L.value("alphacentre2", "ReadPixel", 9, 9)
L.value("alphacorner2", "ReadPixel", 5, 5)
L.check("alphaend", "EndSelect")
L.call("CreateBrush", 5, 40, 40, 0, {"mask": 1})
L.check("selfull", "SelectMask", 5)
L.check("lineon", "Line", 3, 0, 6, 3)
L.value("lineonbeside", "ReadPixel", 4, 0)
L.call("SetMaskMode", 1)
L.check("lineoff", "Line", 3, 10, 6, 13)
L.value("lineoffon", "ReadPixel", 3, 10)
L.value("lineoffbeside", "ReadPixel", 4, 10)
L.check("circleoff", "Circle", 20, 0, 5)
L.value("circleoffcentre", "ReadPixel", 25, 5)
L.value("circleoffcorner", "ReadPixel", 20, 0)
L.check("boxoff", "Box", 0, 20, 5, 5)
L.value("boxoffin", "ReadPixel", 2, 22)
L.call("SetFillStyle", 0)
L.check("outlineoff", "Box", 10, 20, 5, 5)
L.value("outlineedge", "ReadPixel", 10, 22)
L.value("outlineinside", "ReadPixel", 12, 22)
L.call("SetMaskMode", 0)
L.check("fullend", "EndSelect")
# The other mask modes on a mask whose left half is set. A filled circle
# combines its shape with the mask over its bounding box (copy, XOR, AND,
# OR); a Box works on its rectangle (copy and OR set, XOR toggles, AND
# leaves it).
MODES = {2: "copy", 3: "xor", 4: "and", 5: "or"}
SHAPE = {2: lambda d, s: s, 3: lambda d, s: d ^ s, 4: lambda d, s: d & s, 5: lambda d, s: d | s}
RECT = {2: lambda d: 1, 3: lambda d: 1 - d, 4: lambda d: d, 5: lambda d: 1}
# point: (x, y, inside the circle 10,10 r 10, inside its bounding box)
CIRCLE_POINTS = {"in": (15, 20, 1, 1), "inclear": (25, 20, 1, 1), "corner": (11, 11, 0, 1), "cornerclear": (29, 11, 0, 1),
                 "out": (5, 20, 0, 0)}
BOX_POINTS = {"box": (15, 2, 1), "boxclear": (25, 2, 1), "boxout": (35, 2, 0)}
modes_expect = []
L.call("SetFillStyle", 1)
for m, name in MODES.items():
    L.call("CreateBrush", 10 + m, 40, 40, 0, {"mask": 1})
    L.call("SelectMask", 10 + m)
    L.call("SetMaskMode", 1)
    L.call("Box", 0, 0, 40, 40)
    L.call("SetMaskMode", 0)
    L.call("Box", 0, 0, 20, 40)
    L.call("SetMaskMode", m)
    L.call("Circle", 10, 10, 10)
    for k, (x, y, inside, box) in CIRCLE_POINTS.items():
        L.value(f"{name}.{k}", "ReadPixel", x, y)
        before = int(x < 20)
        modes_expect.append(f"{name}.{k}={SHAPE[m](before, inside) if box else before}")
    L.call("Box", 10, 0, 20, 5)
    for k, (x, y, inside) in BOX_POINTS.items():
        L.value(f"{name}.{k}", "ReadPixel", x, y)
        before = int(x < 20)
        modes_expect.append(f"{name}.{k}={RECT[m](before) if inside else before}")
    L.call("SetMaskMode", 0)
    L.call("EndSelect")
# A transparent colour into an alpha channel: a Box writes the alpha
# intensity (255 unset), a filled circle its colour's opacity unless the
# intensity is set.
L.call("CreateBrush", 20, 40, 40, 0, {"alphachannel": 1})
L.call("SelectAlphaChannel", 20)
for level in (-1, 100):
    L.call("SetAlphaIntensity", level)
    L.call("Box", 0, 0, 10, 10, 0x40FFFFFF)
    L.value(f"alpha{level}.box", "ReadPixel", 5, 5)
    L.call("Circle", 20, 20, 5, 0x40FFFFFF)
    L.value(f"alpha{level}.circle", "ReadPixel", 25, 25)
    L.call("Cls", 0xFFFFFF)
    L.value(f"alpha{level}.cls", "ReadPixel", 35, 5)
    modes_expect += [f"alpha{level}.box={255 if level < 0 else level}",
                     f"alpha{level}.circle={255 - 0x40 if level < 0 else level}",
                     f"alpha{level}.cls={255 if level < 0 else level}"]
L.call("SetAlphaIntensity", -1)
L.call("EndSelect")
# Cls into a mask alone clears it in the mask mode.
L.call("CreateBrush", 21, 40, 40, 0, {"mask": 1})
L.call("SelectMask", 21)
L.call("SetMaskMode", 1)
L.call("Cls")
L.value("maskcls", "ReadPixel", 5, 5)
modes_expect.append("maskcls=0")
L.call("SetMaskMode", 0)
L.call("EndSelect")
# A mask or alpha target that has no such plane gets one (all set, all
# 255) before the first drawing: an anim frame and a layer alike, and the
# frame shows through its new mask.
L.call("CreateBrush", 30, 30, 10, 0xFF0000)
L.call("CreateAnim", 6, 30, 10, 10, 3, 0)
L.check("animmask", "SelectMask", 6, 4, 2)
L.call("SetMaskMode", 1)
L.call("Box", 0, 0, 5, 5)
L.value("animmaskout", "ReadPixel", 7, 7)
L.call("SetMaskMode", 0)
L.call("EndSelect")
L.check("animmask1", "SelectMask", 6, 4, 1)
L.call("Box", 0, 0, 5, 5)
L.call("EndSelect")
L.value("animhasmask", "GetAttribute", 4, 6, 16)
L.call("DisplayAnimFrame", 6, 100, 100, 2)
L.value("animhole", "ReadPixel", 102, 102)
L.value("animshown", "ReadPixel", 107, 107)
L.call("EnableLayers")
L.call("DisplayBrush", 30, 0, 0)
L.check("layeralpha", "SelectAlphaChannel", 1, 22)
L.call("SetAlphaIntensity", 0)
L.call("Box", 0, 0, 10, 5)
L.call("SetAlphaIntensity", -1)
L.value("layeralphain", "ReadPixel", 2, 2)
L.value("layeralphaout", "ReadPixel", 20, 2)
L.call("EndSelect")
L.call("DisableLayers")
modes_expect += "animmask=0 animmaskout=1 animmask1=0 animhasmask=1 animhole=0 animshown=16711680".split()
modes_expect += "layeralpha=0 layeralphain=0 layeralphaout=255".split()
header = """; The draw state: defaults, the clamps of SetFormStyle and SetFillStyle,
; refused styles kept for the renderer's clamp, and the argument refusals of
; the draw commands. Written by gen_state.py.
;! xserver: 24
;! args: -QUIET
"""
expect = """fill=0
fill.thickness=1
form=1
width=1
shadow=0
form2=33
form2.shadowcolor=0
form2.shadowsize=4
form2.shadowdir=3
edge=0
form3=97
form3.bordersize=64
form3.bordercolor=16711680
shadow0=0
shadowdir=0
form4=97
form4.shadowsize=4
form4.shadowdir=3
aatoomany=1193
edgefour=0
form5=97
form5.bordersize=64
form5.bordercolor=255
normal=0
aa=0
form6=17
none0=0
width2=1
linewidth0=1055
grad0=0
grad=2
grad.type=2
grad.style=2
grad.angle=0
grad.startcolor=16711680
grad.centerx=0.5
grad1=0
grad1v=2
grad1v.angle=90
centerout=1055
onepair=1055
texture=0
tex=3
tex.brush=7
tex.x=2
tex.y=3
bad=1055
badv=7
boxzero=1055
circlezero=1055
arcsame=0
arcneg=1055
poly1000=1055
polyshort=1189
polynotable=1140
plotout=0
readout=1168
selmask=0
maskbefore=0
maskfill=0
maskbox=0
maskin=1
maskout=0
maskend=0
selbrush=0
cls=0
clsread=1244928
brushend=0
selalpha=0
alphafresh=255
alphaplot=0
alphaplotted=127
alphacircle=0
alphacentre=100
alphacorner=255
alphacircle2=0
alphacentre2=255
alphacorner2=100
alphaend=0
selfull=0
lineon=0
lineonbeside=1
lineoff=0
lineoffon=0
lineoffbeside=1
circleoff=0
circleoffcentre=0
circleoffcorner=1
boxoff=0
boxoffin=0
outlineoff=0
outlineedge=0
outlineinside=1
fullend=0
"""
body = L.text()
with open("draw_state.qxs", "w") as f:
    f.write(header)
    for e in expect.strip().split("\n") + modes_expect:
        f.write(f";! stdout: {e}\n")
    f.write(";! stdout: done\n")
    f.write(body.replace("    RETURN 0 1\n", '    GETGLOBAL 0 "consoleprint"\n    LOADK 1 "done"\n    CALL 0 2 1\n    RETURN 0 1\n'))

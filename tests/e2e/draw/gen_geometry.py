#!/usr/bin/python3
"""Writes draw_geometry.qxs: arcs, tessellated circles, a mitred border,
#FILLNONE outlines and a thick line drawn into a brush, against
geometry_ref.cpp's picture of the same outlines rasterised by OpenCV."""
from listing import Listing


def pies(L, p):
    """Anti-aliased pies of the vector engine, placed inside their ellipses."""
    L.check(p + "aa", "SetFormStyle", 16)
    L.check(p + "fill", "SetFillStyle", 1)
    for i, (x, y, a, b, colour, cw) in enumerate([(5, 5, 0, 90, 0x000000, 1), (40, 5, 90, 180, 0xFF0000, 1),
                                                  (75, 5, 180, 270, 0x0000FF, 1), (110, 5, 270, 360, 0x008000, 1),
                                                  (145, 5, 0, 180, 0x000000, 1), (5, 42, 0, 90, 0xFF0000, 0)]):
        L.check(f"{p}pie{i}", "Arc", x, y, 15, 15, a, b, colour, cw)
    L.check(p + "dot", "Box", 190, 70, 1, 1, 0x000000)
    L.check(p + "none", "SetFillStyle", 0)
    L.check(p + "cw", "Arc", 45, 42, 15, 15, 0, 90, 0x0000FF, 1)
    L.check(p + "acw", "Arc", 85, 42, 15, 15, 0, 90, 0x000000, 0)


L = Listing(own_display_1=True)
L.call("CreateDisplay", 1, {"width": 200, "height": 80, "color": 0xFFFFFF})
L.call("OpenDisplay", 1)
L.call("CreateBrush", 1, 320, 200, 0xFFFFFF)
L.check("select", "SelectBrush", 1)
L.check("lines", "LegacyControl", "linebasedshapes", 1)
L.check("fill", "SetFillStyle", 1)
L.check("quarter", "Arc", 10, 10, 25, 25, 0, 90, 0x000000)
L.check("top", "Arc", 70, 10, 15, 15, 180, 300, 0xFF0000)
L.check("anti", "Arc", 110, 10, 15, 15, 0, 90, 0x0000FF, 0)
L.check("same", "Arc", 110, 10, 15, 15, 45, 45, 0x00FF00)
L.check("r1", "Circle", 150, 10, 1, 0x000000)
L.check("r5", "Circle", 160, 10, 5, 0x000000)
L.check("r12", "Circle", 180, 10, 12, 0x000000)
L.check("aa", "SetFormStyle", 16)
L.check("r20", "Circle", 220, 10, 20, 0x0000FF)
L.check("aatri", "Polygon", 80, 80, [0, 0, 40, 0, 20, 34], 3, 0x000000)
L.check("normal", "SetFormStyle", 1)
L.check("edge", "SetFormStyle", 64, 0xFF0000, 4)
L.check("tri", "Polygon", 20, 80, [0, 0, 40, 0, 20, 34], 3, 0x008000)
L.check("plain", "SetFormStyle", 1)
L.check("none", "SetFillStyle", 0)
L.check("width", "SetLineWidth", 3)
L.check("outline", "Box", 140, 80, 40, 14, 0xFF0000)
L.check("thin", "SetLineWidth", 1)
L.check("dot", "Box", 200, 80, 1, 1, 0x0000FF)
L.check("line", "Line", 200, 150, 300, 180, 0x008000, 5)
L.check("end", "EndSelect")
L.check("save", "SaveBrush", 1, "geometry.bmp")
# The vector engine's pies: into a brush, onto the display and as layers.
L.check("engine", "LegacyControl", "linebasedshapes", 0)
L.call("CreateBrush", 2, 200, 80, 0xFFFFFF)
L.check("brush", "SelectBrush", 2)
pies(L, "b")
L.call("EndSelect")
L.check("pies", "SaveBrush", 2, "pies.bmp")
pies(L, "d")
L.call("SaveSnapshot", "direct.bmp", 1, 0)
L.check("cls", "Cls", 0xFFFFFF)
L.check("layers", "EnableLayers")
pies(L, "l")
L.call("SaveSnapshot", "layers.bmp", 1, 0)
expect = """select=0 lines=0 fill=0 quarter=0 top=0 anti=0 same=0 r1=0 r5=0 r12=0 aa=0 r20=0 aatri=0
normal=0 edge=0 tri=0 plain=0 none=0 width=0 outline=0 thin=0 dot=0 line=0 end=0 save=0 engine=0 brush=0
""" + " ".join(f"{p}aa=0 {p}fill=0 " + " ".join(f"{p}pie{i}=0" for i in range(6)) + f" {p}dot=0 {p}none=0 {p}cw=0 {p}acw=0"
               + {"b": " pies=0", "d": " cls=0 layers=0", "l": ""}[p] for p in "bdl") + " done"
header = """; Shape geometry as the draw commands make it: arcs swept by the clockwise
; rule (a pie; equal angles draw nothing), circles of radius 1, 5 and 12
; tessellated in steps of 90, 30 and 18 degrees, an anti-aliased circle and
; triangle, a triangle with a mitred #EDGE border, a #FILLNONE box whose
; 3-pixel outline is centred on its edge, a 1 x 1 outline box and a thick
; line, against geometry_ref.cpp: the same outlines worked out from the
; tessellation rules and rasterised by OpenCV (blending within 1 level).
; Then the vector engine's anti-aliased pies (every quarter, clockwise and
; anticlockwise, filled and #FILLNONE) and a 1 x 1 box, into a brush, onto
; the display and as layers, against OpenCV's sectors averaged down (the
; engine's Bezier curves stray by up to a quarter pixel: 64 levels).
; Written by gen_geometry.py.
;! xserver: 24
;! args: -QUIET
;! picture: geometry.bmp 1 = c++ -std=c++17 -I/usr/include/opencv4 -o geometry_ref {src}/geometry_ref.cpp -lopencv_imgproc -lopencv_core && ./geometry_ref geometry {ref}
;! picture: pies.bmp 64 = c++ -std=c++17 -I/usr/include/opencv4 -o geometry_ref {src}/geometry_ref.cpp -lopencv_imgproc -lopencv_core && ./geometry_ref pies {ref}
;! picture: direct.bmp 64 = ./geometry_ref pies {ref}
;! picture: layers.bmp 64 = ./geometry_ref pies {ref}
"""
L.write("draw_geometry.qxs", header, expect)

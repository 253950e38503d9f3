#!/usr/bin/python3
"""Writes draw_geometry.qxs: arcs, tessellated circles, a mitred border,
#FILLNONE outlines and a thick line drawn into a brush, against
geometry_ref.cpp's picture of the same outlines rasterised by OpenCV."""
from listing import Listing

L = Listing()
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
expect = """select=0 lines=0 fill=0 quarter=0 top=0 anti=0 same=0 r1=0 r5=0 r12=0 aa=0 r20=0 aatri=0
normal=0 edge=0 tri=0 plain=0 none=0 width=0 outline=0 thin=0 dot=0 line=0 end=0 save=0 done"""
header = """; Shape geometry as the draw commands make it: arcs swept by the clockwise
; rule (a pie; equal angles draw nothing), circles of radius 1, 5 and 12
; tessellated in steps of 90, 30 and 18 degrees, an anti-aliased circle and
; triangle, a triangle with a mitred #EDGE border, a #FILLNONE box whose
; 3-pixel outline is centred on its edge, a 1 x 1 outline box and a thick
; line, against geometry_ref.cpp: the same outlines worked out from the
; tessellation rules and rasterised by OpenCV (blending within 1 level).
; Written by gen_geometry.py.
;! xserver: 24
;! args: -QUIET
;! picture: geometry.bmp 1 = c++ -std=c++17 -I/usr/include/opencv4 -o geometry_ref {src}/geometry_ref.cpp -lopencv_imgproc -lopencv_core && ./geometry_ref geometry {ref}
"""
L.write("draw_geometry.qxs", header, expect)

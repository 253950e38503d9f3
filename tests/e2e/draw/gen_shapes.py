#!/usr/bin/python3
"""Writes draw_shapes.qxs: shapes drawn into a selected brush, saved and
compared with geometry_ref.cpp's picture; ReadPixel reads the brush back."""
from listing import Listing

L = Listing()
L.call("CreateBrush", 1, 200, 120, 0xFFFFFF)
L.check("select", "SelectBrush", 1)
L.check("lines", "LegacyControl", "linebasedshapes", 1)
L.check("fill", "SetFillStyle", 1)
L.check("box", "Box", 10, 10, 40, 30, 0xFF0000)
L.check("edge", "SetFormStyle", 64, 0x0000FF, 3)
L.check("edgebox", "Box", 70, 10, 30, 20, 0x00FF00)
L.check("normal", "SetFormStyle", 1)
L.check("aa", "SetFormStyle", 16)
L.check("circle", "Circle", 125, 15, 25, 0x000000)
L.check("polygon", "Polygon", 20, 60, [0, 0, 50, 0, 25, 40], 3, 0x0000FF)
L.check("plain", "SetFormStyle", 1)
L.check("line", "Line", 100, 100, 180, 100, 0xFF00FF)
L.check("square", "Box", 120, 80, 10, 10, 0x008000)
L.check("shadow", "SetFormStyle", 32, 0x808080, 4)
L.check("shadowbox", "Box", 80, 45, 20, 15, 0xFFFF00)
L.check("outline", "SetFillStyle", 0)
L.check("outlinebox", "Box", 150, 75, 30, 15, 0xFF0000)
L.check("plot", "Plot", 5, 5, 0x123456)
L.value("read", "ReadPixel", 5, 5)
L.value("readbox", "ReadPixel", 11, 11)
L.check("plotout", "Plot", 500, 5, 0)
L.check("readout", "ReadPixel", 200, 0)
L.check("end", "EndSelect")
L.check("save", "SaveBrush", 1, "shapes.bmp")
expect = """select=0 lines=0 fill=0 box=0 edge=0 edgebox=0 normal=0 aa=0 circle=0 polygon=0 plain=0 line=0 square=0
shadow=0 shadowbox=0 outline=0 outlinebox=0
plot=0 read=1193046 readbox=16711680 plotout=0 readout=1168 end=0 save=0 done"""
header = """; Boxes with and without a border, an anti-aliased circle and triangle
; (outlines of lines), a line, Plot and ReadPixel in a selected brush,
; against geometry_ref.cpp's picture of the same shapes rasterised by
; OpenCV (the anti-aliased blend within 1 level).
; Written by gen_shapes.py.
;! xserver: 24
;! args: -QUIET
;! picture: shapes.bmp 1 = c++ -std=c++17 -I/usr/include/opencv4 -o geometry_ref {src}/geometry_ref.cpp -lopencv_imgproc -lopencv_core && ./geometry_ref shapes {ref}
"""
L.write("draw_shapes.qxs", header, expect)

#!/usr/bin/python3
"""Prints how the window titled argv[1] carries its _NET_WM_ICON: the sizes
of the records and whether the record of the picture argv[2]'s size holds
that picture's ARGB pixels."""
import subprocess
import sys
import time

from PIL import Image

title, picture = sys.argv[1], sys.argv[2]
win = subprocess.run(["xdotool", "search", "--sync", "--name", "^%s$" % title],
                     capture_output=True, text=True).stdout.split()[0]
time.sleep(0.2)
text = subprocess.run(["xprop", "-id", win, "-f", "_NET_WM_ICON", "32c", " = $0+\n", "_NET_WM_ICON"],
                      capture_output=True, text=True).stdout
items = [int(v) for v in text.split("=", 1)[1].replace(",", " ").split()]
records, at = {}, 0
while at + 2 <= len(items) and items[at] and items[at + 1]:
    w, h = items[at], items[at + 1]
    records[(w, h)] = items[at + 2:at + 2 + w * h]
    at += 2 + w * h
print("icons " + " ".join("%dx%d" % k for k in records))
im = Image.open(picture).convert("RGBA")
want = [a << 24 | r << 16 | g << 8 | b for r, g, b, a in im.getdata()]
print("icon %dx%d %s" % (im.width, im.height,
                         "matches" if records.get(im.size) == want else "differs"))

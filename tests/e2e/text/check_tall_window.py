"""Window grabs of C059's Ǻ at 10, 30 (rows above 30 hold its ring):
print, clip, buffer and the laid-out roads (tagged, tab, right, object,
layer) equal plain; cut equals plain above row 33 and
is black below it."""
import sys

from PIL import Image


def grab(name):
    return Image.open(name + ".ppm").convert("RGB")


plain = grab("plain")
w, h = plain.size
ring = plain.crop((0, 0, w, 30)).getbbox()
if not plain.getbbox() or not ring:
    sys.exit("plain TextOut lost the rows above its line: %s" % (ring,))
for name in ("print", "clip", "buffer", "tagged", "tab", "right", "object", "layer"):
    if list(grab(name).getdata()) != list(plain.getdata()):
        sys.exit("%s differs from the plain TextOut" % name)
cut = grab("cut")
if list(cut.crop((0, 0, w, 33)).getdata()) != list(plain.crop((0, 0, w, 33)).getdata()):
    sys.exit("the clipped TextOut differs above the clip region's edge")
if cut.crop((0, 33, w, h)).getbbox():
    sys.exit("the clipped TextOut drew below the clip region")
print("tall glyphs whole")

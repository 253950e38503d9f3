"""Reference for a TextOut of one glyph: FreeType's own rendering (through
PIL) of the glyph at the same pixel size, placed at the ink box the player
drew, white on black; a picture with no ink fails (a blank reference
would match it); GLYPH, a picture of the glyph (ink non-zero), stands
for PIL's rendering when given.

usage: glyph_ref.py PLAYER_BMP REF FONT PIXELS TEXT [GLYPH]
"""
import sys

from PIL import Image, ImageFont

drawn, ref, font_path, pixels, text = sys.argv[1:6]
im = Image.open(drawn).convert("L")
box = im.point(lambda v: 255 if v else 0).getbbox()
font = ImageFont.truetype(font_path, int(pixels), layout_engine=ImageFont.Layout.BASIC)
if len(sys.argv) > 6:
    glyph = Image.open(sys.argv[6]).convert("L")
else:
    mask = font.getmask(text, mode="L")
    glyph = Image.frombytes("L", mask.size, bytes(mask))
if not box:
    sys.exit("%s holds no ink: the player drew nothing" % drawn)
inked = glyph.crop(glyph.point(lambda v: 255 if v else 0).getbbox())
out = Image.new("RGB", im.size, "black")
out.paste(Image.new("RGB", inked.size, "white"), (box[0], box[1]), inked)
out.save(ref)

#!/bin/sh
# Compares the window titled $1 at (x, $2), $3 x $4 pixels, with ffmpeg's
# last frame of $5 from source column $6 (5-6-5 channels at depth 16),
# each pixel repeated $8 times across and down (default 1); x is $9
# (default 0).
# Prints "grab: same" or what differs.
win=$(xdotool search --sync --name "^$1\$" | head -1)
/usr/bin/python3 xprobe.py "$win" "${9:-0}" "$2" "$3" "$4" > grab.ppm
ffmpeg -nostdin -v error -i "$5" -f rawvideo -pix_fmt rgb24 - > frames.rgb
/usr/bin/python3 - "$3" "$4" "$6" "$7" "${8:-1}" <<'PY'
import sys
w, h, sx, depth, k = (int(a) for a in sys.argv[1:6])
data = open("frames.rgb", "rb").read()
ppm = open("grab.ppm", "rb").read()
got = ppm[len(ppm) - w * h * 3:]
fw, fh = (w + sx) // k, h // k
size = fw * fh * 3
last = data[len(data) - size:]
want = bytearray()
for y in range(h):
    for x in range(sx, sx + w):
        i = ((y // k) * fw + x // k) * 3
        want += last[i:i + 3]
def q(v, bits):
    m = (1 << bits) - 1
    return ((v >> (8 - bits)) * 255 + m // 2) // m
if depth == 16:
    want = bytes(q(v, 6 if i % 3 == 1 else 5) for i, v in enumerate(want))
bad = [i // 3 for i in range(len(got)) if got[i] != want[i]]
print("grab: same" if not bad else "grab: %d pixels differ, first at %d" % (len(bad), bad[0]))
PY

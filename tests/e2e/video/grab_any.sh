#!/bin/sh
# Compares the window titled $1 at (0, $2), $3 x $4 pixels, with every
# frame ffmpeg decodes from $5, each pixel repeated $6 times across and
# down. Prints "grab: frame N" for the first frame that matches, or
# "grab: no frame".
win=$(xdotool search --sync --name "^$1\$" | head -1)
/usr/bin/python3 xprobe.py "$win" 0 "$2" "$3" "$4" > grab.ppm
ffmpeg -nostdin -v error -i "$5" -f rawvideo -pix_fmt rgb24 - > frames.rgb
/usr/bin/python3 - "$3" "$4" "$6" <<'PY'
import sys
w, h, k = (int(a) for a in sys.argv[1:4])
data = open("frames.rgb", "rb").read()
ppm = open("grab.ppm", "rb").read()
got = ppm[len(ppm) - w * h * 3:]
fw, fh = w // k, h // k
size = fw * fh * 3
for n in range(len(data) // size):
    frame = data[n * size:(n + 1) * size]
    want = bytearray()
    for y in range(h):
        for x in range(w):
            i = ((y // k) * fw + x // k) * 3
            want += frame[i:i + 3]
    if bytes(want) == got:
        print("grab: frame", n)
        break
else:
    print("grab: no frame")
PY

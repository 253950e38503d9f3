#!/bin/sh
# Compares the window titled $1 at (0, 0), $2 x $3 pixels, with the kit
# video decoder's picture of frame $4 (red = frame * 20, green = x * 4,
# blue = y * 4). Prints "grab: same" or what differs.
win=$(xdotool search --sync --name "^$1\$" | head -1)
/usr/bin/python3 xprobe.py "$win" 0 0 "$2" "$3" > grab.ppm
/usr/bin/python3 - "$2" "$3" "$4" <<'PY'
import sys
w, h, n = (int(a) for a in sys.argv[1:4])
ppm = open("grab.ppm", "rb").read()
got = ppm[len(ppm) - w * h * 3:]
want = bytes(c for y in range(h) for x in range(w) for c in ((n * 20) & 255, (x * 4) & 255, (y * 4) & 255))
bad = [i // 3 for i in range(len(got)) if got[i] != want[i]]
print("grab: same" if not bad else "grab: %d pixels differ, first at %d" % (len(bad), bad[0]))
PY

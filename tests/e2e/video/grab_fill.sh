#!/bin/sh
# Checks that the window titled $1 holds colour $6 (hex RRGGBB) everywhere
# in the rectangle at ($2, $3), $4 x $5 pixels. Prints "fill: same" or
# how many pixels differ.
win=$(xdotool search --sync --name "^$1\$" | head -1)
/usr/bin/python3 xprobe.py "$win" "$2" "$3" "$4" "$5" > fill.ppm
/usr/bin/python3 - "$4" "$5" "$6" <<'PY'
import sys
w, h = int(sys.argv[1]), int(sys.argv[2])
want = bytes.fromhex(sys.argv[3]) * (w * h)
ppm = open("fill.ppm", "rb").read()
got = ppm[len(ppm) - w * h * 3:]
bad = [i // 3 for i in range(len(got)) if got[i] != want[i]]
print("fill: same" if not bad else "fill: %d pixels differ, first at %d" % (len(bad), bad[0]))
PY

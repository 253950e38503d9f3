#!/bin/sh
# compare_snap.sh TITLE FILE.bmp: grabs the on-screen part of the frame of
# the window titled TITLE (window plus _NET_FRAME_EXTENTS) with xprobe.py
# and compares it with the snapshot; prints "FILE same" or the
# difference. The part off the 1024x768 screen must be black in the file.
# compare_snap.sh - FILE.bmp compares with the whole screen.
if [ "$1" = "-" ]; then
    x=0 y=0 w=1024 h=768
else
    win=$(xdotool search --sync --name "^$1\$" | head -1)
    sleep 0.3
    ext=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    set -- $(xwininfo -id "$win" | awk -v ext="$ext" 'BEGIN{split(ext, e, " ")}
      /Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2}
      END{print x - e[1], y - e[3], w + e[1] + e[2], h + e[3] + e[4]}') "$2"
    x=$1 y=$2 w=$3 h=$4
    shift 4
    set -- - "$1"
fi
root=$(xwininfo -root | awk '/Window id:/{print $4}')
/usr/bin/python3 - "$root" "$x" "$y" "$w" "$h" "$2" <<'PY'
import subprocess, sys
from PIL import Image
root, x, y, w, h, name = sys.argv[1], *map(int, sys.argv[2:6]), sys.argv[6]
snap = Image.open(name).convert("RGB")
if snap.size != (w, h):
    print(f"{name} size {snap.size} frame {w}x{h}")
    sys.exit()
x0, y0, x1, y1 = max(x, 0), max(y, 0), min(x + w, 1024), min(y + h, 768)
ppm = subprocess.run(["/usr/bin/python3", "xprobe.py", root, str(x0), str(y0), str(x1 - x0), str(y1 - y0)],
                     capture_output=True, check=True).stdout
seen = Image.frombytes("RGB", (x1 - x0, y1 - y0), ppm.split(b"\n", 3)[3])
bad = 0
for j in range(h):
    for i in range(w):
        p = snap.getpixel((i, j))
        inside = x0 <= x + i < x1 and y0 <= y + j < y1
        want = seen.getpixel((x + i - x0, y + j - y0)) if inside else (0, 0, 0)
        bad += p != want
print(f"{name} " + ("same" if not bad else f"{bad} pixels differ") + (" offscreen" if (x0, y0, x1, y1) != (x, y, x + w, y + h) else ""))
PY

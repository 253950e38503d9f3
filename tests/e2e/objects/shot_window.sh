#!/bin/sh
# Writes the client area of the window titled $1 ($2 x $3 pixels) as a PPM
# to $4, and prints the colours of the pixels at ($5, $6) and ($7, $8).
tools=$(dirname "$0")
win=$(xdotool search --sync --name "^$1\$" | head -1)
sleep 0.2
/usr/bin/python3 "$tools/xprobe.py" "$win" 0 0 "$2" "$3" > "$4"
if [ -n "$5" ]; then
    /usr/bin/python3 - "$4" "$5" "$6" "$7" "$8" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1]).convert("RGB")
a = [int(v) for v in sys.argv[2:6]]
print("%s: %02x%02x%02x %02x%02x%02x" % ((sys.argv[1],) + im.getpixel((a[0], a[1])) + im.getpixel((a[2], a[3]))))
PY
fi

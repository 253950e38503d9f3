#!/bin/sh
# Prints the colours of the screen's pixels at the given x y pairs:
# "screen RRGGBB RRGGBB ...". Waits for the window titled $1 first.
tools=$(dirname "$0")
xdotool search --sync --name "^$1\$" >/dev/null
shift
sleep 0.2
root=$(xwininfo -root | awk '/Window id:/{print $4}')
out=screen
while [ $# -ge 2 ]; do
    out="$out $(/usr/bin/python3 "$tools/xprobe.py" "$root" "$1" "$2" 1 1 | tail -c 3 | od -An -tx1 | tr -d ' \n')"
    shift 2
done
echo "$out"

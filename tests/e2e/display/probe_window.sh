#!/bin/sh
# Prints the client geometry of the window titled $1 and the colour of its
# pixels at ($2, $3) and ($4, $5): "TITLE: WxH at X,Y pixel RRGGBB RRGGBB".
tools=$(dirname "$0")
win=$(xdotool search --sync --name "^$1\$" | head -1)
sleep 0.2
geo=$(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
  /Width:/{w=$2} /Height:/{h=$2} END{print w "x" h " at " x "," y}')
pixel() { /usr/bin/python3 "$tools/xprobe.py" "$win" "$1" "$2" 1 1 | tail -c 3 | od -An -tx1 | tr -d ' \n'; }
echo "$1: $geo pixel $(pixel "$2" "$3") $(pixel "$4" "$5")"

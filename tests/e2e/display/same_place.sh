#!/bin/sh
# The first call notes where the client area of the window titled $1 is;
# later calls print "TITLE: same place" when it is still there.
win=$(xdotool search --sync --name "^$1\$" | tail -1)
sleep 0.4
geo=$(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
  /Width:/{w=$2} /Height:/{h=$2} END{print w "x" h " at " x "," y}')
if [ -f place.txt ]; then
    if [ "$(cat place.txt)" = "$geo" ]; then echo "$1: same place"; else echo "$1: moved from $(cat place.txt) to $geo"; fi
else
    echo "$geo" > place.txt
fi

#!/bin/sh
# Prints "TITLE: frame centred" when the frame of the window titled $1
# (the window plus its _NET_FRAME_EXTENTS) is centred on the 1024x768
# screen (within 2 pixels: the manager's frame of a fixed window lacks the
# resize handle of the frame probe), else the frame's geometry.
win=$(xdotool search --sync --name "^$1\$" | head -1)
sleep 0.3
ext=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
xwininfo -id "$win" | awk -v t="$1" -v ext="$ext" 'BEGIN{split(ext, e, " ")}
  /Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2}
  END{ x -= e[1]; y -= e[3]; w += e[1] + e[2]; h += e[3] + e[4];
       cx = int((1024 - w) / 2); cy = int((768 - h) / 2);
       if (e[3] > 0 && x - cx <= 2 && cx - x <= 2 && y - cy <= 2 && cy - y <= 2) print t ": frame centred";
       else print t ": frame " w "x" h " at " x "," y }'

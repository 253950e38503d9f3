#!/bin/sh
# compare_attrs.sh TITLE X Y LEFT TOP RIGHT BOTTOM W H HOSTW HOSTH: the
# display attributes against xwininfo, _NET_FRAME_EXTENTS and the root.
win=$(xdotool search --sync --name "^$1\$" | head -1)
ext=$(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
root=$(xwininfo -root | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
want=$(xwininfo -id "$win" | awk -v ext="$ext" -v root="$root" 'BEGIN{split(ext, e, " "); split(root, r, " ")}
  /Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2}
  END{print x - e[1], y - e[3], e[1], e[3], e[2], e[4], w, h, r[1], r[2]}')
shift
if [ "$*" = "$want" ]; then echo "attributes match"; else echo "attributes $* differ from $want"; fi

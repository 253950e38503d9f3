#!/bin/sh
# Writes into transient.txt whether the window titled $1 is transient for
# the one titled $2, then answers the first with Return.
dialog=$(xdotool search --sync --onlyvisible --name "^$1\$" | head -1)
parent=$(xdotool search --name "^$2\$" | head -1)
sleep 0.3
hint=$(xprop -id "$dialog" WM_TRANSIENT_FOR)
case "$hint" in
*"$(printf '0x%x' "$parent")"*) echo "transient for $2" ;;
*) echo "not transient for $2 ($parent): $hint" ;;
esac >transient.txt
xdotool windowfocus --sync "$dialog" sleep 0.2 key Return

#!/bin/sh
# Compares the pixels at ($3, $4) and ($5, $6) of the windows titled $1 and
# $2: prints "NAME: same" when they agree (and are not black), else both.
a=$(sh probe_window.sh "$1" "$3" "$4" "$5" "$6" | cut -d' ' -f5-)
b=$(sh probe_window.sh "$2" "$3" "$4" "$5" "$6" | cut -d' ' -f5-)
if [ "$a" = "$b" ] && [ "$a" != "000000 000000" ]; then echo "$7: same"; else echo "$7: $a / $b"; fi

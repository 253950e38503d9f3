#!/usr/bin/python3
"""Checks the level of a stretch of raw signed 16-bit little-endian PCM.

Usage: sndpeak.py FILE CHANNELS FROM TO MIN MAX
FROM and TO are frame numbers; negative ones count from the end. Exit
status 0 when the largest absolute sample value in [FROM, TO) lies within
MIN..MAX.
"""
import array
import sys


def main(argv):
    path, channels = argv[1], int(argv[2])
    first, last, low, high = (int(v) for v in argv[3:7])
    data = array.array("h", open(path, "rb").read())
    frames = len(data) // channels
    first = first + frames if first < 0 else first
    last = last + frames if last <= 0 else last
    part = data[max(first, 0) * channels:max(min(last, frames), 0) * channels]
    peak = max((abs(v) for v in part), default=0)
    print("%d frames; peak %d in frames %d..%d" % (frames, peak, first, last))
    return 0 if part and low <= peak <= high else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))

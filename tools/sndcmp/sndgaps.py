#!/usr/bin/python3
"""Checks that raw signed 16-bit little-endian PCM plays on without gaps.

Usage: sndgaps.py FILE CHANNELS MIN_FRAMES MAX_GAP_FRAMES
Trailing silence is not counted. Exit status 0 when the sound before it is
at least MIN_FRAMES long and no run of silent frames in it is longer than
MAX_GAP_FRAMES.
"""
import array
import sys


def main(argv):
    path, channels, least, gap = argv[1], int(argv[2]), int(argv[3]), int(argv[4])
    data = array.array("h", open(path, "rb").read())
    frames = [any(data[i:i + channels]) for i in range(0, len(data) - channels + 1, channels)]
    end = len(frames)
    while end and not frames[end - 1]:
        end -= 1
    run = longest = 0
    for sounding in frames[:end]:
        run = 0 if sounding else run + 1
        longest = max(longest, run)
    print("%d frames, %d before trailing silence, longest gap %d" % (len(frames), end, longest))
    return 0 if end >= least and longest <= gap else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))

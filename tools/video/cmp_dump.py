#!/usr/bin/python3
"""Compares a video dump with what ffmpeg decodes from the same CDXL file.

cmp_dump.py CLIP.cdxl BASE [SOUND] [--ext=EXT]
BASE0.png (or .EXT), BASE1.png, ... must equal ffmpeg's rgb24 frames byte for byte;
with SOUND, BASE.wav must hold ffmpeg's signed 8-bit sound times 256.
"""
import struct
import subprocess
import sys

from PIL import Image


def main():
    ext = next((a[6:] for a in sys.argv if a.startswith("--ext=")), "png")
    sys.argv = [a for a in sys.argv if not a.startswith("--ext=")]
    clip, base = sys.argv[1], sys.argv[2]
    probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height", "-of", "csv=p=0", clip],
                           check=True, capture_output=True, text=True).stdout.strip().split(",")
    w, h = int(probe[0]), int(probe[1])
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", clip, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         check=True, capture_output=True).stdout
    size = w * h * 3
    frames = len(raw) // size
    if frames == 0:
        sys.exit("ffmpeg gave no frames")
    for n in range(frames):
        got = Image.open("%s%d.%s" % (base, n, ext)).convert("RGB").tobytes()
        if got != raw[n * size:(n + 1) * size]:
            sys.exit("frame %d differs" % n)
    try:
        open("%s%d.%s" % (base, frames, ext)).close()
        sys.exit("more frames than ffmpeg's %d" % frames)
    except FileNotFoundError:
        pass
    if len(sys.argv) > 3:
        pcm = subprocess.run(["ffmpeg", "-v", "error", "-i", clip, "-vn", "-f", "s8", "-"],
                             check=True, capture_output=True).stdout
        data = open(base + ".wav", "rb").read()
        if data[:4] != b"RIFF" or data[36:40] != b"data":
            sys.exit("not a plain WAVE file")
        n = struct.unpack("<I", data[40:44])[0]
        samples = struct.unpack("<%dh" % (n // 2), data[44:44 + n])
        want = tuple(b * 256 for b in struct.unpack("%db" % len(pcm), pcm))
        if samples != want:
            sys.exit("sound differs (%d against %d samples)" % (len(samples), len(want)))
    print("ok %d frames" % frames)


main()

#!/usr/bin/env python3
"""qxlink: makes a linked executable for tests.

Copies the player, patches the offset of its link record to the end of the
copy and appends the "QXP!" plug-in chain (when plug-ins are given) and the
applet.

Usage: qxlink.py --player PATH --applet APPLET [--plugin NAME=FILE ...]
                 [--packed] [--size-delta N] [--broken-pack] -o OUTPUT

--packed       every plug-in record holds a "PLPK" block (one zlib stream)
--size-delta   adds N to the size field of the first record (broken input)
--broken-pack  the first packed record's zlib stream is damaged
Names are written as given, so that tests can try unsafe ones.
"""

import argparse
import os
import struct
import sys
import zlib

BEFORE = bytes.fromhex("DEADBEEF FEEDF00D BEEFF00D")
AFTER = bytes.fromhex("C0DECAFE C0CAC01A")
RECORD = 36  # 32-byte tag text, then the big-endian offset


def find_record(player):
    """Offset of the link record's 4-byte offset field; exits when absent or ambiguous."""
    hits = []
    start = 0
    while True:
        i = player.find(BEFORE, start)
        if i < 0:
            break
        if player[i + len(BEFORE) + RECORD:i + len(BEFORE) + RECORD + len(AFTER)] == AFTER:
            hits.append(i + len(BEFORE) + 32)
        start = i + 1
    if len(hits) != 1:
        sys.exit("qxlink: %d link records found in the player, expected 1" % len(hits))
    return hits[0]


def chain(plugins, packed, size_delta, broken_pack):
    out = bytearray(b"QXP!")
    out += struct.pack(">I", 1 if packed else 0)
    for n, (name, path) in enumerate(plugins):
        with open(path, "rb") as f:
            data = f.read()
        if packed:
            stream = bytearray(zlib.compress(data, 9))
            if broken_pack and n == 0:
                for k in range(2, len(stream)):
                    stream[k] ^= 0x5A
            data = b"PLPK" + struct.pack(">I", len(data)) + bytes(stream)
        size = len(data) + (size_delta if n == 0 else 0)
        out += name.encode("utf-8") + b"\0" + struct.pack(">I", size & 0xFFFFFFFF) + data
    out += b"\0"
    return bytes(out)


def main(argv):
    ap = argparse.ArgumentParser(description="Link an applet (and plug-ins) to a copy of the player.")
    ap.add_argument("--player", required=True)
    ap.add_argument("--applet", required=True)
    ap.add_argument("--plugin", action="append", default=[], metavar="NAME=FILE")
    ap.add_argument("--packed", action="store_true")
    ap.add_argument("--size-delta", type=int, default=0)
    ap.add_argument("--broken-pack", action="store_true")
    ap.add_argument("-o", "--output", required=True)
    a = ap.parse_args(argv)
    with open(a.player, "rb") as f:
        player = bytearray(f.read())
    with open(a.applet, "rb") as f:
        applet = f.read()
    field = find_record(player)
    plugins = []
    for p in a.plugin:
        name, sep, path = p.partition("=")
        if not sep:
            sys.exit("qxlink: --plugin takes NAME=FILE")
        plugins.append((name, path))
    offset = len(player)
    if offset > 0xFFFFFFFF:
        sys.exit("qxlink: the player is too large for a 32-bit offset")
    player[field:field + 4] = struct.pack(">I", offset)
    appended = (chain(plugins, a.packed, a.size_delta, a.broken_pack) if plugins else b"") + applet
    with open(a.output, "wb") as f:
        f.write(player)
        f.write(appended)
    os.chmod(a.output, 0o755)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Stand-in player for the driver's own tests: reports what it was given."""
import os
import sys

args = sys.argv[1:]
print("args: " + " ".join(args))
for a in args:
    if os.path.isfile(a):
        with open(a, "rb") as f:
            print("magic: " + f.read(4).hex())
print("env: " + os.environ.get("QX_FAKE", "<unset>"))
if "QX_FAKE_DISPLAY" in os.environ:
    print("display: " + os.environ.get("DISPLAY", "<unset>"))
print(("stdin: " + sys.stdin.read()).strip())
sys.stderr.write("fake player done\n")
sys.exit(int(os.environ.get("QX_FAKE_EXIT", "0")))

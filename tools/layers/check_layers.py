#!/usr/bin/env python3
"""Fails when a file under src/ includes a header of a layer it may not see.

The allowed directions live here and nowhere else; src/README.md draws them.
"""
import pathlib
import re
import sys

# Folder -> the folders its files may include (besides itself).
LOW = ["platform", "core"]
ALLOWED = {
    "platform": [],
    "core": ["platform"],
    "imaging": LOW,
    "display": LOW + ["imaging"],
    "objects": LOW + ["imaging", "display"],
    "layers": LOW + ["imaging", "display", "objects"],
    "draw": LOW + ["imaging", "display", "objects", "layers"],
    "libs": LOW + ["imaging", "display", "objects"],
    "fx": LOW + ["imaging", "display", "objects", "layers", "draw"],
    "media": LOW + ["imaging", "display", "objects", "layers", "libs"],
    "net": LOW + ["display", "libs"],
    "main": None,  # the top sees everything
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
# Calls up the layers go through tables the top fills, never weak symbols.
WEAK = re.compile(r'__attribute__\s*\(\(\s*weak|#\s*pragma\s+weak')


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    bad = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".cpp", ".c", ".h"):
            continue
        layer = path.relative_to(root).parts[0]
        if layer not in ALLOWED:
            bad.append(f"{path}: folder '{layer}' has no place in the layer table")
            continue
        allowed = ALLOWED[layer]
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            if WEAK.search(line):
                bad.append(f"{path}:{number}: weak symbol; call up through a table instead")
            m = INCLUDE.match(line)
            if not m or "/" not in m.group(1):
                continue
            target = m.group(1).split("/")[0]
            if allowed is not None and target != layer and target in ALLOWED and target not in allowed:
                bad.append(f"{path}:{number}: {layer} may not include {m.group(1)}")
    for line in bad:
        print(line)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())

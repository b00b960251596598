#!/usr/bin/env python3
"""Fails when an #include in the sources points up the layers.

    scripts/check-layers.py [SRC (default: the tree's src)]

The areas, lowest first; an area includes only areas below it. The two programs, console and
devhost, stand side by side and include neither each other. Prints every include that points up
(file, line, include) and exits 1 when there is one, else prints the count of includes checked."""

import os
import re
import sys

LAYERS = [
    ["common"],
    ["xml"],
    ["net"],
    ["sysinfo"],
    ["checks"],
    ["install"],
    ["usb"],
    ["ui"],
    ["app"],
    ["console", "devhost"],
]
RANK = {area: rank for rank, areas in enumerate(LAYERS) for area in areas}
INCLUDE = re.compile(r'\s*#\s*include\s+"([A-Za-z_]+)/')


def upward_includes(src):
    checked = 0
    found = []
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            area = os.path.relpath(path, src).split(os.sep)[0]
            if area not in RANK:
                continue
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match or match.group(1) not in RANK or match.group(1) == area:
                        continue
                    checked += 1
                    if RANK[match.group(1)] >= RANK[area]:
                        found.append("%s:%d: %s" % (path, number, line.strip()))
    return checked, found


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    if not os.path.isdir(src):
        print("no such folder: %s" % src, file=sys.stderr)
        return 2
    checked, found = upward_includes(src)
    for place in found:
        print("points up the layers: " + place)
    if found:
        print("%d of %d includes between areas point up the layers" % (len(found), checked))
        return 1
    print("%d includes between areas, none pointing up" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())

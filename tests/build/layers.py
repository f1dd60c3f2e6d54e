#!/usr/bin/env python3
"""Calls point one way: no file under src/ includes a header of a layer
above its own, in the order HACKING.md's layout section gives.

    layers.py SRC_DIR HACKING.md
"""
import pathlib
import re
import sys

# Highest first; a file may include its own layer and any below it.
ORDER = ["main", "app", "blacklist", "block", "task", "device", "proc", "log", "files", "sys", "base"]

src = pathlib.Path(sys.argv[1])
layout = pathlib.Path(sys.argv[2]).read_text(encoding="utf-8")
errors = []

stated = re.search(r"Calls point one way: (.*?)\(", layout, re.S)
named = re.findall(r"`(\w+)`", stated.group(1)) if stated else []
if named != ORDER:
    errors.append("%s's layer order %s is not %s" % (sys.argv[2], named, ORDER))

rank = {layer: i for i, layer in enumerate(ORDER)}
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    own = path.relative_to(src).parts[0]
    if own not in rank:
        errors.append("%s: not in a known layer" % path)
        continue
    for lineno, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = re.match(r'\s*#\s*include\s+"(\w+)/', line)
        if m and m.group(1) in rank and rank[m.group(1)] < rank[own]:
            errors.append("%s:%d: %s includes %s, a layer above it" % (path.relative_to(src), lineno, own, m.group(1)))

for e in errors:
    print(e)
sys.exit(1 if errors else 0)

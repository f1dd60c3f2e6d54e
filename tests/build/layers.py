#!/usr/bin/env python3
"""Calls point one way: no file under src/ includes a header of a layer
above its own, in the order HACKING.md's layout section gives; and inside
a folder no two files include each other, directly or round a circle (a
header and its .cpp count as one file).

    layers.py SRC_DIR HACKING.md

An include is found as the compiler finds it: "quoted" beside the file
first, then under SRC_DIR; <angled> under SRC_DIR. One that names no file
under SRC_DIR is a system header.
"""
import pathlib
import re
import sys

# Highest first; a file may include its own layer and any below it.
ORDER = ["main", "app", "pass", "store", "policy", "local", "rules", "selftest", "block", "task", "device", "proc", "log", "files", "sys", "base"]

src = pathlib.Path(sys.argv[1]).resolve()
layout = pathlib.Path(sys.argv[2]).read_text(encoding="utf-8")
errors = []

stated = re.search(r"Calls point one way: (.*?)\(", layout, re.S)
named = re.findall(r"`(\w+)`", stated.group(1)) if stated else []
if named != ORDER:
    errors.append("%s's layer order %s is not %s" % (sys.argv[2], named, ORDER))


def resolve(path, quoted, target):
    """The file under src that the include names, or None."""
    for base in ([path.parent] if quoted else []) + [src]:
        found = (base / target).resolve()
        if found.is_file() and src in found.parents:
            return found
    return None


def unit(path):
    """A file as its folder sees it: its header and its .cpp are one."""
    rel = path.relative_to(src)
    return rel.parent / rel.stem


rank = {layer: i for i, layer in enumerate(ORDER)}
edges = {}  # unit -> {unit it includes: where, "file:line"}
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    rel = path.relative_to(src)
    own = rel.parts[0]
    if own not in rank:
        errors.append("%s: not in a known layer" % rel)
        continue
    for lineno, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = re.match(r'\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)', line)
        found = m and resolve(path, m.group(1) is not None, m.group(1) or m.group(2))
        if not found:
            continue
        to = found.relative_to(src).parts[0]
        if to in rank and rank[to] < rank[own]:
            errors.append("%s:%d: %s includes %s, a layer above it" % (rel, lineno, own, to))
        if found.parent == path.parent and unit(found) != unit(path):
            edges.setdefault(unit(path), {}).setdefault(unit(found), "%s:%d" % (rel, lineno))

# A circle inside a folder: a walk that comes back to a file it is still in.
seen, cycles = {}, set()


def walk(u, trail):
    seen[u] = "open"
    for v in sorted(edges.get(u, {})):
        if seen.get(v) == "open":
            circle = trail[trail.index(v):] + [u, v]
            if frozenset(circle) not in cycles:
                cycles.add(frozenset(circle))
                ring = " -> ".join(str(x) for x in circle)
                for a, b in zip(circle, circle[1:]):
                    errors.append("%s: includes %s, part of an include cycle inside %s/: %s"
                                  % (edges[a][b], b, a.parent, ring))
        elif v not in seen:
            walk(v, trail + [u])
    seen[u] = "done"


for u in sorted(edges):
    if u not in seen:
        walk(u, [])

for e in errors:
    print(e)
sys.exit(1 if errors else 0)

#!/usr/bin/env python3
"""The event ids in log.h and the message table in events.mc cannot drift
apart: both name the same ids, every id has its Chinese and English text and
no severity or facility bits, each logline() in the sources writes the
Chinese text with its conversions as %1, %2..., and the table in
docs/events.md lists every id with its type and that text.

    event_table.py SRC_DIR docs/events.md
"""
import pathlib
import re
import sys

src = pathlib.Path(sys.argv[1])
errors = []

enum = {m[1]: int(m[2]) for m in re.finditer(r"^\s*(EV_\w+)\s*=\s*(\d+)\s*,", (src / "log/log.h").read_text(), re.M)}

table = {}
mc = (src / "log/events.mc").read_text(encoding="utf-8")
for block in re.split(r"^(?=MessageId=)", mc, flags=re.M)[1:]:
    head, _, body = block.partition("\n")
    keys = dict(kv.split("=", 1) for kv in head.split())
    name = keys.get("SymbolicName", "?")
    if keys.get("Severity") != "Success" or keys.get("Facility") != "Quillfen":
        errors.append("%s: Severity=Success and Facility=Quillfen keep the id bare" % name)
    texts = dict(re.findall(r"^Language=(\w+)\n(.*?)\n\.$", body, re.M | re.S))
    if set(texts) != {"Chinese", "English"}:
        errors.append("%s: languages %s, not Chinese and English" % (name, sorted(texts)))
    inserts = {lang: sorted(set(re.findall(r"%\d+", t))) for lang, t in texts.items()}
    if len({tuple(v) for v in inserts.values()}) > 1:
        errors.append("%s: the languages use different inserts %s" % (name, inserts))
    if name in table:
        errors.append("%s: twice in events.mc" % name)
    table[name] = (int(keys["MessageId"], 0), texts.get("Chinese"))

for name in sorted(set(enum) | set(table)):
    mine, theirs = enum.get(name), table.get(name, (None,))[0]
    if mine != theirs:
        errors.append("%s: %s in log.h, %s in events.mc" % (name, mine, theirs))
    elif not (1000 < mine < 4000):
        errors.append("%s: %d does not give its type by the thousands" % (name, mine))

calls = 0
for path in sorted(src.rglob("*.cpp")):
    text = path.read_text(encoding="utf-8")
    for m in re.finditer(r'\blogline\(\s*(EV_\w+)\s*,\s*"((?:[^"\\]|\\.)*)"', text):
        calls += 1
        n = iter(range(1, 100))
        want = re.sub(r"%%|%-?0?\d*(?:ll|l)?[dusc]", lambda c: c[0] if c[0] == "%%" else "%%%d" % next(n), m[2])
        have = table.get(m[1], (None, None))[1]
        if want != have:
            errors.append("%s:%d: %s writes %r, events.mc says %r" % (path.name, text.count("\n", 0, m.start()) + 1,
                                                                      m[1], want, have))

TYPES = {1: "information", 2: "warning", 3: "error"}
want = sorted("%d %s %s" % (i, TYPES.get(i // 1000), t) for i, t in table.values())
doc = pathlib.Path(sys.argv[2])
rows = re.findall(r"^\| (\d+) \| (\w+) \| `(.*?)` \|", doc.read_text(encoding="utf-8"), re.M)
have = sorted("%s %s %s" % (i, kind, t.replace("\\|", "|")) for i, kind, t in rows)
errors += ["%s lacks: %s" % (doc.name, r) for r in sorted(set(want) - set(have))]
errors += ["%s, not in events.mc: %s" % (doc.name, r) for r in sorted(set(have) - set(want))]

print("\n".join(errors) or "%d ids, %d log lines and %s agree with events.mc" % (len(enum), calls, doc.name))
sys.exit(1 if errors or not enum or not calls else 0)

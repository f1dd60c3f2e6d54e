#!/usr/bin/env python3
"""layers.py refuses each bad include planted in a copy of src/, and names
the file and line that holds it.

    layers_test.py LAYERS_PY SRC_DIR HACKING.md
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile

layers, src, layout = sys.argv[1:4]

# (file, include): a layer above, spelt each way the compiler finds it; a
# cycle inside a folder, by the folder's name and from beside the file.
PLANTS = [
    ("task/task.cpp", '#include "app/app.h"'),
    ("task/task.cpp", '#include "../app/app.h"'),
    ("task/task.cpp", "#include <app/app.h>"),
    ("rules/entry.h", '#include "store/store.h"'),
    ("task/task.cpp", '#include "owner.h"'),
]


def run(tree):
    r = subprocess.run([sys.executable, layers, tree, layout], capture_output=True, text=True)
    return r.returncode, r.stdout


failed = 0
with tempfile.TemporaryDirectory() as tmp:
    tree = shutil.copytree(src, pathlib.Path(tmp) / "src")
    code, out = run(tree)
    if code != 0:
        sys.exit("the copy of src/ fails before anything is planted:\n" + out)
    for name, include in PLANTS:
        path = tree / name
        before = path.read_text(encoding="utf-8")
        path.write_text(before + include + "\n", encoding="utf-8")
        where = "%s:%d:" % (name, before.count("\n") + 1)
        code, out = run(tree)
        if code == 0 or where not in out:
            print("%s: %s passes (exit %d), or %s is not named:\n%s" % (name, include, code, where, out))
            failed = 1
        path.write_text(before, encoding="utf-8")
sys.exit(failed)

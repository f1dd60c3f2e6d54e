#!/usr/bin/env python3
"""The docs' PowerShell reaches quillfen.exe in 32-bit PowerShell too, which
Intune runs scripts in unless told otherwise: there ProgramFiles names the
32-bit folder, and ProgramW6432 the one the package installs into. So every
line of a ```powershell block that names quillfen.exe takes its path from
ProgramW6432, and no line that names Quillfen holds $env:ProgramFiles (in a
script, a counter-example or prose). Then it breaks copies, one fault each,
and fails unless every one is caught.

    docs_paths.py README.md docs
"""
import pathlib
import re
import sys

SAFE = "$env:ProgramW6432\\Quillfen\\quillfen.exe"


def errors(files):
    errs, calls = [], 0
    for name, text in files.items():
        block = None
        for n, line in enumerate(text.splitlines(), 1):
            fence = re.match(r"\s*```(\w*)", line)
            if fence:
                block = None if block is not None else fence[1].lower()
            elif "quillfen" in line.lower() and re.search(r"\$env:ProgramFiles\b", line, re.I):
                errs.append("%s:%d: $env:ProgramFiles, the 32-bit folder in 32-bit PowerShell" % (name, n))
            elif block == "powershell" and "quillfen.exe" in line.lower():
                calls += 1
                errs += [] if SAFE.lower() in line.lower() else ["%s:%d: quillfen.exe not under %s" % (name, n, SAFE)]
    return errs + ([] if calls else ["no PowerShell line calls quillfen.exe"])


BREAKS = [  # (text, replacement) in every file: each must be caught
    (SAFE, "${env:ProgramFiles(x86)}\\Quillfen\\quillfen.exe"),
    ("```powershell", "```ps"),
    ("## ", "Quillfen lives in $ENV:PROGRAMFILES\\Quillfen.\n## "),
]

paths = [p for a in sys.argv[1:] for p in sorted(pathlib.Path(a).glob("*.md") if pathlib.Path(a).is_dir() else [a])]
files = {str(p): pathlib.Path(p).read_text(encoding="utf-8") for p in paths}
errs = errors(files)
for n, (old, new) in enumerate(BREAKS):
    if not errors({k: v.replace(old, new) for k, v in files.items()}):
        errs.append("broken copy %d passes: %s instead of %s" % (n, new, old))
print("\n".join(errs) or "%d files: their PowerShell finds quillfen.exe in 32-bit PowerShell too" % len(files))
sys.exit(1 if errs else 0)

#!/usr/bin/env python3
"""Intune runs scripts in 32-bit PowerShell unless told otherwise, where ProgramFiles names the 32-bit folder: every
line of the docs' ```powershell blocks that names quillfen.exe takes it from ProgramW6432, and no line naming Quillfen
holds $env:ProgramFiles. Then it breaks copies, one fault each, and fails unless every one is caught.

    docs_paths.py README.md docs
"""
import pathlib
import re
import sys

SAFE = "$env:ProgramW6432\\Quillfen\\quillfen.exe"
BREAKS = [(SAFE, "${env:ProgramFiles(x86)}\\Quillfen\\quillfen.exe"), ("```powershell", "```ps"),
          ("## ", "Quillfen is in $ENV:PROGRAMFILES\\Quillfen.\n## ")]  # (text, replacement): each must be caught


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


paths = [p for a in sys.argv[1:] for p in (sorted(pathlib.Path(a).glob("*.md")) if pathlib.Path(a).is_dir() else [a])]
files = {str(p): pathlib.Path(p).read_text(encoding="utf-8") for p in paths}
errs = errors(files) + ["broken copy %d passes: %s instead of %s" % (n, new, old) for n, (old, new) in enumerate(BREAKS)
                        if not errors({k: v.replace(old, new) for k, v in files.items()})]
print("\n".join(errs) or "%d files: their PowerShell finds quillfen.exe in 32-bit PowerShell too" % len(files))
sys.exit(1 if errs else 0)

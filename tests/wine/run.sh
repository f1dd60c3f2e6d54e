#!/usr/bin/env bash
# Runs the Windows build of quillfen.exe under Wine: named checks, each of
# which sets up its own devices, files and stand-ins (tests/wine/checks.py).
#
#   tests/wine/run.sh              every check
#   tests/wine/run.sh NAME...      the named checks alone (shell patterns allowed)
#   tests/wine/run.sh --list       the names
#
# Build dir: build-win (override: QF_WIN_BUILD). Needs cmake, the MinGW-w64
# cross compiler, wine64 and python3; tmux for the console check (skipped
# without it). Prints one line per check and "N passed, M failed", and exits
# non-zero when anything failed.
export LANG=C.UTF-8
unset LC_ALL
exec python3 "$(dirname "$0")/checks.py" "$@"

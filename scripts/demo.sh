#!/bin/bash
# Builds the Linux (simulated machine) version and starts it on its built-in
# demo machine. Extra arguments go to the tool, e.g. scripts/demo.sh -k camera
set -e
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j2 --target quillfen >/dev/null
exec ./build/quillfen "$@"

#!/bin/sh
# Builds the blacklist-reader fuzzer with clang (libFuzzer, ASan, UBSan) from
# the same CMake targets as the program and runs it for the given number of
# seconds (default 30). Fails when the fuzzer finds a crash or a broken
# invariant.
set -eu
secs=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build-fuzz"
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
CXX=clang++ cmake -S "$root" -B "$out" -DQF_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$out" -j2 --target bl_load_fuzz >/dev/null

# New finds go to build-fuzz/corpus; the checked-in seeds are read only.
mkdir -p "$out/corpus"
cd "$out"
./tests/fuzz/bl_load_fuzz -max_total_time="$secs" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" "$root/tests/fuzz/corpus"

#!/bin/sh
# Builds the blacklist-reader fuzzer with clang (libFuzzer, ASan, UBSan) from
# the core sources and runs it for the given number of seconds (default 30).
# Fails when the fuzzer finds a crash or a broken invariant.
set -eu
secs=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build-fuzz"
mkdir -p "$out/corpus"

src="$root/src"
clang++ -std=c++20 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$src" \
  "$root/tests/fuzz/bl_load_fuzz.cpp" \
  "$src/common/text.cpp" "$src/common/shared.cpp" "$src/common/console.cpp" \
  "$src/common/secdesc.cpp" "$src/files/datafile.cpp" \
  "$src/log/log.cpp" "$src/device/scan.cpp" "$src/device/syscmd.cpp" \
  "$src/blacklist/store.cpp" "$src/blacklist/enforce.cpp" "$src/sys/sim.cpp" "$src/sys/sim_machine.cpp" \
  -o "$out/bl_load_fuzz"

# New finds go to build-fuzz/corpus; the checked-in seeds are read only.
cd "$out"
./bl_load_fuzz -max_total_time="$secs" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus" "$root/tests/fuzz/corpus"

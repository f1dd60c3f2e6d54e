#!/bin/sh
# Builds the fuzzers with clang (libFuzzer, ASan, UBSan) from the same CMake
# targets as the program and runs each for the given number of seconds
# (default 10), or only those named after it. Fails when a fuzzer finds a
# crash or a broken invariant.
#   run.sh [SECONDS [NAME...]]    NAME: bl_load args answers json block
set -eu
secs=${1:-10}
[ $# -gt 0 ] && shift
names=${*:-bl_load args answers json block}
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build-fuzz"
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
CXX=clang++ cmake -S "$root" -B "$out" -DQF_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
for name in $names; do
  cmake --build "$out" -j2 --target "${name}_fuzz" >/dev/null
done

# New finds go to build-fuzz/corpus/NAME; the checked-in seeds are read only.
cd "$out"
for name in $names; do
  case $name in bl_load) len=8192 ;; json|block) len=4096 ;; *) len=1024 ;; esac
  mkdir -p "corpus/$name"
  if ! "./tests/fuzz/${name}_fuzz" -max_total_time="$secs" -max_len="$len" -print_final_stats=1 \
      -artifact_prefix="$out/$name-" "corpus/$name" "$root/tests/fuzz/corpus/$name" >"$name.log" 2>&1; then
    tail -n 40 "$name.log"
    echo "fuzzer $name failed (build-fuzz/$name.log)"
    exit 1
  fi
  echo "$name: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$name.log" | tail -n 1)"
done

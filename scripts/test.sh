#!/bin/bash
# Every test: native unit and scenario tests, the same under AddressSanitizer
# and UndefinedBehaviorSanitizer, a bounded fuzzing run, the Windows cross
# build and the Wine tests of the real quillfen.exe.
set -e
cd "$(dirname "$0")/.."
bash scripts/deps.sh libbenchmark-dev clang libclang-rt-14-dev \
  g++-mingw-w64-x86-64-posix wine64 tmux wixl msitools osslsigncode openssl
start=$(date +%s)

echo "== native build and tests"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-test -j2
ctest --test-dir build-test -j2 --output-on-failure
grep -h "failure points" build-test/Testing/Temporary/LastTest.log | sed 's/ (.*//'

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j2 --output-on-failure

echo "== fuzzing every parser, 10 s each"
bash tests/fuzz/run.sh 10

echo "== Windows build and Wine tests"
bash tests/wine/run.sh

echo "== all tests passed in $(( $(date +%s) - start )) s"

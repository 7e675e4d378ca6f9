#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: in the normal
# build and under AddressSanitizer and UndefinedBehaviorSanitizer; then runs
# each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVOOPC_SANITIZE=ON -DNORVOOPC_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

if ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "== fuzz smoke"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNORVOOPC_FUZZ=ON -DNORVOOPC_TESTS=OFF -DNORVOOPC_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j"$jobs" --target $(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
  for src in fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    corpus=fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "-- $name"
    ./build-fuzz/bin/"$name" -max_total_time=20 -rss_limit_mb=2048 "$work" 2>&1 | tail -n 2
    rm -rf "$work"
  done
fi
echo "All tests passed."

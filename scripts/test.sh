#!/usr/bin/env bash
# Builds everything and runs every test: first the normal build (gcc, warnings as errors) with all its tests,
# then a clang build under AddressSanitizer and UndefinedBehaviorSanitizer that runs the non-GUI tests again and
# every libFuzzer target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNOK_WERROR=ON
cmake --build build -j"$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j"$jobs"

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNOK_GUI=OFF -DVARNOK_BENCH=OFF -DVARNOK_SANITIZE=ON -DVARNOK_FUZZ=ON
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
echo "All tests passed."

#!/usr/bin/env bash
# Builds the analyzer and runs the whole test suite twice: once as built for
# use, once under AddressSanitizer and UndefinedBehaviorSanitizer; then runs
# each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# The tests are asked for by name: the bundled example's script builds the
# same folder without them, and the cache would keep that. A folder with no
# tests fails instead of passing.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSORVIK_SANITIZE=ON -DSORVIK_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"

# A short fuzzing round: every fuzz target (clang, sanitizers) for 20 s, two at
# a time, starting from the seeds and the saved crash inputs.
bash scripts/fuzz.sh 20

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and sanitizers (in build-fuzz) and
# runs each for SECONDS (default 20), two at a time. Ends with a nonzero
# status when any target found a crash, a hang (an input running longer than
# 10 s), a leak or a broken property.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   TARGET is a name like log_reader_fuzz; all targets run when none is named.
# Environment: SORVIK_FUZZ_BUILD (build folder, default build-fuzz),
#   SORVIK_FUZZ_JOBS (targets at a time, default 2).
#
# Each target starts from its seeds (fuzz/corpus/<target>, made by
# fuzz/make_corpus.py), the inputs kept from earlier runs
# (<build>/fuzz/corpus/<target>) and the saved crash inputs
# (fuzz/regressions/<target>). Findings go to <build>/fuzz/artifacts/<target>,
# the fuzzer's output to <build>/fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-20}
shift || true
build=${SORVIK_FUZZ_BUILD:-build-fuzz}
jobs=${SORVIK_FUZZ_JOBS:-2}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSORVIK_FUZZ=ON -DSORVIK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
python3 fuzz/make_corpus.py fuzz/corpus

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cc; do targets+=("$(basename "$source" .cc)"); done
fi

# Longest input per target: the log reader gets room for a few long lines
# (its filler reaches past one 64 KB read anyway), the others a few KB.
max_len() {
  case "$1" in
    log_reader_fuzz) echo 16384 ;;
    html_key_fuzz | language_file_fuzz) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

run_target() {
  local target=$1
  local work="$root/$build/fuzz/corpus/$target"
  local artifacts="$root/$build/fuzz/artifacts/$target"
  local log="$root/$build/fuzz/logs/$target.log"
  local scratch="$root/$build/fuzz/tmp/$target"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")" "$scratch"
  local options=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10
                 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="$root/fuzz/$target.dict")
  local corpora=("$work" "$root/fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && corpora+=("$root/fuzz/regressions/$target")
  # Each target works in its own temporary folder below TMPDIR; a crashed
  # target leaves it behind, so it lives inside the build folder.
  TMPDIR="$scratch" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/fuzz/$target" "${options[@]}" "${corpora[@]}" >"$log" 2>&1
}

declare -A running=()
failed=()
passed=0
report() {
  local target=$1 status=$2
  local log="$build/fuzz/logs/$target.log"
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "$target: ok, $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') inputs"
  else
    failed+=("$target")
    echo "$target: FAILED (status $status), see $log and $build/fuzz/artifacts/$target/"
    grep -E 'ERROR|property broken|SUMMARY|Test unit written' "$log" | head -n 8 | sed 's/^/  /' || true
  fi
}
wait_for_one() {
  local finished status=0
  wait -n -p finished "${!running[@]}" || status=$?
  report "${running[$finished]}" "$status"
  unset "running[$finished]"
}

echo "Running ${#targets[@]} fuzz targets for ${seconds} s each, $jobs at a time"
for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "$target: no such fuzz target" >&2
    exit 2
  fi
  while [ "${#running[@]}" -ge "$jobs" ]; do wait_for_one; done
  run_target "$target" &
  running[$!]=$target
done
while [ "${#running[@]}" -gt 0 ]; do wait_for_one; done

echo "fuzz: $passed passed, ${#failed[@]} failed"
[ "${#failed[@]}" -eq 0 ]

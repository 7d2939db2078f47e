#!/usr/bin/env bash
# Measures a whole analyzer run (weeks and months) over a large generated log.
#
# Usage: bench/analysis_bench.sh [RECORDS]
#
# Builds sorvik for use (scripts/build_optimized.sh) in build-bench/, generates the weekly logs
# and a host-name cache that names every client (bench/generate_bench_log.py),
# runs the program with a configuration that writes every report into a
# temporary folder, and prints records per second and the peak resident memory.
# BENCH_DIR=<folder> keeps the generated data there between runs.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
records="${1:-1050000}"

bash "$repo/scripts/build_optimized.sh" "$repo/build-bench" >/dev/null
binary="$repo/build-bench/sorvik"

work="${BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/sorvik-bench.XXXXXX")}"
mkdir -p "$work"
if [[ ! -f "$work/logs/records.$records" ]]; then
  rm -rf "$work/logs"
  echo "Generating $records records in $work/logs ..."
  python3 "$repo/bench/generate_bench_log.py" "$work/logs" "$records"
  touch "$work/logs/records.$records"
fi

# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
run="$work/run"
prepare_run_folder "$run" "$work/logs/access.*"
cp "$work/logs/host.dat" "$run/host.dat"

echo "Running $binary on $(ls "$work"/logs/access.* | wc -l) weekly files ..."
cd "$run"
start=$(date +%s.%N)
status=0
if [[ -x /usr/bin/time ]]; then
  # "J" answers the question asked when name resolution does not work; the
  # line end serves the key wait at the end of the run.
  printf 'J\n' | /usr/bin/time -v "$binary" sorvik.conf >console.txt 2>time.txt || status=$?
  peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' time.txt)
else
  printf 'J\n' | "$binary" sorvik.conf >console.txt &
  pid=$!
  peak_kb=0
  while kill -0 "$pid" 2>/dev/null; do
    hwm=$(sed -n 's/^VmHWM: *\([0-9]*\) kB/\1/p' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$hwm" && "$hwm" -gt "$peak_kb" ]] && peak_kb=$hwm
    sleep 0.05
  done
  wait "$pid" || status=$?
fi
end=$(date +%s.%N)

if [[ $status -ne 0 ]]; then
  echo "The run ended with exit status $status; console output in $run/console.txt"
  tail -n 5 console.txt
  exit 1
fi

lines=$(cat "$work"/logs/access.* | wc -l)
# Each period end prints "IPs: <total>..." when it looked addresses up.
lookups=$({ grep -ao 'IPs: [0-9]*' console.txt || true; } | awk '{ sum += $2 } END { print sum + 0 }')
awk -v lines="$lines" -v start="$start" -v end="$end" -v peak="$peak_kb" \
    -v lookups="$lookups" 'BEGIN {
  seconds = end - start
  printf "Records in the logs:          %d\n", lines
  printf "Wall time (weeks + months):   %.2f s\n", seconds
  printf "Records per second:           %.0f (each record is read twice: %.0f reads/s)\n",
         lines / seconds, 2 * lines / seconds
  printf "Peak resident memory:         %.1f MB\n", peak / 1024
  printf "Reverse lookups made:         %d\n", lookups
}'
echo "Reports, console output and results: $run"

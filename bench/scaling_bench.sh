#!/usr/bin/env bash
# Shows how a whole run grows with the number of distinct keys in a period.
#
# Usage: bench/scaling_bench.sh [FACTOR ...]      (default: 1 4 16)
#
# For each factor f, generates one week (bench/generate_distinct_log.py) with
# 31,250·f distinct paths, each requested twice, from 12,500·f distinct
# clients, so that f = 16 is a period of 500,000 paths and 200,000 clients.
# Runs the weeks and the months analysis over it with every table written
# (sorting and host naming with an instant resolver included) and prints the
# wall time, the time per key relative to f = 1 and, for comparison, the
# growth that n·log n predicts.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
factors=("$@")
[[ ${#factors[@]} -gt 0 ]] || factors=(1 4 16)
work="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-scaling-bench}"
mkdir -p "$work"

# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
binary="$(bench_binary)"

printf '%-7s %-9s %-9s %-10s %9s %10s %14s %12s\n' factor paths clients records seconds "peak MB" \
  "time growth" "n log n"
base_seconds=""
base_keys=""
for f in "${factors[@]}"; do
  paths=$((31250 * f))
  clients=$((12500 * f))
  logs="$work/logs-$f"
  if [[ ! -f "$logs/access.49" ]]; then
    mkdir -p "$logs"
    python3 "$repo/bench/generate_distinct_log.py" "$logs/access.49" "$paths" "$clients"
  fi
  run="$work/run-$f"
  prepare_run_folder "$run" "$logs/access.*"
  start=$(date +%s.%N)
  (cd "$run" && printf 'J\n' | /usr/bin/time -v "$binary" sorvik.conf >console.txt 2>time.txt)
  end=$(date +%s.%N)
  seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }')
  peak=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$run/time.txt")
  keys=$((paths + clients))
  if [[ -z $base_seconds ]]; then
    base_seconds=$seconds
    base_keys=$keys
  fi
  awk -v f="$f" -v p="$paths" -v c="$clients" -v r="$((2 * paths))" -v s="$seconds" \
      -v peak="$peak" -v bs="$base_seconds" -v n="$keys" -v b="$base_keys" 'BEGIN {
    printf "%-7s %-9d %-9d %-10d %9.2f %10.1f %13.2fx %11.2fx\n", f, p, c, r, s, peak / 1024,
           s / bs, (n * log(n)) / (b * log(b))
  }'
done

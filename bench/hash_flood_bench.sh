#!/usr/bin/env bash
# Measures what request paths chosen to collide in the key hash cost the
# analyzer, against random paths of the same length and characters.
#
# Usage: bench/hash_flood_bench.sh [PATHS] [REQUESTS]   (default: 20000 60000)
#
# Generates (once, kept in $BENCH_DIR/flood-<PATHS>-<REQUESTS>) two weekly
# logs with bench/collide_paths.py: REQUESTS records over PATHS distinct
# paths that all have one hash under the analyzer's old, unkeyed hash, and
# the same records over random paths. Runs the analyzer (weeks and months,
# every report; built for use as bench/peer_bench.sh builds it, or
# BINARY=<program>) over each from a clean run folder, the two taking turns
# for REPEAT rounds (7 when not given), and prints the median wall time and
# processor time (the analyzer and its counting processes) of each, and
# their ratios, colliding to random.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
paths="${1:-20000}"
requests="${2:-60000}"
repeat="${REPEAT:-7}"
work="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-flood-bench}/flood-$paths-$requests"
run_root="$work/runs"
[[ -d /dev/shm && -w /dev/shm ]] && run_root="/dev/shm/sorvik-flood-runs-$$"

# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
binary="$(bench_binary)"

if [[ ! -f $work/made ]]; then
  rm -rf "$work"
  mkdir -p "$work"
  python3 "$repo/bench/collide_paths.py" "$work" "$paths" "$requests"
  touch "$work/made"
fi

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs the analyzer over the log of kind $1 once; appends "wall cpu" to
# $work/results-$1.
run_kind() {
  local kind="$1" run="$run_root/$1"
  cat "$work/$kind/access.1" >/dev/null
  prepare_run_folder "$run" "$work/$kind/access.*"
  # The shell's own timing: milliseconds, and the processor time of the
  # analyzer with the counting processes it waited for.
  local status=0 TIMEFORMAT='%3R %3U %3S'
  { time (cd "$run" && printf 'J\n' | "$binary" sorvik.conf >console.txt 2>&1); } \
    2>"$run/time.txt" || status=$?
  if [[ $status -ne 0 ]]; then
    echo "$binary ended with exit status $status; see $run/console.txt" >&2
    exit 1
  fi
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$run/time.txt" >>"$work/results-$kind"
}

rm -f "$work/results-random" "$work/results-colliding"
for ((round = 0; round < repeat; round++)); do
  run_kind random
  run_kind colliding
done
rm -rf "$run_root"

declare -A wall cpu
for kind in random colliding; do
  wall[$kind]=$(cut -d' ' -f1 "$work/results-$kind" | median)
  cpu[$kind]=$(cut -d' ' -f2 "$work/results-$kind" | median)
done
echo "$binary, $requests requests over $paths paths, median of $repeat rounds"
printf '%-10s %8s %14s\n' paths "wall s" "processor s"
for kind in random colliding; do
  printf '%-10s %8.3f %14.3f\n' "$kind" "${wall[$kind]}" "${cpu[$kind]}"
done
awk -v w1="${wall[random]}" -v w2="${wall[colliding]}" -v c1="${cpu[random]}" \
    -v c2="${cpu[colliding]}" 'BEGIN {
  printf "ratio colliding / random: %.2f wall, %.2f processor\n", w2 / w1, c2 / c1
}'

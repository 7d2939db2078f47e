#!/usr/bin/env bash
# Compares several builds (or wrappers that start one with other settings)
# on the same spells of the machine: each round runs every program once, in
# turn, on the peer benchmark's generated records, and the medians of the
# rounds are printed per program: wall seconds, processor seconds, peak
# resident memory of the largest process and of all processes together.
#
# Usage: bench/alternate_builds.sh ROUNDS YEARS NAME=PROGRAM ...
#   YEARS     "yes" adds the years run to weeks and months
#   PROGRAM   a build's instant_dns_sorvik, or a script that execs one
# The records are those of `bench/peer_bench.sh 5000000` in $BENCH_DIR
# (run that first); the run folders go to $RUN_DIR (/dev/shm by default).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
rounds="$1" years="$2"
shift 2
logs="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-peer-bench}/5000000/logs"
runs="${RUN_DIR:-/dev/shm}/sorvik-alternate-builds"
[[ -d $logs ]] || { echo "no records in $logs: run bench/peer_bench.sh 5000000 first" >&2; exit 1; }
rm -rf "$runs"
mkdir -p "$runs/results"

for _ in $(seq "$rounds"); do
  for entry in "$@"; do
    name="${entry%%=*}" program="${entry#*=}"
    run="$runs/$name"
    prepare_run_folder "$run" "$logs/access.*" "$years"
    cat "$logs"/access.* >/dev/null
    (cd "$run" && printf 'J\n' | python3 "$repo/bench/tree_peak_rss.py" tree.txt \
      /usr/bin/time -f '%e %U %S %M' "$program" sorvik.conf >console.txt 2>time.txt) ||
      { echo "$name failed; see $run/console.txt" >&2; exit 1; }
    echo "$(tail -n 1 "$run/time.txt") $(cat "$run/tree.txt")" >>"$runs/results/$name"
  done
done

printf '%-12s %8s %8s %9s %9s\n' program seconds cpu_s "peak MB" "all MB"
for entry in "$@"; do
  name="${entry%%=*}"
  median() { cut -d' ' -f"$1" "$runs/results/$name" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
  cpu=$(awk '{ print $2 + $3 }' "$runs/results/$name" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  printf '%-12s %8.2f %8.2f %9.1f %9.1f\n' "$name" "$(median 1)" "$cpu" \
    "$(awk -v k="$(median 4)" 'BEGIN { print k / 1024 }')" "$(awk -v k="$(median 5)" 'BEGIN { print k / 1024 }')"
done

#!/usr/bin/env bash
# Measures whole runs that start from a large host-name file, as a site that
# has run the analyzer for months keeps one: the file is loaded, each
# period's clients are named through the cache, and the cache is saved after
# each run mode.
#
# Usage: bench/host_file_bench.sh ENTRIES LOG_PATTERN [REPEAT]
#
# Writes a host-name file of ENTRIES distinct random addresses (fixed seed),
# in address order as the analyzer saves it, each with a name and a day stamp
# 60 days before today. Then runs sorvik REPEAT times (default 3) on
# LOG_PATTERN (weeks and months, every report), each from a clean run folder
# holding a copy of that file, and prints each run's wall time, the peak
# resident memory of the analyzer and of its largest counting process, and
# the median wall time. The binary is that of bench/peer_bench.sh, whose
# resolver answers every reverse lookup at once; BINARY=<path> runs another
# build of it.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
if [[ $# -lt 2 ]]; then
  echo "usage: bench/host_file_bench.sh ENTRIES LOG_PATTERN [REPEAT]" >&2
  exit 2
fi
entries="$1"
pattern="$2"
repeat="${3:-3}"
work="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-host-bench}"
mkdir -p "$work"

# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
binary="$(bench_binary)"

host_file="$work/host-$entries.dat"
python3 - "$host_file" "$entries" <<'PY'
import datetime
import random
import sys

path, entries = sys.argv[1], int(sys.argv[2])
day = (datetime.date.today() - datetime.date(1899, 12, 30)).days - 60
generator = random.Random(20261208)
addresses = set()
while len(addresses) < entries:
    addresses.add(generator.randrange(1 << 24, 224 << 24))
with open(path, "w", encoding="ascii", newline="\n") as out:
    for number, address in enumerate(sorted(addresses)):
        dotted = ".".join(str((address >> shift) & 255) for shift in (24, 16, 8, 0))
        out.write(f"{dotted}=host-{number}.cache.example;{day}\n")
PY


walls=()
for ((round = 1; round <= repeat; round++)); do
  run="$work/run"
  prepare_run_folder "$run" "$pattern" no
  cp "$host_file" "$run/host.dat"
  (cd "$run" && printf 'J\n' | /usr/bin/time -f "%e" "$binary" sorvik.conf \
     >/dev/null 2>"$work/stderr.txt")
  wall="$(tail -n 1 "$work/stderr.txt")"
  analyzer="$(sed -n 's/^Peak resident memory of the analyzer: \([0-9]*\) kB$/\1/p' "$work/stderr.txt")"
  child="$(sed -n 's/^Peak resident memory of the largest counting process: \([0-9]*\) kB$/\1/p' \
           "$work/stderr.txt")"
  awk -v round="$round" -v wall="$wall" -v analyzer="$analyzer" -v child="$child" 'BEGIN {
    printf "run %d: %s s, analyzer %.1f MB, largest counting process %.1f MB\n",
           round, wall, analyzer / 1024, child / 1024 }'
  walls+=("$wall")
done
printf 'median of %d runs with a host-name file of %d entries: %s s\n' "$repeat" "$entries" \
       "$(printf '%s\n' "${walls[@]}" | sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}')"

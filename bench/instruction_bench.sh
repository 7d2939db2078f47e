#!/usr/bin/env bash
# Counts the instructions of a whole analyzer run, per record: a figure that,
# unlike the wall time, does not move with the machine's load, for changes
# too small to show beyond the noise of a shared machine.
#
# Usage: bench/instruction_bench.sh [RECORDS] [BINARY]
#
# Generates RECORDS records (default 300000) in four weekly files
# (bench/generate_bench_log.py; kept in $BENCH_DIR), runs BINARY (default:
# the benchmark build of instant_dns_sorvik, made here) over them, weeks and
# months with every report, under valgrind's cachegrind tool (Debian package
# "valgrind") with its child processes, and prints the instructions of the
# whole run and those of the counting processes, each per record.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
records="${1:-300000}"
binary="${2:-}"
work="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-instruction-bench}"

if ! command -v valgrind >/dev/null; then
  echo "bench/instruction_bench.sh needs valgrind (Debian package \"valgrind\")" >&2
  exit 1
fi
# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
[[ -n "$binary" ]] || binary="$(bench_binary)"

logs="$work/$records/logs"
if [[ ! -f "$logs/records.$records" ]]; then
  rm -rf "$logs"
  echo "Generating $records records in $logs ..."
  python3 "$repo/bench/generate_bench_log.py" "$logs" "$records" >/dev/null
  touch "$logs/records.$records"
fi

run="$work/run"
prepare_run_folder "$run" "$logs/access.*"
cd "$run"
printf 'J\n' | valgrind --tool=cachegrind --cache-sim=no --trace-children=yes \
  --cachegrind-out-file="$run/counts.%p" "$binary" sorvik.conf >/dev/null 2>&1 &
analyzer=$!
wait "$analyzer"

# The instructions a cachegrind output counted in all.
instructions() {
  sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$1"
}
total=0
counting=0
for counts in "$run"/counts.*; do
  n=$(instructions "$counts")
  total=$((total + n))
  [[ "$counts" == "$run/counts.$analyzer" ]] || counting=$((counting + n))
done
echo "records: $records"
echo "instructions a record, whole run: $((total / records))"
echo "instructions a record, counting processes: $((counting / records))"

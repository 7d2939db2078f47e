#!/usr/bin/env bash
# Measures whole analyzer runs against a peer analyzer on the same records.
#
# Usage: bench/peer_bench.sh [RECORDS | FOLDER ...]  (default: 1000000 5000000)
#
# A FOLDER instead of a record count holds logs of one's own, access.* in
# the combined format, plain or gzip-compressed: Analog and cases 1 and 2
# below read those same files (the other cases are layouts of generated
# records).
#
# For each record count: generates (once, kept in $BENCH_DIR) four weekly logs
# in the eleven-field format and the same records in the combined format
# (bench/generate_bench_log.py), then runs
#   1. sorvik, weeks and months with every report,
#   2. sorvik, weeks, months and years with every report,
#   3. Analog (Debian package "analog"; skipped when missing) on the
#      combined-format copy with its default reports,
#   4. sorvik, weeks and months, on the same records in three files, the
#      first holding the first two weeks ("uneven files"): the counting
#      children then share files of unequal length,
#   5. sorvik, weeks and months, on the same records in one file ("one
#      file"): the counting children share it in two pieces,
#   6. sorvik, weeks and months, on the same records in three files of
#      equal length ("three files"): the last is cut in two pieces,
#   7. sorvik, weeks and months, then also years, on the same records in
#      28 files, each week in seven ("daily files"): each file is a week of
#      the weeks run, and the counted lists mostly wait in a spill file,
# each from a clean state, and prints wall time, lines per second (every
# input line counted once), peak resident memory of the largest process
# (/usr/bin/time -v, "peak MB") and the peak of the summed memory of all the
# program's processes (bench/tree_peak_rss.py, "all MB": sorvik counts its
# run modes in child processes), and the ratio of sorvik's lines per second
# to Analog's. sorvik is built for use (scripts/build_optimized.sh) with a
# resolver that answers every reverse lookup at once
# (bench/instant_dns_sorvik.cc) so that the name server does not distort
# the figures; the number of lookups is printed. BINARY=<program> measures
# a build of it made elsewhere; BASELINE=<program> also measures that
# build on the cases of weeks and months with and without years, as
# "baseline" rows in the same rounds, so that two builds are compared on
# the same spells of the machine. CHARTS=yes has every sorvik case draw the
# charts on its pages (html_charts=yes); CHARTS=compare adds "charts" rows,
# the cases of weeks and months with and without years drawing them, in the
# same rounds as the rows without. REPEAT=<n> runs n rounds (3 when not
# given), in which the cases take turns, and reports the median of each
# case: a single round moves with the machine's spells, by a quarter on a
# shared machine. Each case's logs are read once, untimed, before it runs. The records are kept
# in $BENCH_DIR, the runs in $RUN_DIR (on /dev/shm when there is one; see
# below).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000000 5000000)
repeat="${REPEAT:-3}"
work="${BENCH_DIR:-${TMPDIR:-/tmp}/sorvik-peer-bench}"
mkdir -p "$work"
# The run folders, into which both programs write their reports: on the
# memory file system when the machine has one (RUN_DIR=<folder> chooses
# another), so that the figures measure the programs and not how the disk's
# file system makes new files after the round before deleted thousands
# (see bench/README.md, "Where the reports are written").
if [[ -z ${RUN_DIR:-} ]]; then
  RUN_DIR="$work/runs"
  [[ -d /dev/shm && -w /dev/shm ]] && RUN_DIR=/dev/shm/sorvik-peer-runs
fi
mkdir -p "$RUN_DIR"

if [[ ! -x /usr/bin/time ]]; then
  echo "bench/peer_bench.sh needs /usr/bin/time (Debian package \"time\")" >&2
  exit 1
fi
# shellcheck source=run_folder.sh
source "$repo/bench/run_folder.sh"
# Built as scripts/run_example.sh builds the program for use.
binary="$(bench_binary)"
baseline="${BASELINE:-}"
analog="$(command -v analog || true)"

# Runs a command under /usr/bin/time -v in the current folder; sets
# run_seconds (the wall time /usr/bin/time measured), run_peak_kb (its
# largest single process) and run_all_kb (the peak of the summed memory of
# all the command's processes, sampled by bench/tree_peak_rss.py). The
# command's console goes to console.txt.
timed_run() {
  local status=0
  printf 'J\n' | python3 "$repo/bench/tree_peak_rss.py" tree.txt /usr/bin/time -v "$@" \
    >console.txt 2>time.txt || status=$?
  if [[ $status -ne 0 ]]; then
    echo "$* ended with exit status $status; see $PWD/console.txt" >&2
    tail -n 5 console.txt >&2
    exit 1
  fi
  run_seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): *//p' time.txt |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }')
  run_peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' time.txt)
  run_all_kb=$(cat tree.txt)
}

# kB as MB.
mb() { awk -v k="$1" 'BEGIN { print k / 1024 }'; }

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs one measured case once and adds "seconds peak_kb all_kb" to its
# results in $work/<size>/results-<kind> (and, for sorvik, the number of
# lookups to lookups-<kind>).
run_case() {
  local kind="$1" size="$2" years="$3" logs="$4"
  local run="$RUN_DIR/$size/run-$kind" results="$work/$size/results-$kind"
  # The case's logs are read once first, so that neither program is timed
  # reading the disk: the cases' copies of the records are several
  # gigabytes together, and the system may have dropped some of them from
  # its cache since their case last ran.
  cat "$logs"/access.* >/dev/null
  if [[ $kind == analog ]]; then
    rm -rf "$run"
    mkdir -p "$run"
    cat >"$run/analog.cfg" <<CONF
LOGFILE $logs/access.*
LOGFORMAT COMBINED
HOSTNAME "www.example.org"
OUTFILE $run/report.html
CONF
    (cd "$run" && timed_run "$analog" +g"$run/analog.cfg" &&
      echo "$run_seconds $run_peak_kb $run_all_kb" >>"$results")
  else
    local charts="${CHARTS:-no}"
    [[ $charts == compare ]] && charts=no
    [[ $kind == charts-* ]] && charts=yes
    CHARTS="$charts" prepare_run_folder "$run" "$logs/access.*" "$years"
    local program="$binary"
    [[ $kind == baseline-* ]] && program="$baseline"
    (cd "$run" && timed_run "$program" sorvik.conf &&
      echo "$run_seconds $run_peak_kb $run_all_kb" >>"$results")
    sed -n 's/^Reverse lookups made: //p' "$run/time.txt" >"$work/$size/lookups-$kind"
  fi
}

# The medians of a case's results and its lookups: "seconds peak_kb all_kb lookups".
summary() {
  local results="$work/$1/results-$2" lookups="-"
  [[ -f "$work/$1/lookups-$2" ]] && lookups=$(cat "$work/$1/lookups-$2")
  echo "$(cut -d' ' -f1 "$results" | median) $(cut -d' ' -f2 "$results" | median)" \
    "$(cut -d' ' -f3 "$results" | median) $lookups"
}

# Prints the row of a sorvik case: its label, then what measure printed.
# Uses $lines and $analog_rate of the record count being measured.
print_case() {
  local label="$1" s="$2" p="$3" a="$4" lookups="$5" rate ratio="-"
  rate=$(awk -v l="$lines" -v s="$s" 'BEGIN { printf "%.0f", l / s }')
  [[ -n $analog_rate ]] && ratio=$(awk -v r="$rate" -v a="$analog_rate" 'BEGIN { printf "%.2f", r / a }')
  printf '%-9s %-26s %8.2f %10s %8.1f %8.1f %6s %8s\n' "$lines" "$label" "$s" "$rate" \
    "$(mb "$p")" "$(mb "$a")" "$ratio" "$lookups"
}

# Makes the folder $1 of a layout of the same records once: runs the rest
# as a command with the folder as its last argument. Later invocations keep
# what it made.
make_layout() {
  local dir="$1"
  shift
  [[ -f $dir/made ]] && return
  rm -rf "$dir"
  mkdir -p "$dir"
  "$@" "$dir"
  touch "$dir/made"
}

# The weekly logs in $1 as three files in $2, the first holding two weeks.
uneven_files() {
  local weeks=("$1"/access.*)
  cat "${weeks[0]}" "${weeks[1]}" >"$2/access.44"
  cp "${weeks[2]}" "$2/access.45"
  cp "${weeks[3]}" "$2/access.46"
}

# The weekly logs in $1 as one file in $2.
one_file() { cat "$1"/access.* >"$2/access.44"; }

# The one file in $1 as three files of equal length in $2.
three_files() {
  split -n l/3 -d -a 1 "$1/access.44" "$2/part"
  mv "$2/part0" "$2/access.44"
  mv "$2/part1" "$2/access.45"
  mv "$2/part2" "$2/access.46"
}

# The weekly logs in $1 as seven files each in $2, of equal line counts.
daily_files() {
  local week day=0 part
  for week in "$1"/access.*; do
    split -n l/7 -d -a 1 "$week" "$2/part"
    for part in "$2"/part?; do
      day=$((day + 1))
      mv "$part" "$(printf '%s/access.%03d' "$2" "$day")"
    done
  done
}

printf '%-9s %-26s %8s %10s %8s %8s %6s %8s\n' records case seconds lines/s "peak MB" "all MB" \
  ratio lookups
for size in "${sizes[@]}"; do
  if [[ -d $size ]]; then
    logs="$(cd "$size" && pwd)"
    combined="$logs"
    size="given-$(basename "$logs")"
    mkdir -p "$work/$size"
  else
    logs="$work/$size/logs"
    combined="$work/$size/combined"
    if [[ ! -f "$work/$size/generated" ]]; then
      rm -rf "$work/$size"
      echo "Generating $size records in $work/$size ..." >&2
      python3 "$repo/bench/generate_bench_log.py" "$logs" "$size" "$combined"
      touch "$work/$size/generated"
    fi
  fi
  lines=$(zcat -f "$logs"/access.* | wc -l)
  # Each case as "kind|Analyse_Years|log folder|label".
  cases=()
  [[ -n $analog ]] && cases+=("analog|no|$combined|Analog (combined format)")
  cases+=("sorvik-years-no|no|$logs|sorvik weeks+months"
          "sorvik-years-yes|yes|$logs|sorvik weeks+months+years")
  if [[ ${CHARTS:-} == compare ]]; then
    cases+=("charts-years-no|no|$logs|charts weeks+months"
            "charts-years-yes|yes|$logs|charts weeks+months+years")
  fi
  if [[ -n $baseline ]]; then
    cases+=("baseline-years-no|no|$logs|baseline weeks+months"
            "baseline-years-yes|yes|$logs|baseline weeks+months+years")
  fi
  if [[ $size != given-* ]]; then
    make_layout "$work/$size/uneven" uneven_files "$logs"
    make_layout "$work/$size/single" one_file "$logs"
    make_layout "$work/$size/three" three_files "$work/$size/single"
    make_layout "$work/$size/daily" daily_files "$logs"
    cases+=("sorvik-uneven|no|$work/$size/uneven|sorvik uneven files"
            "sorvik-single|no|$work/$size/single|sorvik one file"
            "sorvik-three|no|$work/$size/three|sorvik three files"
            "sorvik-daily|no|$work/$size/daily|sorvik daily files"
            "sorvik-daily-years|yes|$work/$size/daily|sorvik daily files+years")
  fi
  # The cases take turns, so that a machine whose speed drifts over the
  # minutes of the benchmark affects the peer and the analyzer alike.
  rm -f "$work/$size"/results-* "$work/$size"/lookups-*
  for ((i = 0; i < repeat; i++)); do
    for entry in "${cases[@]}"; do
      IFS='|' read -r kind years dir _ <<<"$entry"
      run_case "$kind" "$size" "$years" "$dir"
    done
  done
  analog_rate=""
  for entry in "${cases[@]}"; do
    IFS='|' read -r kind _ _ label <<<"$entry"
    read -r s p a l < <(summary "$size" "$kind")
    if [[ $kind == analog ]]; then
      analog_rate=$(awk -v l="$lines" -v s="$s" 'BEGIN { printf "%.0f", l / s }')
      printf '%-9s %-26s %8.2f %10s %8.1f %8.1f %6s %8s\n' "$lines" "$label" \
        "$s" "$analog_rate" "$(mb "$p")" "$(mb "$a")" "1.00" "-"
    else
      print_case "$label" "$s" "$p" "$a" "$l"
    fi
  done
done
echo "Runs, reports and console output of the last round are kept in $RUN_DIR," \
  "the records and the results of every round in $work" >&2

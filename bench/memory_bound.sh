#!/usr/bin/env bash
# Shows that the analyzer's memory follows the distinct keys, not the size of
# the log: two logs with the same keys (100,000 paths, 20,000 clients, 60
# agents, 100 referrers), one of SIZE_MB megabytes and one a tenth of it, are
# each analysed as one week (weeks and months run, every report written), and
# the peak RSS of each run is printed from /usr/bin/time -v.
#
# Usage: bench/memory_bound.sh [SIZE_MB] [BUILD_DIR]
#   SIZE_MB    size of the large log in MB (default 2048)
#   BUILD_DIR  build folder holding the sorvik binary (default build)
# The logs are written (streaming) below ${BENCH_DIR:-/tmp/sorvik-memory} and
# deleted at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-2048}
build=${2:-build}
binary=$(realpath "$build/sorvik")
work=${BENCH_DIR:-/tmp/sorvik-memory}
if [ ! -x /usr/bin/time ]; then
  echo "needs /usr/bin/time (apt-get install time)" >&2
  exit 1
fi

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Writes RUN_DIR/logs/access.10 of about SIZE_MB MB, its host-name file and
# the configuration. Every key appears in the first 100,000 records, so a log
# of any size from about 15 MB on has all of them.
generate() {
  python3 - "$1" "$2" <<'EOF'
import datetime
import os
import sys

run, size_mb = sys.argv[1], int(sys.argv[2])
PATHS, CLIENTS = 100_000, 20_000
extensions = [".html", ".html", ".html", ".gif", ".jpg", ".css", ""]
paths = ["/area%02d/part%03d/item%06d%s" % (i % 97, i % 1009, i, extensions[i % 7])
         for i in range(PATHS)]
clients = ["198.18.%d.%d" % (i // 250, i % 250 + 1) for i in range(CLIENTS)]
agents = ["Mozilla/5.0 (X11; Linux x86_64; rv:%d.0) Gecko/20100101 Firefox/%d.0" % (v, v)
          for v in range(100, 130)]
agents += ["Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/%d.0.0.0 Safari/537.36" % v for v in range(100, 130)]
referrers = ["-"] + ["http://www.example.org/area%02d/" % i for i in range(60)]
referrers += ["http://search.example/?q=word%d" % i for i in range(39)]

os.makedirs(os.path.join(run, "logs"), exist_ok=True)
os.makedirs(os.path.join(run, "out"), exist_ok=True)
target = size_mb * 1_000_000
# One week: Monday 2 March 2026 to Sunday 8 March, spread evenly; the record
# count is estimated from the first block's line length.
block = []
written = 0
records_estimate = None
i = 0
with open(os.path.join(run, "logs", "access.10"), "w") as log:
    while written < target:
        if records_estimate is None and i == 10_000:
            records_estimate = int(target / (written + sum(map(len, block))) * i) + 1
        seconds = i * 7 * 86400 // (records_estimate or target // 150)
        day, rest = divmod(min(seconds, 7 * 86400 - 1), 86400)
        p = i * 31337 % PATHS
        block.append('%s - - [%02d/Mar/2026:%02d:%02d:%02d +0100] "GET %s HTTP/1.1" %s %d '
                     'www.example.org "%s" "%s"\n'
                     % (clients[i * 7919 % CLIENTS], 2 + day, rest // 3600, rest // 60 % 60,
                        rest % 60, paths[p], "404" if p % 53 == 0 else "200",
                        i * 2654435761 % 60000, referrers[i % 100], agents[i % 60]))
        i += 1
        if len(block) == 10_000:
            text = "".join(block)
            log.write(text)
            written += len(text)
            block = []
    log.write("".join(block))

today = (datetime.date.today() - datetime.date(1899, 12, 30)).days
with open(os.path.join(run, "host.dat"), "w") as hosts:
    for n, address in enumerate(clients):
        hosts.write("%s=host-%d.example.net;%d\n" % (address, n, today))
with open(os.path.join(run, "sorvik.conf"), "w") as config:
    config.write("logfiles=logs/access.*\ntargetdir=out\nhtmldir=out\nLang_file=english.lng\n"
                 "Browser=browsers.lst\nOpSys=opsys.lst\nResults=results.txt\n"
                 "Errlogfile=errlog.txt\nHost_file=host.dat\nHost_Url=www.example.org\n")
print(i)
EOF
  cp examples/english.lng examples/browsers.lst examples/opsys.lst "$1/"
}

# Runs the analyzer in RUN_DIR and prints "<wall seconds> <peak RSS in kB>".
measure() {
  (cd "$1" && printf 'J\n' | /usr/bin/time -v -o time.txt "$binary" sorvik.conf >console.txt)
  local rss wall
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$1/time.txt")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1/time.txt")
  echo "$wall $rss"
}

small_mb=$((size_mb / 10))
echo "Generating logs of $size_mb MB and $small_mb MB in $work ..."
large_records=$(generate "$work/large" "$size_mb")
small_records=$(generate "$work/small" "$small_mb")
read -r small_wall small_rss < <(measure "$work/small")
rm -f "$work/small/logs/access.10"
read -r large_wall large_rss < <(measure "$work/large")
rm -f "$work/large/logs/access.10"

printf '%-8s %12s %12s %14s\n' "log" "records" "wall" "peak RSS"
printf '%-8s %12s %12s %11s MB\n' "${small_mb} MB" "$small_records" "$small_wall" \
  "$(awk -v k="$small_rss" 'BEGIN { printf "%.1f", k / 1024 }')"
printf '%-8s %12s %12s %11s MB\n' "${size_mb} MB" "$large_records" "$large_wall" \
  "$(awk -v k="$large_rss" 'BEGIN { printf "%.1f", k / 1024 }')"
awk -v s="$small_rss" -v l="$large_rss" \
  'BEGIN { printf "peak RSS of the large log / the small one: %.2f\n", l / s }'

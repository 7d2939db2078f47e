#!/usr/bin/env bash
# Opens every page of two runs in headless Chromium, follows their links and
# checks their charts: the bundled example, and a run over log data full of
# markup and script. Screenshots of the example's charts (a week's page and
# the months overview) are saved in $SORVIK_SCREENSHOTS, by default the
# folder "screenshots" beside the binary.
# Usage: browser_test.sh <sorvik binary> <source dir>
set -euo pipefail

binary=$(realpath "$1")
source_dir=$(realpath "$2")
helper="$(dirname "$(realpath "$0")")/browser_pages.py"

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL: chromium is not installed; the browser test cannot run (apt-get install chromium)"
    exit 1
  fi
  echo "skipped: chromium is not installed"
  exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvik-browser-test-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs the program in folder $1 with configuration $2; "J" answers the question
# asked when name resolution does not work, the line end the final key wait.
run_sorvik() {
  local status=0
  (cd "$1" && printf 'J\n' | "$binary" "$2" >console.txt 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL: sorvik ended with status $status in $1:"
    tail -n 20 "$1/console.txt"
    exit 1
  fi
}

# The bundled example, run from a copy so that nothing is written into the
# source tree.
mkdir -p "$work/example"
cp -R "$source_dir/examples" "$work/example/examples"
mkdir -p "$work/example/out/reports" "$work/example/out/html"
python3 "$source_dir/examples/make_host_cache.py" "$source_dir"/examples/logs/access.* \
  > "$work/example/out/host.dat"
run_sorvik "$work/example" examples/sorvik.conf

# The hostile run is run twice; before the second run the page of a complete
# week is deleted, so the index page must show that week without a link.
python3 "$helper" hostile "$work/hostile" "$source_dir/examples"
run_sorvik "$work/hostile" sorvik.conf
rm "$work/hostile/html/2026w10.html"
run_sorvik "$work/hostile" sorvik.conf

failed=0
if ! grep -q '^<TR><TD ALIGN=LEFT>2026</TD><TD ALIGN=RIGHT>10</TD>' "$work/hostile/html/index.html"; then
  echo "FAIL: index.html does not show the week of the deleted page without a link"
  failed=1
fi
shots="${SORVIK_SCREENSHOTS:-$(dirname "$binary")/screenshots}"
python3 "$helper" check "$browser" "$work/example" examples/sorvik.conf --screenshots "$shots" ||
  failed=1
echo "Screenshots of the charts: $shots"
python3 "$helper" check "$browser" "$work/hostile" sorvik.conf --hostile || failed=1
exit "$failed"

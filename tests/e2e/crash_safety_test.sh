#!/usr/bin/env bash
# Kills the analyzer at many points of its runs (see crash_safety.py). So that
# the host-name file is written, name resolution must work: in a private mount
# namespace a hosts table that names every client is mounted over /etc/hosts;
# where no such namespace can be made, the test runs without it.
# Usage: crash_safety_test.sh <sorvik binary> <source dir>
set -euo pipefail
binary=$(realpath "$1")
source_dir=$(realpath "$2")
helper="$(dirname "$(realpath "$0")")/crash_safety.py"

hosts=$(mktemp "${TMPDIR:-/tmp}/sorvik-hosts-XXXXXX")
trap 'rm -f "$hosts"' EXIT
python3 "$helper" hosts >"$hosts"
status=0
if unshare -m sh -c 'mount --bind "$1" /etc/hosts' sh "$hosts" 2>/dev/null; then
  unshare -m sh -c 'mount --bind "$1" /etc/hosts && exec python3 "$2" run "$3" "$4"' \
    sh "$hosts" "$helper" "$binary" "$source_dir" || status=$?
else
  echo "note: no private mount namespace here"
  python3 "$helper" run "$binary" "$source_dir" || status=$?
fi
exit "$status"

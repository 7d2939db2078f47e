#!/usr/bin/env bash
# Overlapping runs with real processes. While another process holds the run
# lock, a run stops at once with status 75 and one console line naming the
# lock file, waits for no key and changes no file. Two runs over the same state
# files at the same time: the second stops, the first ends normally.
# Usage: overlapping_runs_test.sh <sorvik binary> <source dir>
set -euo pipefail

binary=$(realpath "$1")
source_dir=$(realpath "$2")

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvik-lock-test-XXXXXX")
holder_pid=""
cleanup() {
  if [ -n "$holder_pid" ]; then kill "$holder_pid" 2>/dev/null || true; fi
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

run="$work/run"
mkdir -p "$run/logs" "$run/out" "$run/state"
cd "$run"
cp "$source_dir/examples/english.lng" english.lng
printf '%s\n' "logfiles=logs/access.*" "targetdir=out" "htmldir=out" "Lang_file=english.lng" \
  "Results=state/results.txt" "Errlogfile=state/errlog.txt" "Host_file=state/host.dat" \
  >sorvik.conf
printf '%s\n' '192.0.2.10 - - [30/Nov/2026:09:15:02 +0100] "GET / HTTP/1.1" 200 5120 www.example.org "-" "Mozilla/5.0"' \
  >logs/access.49

lock=state/results.txt.lock
expected_line="Another run holds the lock file $lock: stopped."
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# Succeeds when some process holds the lock.
lock_held() {
  python3 -c '
import fcntl, sys
with open(sys.argv[1], "rb") as f:
    try:
        fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.exit(0)
sys.exit(1)' "$lock"
}

# Every path below the run folder with its kind, size, time stamp and mode,
# and the checksum of every file.
snapshot() {
  find . -printf '%p %y %s %T@ %m\n' | sort
  find . -type f -exec sha256sum {} + | sort
}

# The keys of a locked-out run come from a FIFO that this shell keeps open
# for writing and never writes: a run that waited for a key would wait until
# the time-out ends it.
mkfifo "$work/keys"
exec 7<>"$work/keys"

# Runs the analyzer that must find the lock held: status 75 at once, the one
# console line last, nothing written to standard error.
expect_locked_out() {
  local what=$1 status=0
  timeout 20 "$binary" sorvik.conf <"$work/keys" >"$work/console.txt" 2>"$work/stderr.txt" \
    || status=$?
  if [ "$status" -ne 75 ]; then
    fail "$what: status $status, expected 75 (124: it waited)"
    tail -n 5 "$work/console.txt"
  fi
  if [ "$(tail -n 1 "$work/console.txt")" != "$expected_line" ]; then
    fail "$what: the console does not end with \"$expected_line\":"
    tail -n 5 "$work/console.txt"
  fi
  if [ -s "$work/stderr.txt" ]; then
    fail "$what: standard error is not empty:"
    head -n 20 "$work/stderr.txt"
  fi
}

# A first run leaves the state of an earlier run, the lock file among it.
status=0
printf 'J\n' | timeout 60 "$binary" sorvik.conf >"$work/first.txt" 2>&1 || status=$?
if [ "$status" -ne 0 ] || [ ! -e "$lock" ] || [ ! -e state/results.txt ]; then
  echo "FAIL: the first run ended with status $status and left no lock or result file"
  tail -n 20 "$work/first.txt"
  exit 1
fi

# 1. Another program holds the lock.
python3 -c '
import fcntl, sys, time
f = open(sys.argv[1], "rb")
fcntl.flock(f, fcntl.LOCK_EX)
print("held", flush=True)
time.sleep(300)' "$lock" >"$work/holder.txt" &
holder_pid=$!
for _ in $(seq 100); do
  grep -q held "$work/holder.txt" && break
  sleep 0.1
done
before=$(snapshot)
expect_locked_out "a run while another program holds the lock"
after=$(snapshot)
if [ "$before" != "$after" ]; then
  fail "the locked-out run changed files:"
  diff <(echo "$before") <(echo "$after") | head -n 20
fi
kill "$holder_pid"
wait "$holder_pid" 2>/dev/null || true
holder_pid=""

# 2. Two runs at once. The host-name file is a FIFO, so the first run waits
# in it, holding the lock, until it is fed here; the second run must stop
# before it opens that file (else it would wait there too).
rm -f state/host.dat
mkfifo state/host.dat
printf 'J\n' | timeout 60 "$binary" sorvik.conf >"$work/first_of_two.txt" 2>&1 &
first_pid=$!
for _ in $(seq 200); do
  lock_held && break
  sleep 0.05
done
lock_held || fail "the first of two runs did not take the lock"
expect_locked_out "the second of two runs"
timeout 20 bash -c 'printf "" >state/host.dat' || fail "the first run did not read the host-name file"
status=0
wait "$first_pid" || status=$?
if [ "$status" -ne 0 ] || ! grep -q "^Elapsed time" "$work/first_of_two.txt"; then
  fail "the first of two runs ended with status $status:"
  tail -n 10 "$work/first_of_two.txt"
fi
lock_held && fail "the lock is still held after both runs ended"

# 3. The lock is free while a run waits for its last key: a scheduler's next
# run need not wait for an operator. The run's keys come from the FIFO that
# this shell holds open: "J" answers the name-server question, and the last
# key is written only once the lock was seen free.
rm -f state/host.dat
printf 'J' >&7
status=0
timeout 60 "$binary" sorvik.conf <"$work/keys" >"$work/waiting.txt" 2>&1 &
waiting_pid=$!
for _ in $(seq 400); do
  grep -q "^Press any key" "$work/waiting.txt" && break
  sleep 0.05
done
grep -q "^Press any key" "$work/waiting.txt" || fail "the run did not reach its last key wait"
lock_held && fail "the lock is held while the run waits for its last key"
printf 'x' >&7
wait "$waiting_pid" || status=$?
[ "$status" -eq 0 ] || fail "the waiting run ended with status $status"

if [ "$failed" -eq 0 ]; then echo "overlapping runs: the second run stopped with status 75"; fi
exit "$failed"

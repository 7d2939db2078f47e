#!/usr/bin/env bash
# Runs the analyzer over log folders full of hostile data (see hostile_logs.py).
# Usage: hostile_log_test.sh <sorvik binary> <source dir>
set -euo pipefail
exec python3 "$(dirname "$(realpath "$0")")/hostile_logs.py" "$1" "$2"

#!/usr/bin/env bash
# Runs the analyzer over a folder like those strangers write on a real
# server (see stranger_logs.py).
# Usage: stranger_logs_test.sh <sorvik binary> <source dir>
set -euo pipefail
exec python3 "$(dirname "$(realpath "$0")")/stranger_logs.py" "$1" "$2"

#!/usr/bin/env python3
"""Runs a command and records the peak of the summed resident memory of the
processes it starts.

Usage: bench/tree_peak_rss.py OUTPUT_FILE COMMAND [ARGUMENT ...]

The command (typically /usr/bin/time -v PROGRAM ...) runs with this script's
standard streams. Every 10 ms the resident memory (VmRSS) of all its
descendants, not of the command itself, is added up; the largest sum in kB is
written to OUTPUT_FILE. /usr/bin/time reports the largest single process,
which understates a program that works in several processes at once.
Exits with the command's exit status.
"""

import os
import subprocess
import sys
import time


def children_of():
    """Maps each process id to the ids of its children."""
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat", "rb") as stat:
                fields = stat.read().rsplit(b")", 1)[1].split()
        except OSError:
            continue
        children.setdefault(int(fields[1]), []).append(int(name))
    return children


def resident_kb(pid):
    try:
        with open(f"/proc/{pid}/status", "rb") as status:
            for line in status:
                if line.startswith(b"VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants_rss(root):
    children = children_of()
    total = 0
    pending = list(children.get(root, []))
    while pending:
        pid = pending.pop()
        total += resident_kb(pid)
        pending.extend(children.get(pid, []))
    return total


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output = sys.argv[1]
    process = subprocess.Popen(sys.argv[2:])
    peak = 0
    while process.poll() is None:
        peak = max(peak, descendants_rss(process.pid))
        time.sleep(0.01)
    with open(output, "w", encoding="ascii") as out:
        out.write(f"{peak}\n")
    sys.exit(process.returncode)


if __name__ == "__main__":
    main()

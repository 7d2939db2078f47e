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


def children_of(pid):
    """The ids of a process's children, from its threads' children lists:
    a few small reads instead of a walk over every process of the machine,
    which would take processor time from the program being measured."""
    children = []
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return children
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/children", "rb") as listed:
                children.extend(int(child) for child in listed.read().split())
        except OSError:
            continue
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
    total = 0
    pending = children_of(root)
    while pending:
        pid = pending.pop()
        total += resident_kb(pid)
        pending.extend(children_of(pid))
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

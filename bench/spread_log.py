#!/usr/bin/env python3
"""Makes a log of many periods out of a short one, for bench/peer_bench.sh.

Usage: bench/spread_log.py LOG COPIES OUTPUT_DIR

LOG is an access log in the combined (or common) format, plain or
gzip-compressed, a few days of a real site, say. The output holds COPIES
copies of its lines one after the other in time, each copy moved on by the
log's span in whole days (at least one), so that the records keep the
site's mix of clients, paths, referrers and agents while the log runs over
many weeks, months and years. Each copy adds its number to the second
octet of the IPv4 clients, so that every copy brings clients of its own, as
a site's visitors change over the years; other client texts stay as they
are. The lines go into one file per ISO week, OUTPUT_DIR/access.YYYYWW,
as a site that rotates its log weekly keeps them.
"""
import datetime
import gzip
import os
import sys

STAMP_FORMAT = "%d/%b/%Y:%H:%M:%S"


def read_lines(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rb") as log:
        return [line.rstrip(b"\n") for line in log]


def parse(line):
    """(client, text between client and stamp, time, rest from the zone on)."""
    open_at = line.index(b"[")
    close_at = line.index(b"]", open_at)
    # The stamp is "dd/Mon/yyyy:HH:MM:SS +zone"; the zone stays as written.
    stamp = line[open_at + 1:close_at - 6].decode("ascii")
    when = datetime.datetime.strptime(stamp, STAMP_FORMAT)
    space = line.index(b" ")
    return line[:space], line[space:open_at + 1], when, line[close_at - 6:]


def moved_client(client, copy):
    parts = client.split(b".")
    if len(parts) != 4 or not all(part.isdigit() for part in parts):
        return client
    parts[1] = str((int(parts[1]) + copy) % 256).encode("ascii")
    return b".".join(parts)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    log, copies, output = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    records = []
    for line in read_lines(log):
        try:
            records.append(parse(line))
        except ValueError:
            pass  # a line without a readable stamp is left out
    if not records:
        sys.exit(f"{log}: no line with a readable time stamp")
    times = [record[2] for record in records]
    span = max(1, (max(times) - min(times)).days + 1)
    os.makedirs(output, exist_ok=True)
    files = {}
    try:
        for copy in range(copies):
            shift = datetime.timedelta(days=span * copy)
            for client, middle, when, rest in records:
                moved = when + shift
                year, week, _ = moved.isocalendar()
                name = os.path.join(output, f"access.{year:04d}{week:02d}")
                if name not in files:
                    files[name] = open(name, "wb")
                files[name].write(moved_client(client, copy) + middle +
                                  moved.strftime(STAMP_FORMAT).encode("ascii") + rest + b"\n")
    finally:
        for file in files.values():
            file.close()
    print(f"{len(records) * copies} lines in {len(files)} weekly files in {output}")


if __name__ == "__main__":
    main()

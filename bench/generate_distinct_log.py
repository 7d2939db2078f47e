#!/usr/bin/env python3
"""Writes one weekly access log whose keys are nearly all distinct.

Usage: generate_distinct_log.py OUTPUT_FILE PATHS CLIENTS

Every one of PATHS distinct paths is requested twice and every one of CLIENTS
distinct clients (from the benchmarking network 198.18.0.0/15) makes about
the same number of those requests, with distinct referrers for half of the
page requests, all within ISO week 49 of 2026. The records come in time
order; the seed is fixed.
"""

import random
import sys

AGENTS = ["Mozilla/5.0 (X11; Linux x86_64; rv:133.0) Gecko/20100101 Firefox/133.0",
          "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
          " Chrome/131.0.0.0 Safari/537.36",
          "curl/8.5.0"]


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: generate_distinct_log.py OUTPUT_FILE PATHS CLIENTS")
    output, paths, clients = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rng = random.Random(4711)
    requests = [p for p in range(paths) for _ in range(2)]
    rng.shuffle(requests)
    count = len(requests)
    step = 7 * 86400 / count
    with open(output, "w", encoding="ascii", newline="\n") as out:
        for i, p in enumerate(requests):
            second = int(i * step)
            day, rest = divmod(second, 86400)
            client = rng.randrange(clients)
            address = "198.%d.%d.%d" % (18 + client // 65024, client // 254 % 256, client % 254 + 1)
            ending = ".html" if p % 3 else ".gif"
            referrer = "http://site%d.example.net/page%d.html" % (p % 997, p) if p % 2 else "-"
            out.write('%s - - [%02d/Dec/2026:%02d:%02d:%02d +0100] "GET /d%d/f%d%s HTTP/1.1" 200'
                      ' %d www.example.org "%s" "%s"\n' % (
                          address, 7 + day, rest // 3600, rest // 60 % 60, rest % 60, p // 50,
                          p, ending, 1000 + p % 5000, referrer, AGENTS[p % len(AGENTS)]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes a host-name cache for the client addresses of the sample logs.

The sample logs use documentation addresses, which have no reverse names. So
that the bundled run shows host names and top-level domains without asking any
name server, this script gives most addresses a made-up name (a few stay
unresolved) and stamps every entry with today's day number, counted from
30 December 1899 as the analyzer counts it.

Usage: make_host_cache.py LOG... > host.dat  (gzip-compressed logs are read too)
"""
import datetime
import gzip
import ipaddress
import sys

PROVIDERS = [
    ("dsl", "netcable.example", "de"),
    ("pool", "fibrelink.example", "com"),
    ("cust", "skyhost.example", "net"),
    ("dyn", "telenord.example", "nl"),
    ("ppp", "aurora-isp.example", "fr"),
    ("user", "kitenet.example", "jp"),
    ("host", "library.example", "org"),
    ("adsl", "isles-broadband.example", "uk"),
]


def main(paths):
    today = (datetime.date.today() - datetime.date(1899, 12, 30)).days
    addresses = set()
    for path in paths:
        with open(path, "rb") as raw:
            compressed = raw.read(2) == b"\x1f\x8b"
        with (gzip.open if compressed else open)(path, "rb") as log:
            for line in log:
                field = line.split(b" ", 1)[0].decode("ascii", "replace")
                try:
                    addresses.add(ipaddress.IPv4Address(field))
                except ValueError:
                    pass
    out = sys.stdout
    for address in sorted(addresses):
        octets = str(address).split(".")
        number = int(address)
        if number % 11 == 0:
            # An address whose lookup failed: retried after seven days.
            out.write(f"{address}=(not found);{today - 173}\n")
            continue
        kind, provider, tld = PROVIDERS[number % len(PROVIDERS)]
        out.write(f"{address}={kind}-{octets[2]}-{octets[3]}.{provider}.{tld};{today}\n")


if __name__ == "__main__":
    main(sys.argv[1:])

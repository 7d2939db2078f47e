#!/usr/bin/env python3
"""Writes a large set of weekly access logs for the analysis benchmark.

Usage: generate_bench_log.py OUTPUT_DIR [RECORDS] [COMBINED_DIR]
                             [--clients N] [--paths N]

Writes OUTPUT_DIR/access.44 ... access.47 (ISO weeks 44 to 47 of 2026, so the
months run crosses from October into November) holding RECORDS lines in all
(default 1,050,000), drawn from about 50,000 clients and 20,000 paths (or N of
each: at most 130,810 clients, the addresses of the reserved ranges) with a
Zipf-like popularity, a few hundred real-world agents (bots among them),
pages, images, 304 and 404 answers, and internal, external and search
referrers. It also writes OUTPUT_DIR/host.dat, a host-name cache that already
names every client, for runs that must make no reverse lookups.

With COMBINED_DIR, the same records are also written there in the standard
combined format (the eleven-field line without its server-host field), for
the analyzers that read that format.

Client addresses come from reserved ranges only: the three documentation
networks and the benchmarking network 198.18.0.0/15. The seed is fixed, so
every run of the generator writes the same bytes.
"""

import datetime
import itertools
import os
import random
import sys

SEED = 4711
WEEKS = [44, 45, 46, 47]
YEAR = 2026
CLIENTS = 50_000
PATHS = 20_000
# The reserved addresses drawn from: three networks of 254 hosts each, and
# 198.18.0.0/15 without its .0 and .255 hosts.
CLIENT_LIMIT = 3 * 254 + 2 * 256 * 254
SERVER = "www.example.org"
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]

# Agent templates with the version numbers each is seen with.
CHROME = range(118, 132)
AGENTS = [
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/{v}.0.0.0 Safari/537.36", CHROME),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/{v}.0.0.0 Safari/537.36 Edg/{v}.0.2849.68", CHROME),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:{v}.0) Gecko/20100101 Firefox/{v}.0",
     range(115, 133)),
    ("Mozilla/5.0 (X11; Linux x86_64; rv:{v}.0) Gecko/20100101 Firefox/{v}.0", range(115, 133)),
    ("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15"
     " (KHTML, like Gecko) Version/{v}.1 Safari/605.1.15", range(15, 19)),
    ("Mozilla/5.0 (iPhone; CPU iPhone OS {v}_1 like Mac OS X) AppleWebKit/605.1.15"
     " (KHTML, like Gecko) Version/{v}.1 Mobile/15E148 Safari/604.1", range(15, 19)),
    ("Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/{v}.0.6723.102 Mobile Safari/537.36", CHROME),
    ("Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", range(1)),
    ("Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)", range(1)),
    ("curl/8.{v}.0", range(0, 12)),
    ("python-requests/2.{v}.3", range(25, 33)),
    ("Mozilla/5.0 (Linux; Android {v}; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko)"
     " SamsungBrowser/25.0 Chrome/121.0.0.0 Mobile Safari/537.36", range(10, 15)),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/{v}.0.0.0 Safari/537.36 OPR/{v}.0.0.0", range(100, 116)),
    ("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/{v}.0.0.0 Safari/537.36", CHROME),
    ("Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:{v}.0) Gecko/20100101 Firefox/{v}.0",
     range(100, 133)),
    ("Mozilla/5.0 (iPad; CPU OS {v}_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko)"
     " Version/{v}.2 Mobile/15E148 Safari/604.1", range(14, 19)),
    ("Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)", range(1)),
    ("Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)", range(1)),
    ("Mozilla/5.0 (compatible; SemrushBot/7~bl; +http://www.semrush.com/bot.html)", range(1)),
    ("Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.{v};"
     " +https://openai.com/gptbot)", range(0, 3)),
    ("facebookexternalhit/1.{v} (+http://www.facebook.com/externalhit_uatext.php)", range(0, 2)),
    ("Wget/1.{v}.2 (linux-gnu)", range(19, 25)),
    ("Go-http-client/{v}.1", range(1, 3)),
    ("okhttp/4.{v}.0", range(5, 13)),
    ("Java/17.0.{v}", range(1, 13)),
]
SEARCH_ENGINES = ["http://www.google.com/search?q=", "http://www.bing.com/search?q=",
                  "http://search.yahoo.com/search?p=", "http://duckduckgo.com/html/?q="]
WORDS = ["log", "report", "weekly", "traffic", "server", "analysis", "visitors", "caf%C3%A9",
         "statistics", "download", "manual", "install", "widget", "price", "contact"]


def client_addresses(rng, count):
    addresses = set()
    for network in ("192.0.2.", "198.51.100.", "203.0.113."):
        for host in range(1, 255):
            addresses.add(network + str(host))
    while len(addresses) < count:
        addresses.add("198.%d.%d.%d" % (rng.randint(18, 19), rng.randrange(256),
                                         rng.randint(1, 254)))
    result = sorted(addresses)
    rng.shuffle(result)
    return result


def request_paths(rng, count):
    sections = ["docs", "blog", "products", "img", "photos", "css", "js", "downloads", "news"]
    endings = [".html"] * 6 + [".htm", "/", ".gif", ".jpg", ".jpeg", ".png", ".css", ".js",
                               ".pdf", ""]
    paths = set()
    while len(paths) < count:
        depth = rng.randint(1, 3)
        parts = [rng.choice(sections)] + ["p%d" % rng.randrange(400) for _ in range(depth)]
        ending = rng.choice(endings)
        paths.add("/" + "/".join(parts) + ("" if ending == "/" else ending) +
                  ("/" if ending == "/" else ""))
    result = sorted(paths)
    rng.shuffle(result)
    return result


def skewed_weights(count):
    # A Zipf-like popularity: the k-th item is drawn about 1/k^0.9 as often.
    return list(itertools.accumulate(1.0 / (k ** 0.9) for k in range(1, count + 1)))


def referrers(rng, paths):
    result = ["-"] * 40
    result += ["http://%s%s" % (SERVER, p) for p in paths[:300]]
    result += ["https://news.example.com/item?id=%d" % n for n in range(100)]
    result += ["http://blog%d.example.net/links.html" % n for n in range(100)]
    for _ in range(300):
        words = "+".join(rng.sample(WORDS, rng.randint(1, 3)))
        result.append(rng.choice(SEARCH_ENGINES) + words + "&hl=en")
    return result


def main():
    usage = ("usage: generate_bench_log.py OUTPUT_DIR [RECORDS] [COMBINED_DIR]"
             " [--clients N] [--paths N]")
    args = sys.argv[1:]
    counts = {"--clients": CLIENTS, "--paths": PATHS}
    while len(args) >= 2 and args[-2] in counts:
        if not args[-1].isdigit() or int(args[-1]) < 1:
            sys.exit(usage)
        counts[args[-2]] = int(args[-1])
        del args[-2:]
    if len(args) not in (1, 2, 3) or counts["--clients"] > CLIENT_LIMIT:
        sys.exit(usage + "\n(at most %d clients)" % CLIENT_LIMIT)
    folder = args[0]
    records = int(args[1]) if len(args) >= 2 else 1_050_000
    combined = args[2] if len(args) == 3 else None
    os.makedirs(folder, exist_ok=True)
    if combined:
        os.makedirs(combined, exist_ok=True)
    rng = random.Random(SEED)

    clients = client_addresses(rng, counts["--clients"])
    paths = request_paths(rng, counts["--paths"])
    agents = [a.format(v=v) for a, versions in AGENTS for v in versions]
    agents = sorted(set(agents)) + ["Zq7Fetch/0.%d" % n for n in range(20)]
    rng.shuffle(agents)
    refs = referrers(rng, paths)
    statuses = ["200"] * 80 + ["304"] * 10 + ["404"] * 5 + ["301", "302", "403", "500", "206"]
    methods = ["GET"] * 97 + ["HEAD"] * 2 + ["POST"]

    client_weights = skewed_weights(len(clients))
    path_weights = skewed_weights(len(paths))
    agent_weights = skewed_weights(len(agents))
    ref_weights = skewed_weights(len(refs))

    per_week = records // len(WEEKS)
    for number, week in enumerate(WEEKS):
        count = per_week if number + 1 < len(WEEKS) else records - per_week * (len(WEEKS) - 1)
        monday = datetime.datetime.combine(datetime.date.fromisocalendar(YEAR, week, 1),
                                           datetime.time())
        seconds = sorted(rng.randrange(7 * 86400) for _ in range(count))
        who = rng.choices(clients, cum_weights=client_weights, k=count)
        what = rng.choices(paths, cum_weights=path_weights, k=count)
        agent = rng.choices(agents, cum_weights=agent_weights, k=count)
        ref = rng.choices(refs, cum_weights=ref_weights, k=count)
        status = rng.choices(statuses, k=count)
        method = rng.choices(methods, k=count)
        stamps = {}
        lines = []
        for i in range(count):
            second = seconds[i]
            text = stamps.get(second)
            if text is None:
                moment = monday + datetime.timedelta(seconds=second)
                text = "[%02d/%s/%04d:%02d:%02d:%02d +0100]" % (
                    moment.day, MONTHS[moment.month - 1], moment.year,
                    moment.hour, moment.minute, moment.second)
                stamps[second] = text
            size = "-" if status[i] == "304" else str(rng.randrange(50, 250_000))
            lines.append('%s - - %s "%s %s HTTP/1.1" %s %s %s "%s" "%s"\n' % (
                who[i], text, method[i], what[i], status[i], size, SERVER, ref[i], agent[i]))
        with open(os.path.join(folder, "access.%02d" % week), "w", encoding="ascii",
                  newline="\n") as out:
            out.writelines(lines)
        if combined:
            # The server host is the only field the combined format lacks.
            server_field = " %s \"" % SERVER
            with open(os.path.join(combined, "access.%02d" % week), "w", encoding="ascii",
                      newline="\n") as out:
                out.writelines(line.replace(server_field, ' "', 1) for line in lines)
        del lines

    # Every client already named and resolved today: the run looks nothing up.
    today = (datetime.date.today() - datetime.date(1899, 12, 30)).days
    def numeric(address):
        return tuple(int(part) for part in address.split("."))
    with open(os.path.join(folder, "host.dat"), "w", encoding="ascii", newline="\n") as out:
        for address in sorted(clients, key=numeric):
            name = "client-%s.bench.example" % address.replace(".", "-")
            out.write("%s=%s;%d\n" % (address, name, today))


if __name__ == "__main__":
    main()

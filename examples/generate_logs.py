#!/usr/bin/env python3
"""Writes the sample access logs of the bundled example into examples/logs.

Seven weekly files hold the ISO weeks 44 to 50 of 2026 (26 October to
13 December), so the months run sees October end and November begin inside
the first file. access.44 to access.48 have the eleven fields the analyzer
reads first: client, identity, user, time stamp and zone, request line,
status, size, server host, referrer and agent. The last two weeks are written
as web servers write them today:
- access.49 in the combined format (the eleven fields without the server
  host), some lines in the common format (without referrer and agent too),
  with a few IPv6 clients and agents and requests holding quotes escaped by a
  backslash;
- access.50.gz in the combined format, gzip-compressed in two members, as
  rotated logs are (the weeks run names a compressed file's week as if the
  ".gz" were not there).
The generator uses a fixed seed, so running it again reproduces the files
byte for byte (the compressed one for the same zlib).

Client addresses come from the documentation ranges only (192.0.2.0/24,
198.51.100.0/24, 203.0.113.0/24, 2001:db8::/32): their reverse lookups fail
quickly and reveal nothing.
"""

import datetime
import gzip
import os
import random

SEED = 20261126
YEAR = 2026
WEEKS = range(44, 49)
COMBINED_WEEK = 49
COMPRESSED_WEEK = 50
SESSIONS_PER_WEEK = 55
SERVER = "www.example.org"
ZONE = "+0100"
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]

PAGES = [
    ("/", 7400), ("/index.html", 7400), ("/about.html", 5200),
    ("/docs/", 9100), ("/docs/install.html", 12800),
    ("/docs/guide/configuration.html", 18300), ("/docs/guide/reports.html", 15100),
    ("/blog/", 6600), ("/blog/2026/10/release-0.8.html", 11200),
    ("/blog/2026/11/reading-logs.html", 9900), ("/news.htm", 4300),
    ("/contact.html", 3100), ("/cgi-bin/search", 2500),
    ("/products/widget.html?color=red", 8800), ("/Downloads/INDEX.HTML", 5400),
]
GIFS = [("/img/logo.gif", 3100), ("/img/spacer.gif", 43), ("/img/icons/arrow.gif", 210)]
JPEGS = [("/photos/team.jpg", 84000), ("/photos/office.jpeg", 122000),
         ("/photos/Harbour.JPG", 230000)]
OTHER_FILES = [
    ("/css/site.css", 6400), ("/js/app.js", 21000), ("/favicon.ico", 1150),
    ("/img/banner.png", 45000), ("/docs/manual.pdf", 640000),
    ("/downloads/tool-0.8.tar.gz", 2400000), ("/robots.txt", 120),
]
MISSING = ["/old/page.html", "/wp-login.php", "/img/missing.gif", "/.env",
           "/docs/instal.html", "/blog/feed/"]

EXTERNAL_REFERRERS = [
    "https://news.ycombinator.com/",
    "https://github.com/example/tools",
    "http://blog.example.net/2026/11/links.html",
    "https://www.reddit.com/r/sysadmin/comments/abc123/log_analysis/",
    "http://forum.example.com/viewtopic.php?t=4711",
    "https://mastodon.example/@someone/113456789",
]
SEARCH_REFERRERS = [
    "http://www.google.com/search?q=access+log+analyzer&hl=en",
    "http://www.google.de/search?hl=de&q=logfile+auswerten",
    "http://www.google.com/search?as_q=web+statistics&num=20",
    "http://www.bing.com/search?q=web%20server%20statistics&form=QBLH",
    "http://search.yahoo.com/search?p=log+analysis+tool&fr=yfp",
    "http://duckduckgo.com/html/?q=apache%2Blog%2Breport",
    "http://www.ecosia.org/search?method=index&q=weekly+traffic+report",
    "http://suche.web.de/web?su=statistik%2541&origin=HP",
    "http://search.example.com/find?query=caf%C3%A9+visitors&page=2",
    "http://www.google.fr/search?q=statistiques+%e9t%E9&ie=UTF-8",
    "http://www.search.ch/?q=",
    "http://www.qwant.com/?client=brz&keywords=referrer+list",
]

AGENTS = [
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/130.0.0.0 Safari/537.36", 30),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/130.0.0.0 Safari/537.36 Edg/130.0.2849.68", 10),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/129.0.0.0 Safari/537.36 OPR/115.0.0.0", 3),
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:132.0) Gecko/20100101 Firefox/132.0", 9),
    ("Mozilla/5.0 (X11; Linux x86_64; rv:132.0) Gecko/20100101 Firefox/132.0", 6),
    ("Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:131.0) Gecko/20100101 Firefox/131.0", 3),
    ("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15"
     " (KHTML, like Gecko) Version/18.1 Safari/605.1.15", 8),
    ("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36"
     " (KHTML, like Gecko) Chrome/130.0.0.0 Safari/537.36", 5),
    ("Mozilla/5.0 (iPhone; CPU iPhone OS 18_1 like Mac OS X) AppleWebKit/605.1.15"
     " (KHTML, like Gecko) Version/18.1 Mobile/15E148 Safari/604.1", 9),
    ("Mozilla/5.0 (iPad; CPU OS 17_6 like Mac OS X) AppleWebKit/605.1.15"
     " (KHTML, like Gecko) Version/17.6 Mobile/15E148 Safari/604.1", 2),
    ("Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/130.0.6723.102 Mobile Safari/537.36", 8),
    ("Mozilla/5.0 (Linux; Android 14; SM-S921B) AppleWebKit/537.36 (KHTML, like Gecko)"
     " SamsungBrowser/26.0 Chrome/122.0.0.0 Mobile Safari/537.36", 3),
    ("Mozilla/5.0 (X11; CrOS x86_64 14541.0.0) AppleWebKit/537.36 (KHTML, like Gecko)"
     " Chrome/130.0.0.0 Safari/537.36", 1),
]
BOTS = [
    ("Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "192.0.2.66"),
    ("Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)", "198.51.100.77"),
    ("Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)", "203.0.113.88"),
    ("Mozilla/5.0 AppleWebKit/537.36 (KHTML, like Gecko; compatible; GPTBot/1.2;"
     " +https://openai.com/gptbot)", "203.0.113.89"),
]
TOOLS = ["curl/8.5.0", "Wget/1.21.4", "python-requests/2.32.3", "Go-http-client/1.1"]
UNKNOWN_AGENT = "Zq7Fetch/0.3 [frobnicated]"

NETWORKS = ["192.0.2.", "198.51.100.", "203.0.113."]
IPV6_CLIENTS = ["2001:db8:4e::17", "2001:db8:c0de:1::2a", "::ffff:192.0.2.200"]
# Written as servers write them: a quote inside a quoted field as \".
QUOTING_AGENT = 'Mozilla/5.0 (compatible; \\"QuoteCrawler\\"/0.9; +http://crawler.example/)'
QUOTED_PROBES = ['/search?q=\\"sorvik\\"', '/cgi-bin/search?q=\\"a\\\\b\\"']


def pick_weighted(rng, pairs):
    total = sum(weight for _, weight in pairs)
    roll = rng.uniform(0, total)
    for value, weight in pairs:
        roll -= weight
        if roll <= 0:
            return value
    return pairs[-1][0]


def stamp(moment):
    return "[%02d/%s/%04d:%02d:%02d:%02d %s]" % (
        moment.day, MONTHS[moment.month - 1], moment.year,
        moment.hour, moment.minute, moment.second, ZONE)


def line(client, moment, method, path, status, size, referrer, agent, user="-"):
    """The fields of one request; the week's writer chooses the format."""
    request = "%s %s HTTP/1.1" % (method, path)
    return (client, user, stamp(moment), request, status, size, referrer, agent)


def eleven_fields(fields):
    client, user, time, request, status, size, referrer, agent = fields
    return '%s - %s %s "%s" %s %s %s "%s" "%s"\n' % (
        client, user, time, request, status, size, SERVER, referrer, agent)


def combined(fields):
    client, user, time, request, status, size, referrer, agent = fields
    return '%s - %s %s "%s" %s %s "%s" "%s"\n' % (
        client, user, time, request, status, size, referrer, agent)


def common(fields):
    client, user, time, request, status, size, _, _ = fields
    return '%s - %s %s "%s" %s %s\n' % (client, user, time, request, status, size)


def vary_size(rng, size):
    return max(1, int(size * rng.uniform(0.97, 1.03)))


def day_moment(rng, monday, day):
    # Most visits by day, few at night.
    hour = pick_weighted(rng, [(h, 1 if h < 7 else (6 if 9 <= h <= 17 else 3)) for h in range(24)])
    return datetime.datetime.combine(monday + datetime.timedelta(days=day),
                                     datetime.time(hour, rng.randrange(60), rng.randrange(60)))


class Visitor:
    def __init__(self, rng, number):
        network = NETWORKS[number % len(NETWORKS)]
        self.client = network + str(rng.randrange(1, 255))
        self.agent = pick_weighted(rng, AGENTS)


def session_lines(rng, visitor, start):
    """One visit: a page, its images and style files, and further pages."""
    lines = []
    moment = start
    referrer = rng.choice(["-"] * 4 + EXTERNAL_REFERRERS + SEARCH_REFERRERS * 2)
    for page_number in range(rng.randint(1, 5)):
        path, size = rng.choice(PAGES)
        status, shown = "200", str(vary_size(rng, size))
        if path == "/cgi-bin/search" and rng.random() < 0.15:
            status, shown = "500", "612"
        if rng.random() < 0.06:
            path, status, shown = rng.choice(MISSING), "404", "1024"
        if path == "/docs/" and rng.random() < 0.3:
            lines.append((moment, line(visitor.client, moment, "GET", "/docs", "301", "234",
                                       referrer, visitor.agent)))
            moment += datetime.timedelta(seconds=1)
        method = "HEAD" if rng.random() < 0.02 else "GET"
        lines.append((moment, line(visitor.client, moment, method, path, status, shown,
                                   referrer, visitor.agent)))
        page_address = "http://" + SERVER + (path if not path.endswith("/") else path)
        for asset, asset_size in rng.sample(GIFS + JPEGS + OTHER_FILES[:3], rng.randint(0, 4)):
            moment += datetime.timedelta(seconds=rng.randint(0, 2))
            if rng.random() < 0.25:
                status_text, size_text = "304", "-"
            else:
                status_text, size_text = "200", str(vary_size(rng, asset_size))
            lines.append((moment, line(visitor.client, moment, "GET", asset, status_text,
                                       size_text, page_address, visitor.agent)))
        moment += datetime.timedelta(seconds=rng.randint(15, 400))
        referrer = page_address
        if page_number == 0 and rng.random() < 0.02:
            lines.append((moment, line(visitor.client, moment, "POST", "/cgi-bin/form", "200",
                                       "431", referrer, visitor.agent)))
    return lines


def week_lines(rng, week, regulars):
    monday = datetime.date.fromisocalendar(YEAR, week, 1)
    lines = []
    for number in range(SESSIONS_PER_WEEK):
        visitor = rng.choice(regulars) if rng.random() < 0.35 else Visitor(rng, number)
        start = day_moment(rng, monday, rng.randrange(7))
        lines += session_lines(rng, visitor, start)
        if rng.random() < 0.25:
            # The same client comes back later the same day: a second visit.
            later = start + datetime.timedelta(minutes=rng.randint(45, 300))
            if later.date() == start.date():
                lines += session_lines(rng, visitor, later)
    for agent, client in BOTS:
        for _ in range(rng.randint(6, 14)):
            moment = day_moment(rng, monday, rng.randrange(7))
            path = rng.choice([p for p, _ in PAGES] + ["/robots.txt", "/sitemap.xml"])
            status = "404" if path == "/sitemap.xml" else "200"
            lines.append((moment, line(client, moment, "GET", path, status,
                                       str(rng.randint(120, 16000)), "-", agent)))
    for agent in TOOLS:
        moment = day_moment(rng, monday, rng.randrange(7))
        client = NETWORKS[rng.randrange(3)] + str(rng.randrange(1, 255))
        lines.append((moment, line(client, moment, "GET", "/downloads/tool-0.8.tar.gz", "200",
                                   "2400000", "-", agent)))
    extras = [
        ("/private/", "403", "199", "alice"),
        ("/docs/manual.pdf", "206", "65536", "-"),
        ("/cgi-bin/legacy", "599", "0", "-"),
    ]
    for path, status, size, user in extras:
        moment = day_moment(rng, monday, rng.randrange(7))
        client = rng.choice(regulars).client
        lines.append((moment, line(client, moment, "GET", path, status, size, "-",
                                   AGENTS[0][0], user)))
    moment = day_moment(rng, monday, rng.randrange(7))
    lines.append((moment, line("203.0.113.250", moment, "GET", "/index.html", "200", "7400",
                               "-", UNKNOWN_AGENT)))
    lines.sort(key=lambda item: item[0])
    return [fields for _, fields in lines]


def standard_week_lines(rng, week, regulars):
    """A week as today's servers write it: combined lines with some IPv6
    clients and escaped quotes; the downloads by tools in the common format."""
    monday = datetime.date.fromisocalendar(YEAR, week, 1)
    records = week_lines(rng, week, regulars)
    for client in IPV6_CLIENTS:
        visitor = Visitor(rng, 0)
        visitor.client = client
        for _ in range(rng.randint(2, 4)):
            start = day_moment(rng, monday, rng.randrange(7))
            records += [fields for _, fields in session_lines(rng, visitor, start)]
    for path in QUOTED_PROBES:
        moment = day_moment(rng, monday, rng.randrange(7))
        records.append(line("203.0.113.251", moment, "GET", path, "200", "2500", "-",
                            QUOTING_AGENT))
    records.sort(key=time_of)
    return [common(fields) if fields[7] in TOOLS else combined(fields) for fields in records]


def time_of(fields):
    return datetime.datetime.strptime(fields[2][1:21], "%d/%b/%Y:%H:%M:%S")


def main():
    rng = random.Random(SEED)
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "logs")
    os.makedirs(folder, exist_ok=True)
    regulars = [Visitor(rng, number) for number in range(24)]
    for week in WEEKS:
        path = os.path.join(folder, "access.%02d" % week)
        with open(path, "w", encoding="ascii", newline="\n") as out:
            out.writelines(eleven_fields(fields) for fields in week_lines(rng, week, regulars))
    with open(os.path.join(folder, "access.%02d" % COMBINED_WEEK), "w", encoding="ascii",
              newline="\n") as out:
        out.writelines(standard_week_lines(rng, COMBINED_WEEK, regulars))
    text = "".join(combined(fields)
                   for fields in week_lines(rng, COMPRESSED_WEEK, regulars)).encode("ascii")
    half = text.index(b"\n", len(text) // 2) + 1
    with open(os.path.join(folder, "access.%02d.gz" % COMPRESSED_WEEK), "wb") as out:
        # Two members, as a log compressed in two goes: mtime 0 keeps the
        # bytes reproducible.
        out.write(gzip.compress(text[:half], mtime=0) + gzip.compress(text[half:], mtime=0))


if __name__ == "__main__":
    main()

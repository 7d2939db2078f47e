#!/usr/bin/env python3
"""Runs the analyzer over log folders that an attacker helped write and checks
what a run may and may not do with them.

  hostile_logs.py <sorvik binary> <source dir>

The main folder mixes well-formed records with binary garbage, runs of byte
0, 100 KB lines, lines of 10 and 12 tokens, unbalanced and escaped quotes,
markup and "javascript:" in every field, odd years, huge and negative sizes
and every status from 000 to 999; a prepared host-name file gives some clients
names full of markup. Four more folders each hold a record that stops a run:
a size beyond 64 bits or one of markup (status 5), and the year text "/../"
or a time stamp of markup (status 4).

For every run: the exit status is the expected one, nothing is written to
standard error (a sanitizer report), no file is created, changed or removed
outside the report folders and the configured state files, no temporary file
is left behind, and every HTML page holds only the analyzer's own tags,
attributes and links. For the main folder also: every well-formed record is
counted (the week's total in the result file and its path in the text report),
and a second run over the same folder ends normally too.
"""

import datetime
import hashlib
import html.parser
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

SCRIPT = "<script>alert(1)</script>"
JS = "javascript:alert(document.cookie)"
AGENT = "Mozilla/5.0 (X11; Linux x86_64) Firefox/130.0"
RUN_TIMEOUT = 120  # seconds; far beyond a normal run, so only a hang reaches it

# The analyzer's own markup: every tag and attribute its pages may hold.
TAGS = {"html", "head", "title", "meta", "body", "a", "h1", "h2", "h3", "br", "table", "tr",
        "td", "th", "ul", "li"}
ATTRIBUTES = {"name", "content", "href", "target", "bgcolor", "border", "align", "valign",
              "rowspan"}


# ---------------------------------------------------------------- token counts

def tokens(line, escapes):
    """The tokens the reader cuts from one line (without its line feed):
    blanks separate tokens outside double quotes, a quote toggles quoting and
    is not kept, byte 0s are dropped, a final carriage return and blanks at
    the end make nothing. With `escapes`, a backslash inside quotes keeps the
    following quote or backslash in the token."""
    line = line.replace(b"\0", b"")
    if line.endswith(b"\r"):
        line = line[:-1]
    found, pending, current = [], 0, None
    quoted = False
    i = 0
    while i < len(line):
        c = line[i:i + 1]
        if quoted:
            if escapes and c == b"\\" and line[i + 1:i + 2] in (b'"', b"\\"):
                current += line[i + 1:i + 2]
                i += 2
                continue
            if c == b'"':
                quoted = False
            else:
                current += c
        elif c == b" ":
            if current is not None:
                found.append(bytes(current))
                current = None
            else:
                pending += 1
        else:
            if current is None:
                found += [b""] * pending
                pending, current = 0, bytearray()
            if c == b'"':
                quoted = True
            else:
                current += c
        i += 1
    return found + ([bytes(current)] if current is not None else [])


def token_count(line, escapes):
    return len(tokens(line, escapes))


def convertible(fields):
    """True when a record's time stamp and size convert, so that taking the
    line as a record cannot stop the run."""
    time = fields[3].decode("latin-1")
    size = fields[7].decode("latin-1")
    return (re.match(r"^\[\d\d/[A-Z][a-z][a-z]/\d{4}:\d\d:\d\d:\d\d", time) is not None
            and (size == "-" or re.match(r"^[+-]?\d{1,18}$", size) is not None))


# Token counts that are, or may become, a record: the eleven-field format,
# the standard combined format and the common format (with and without the
# zone counted as a token of its own).
RECORD_COUNTS = {7, 8, 10, 11}


# ---------------------------------------------------------------- log folders

def stamp(day, hour, minute, second, month="Mar", year="2026"):
    return "[%02d/%s/%s:%02d:%02d:%02d" % (day, month, year, hour, minute, second)


def record(client, time, zone, request, status, size, server, referrer, agent):
    """One line in the eleven-field format, as bytes; texts are UTF-8."""
    fields = [client, "-", "-", time, zone, '"%s"' % request, status, size, server,
              '"%s"' % referrer, '"%s"' % agent]
    return " ".join(fields).encode("utf-8", "surrogateescape") + b"\n"


class Log:
    """The lines of one log file, each with what the checks expect of it."""

    def __init__(self):
        self.lines = []
        self.sure = 0        # records under any reading of the line formats
        self.maybe = 0       # lines that some reading takes as records
        self.paths = []      # a unique path prefix of each sure record that has one

    def sure_record(self, line, path_prefix=None):
        for escapes in (False, True):
            assert token_count(line[:-1], escapes) == 11, line[:200]
        self.lines.append(line)
        self.sure += 1
        if path_prefix is not None:
            self.paths.append(path_prefix)

    def maybe_record(self, line):
        for escapes in (False, True):
            fields = tokens(line[:-1], escapes)
            assert len(fields) not in RECORD_COUNTS or (len(fields) != 7 and convertible(fields))
        self.lines.append(line)
        self.maybe += 1

    def never_record(self, line):
        for escapes in (False, True):
            assert token_count(line.rstrip(b"\n"), escapes) not in RECORD_COUNTS, line[:200]
        self.lines.append(line)

    def write(self, path, final_line_feed=True):
        data = b"".join(self.lines)
        path.write_bytes(data if final_line_feed else data[:-1])


def main_week(day, rng, first_id):
    """One week of hostile lines; the paths of sure records are /ok/NNNNN."""
    log = Log()
    ids = iter(range(first_id, first_id + 100000))

    def ok_path(suffix=""):
        return "/ok/%05d" % next(ids) + suffix

    def good(request_path, status="200", size="1234", **fields):
        prefix = request_path[:9]
        values = dict(client="192.0.2.%d" % rng.randint(1, 254),
                      time=stamp(day + rng.randint(0, 4), rng.randint(0, 23),
                                 rng.randint(0, 59), rng.randint(0, 59)),
                      zone="+0100]", request="GET %s HTTP/1.1" % request_path, status=status,
                      size=size, server="www.example.org", referrer="-", agent=AGENT)
        values.update(fields)
        log.sure_record(record(**values), prefix)

    good(ok_path(".html"))
    # Every status code, each on a page of its own.
    for code in range(1000):
        good(ok_path(".html"), status="%03d" % code)
    # Status texts that are no code at all.
    for text in ("2OO", "-200", "99999", '""', SCRIPT, "../../etc/passwd", "%00"):
        good(ok_path(".html"), status=text)

    # Markup and script in every field; the time stamp's text after the
    # seconds and the zone are not read.
    good(ok_path(SCRIPT + ".html"), client=SCRIPT, zone=SCRIPT + "+0100]",
         time=stamp(day, 12, 0, 0) + SCRIPT, status=SCRIPT, server=SCRIPT,
         referrer="http://www.example.org/" + SCRIPT, agent=SCRIPT + " " + AGENT)
    good(ok_path("/" + JS), client=JS, server=JS, referrer=JS, agent=JS)
    good(ok_path("?q=<img src=x onerror=alert(1)>"), client="<img/src=x/onerror=alert(1)>",
         referrer="http://search.example/?q=%3Cscript%3Ealert(1)%3C%2Fscript%3E",
         agent="<svg/onload=alert(1)>")
    for field in ("-", "<b>", SCRIPT, JS, "'onmouseover='alert(1)'", "&amp;&lt;script&gt;"):
        values = dict(client="198.51.100.7", time=stamp(day, 13, 0, 0), zone=field + "]",
                      request="GET %s HTTP/1.1" % ok_path(".html"), status="200", size="1",
                      server=field, referrer=field, agent=field)
        line = record(**values).replace(b" - - ", (" %s %s " % (field, field)).encode(), 1)
        log.sure_record(line, values["request"].split()[1][:9])
    # Requests with unknown methods, an empty request and a bare method.
    for request in ("POST " + ok_path(SCRIPT), "<script> /x HTTP/1.1", "", "GET", JS):
        values = dict(client="203.0.113.9", time=stamp(day, 14, 0, 0), zone="+0100]",
                      request=request, status="200", size="10", server="www.example.org",
                      referrer="-", agent=AGENT)
        log.sure_record(record(**values))

    # Path traversal and file-name texts in every field.
    for text in ("/../", "../../../../tmp/x", "..\\..\\x", "/etc/passwd", "..", "%2e%2e%2f"):
        good(ok_path(text), client=text, server=text, referrer="http://" + text, agent=text)

    # Sizes: negative, at the 64-bit limits, signed, zero-padded and absent.
    for size in ("-5000", "-1", "9223372036854775807", "-9223372036854775808", "+12",
                 "0" * 200 + "7", "-", "2147483648", "-2147483649"):
        good(ok_path(".gif"), size=size)

    # Odd but convertible time stamps: years 0000 and 9999, day 00 and 39,
    # hour 99, minute 99, and the month letters that are decided by one byte.
    for time in (stamp(day, 1, 2, 3, year="0000"), stamp(day, 1, 2, 3, year="9999"),
                 stamp(0, 1, 2, 3), stamp(39, 99, 99, 99), stamp(day, 0, 0, 0, month="Nxx"),
                 stamp(day, 0, 0, 0, month="Axx")):
        good(ok_path(".html"), time=time)

    # Control bytes, tabs, carriage returns and invalid UTF-8 inside fields.
    controls = "".join(chr(c) for c in range(1, 32) if c not in (10, 13))
    good(ok_path("/\udcff\udcfe\udc80" + controls), agent="\udcc3(\r\t" + controls,
         referrer="http://x/\udcff\r")
    good(ok_path("/r\u00e9sum\u00e9.html"), agent="\u202e\u0000".replace("\u0000", "x") * 40)

    # 100 KB fields: texts are cut at 255 bytes, and the line is one record.
    good(ok_path("/" + "p" * 100000), agent=("a <b> " * 17000)[:100000],
         referrer="http://" + "r" * 100000)
    good(ok_path(".html"), agent=SCRIPT * 3000)

    # Lines of the standard combined format: ten tokens, records for a reader
    # that knows that format.
    for _ in range(20):
        line = record("192.0.2.44", stamp(day, 9, 0, 0), "+0100]",
                      "GET /ten/%05d.html HTTP/1.1" % next(ids), "200", "100", "DROP",
                      "http://www.example.org/", AGENT).replace(b" DROP ", b" ", 1)
        assert token_count(line[:-1], False) == 10
        log.maybe_record(line)

    # Twelve tokens: never a record.
    for _ in range(20):
        line = record("192.0.2.45", stamp(day, 9, 0, 0), "+0100]",
                      "GET /twelve/%05d.html HTTP/1.1" % next(ids), "200", "100",
                      "www.example.org", "-", AGENT).replace(b"\n", b" extra\n")
        log.never_record(line)

    # Escaped quotes: pairs inside one token keep eleven tokens either way.
    good(ok_path('\\"' + SCRIPT + '\\".html'), agent='\\"><script>alert(1)</script>\\"',
         referrer='http://www.example.org/\\"onmouseover=\\"alert(1)')
    # An escaped backslash before the closing quote, and escaped quotes with
    # blanks between them: each reading cuts these differently.
    for line in (b'192.0.2.46 - - ' + stamp(day, 8, 0, 0).encode() +
                 b' +0100] "GET /esc/1.html HTTP/1.1" 200 5 www.example.org "a\\\\" "b"\n',
                 b'192.0.2.46 - - ' + stamp(day, 8, 0, 0).encode() +
                 b' +0100] "GET /esc/2.html HTTP/1.1" 200 5 www.example.org "-" "x \\" y \\" z"\n',
                 b'192.0.2.46 - - ' + stamp(day, 8, 0, 0).encode() +
                 b' +0100] "GET /esc/3\\" 200 5 www.example.org "-" "' + SCRIPT.encode() + b'"\n'):
        counts = {token_count(line[:-1], e) for e in (False, True)}
        if counts == {11}:
            log.sure_record(line)
        else:
            log.maybe_record(line)

    # Unbalanced quotes: an open quote runs to the line's end.
    for line in (b'192.0.2.47 - - ' + stamp(day, 8, 0, 0).encode() +
                 b' +0100] "GET /open.html HTTP/1.1 200 5 www.example.org "-" "agent\n',
                 b'"' + b"x " * 30 + b"\n",
                 b'a"b"c"d e f g h i j k l m n o p q r s t u v w "\n',
                 b'""""""""""""""""""""""""\n'):
        log.never_record(line)

    # Byte 0s: runs of them alone, and inside an otherwise good line.
    log.never_record(b"\0" * 5000 + b"\n")
    log.never_record(b"\0 " * 2000 + b"\n")
    nul_line = record("192.0.2.48", stamp(day, 8, 0, 0), "+0100]", "GET /nul/1.html HTTP/1.1",
                      "200", "5", "www.example.org", "-", AGENT)
    log.maybe_record(nul_line[:20] + b"\0" * 3000 + nul_line[20:])

    # Binary garbage: lines of one token (no blank, quote or backslash), lines
    # of many tokens, and 100 KB lines.
    plain = bytes(b for b in range(1, 256) if b not in (10, 32, 34, 92))
    for _ in range(30):
        log.never_record(bytes(rng.choice(plain) for _ in range(rng.randint(1, 400))) + b"\n")
    for _ in range(10):
        words = [bytes(rng.choice(plain) for _ in range(rng.randint(1, 9))) for _ in range(40)]
        log.never_record(b" ".join(words) + b"\n")
    log.never_record(bytes(rng.choice(plain) for _ in range(100000)) + b"\n")
    log.never_record(b" " * 100000 + b"\n")
    log.never_record(b'"' + b"q " * 50000 + b'"\n')
    log.never_record(b"\n" * 50)
    log.never_record(b"\r\n" * 5)

    # Sure records between the garbage, so that nothing after it is lost.
    for _ in range(50):
        good(ok_path(".html"))
    # The week ends on an ordinary record (the period is named by its year).
    good(ok_path(".html"), time=stamp(day + 5, 23, 0, 0))
    middle = log.lines[1:-1]
    rng.shuffle(middle)
    log.lines[1:-1] = middle
    return log


def write_config(run, extra=""):
    (run / "sorvik.conf").write_text(
        "logfiles=logs/access.*\ntargetdir=out/reports\nhtmldir=out/html\n"
        "Lang_file=english.lng\nBrowser=lists/browsers.lst\nOpSys=lists/opsys.lst\n"
        "Results=state/results.txt\nHost_file=state/host.dat\nErrlogfile=state/errlog.txt\n"
        "Host_Url=www.example.org\nAnalyse_Years=yes\n" + extra)


def prepare_run(run, examples):
    for sub in ("logs", "out/reports", "out/html", "state", "lists"):
        (run / sub).mkdir(parents=True, exist_ok=True)
    shutil.copy(examples / "english.lng", run / "english.lng")
    shutil.copy(examples / "browsers.lst", run / "lists" / "browsers.lst")
    shutil.copy(examples / "opsys.lst", run / "lists" / "opsys.lst")
    write_config(run)


def parse_address(text):
    """The address the analyzer reads from a client text, or None: four parts
    separated by ".", each part's bytes folded as value * 10 + byte - 48
    modulo 256."""
    value, position = 0, 0
    for _ in range(4):
        if position >= len(text):
            return None
        octet = 0
        while position < len(text) and text[position] != ord("."):
            octet = (octet * 10 + text[position] - 48) & 0xFF
            position += 1
        position += 1
        value = value << 8 | octet
    return "%d.%d.%d.%d" % (value >> 24, value >> 16 & 255, value >> 8 & 255, value & 255)


def write_host_file(path, logs):
    """A host-name file that names every client address of `logs`, so that
    the run looks up nothing, with names that carry markup; stamped today, so
    that they are used as they stand."""
    today = (datetime.date.today() - datetime.date(1899, 12, 30)).days
    names = [SCRIPT + ".example", "<img src onerror>", JS, "a&b<i>.example.de", "'\"><svg/x>"]
    addresses = set()
    for log in logs:
        for line in log.lines:
            for escapes in (False, True):
                fields = tokens(line.rstrip(b"\n"), escapes)
                if fields and parse_address(fields[0]):
                    addresses.add(parse_address(fields[0]))
    path.write_text("".join("%s=%s;%d\n" % (a, names[i % len(names)], today)
                            for i, a in enumerate(sorted(addresses))))


# ---------------------------------------------------------------- checks

def snapshot(root):
    """Every path below root with its kind and a digest of its content."""
    files = {}
    for folder, dirs, names in os.walk(root):
        for name in dirs + names:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, root)
            if os.path.islink(path) or not os.path.isfile(path):
                files[relative] = "dir" if os.path.isdir(path) else "other"
            else:
                with open(path, "rb") as f:
                    files[relative] = hashlib.sha256(f.read()).hexdigest()
    return files


def changed_paths(before, after):
    return sorted(p for p in set(before) | set(after) if before.get(p) != after.get(p))


class Markup(html.parser.HTMLParser):
    """Collects every tag, attribute, comment and declaration of a page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.problems = []

    def handle_starttag(self, tag, attrs):
        if tag not in TAGS:
            self.problems.append("tag <%s>" % tag)
        for name, value in attrs:
            if name not in ATTRIBUTES:
                self.problems.append("attribute %s=%r in <%s>" % (name, value, tag))
            if name == "href" and value is not None:
                link = value.strip().lower()
                # Links between pages, anchors, and referrers shown as links.
                if ":" in link.split("/")[0] and not link.startswith(("http://", "https://")):
                    self.problems.append("link %r" % value)

    handle_startendtag = handle_starttag

    def handle_comment(self, data):
        self.problems.append("comment %r" % data[:60])

    def handle_decl(self, decl):
        self.problems.append("declaration %r" % decl[:60])

    def handle_pi(self, data):
        self.problems.append("processing instruction %r" % data[:60])

    def unknown_decl(self, data):
        self.problems.append("declaration %r" % data[:60])


def check_pages(html_dir):
    failures = []
    pages = sorted(html_dir.glob("*.html"))
    for page in pages:
        parser = Markup()
        parser.feed(page.read_bytes().decode("latin-1"))
        parser.close()
        failures += ["%s: %s" % (page.name, problem) for problem in parser.problems[:5]]
    return pages, failures


def run_sorvik(binary, run, expected_status):
    """Runs the analyzer in `run`; returns a list of failures."""
    start = time.monotonic()
    try:
        result = subprocess.run([binary, "sorvik.conf"], cwd=run, input=b"J\n",
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        return ["%s: the run did not end within %d s" % (run.name, RUN_TIMEOUT)]
    print("%s: status %d after %.1f s" % (run.name, result.returncode, time.monotonic() - start))
    console = result.stdout.decode("latin-1")
    failures = []
    if result.returncode != expected_status:
        failures.append("%s: status %d, expected %d; console ends:\n%s"
                        % (run.name, result.returncode, expected_status, console[-1500:]))
    if result.stderr:
        failures.append("%s: standard error is not empty:\n%s"
                        % (run.name, result.stderr.decode("latin-1")[:3000]))
    return failures


def allowed_change(run_path, path, finished):
    """True for what a run may write: its report folders and its state files;
    the result file and the host-name file only when the run finished."""
    inside = os.path.relpath(path, run_path)
    if inside.startswith(".."):
        return False
    if inside.startswith(("out" + os.sep + "reports" + os.sep, "out" + os.sep + "html" + os.sep)):
        return True
    state = {"state/errlog.txt", "state/results.txt.lock", "lists/browsers.lst.unknown",
             "lists/opsys.lst.unknown"}
    if finished:
        state |= {"state/results.txt", "state/host.dat", "state/host.dat~"}
    return inside.replace(os.sep, "/") in state


def check_run(binary, root, run, expected_status):
    before = snapshot(root)
    failures = run_sorvik(binary, run, expected_status)
    after = snapshot(root)
    finished = expected_status == 0
    for path in changed_paths(before, after):
        if path not in after:
            failures.append("%s was removed" % path)
        elif not allowed_change(os.path.relpath(run, root), path, finished):
            failures.append("%s was written (not a report or state file of the run)" % path)
        elif re.search(r"\.tmp\d*(\.[A-Za-z0-9]{6})?$", path):
            failures.append("%s: a temporary file was left behind" % path)
    pages, page_failures = check_pages(run / "out" / "html")
    failures += page_failures
    return pages, failures


def week_totals(results_text):
    """Week number -> the 'files' figure of its result line."""
    totals = {}
    section = None
    for line in results_text.splitlines():
        if line.startswith("{"):
            section = line
            continue
        match = re.match(r"^\d{4}w(\d\d): (?:in)?complete, files=(\d+),", line)
        if section == "{ Weeks }" and match:
            totals[match.group(1)] = int(match.group(2))
    return totals


def files_section(report):
    """The 'Files sorted by hits' section of a text report."""
    match = re.search(r"\n\d+ Files sorted by hits\n(.*?)\n---\n", report, re.S)
    return match.group(1) if match else ""


def main(argv):
    binary = os.path.realpath(argv[1])
    examples = pathlib.Path(argv[2]) / "examples"
    rng = random.Random(20260307)
    failures = []
    root = pathlib.Path(tempfile.mkdtemp(prefix="sorvik-hostile-"))
    try:
        # Two folder levels above the runs are watched too.
        base = root / "above" / "runs"
        # The main folder: two weeks of March 2026; the second file's last
        # line has no line feed.
        main_run = base / "main"
        prepare_run(main_run, examples)
        weeks = {"10": main_week(2, rng, 0), "11": main_week(9, rng, 50000)}
        weeks["10"].write(main_run / "logs" / "access.10")
        weeks["11"].write(main_run / "logs" / "access.11", final_line_feed=False)
        write_host_file(main_run / "state" / "host.dat", weeks.values())

        # The second run reads back the result file of the first and analyses
        # the open week again.
        for attempt in (1, 2):
            pages, run_failures = check_run(binary, root, main_run, 0)
            failures += ["main run %d: %s" % (attempt, f) for f in run_failures]
            if not pages:
                failures.append("main run %d: no HTML page was written" % attempt)
            totals = week_totals((main_run / "state" / "results.txt").read_text("latin-1"))
            for week, log in weeks.items():
                counted = totals.get(week)
                print("main run %d, week %s: %s records counted; well-formed %d, maybe %d"
                      % (attempt, week, counted, log.sure, log.maybe))
                if counted is None or not log.sure <= counted <= log.sure + log.maybe:
                    failures.append("main run %d: week %s counted %s records, expected %d to %d"
                                    % (attempt, week, counted, log.sure, log.sure + log.maybe))
                reports = list((main_run / "out" / "reports").glob("????w%s.txt" % week))
                listed = files_section("".join(r.read_bytes().decode("latin-1") for r in reports))
                missing = [p for p in log.paths if p not in listed]
                if missing:
                    failures.append("main run %d: %d well-formed records of week %s are missing "
                                    "from the text report's file list, e.g. %s"
                                    % (attempt, len(missing), week, missing[:3]))

        # Folders whose second file holds a record that stops the run.
        def stop_line(time=stamp(9, 10, 0, 0), size="10"):
            return record("192.0.2.1", time, "+0100]", "GET /x.html HTTP/1.1", "200", size,
                          "www.example.org", "-", AGENT)

        stops = {
            "hugesize": (5, stop_line(size="9" * 40)),
            "markupsize": (5, stop_line(size=SCRIPT)),
            "traversalyear": (4, stop_line(time="[09/Mar//../:10:00:00")),
            "markuptime": (4, stop_line(time="[<script>alert(1)</script>")),
        }
        for name, (status, bad_line) in stops.items():
            run = base / name
            prepare_run(run, examples)
            first, second = main_week(2, rng, 0), main_week(9, rng, 50000)
            second.lines.insert(len(second.lines) // 2, bad_line)
            first.write(run / "logs" / "access.10")
            second.write(run / "logs" / "access.11")
            write_host_file(run / "state" / "host.dat", [first, second])
            pages, run_failures = check_run(binary, root, run, status)
            failures += ["%s: %s" % (name, f) for f in run_failures]
            if (run / "state" / "results.txt").exists():
                failures.append("%s: the stopped run wrote the result file" % name)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("hostile logs: all runs ended as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

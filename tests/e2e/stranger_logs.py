#!/usr/bin/env python3
"""Runs the analyzer over a folder of the kind an unattended run meets on a
real server, where strangers wrote much of the logs and others could write
the report folders, and checks that nothing of it stops, skews or escapes
the run.

  stranger_logs.py <sorvik binary> <source dir>

The folder holds combined-format logs with user names that hold blanks and
brackets, a scanner's request with an unescaped quote, requests logged late
at a month's and at a year's end, https referrers of the site itself and of
a search engine, a search phrase with an escaped line feed; among the files
that match the log pattern a named pipe, a folder, a dangling link and a
file whose name holds a line feed; a configuration, language file and
host-name file saved with CRLF line ends; symbolic links planted at a
page's, a report's and an unknown-agent list's name.

Checks: exit status 0 well within the time limit; every well-formed record
counted in its week and month, the late ones in the period in progress; the
skipped lines and files named in the error log; no forged line in any text
report or the result file; https referrers internal or search phrases; no
file outside the run's report folders and state files touched, the targets
of the planted links among them.
"""

import os
import pathlib
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import hostile_logs as h  # noqa: E402

SITE = "www.example.org"
AGENT = "Mozilla/5.0 (X11; Linux x86_64) Firefox/130.0"


def combined(client, user, time, path, referrer="-", status="200", size="2048"):
    """A line of the combined format; `time` is "dd/Mon/yyyy:hh:mm:ss"."""
    return ('%s - %s [%s +0100] "GET %s HTTP/1.1" %s %s "%s" "%s"\n'
            % (client, user, time, path, status, size, referrer, AGENT))


def crlf(text):
    return text.replace("\n", "\r\n")


def week_48():
    """Late November into December: (lines, well-formed paths by month)."""
    good = [
        combined("192.0.2.1", "-", "29/Nov/2026:10:00:00", "/nov/a.html"),
        combined("192.0.2.2", "-", "30/Nov/2026:23:58:00", "/nov/b.html",
                 referrer="https://%s/nov/a.html" % SITE),
        combined("192.0.2.3", "-", "01/Dec/2026:00:00:05", "/dec/a.html",
                 referrer="https://%s" % SITE),
        # Logged when it ended, stamped when it began: counted in December.
        combined("192.0.2.2", "-", "30/Nov/2026:23:59:58", "/dec/late.html"),
        combined("192.0.2.4", "-", "01/Dec/2026:09:00:00", "/dec/search.html",
                 referrer="https://search.example/find?q=cheap%0AFORGED+line"),
        combined("192.0.2.4", "-", "02/Dec/2026:10:00:00", "/dec/b.html"),
    ]
    strangers = [
        # A user name with a blank, one in brackets, one forging a date.
        combined("198.51.100.1", "a b", "01/Dec/2026:01:00:00", "/x/blank.html"),
        combined("198.51.100.2", "[x y]", "01/Dec/2026:01:00:00", "/x/brackets.html"),
        combined("198.51.100.3", "a [07/Jan/1999:10:00:00", "01/Dec/2026:01:00:00",
                 "/x/forged.html"),
        # A scanner's request whose quote the server did not escape.
        '198.51.100.4 - - [01/Dec/2026:02:00:00 +0100] "GET" /hostadmin/?page=\' HTTP/1.0" '
        '501 345 "-" "Mozilla/4.75 (Nikto/1.32 )"\n',
    ]
    lines = good[:3] + strangers[:2] + good[3:5] + strangers[2:] + good[5:]
    return "".join(lines), {"2026m11": 2, "2026m12": 4}, len(strangers)


def week_53():
    good = [
        combined("192.0.2.5", "-", "31/Dec/2026:23:50:00", "/y/a.html"),
        combined("192.0.2.6", "-", "01/Jan/2027:00:00:10", "/y/b.html"),
        combined("192.0.2.5", "-", "31/Dec/2026:23:59:59", "/y/late.html"),
        combined("192.0.2.6", "-", "01/Jan/2027:08:00:00", "/y/c.html"),
    ]
    return "".join(good), {"2026m12": 1, "2027m01": 3}


def write_configuration(run, examples):
    for sub in ("logs", "out/reports", "out/html", "state", "lists"):
        (run / sub).mkdir(parents=True, exist_ok=True)
    (run / "english.lng").write_bytes(crlf((examples / "english.lng").read_bytes().decode(
        "latin-1")).encode("latin-1"))
    shutil.copy(examples / "browsers.lst", run / "lists" / "browsers.lst")
    shutil.copy(examples / "opsys.lst", run / "lists" / "opsys.lst")
    (run / "sorvik.conf").write_bytes(crlf(
        "logfiles=logs/access.*\ntargetdir=out/reports\nhtmldir=out/html\n"
        "Lang_file=english.lng\nBrowser=lists/browsers.lst\nOpSys=lists/opsys.lst\n"
        "Results=state/results.txt\nHost_file=state/host.dat\nErrlogfile=state/errlog.txt\n"
        "Host_Url=%s\nAnalyse_Years=yes\n" % SITE).encode())


def read(path):
    """A file's text, empty when the run did not write it."""
    return path.read_bytes().decode("latin-1") if path.is_file() else ""


def result_entries(results_text):
    """(section, period) -> (complete, files) of the result file."""
    entries, section = {}, None
    for line in results_text.splitlines():
        if line.startswith("{"):
            section = line.strip("{} ")
            continue
        match = re.match(r"^(\d{4}[wmy]\d*): (in)?complete, files=(\d+),", line)
        if match:
            entries[(section, match.group(1))] = (match.group(2) is None, int(match.group(3)))
    return entries


def main(argv):
    binary = os.path.realpath(argv[1])
    examples = pathlib.Path(argv[2]) / "examples"
    failures = []
    root = pathlib.Path(tempfile.mkdtemp(prefix="sorvik-strangers-"))
    try:
        run = root / "above" / "runs" / "strangers"
        write_configuration(run, examples)
        text_48, months_48, strangers = week_48()
        text_53, months_53 = week_53()
        (run / "logs" / "access.48").write_text(text_48)
        (run / "logs" / "access.53").write_text(text_53)
        # Files that match the pattern and are no logs.
        os.mkfifo(run / "logs" / "access.49")
        (run / "logs" / "access.50").mkdir()
        os.symlink("no-such-file", run / "logs" / "access.51")
        (run / "logs" / "access.5\n2026w47: complete").write_text(week_53()[0])
        (run / "state" / "host.dat").write_bytes(b"192.0.2.1=one.example.de;46000\r\n")
        # Links planted where the run writes, pointing outside its folders.
        victims = root / "victims"
        victims.mkdir()
        planted = {"out/html/2026m11.html": "page", "out/reports/2026w48.txt": "report",
                   "lists/browsers.lst.unknown": "list"}
        for name, victim in planted.items():
            (victims / victim).write_text("not to be written\n")
            os.symlink(victims / victim, run / name)

        before = h.snapshot(root)
        failures += h.run_sorvik(binary, run, 0)
        after = h.snapshot(root)
        for path in h.changed_paths(before, after):
            if path.startswith("victims"):
                failures.append("%s, the target of a planted link, was written" % path)
            elif path not in after:
                failures.append("%s was removed" % path)
            elif not h.allowed_change(os.path.relpath(run, root), path, True):
                failures.append("%s was written (not a report or state file)" % path)
        for name in planted:
            if (run / name).is_symlink() or not (run / name).is_file():
                failures.append("%s is not a file of the run's own" % name)
        _, page_failures = h.check_pages(run / "out" / "html")
        failures += page_failures

        errlog = read(run / "state" / "errlog.txt")
        for name in ("access.49", "access.50", "access.51"):
            if "Error in file logs/%s!\n        Not a regular file, skipped!" % name not in errlog:
                failures.append("the error log does not name %s as skipped" % name)
        if ("Error in file logs/access.5?2026w47: complete!\n        Log file name with a "
                "control character, skipped!") not in errlog:
            failures.append("the error log does not name the file with a line feed")
        misfits = len(re.findall(r"field \d does not fit, line skipped!", errlog))
        # Each mode that reads the file reports its lines: weeks, months, years.
        if misfits != 3 * strangers:
            failures.append("%d lines reported as not fitting, expected %d"
                            % (misfits, 3 * strangers))

        results = read(run / "state" / "results.txt")
        entries = result_entries(results)
        expected = {("Weeks", "2026w48"): (True, sum(months_48.values())),
                    ("Weeks", "2027w53"): (False, sum(months_53.values())),
                    ("Monthes", "2026m11"): (True, months_48["2026m11"]),
                    ("Monthes", "2026m12"): (True, months_48["2026m12"] + months_53["2026m12"]),
                    ("Monthes", "2027m01"): (False, months_53["2027m01"]),
                    ("Years", "2026y"): (True, 7),
                    ("Years", "2027y"): (False, 3)}
        if entries != expected:
            failures.append("result entries %s, expected %s" % (sorted(entries.items()),
                                                                sorted(expected.items())))
        reports = {p.name: p.read_bytes().decode("latin-1")
                   for p in (run / "out" / "reports").glob("*.txt")}
        for name, text in list(reports.items()) + [("results.txt", results)]:
            if re.search(r"^FORGED", text, re.M) or re.search(r"^2026w47", text, re.M):
                failures.append("%s holds a forged line" % name)
        december = reports.get("2026m12.txt", "")
        internal = re.search(r"\d+ Internal referrers sorted by hits\n(.*?)\n---", december, re.S)
        if not internal or "\n/ " not in "\n" + internal.group(1):
            failures.append("the site's own https referrer is not internal in 2026m12")
        if "https://search.example " not in december or "cheap?FORGED line " not in december:
            failures.append("the https search referrer gave no engine and phrase in 2026m12")
    finally:
        shutil.rmtree(root, ignore_errors=True)

    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("logs written by strangers: the run ended as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

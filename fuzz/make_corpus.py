#!/usr/bin/env python3
"""Builds the seed corpus of every fuzz target from the bundled examples.

Usage: make_corpus.py [OUTDIR]   (default: fuzz/corpus beside this script)

Writes OUTDIR/<target>/<seed> for each target, replacing what was there. The
seeds are small (a few KB at most): the sample logs cut to their first lines,
the shipped language, configuration and agent files, and a few hand-written
inputs that point the fuzzer at the corners of each format.
"""
import gzip
import pathlib
import shutil
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"


def log_lines(count):
    """The first `count` lines of each sample log, as bytes."""
    return [b"".join(path.read_bytes().splitlines(keepends=True)[:count])
            for path in sorted((EXAMPLES / "logs").glob("access.*"))]


def log_field(line, number):
    """Field `number` (from 1) of a sample log line, quotes removed."""
    fields, current, quoted = [], b"", False
    for byte in line:
        c = bytes([byte])
        if c == b'"':
            quoted = not quoted
        elif c == b" " and not quoted:
            fields.append(current)
            current = b""
        else:
            current += c
    fields.append(current)
    return fields[number - 1] if number <= len(fields) else b""


def sample_lines():
    return [line for block in log_lines(40) for line in block.splitlines()]


RECORD = (b'192.0.2.1 - - [07/Dec/2026:10:11:12 +0100] "GET /index.html HTTP/1.1" 200 1234 '
          b'www.example.org "http://search.example.com/find?q=caf%C3%A9+visitors" '
          b'"Mozilla/5.0 (X11; Linux x86_64) Firefox/130.0"\n')


def log_reader_seeds():
    # The first byte steers the filler in front of the file (see the target).
    seeds = {f"sample{i}": b"\0" + block for i, block in enumerate(log_lines(12))}
    seeds["record"] = b"\0" + RECORD
    seeds["record_crlf"] = b"\0" + RECORD.replace(b"\n", b"\r\n") * 2
    seeds["malformed"] = (b"\0" + RECORD[:60] + b"\n" + b"a b c d e f g h i j k l\n" +
                          b'1 2 3 [07/Dec/2026:10:11:12 +0100] "open quote\n' + b"   \n\0\0\0\n" + RECORD)
    seeds["escaped_quote"] = b"\0" + RECORD.replace(b"Firefox", b'Fire\\"fox')
    seeds["bad_size"] = b"\0" + RECORD.replace(b" 1234 ", b" 12x4 ")
    seeds["huge_size"] = b"\0" + RECORD.replace(b" 1234 ", b" 9223372036854775807 ")
    seeds["negative_size"] = b"\0" + RECORD.replace(b" 1234 ", b" -9223372036854775808 ")
    seeds["bad_time"] = b"\0" + RECORD.replace(b"07/Dec/2026", b"07/Dec/../.")
    seeds["unknown_method"] = b"\0" + RECORD.replace(b"GET /index.html", b"PROPFIND /x")
    seeds["common_format"] = b"\0" + b'192.0.2.1 - - [07/Dec/2026:10:11:12 +0100] "GET / HTTP/1.0" 200 5\n'
    seeds["long_line"] = b"\x03\xff\x00" + RECORD
    seeds["shifted"] = b"\x01\xff\xc0" + RECORD * 3
    seeds["gzip"] = b"\0" + gzip.compress(RECORD * 3, mtime=0)
    return seeds


def configuration_seeds():
    shipped = (EXAMPLES / "sorvik.conf").read_bytes()
    for key, name in ((b"Lang_file", b"english.lng"), (b"Browser", b"browsers.lst"),
                      (b"OpSys", b"opsys.lst")):
        lines = shipped.splitlines(keepends=True)
        shipped = b"".join(key + b"=" + name + b"\n" if line.startswith(key + b"=") else line
                           for line in lines)
    return {
        "shipped": shipped,
        "short": (b"logfiles=logs/access.*\ntargetdir=out\nLang_file=english.lng\n"
                  b"html_tables = -7\ndecsep ,\nksep=.\nno_html_out=yes\nUnknown=1\n=\nbroken\n"),
        "numbers": b"Lang_file=english.lng\nhtml_tables=2147483648\nhtml_tables=+0012\n",
    }


def language_seeds():
    return {
        "english": (EXAMPLES / "english.lng").read_bytes(),
        "german": (EXAMPLES / "german.lng").read_bytes()[:4000],
        "groups": (b"[Lists]\nab\nL1\n[Sort options]\n_k\nS1\n[HTML]\nH0\nH1\n[Messages]\nM1\n"
                   b"[End of configuration file]\n"),
        "unknown_group": b"[Return codes]\nx\n[Nothing]\n",
    }


def result_seeds():
    return {
        "written": (b"# Results of sorvik analysis #\n{ Years }\n"
                    b"2002y: incomplete, files=70, kBytes=700, visits=7, log=a.21\n"
                    b"{ Monthes }\n"
                    b"2002m04: complete, files=5000000000, kBytes=6000000000, visits=4294967297, log=a.21\n"
                    b"2002m05: incomplete, files=20, kBytes=-3, visits=2, log=a.22\n"
                    b"{ Weeks }\n2002w17: complete, files=1, kBytes=2, visits=3, log=a.17\n"),
        "odd": (b"2002w17: complete, files=1, kBytes=2, visits=3, log=x\n{ Other }\n{ Weeks }\n"
                b"2002x17: complete, files=1, kBytes=2, visits=3, log=x\nfiles= only\n"
                b"2002w18: complete, files=99999999999999999999, kBytes=, visits=-1, log=\r\n"),
    }


def host_seeds():
    return {
        "stamped": (b"192.0.2.1=dsl-1.netcable.example.de;46363\n"
                    b"192.0.2.2=(not found);46360\n198.51.100.7=;46300\n"),
        "odd": (b"192.0.2.1=name\n10.0.0=short;46363\n1.2.3.4=x;y;46363\nno separator\n"
                b"1.2.3.4.5=" + b"n" * 80 + b";46363\n300.2.3.4=a;-5\n4.3.2.1=b;2147483647\r\n"),
    }


def search_seeds():
    seeds = {}
    referrers = sorted({log_field(line, 10) for line in sample_lines()})
    for i, referrer in enumerate(r for r in referrers if b"=" in r):
        seeds[f"sample{i}"] = referrer
    seeds["escapes"] = b"http://e.example/s?q=%41%4g%%25%2541+%C3%A9%"
    seeds["first_key"] = b"http://e.example/x?s=second&q=first&p=third"
    return seeds


def agent_seeds():
    patterns = b"".join(line + b"\n" for line in (EXAMPLES / "browsers.lst").read_bytes().splitlines()
                        if line and not line.startswith((b"/", b"*")))[:3000]
    agents = sorted({log_field(line, 11) for line in sample_lines()})
    seeds = {f"sample{i}": patterns + agent for i, agent in enumerate(agents[:8])}
    seeds["short"] = b"Mozilla\nMSIE \n Opera\nMozilla/4.0 (compatible; MSIE 6.0; Windows)"
    seeds["unknown"] = b"Lynx\nWget/1.21 (linux-gnu)"
    return seeds


def html_key_seeds():
    paths = sorted({log_field(line, 6).split(b" ")[1:2][0] if b" " in log_field(line, 6) else b""
                    for line in sample_lines()})
    referrers = sorted({log_field(line, 10) for line in sample_lines()})
    return {
        # The first byte picks the list: 13 is list 14 (referrers, with links), 4 is list 5.
        "paths": b"\x04" + b"\n".join(paths[:40]),
        "referrers": b"\x0d" + b"\n".join(referrers[:40]),
        "hostile": (b"\x0d" + b'http://x.example/"><script>alert(1)</script>\n'
                    b"<b>bold</b> & ampersand &amp;\njavascript:alert('x')\n"
                    b'" onmouseover="x\n' + b"<" * 150 + b"\n"),
    }


TARGETS = {
    "log_reader_fuzz": log_reader_seeds,
    "configuration_fuzz": configuration_seeds,
    "language_file_fuzz": language_seeds,
    "result_file_fuzz": result_seeds,
    "host_file_fuzz": host_seeds,
    "search_keywords_fuzz": search_seeds,
    "agent_classes_fuzz": agent_seeds,
    "html_key_fuzz": html_key_seeds,
}


def main(argv):
    out = pathlib.Path(argv[1]) if len(argv) > 1 else ROOT / "fuzz" / "corpus"
    for target, make in TARGETS.items():
        folder = out / target
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for name, data in make().items():
            (folder / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

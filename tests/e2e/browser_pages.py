#!/usr/bin/env python3
"""Helpers of the browser test.

  browser_pages.py hostile <run dir> <examples dir>
      Writes a run folder whose access logs are full of markup and script in
      paths, referrers, agents and search phrases, plus stray files in its HTML
      folder, and a configuration "sorvik.conf" that reads them.

  browser_pages.py check <browser> <run dir> <config> [--hostile] [--screenshots DIR]
      Opens every page of the HTML folder of a finished run in headless
      Chromium and checks the DOM the browser built (document.documentElement
      after the load event, what --dump-dom prints): every page loads without
      an error on the console, no script from log data ran, every link between
      pages leads to an existing file, every "#anchor" link leads to its anchor
      unless the section's list is empty in that period (then the period's
      text report has no section for it either), and every report page can be
      reached from index.html.
      Charts: with html_charts=yes each period page has one above the tables
      of status codes, browsers, operating systems and hours, each overview
      page one and the index page one (the months); without it no page has
      any. Each chart's SVG parses as XML, carries its figures as aria-label,
      title and desc, is drawn by the browser as SVG with a size and stands right
      before a table. --screenshots saves a period page's hours chart and the
      months overview as PNG files in DIR.
"""

import base64
import fcntl
import html.parser
import json
import os
import pathlib
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree

MARKER = "data-pwned"
SCRIPT = "<script>document.body.setAttribute('data-pwned','1')</script>"
REPORT_PAGE = re.compile(r"^\d{4}(y|[mw]\d\d)([^.]{2})?\.html$")
PERIOD_PAGE = re.compile(r"^(\d{4}(y|[mw]\d\d))\.html$")
SVG_NAMESPACE = "http://www.w3.org/2000/svg"
# List slots whose sections on the period page have a chart: status codes,
# browsers, operating systems, hours of the day.
CHART_SLOTS = (11, 18, 19, 20)
OVERVIEW_PAGES = ("years.html", "monthes.html", "weeks.html")
# What the browser drew for each chart of the loaded page.
CHARTS_JS = """JSON.stringify(Array.from(document.querySelectorAll('svg')).map(s => {
  const r = s.getBoundingClientRect(), t = s.querySelector('title'), n = s.nextElementSibling;
  return {ns: s.namespaceURI, width: r.width, height: r.height,
          label: s.getAttribute('aria-label'), title: t ? t.textContent : null,
          next: n ? n.tagName : null};
}))"""
# The region of the page to save: from the top of a heading to the foot of
# the page's last chart, as wide as the chart and the heading's text.
# %s is the heading: the chart's own, or the page's.
CHART_REGION_JS = """(() => {
  const all = document.querySelectorAll('svg'), chart = all[all.length - 1];
  const heading = %s, words = document.createRange();
  words.selectNodeContents(heading);
  const top = heading.getBoundingClientRect().top, box = chart.getBoundingClientRect();
  return JSON.stringify({x: 0, y: Math.max(0, top + window.scrollY - 8),
                         width: Math.ceil(Math.max(box.right, words.getBoundingClientRect().right) + 16),
                         height: Math.ceil(box.bottom - top + 24), scale: 1});
})()"""
GROUPS = ["Return codes", "Lists", "Sort options", "Hosts", "Messages", "HTML",
          "End of configuration file"]


# ---------------------------------------------------------------- hostile run

def hostile_lines(week_start_day, month):
    """Log lines of one week: every field a visitor controls carries markup.
    Double quotes cannot occur inside a field (the reader drops them), but a
    search phrase can decode to one."""
    client = "192.0.2.%d"
    long_path = "/" + "a" * 68 + "&<" + "b" * 67 + "'>" + "c" * 160 + ".html"
    requests = [
        # (path, status, referrer, agent)
        ("/" + SCRIPT + ".html", 200, "-", "Mozilla/5.0 (X11; Linux x86_64) Firefox/130.0"),
        ("/search?a=1&b=<b>x</b>&c='q'", 200,
         "http://www.example.org/" + SCRIPT, "Mozilla/5.0 (Windows NT 10.0) Chrome/130.0"),
        ("/docs/<i>&amp;/index.html", 200,
         "javascript:document.body.setAttribute('data-pwned','1')", SCRIPT + " Mozilla/5.0"),
        ("/missing/" + SCRIPT, 404, "-",
         "Mozilla/4.0 (compatible; <b>&quot;x&quot;</b> & more)"),
        ("/", 200, "http://www.google.com/search?q=%22%3E%3Cscript%3Edocument.body."
         "setAttribute('data-pwned','1')%3C/script%3E&hl=en", "Opera/9.80 <img src=x onerror=1>"),
        ("/news.html", 200, "http://search.example/?q=" + SCRIPT + "+%26+more", "curl/8.0 &<>"),
        ("/img/<svg/onload=alert(1)>.gif", 200, "http://www.example.org/news.html", "Wget/1.21"),
        ("/img/javascript:x.jpg", 200, "http://www.example.org/", "Wget/1.21"),
        (long_path, 200, "http://" + "d" * 58 + "/&<x>", "Mozilla/5.0 " + "e" * 250),
        ("javascript:alert('x')", 200, "http://evil.example/a'onmouseover='x'&b<i>", "-"),
    ]
    lines = []
    for session in range(6):
        hour = 3 + session * 3
        for i, (path, status, referrer, agent) in enumerate(requests):
            # A pause before the last request of the first week's sessions makes
            # a second visit; the second week has no client with two visits, so
            # its period page links to a section that has no entries.
            minute = 58 if i == 9 and week_start_day < 7 else i * 3
            stamp = "[%02d/%s/2026:%02d:%02d:%02d" % (week_start_day + session % 5, month, hour,
                                                    minute, i)
            size = "-" if status == 404 else str(1000 + 731 * i)
            lines.append('%s - - %s +0100] "GET %s HTTP/1.1" %d %s www.example.org "%s" "%s"\n'
                         % (client % (10 + session), stamp, path, status, size, referrer, agent))
    return "".join(lines)


def make_hostile_run(run_dir, examples_dir):
    run = pathlib.Path(run_dir)
    for sub in ("logs", "reports", "html"):
        (run / sub).mkdir(parents=True, exist_ok=True)
    # Two weeks of March 2026, one file each.
    (run / "logs" / "access.10").write_text(hostile_lines(2, "Mar"))
    (run / "logs" / "access.11").write_text(hostile_lines(9, "Mar"))
    # Stray files that the overview pages list as they find them.
    for name in ("2026w10<script>x.html", "2026w10ah<i>&'.html", "2stray&<b>.html"):
        (run / "html" / name).write_text("<HTML><BODY>stray</BODY></HTML>\n")
    examples = pathlib.Path(examples_dir)
    # With charts, so that the hostile agents reach their labels too.
    config = ["logfiles=logs/access.*", "targetdir=reports", "htmldir=html",
              "Lang_file=english.lng", "Results=results.txt", "Host_file=host.dat",
              "Errlogfile=errlog.txt", "Host_Url=www.example.org", "Analyse_Years=yes",
              "html_charts=yes"]
    shutil.copy(examples / "english.lng", run / "english.lng")
    for key, name in (("Browser", "browsers.lst"), ("OpSys", "opsys.lst")):
        if (examples / name).exists():
            shutil.copy(examples / name, run / name)
            config.append("%s=%s" % (key, name))
    (run / "sorvik.conf").write_text("\n".join(config) + "\n")


# ---------------------------------------------------------------- reading a run

def read_config(path):
    """The key/value lines of a configuration file, split as the program does."""
    values = {}
    for raw in path.read_bytes().split(b"\n"):
        line = raw[:255].decode("latin-1")
        if not line or line[0] in "#/*":
            continue
        cut = line.find("=") if "=" in line else line.find(" ")
        if cut < 0:
            continue
        key, value = line[:cut].strip(" ="), line[cut + 1:].strip(" =")
        if key and value:
            values[key] = value
    return values


def read_language(path):
    """The groups of a language file: group name -> its lines from line 0."""
    groups, current = {}, None
    for raw in path.read_bytes().split(b"\n"):
        line = raw[:255].decode("latin-1")
        if not line:
            continue
        if line.startswith("["):
            current = next((g for g in GROUPS if g in line), None)
            groups[current] = []
        elif current is not None:
            groups[current].append(line)
    return groups


class PageParser(html.parser.HTMLParser):
    """Collects what the checks need from a dumped DOM."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tags, self.links, self.anchors, self.text = [], [], set(), []
        self.toc_row_title, self.toc_links, self._in_td = None, [], False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.append((tag, attrs))
        if tag == "a" and "name" in attrs:
            self.anchors.add(attrs["name"])
        if "id" in attrs:
            self.anchors.add(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.links.append((attrs["href"], self.toc_row_title))
        if tag == "tr":
            self.toc_row_title = None
        self._in_td = tag == "td"

    def handle_endtag(self, tag):
        self._in_td = False

    def handle_data(self, data):
        self.text.append(data)
        # The first cell of a table-of-contents row holds the list's title.
        if self._in_td and self.toc_row_title is None:
            self.toc_row_title = data


class HeadlessBrowser:
    """One headless Chromium with a fresh profile, driven over its DevTools pipe
    (file descriptors 3 and 4, messages ended by a zero byte). A process per
    page would cost about a second each; one process opens a page in a few
    hundredths of a second."""

    def __init__(self, path):
        self.profile = tempfile.mkdtemp(prefix="sorvik-browser-")
        commands_read, self.commands = os.pipe()
        self.replies, replies_write = os.pipe()

        def connect_pipe():
            # Moved above 4 first, so that neither end overwrites the other.
            high_read = fcntl.fcntl(commands_read, fcntl.F_DUPFD, 10)
            high_write = fcntl.fcntl(replies_write, fcntl.F_DUPFD, 10)
            os.dup2(high_read, 3)
            os.dup2(high_write, 4)

        self.process = subprocess.Popen(
            [path, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-first-run", "--user-data-dir=" + self.profile, "--remote-debugging-pipe",
             "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            pass_fds=(3, 4, commands_read, replies_write), preexec_fn=connect_pipe)
        os.close(commands_read)
        os.close(replies_write)
        self.buffer, self.last_id, self.events, self.console_errors = b"", 0, [], []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget",
                                 {"targetId": target, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log"):
            self.call(domain + ".enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": 1000, "height": 900, "deviceScaleFactor": 1, "mobile": False},
                  session=True)

    def _receive(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.replies], [], [], left)[0]:
                raise TimeoutError("the browser did not answer")
            chunk = os.read(self.replies, 1 << 16)
            if not chunk:
                raise EOFError("the browser ended")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        message = json.loads(message)
        self._note_console_error(message)
        return message

    def _note_console_error(self, message):
        """Keeps the text of an error the page reported on the console."""
        method, params = message.get("method"), message.get("params", {})
        if method == "Runtime.exceptionThrown":
            self.console_errors.append(params["exceptionDetails"].get("text", "exception"))
        elif method == "Runtime.consoleAPICalled" and params.get("type") == "error":
            self.console_errors.append(" ".join(str(a.get("value")) for a in params["args"]))
        elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
            self.console_errors.append(params["entry"].get("text", ""))

    def call(self, method, params=None, session=False, timeout=60):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = self.session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply["result"]
            self.events.append(reply)

    def dom_of(self, page, timeout=60):
        """The DOM the browser built for `page` once it has loaded, serialised
        as --dump-dom does; None when the page does not load."""
        url = page.resolve().as_uri()
        self.events.clear()
        self.console_errors.clear()
        if "errorText" in self.call("Page.navigate", {"url": url}, session=True):
            return None
        deadline = time.monotonic() + timeout
        while True:
            if any(e.get("method") == "Page.loadEventFired" for e in self.events):
                self.events.clear()
                state = self.call("Runtime.evaluate", {
                    "expression": "JSON.stringify([document.URL, document.readyState, "
                                  "document.documentElement.outerHTML])",
                    "returnByValue": True}, session=True)["result"]["value"]
                loaded_url, ready, dom = json.loads(state)
                if loaded_url == url and ready == "complete":
                    return dom
            self.events.append(self._receive(deadline))

    def evaluate(self, expression):
        """The value of a JavaScript expression that gives a JSON text, in
        the loaded page."""
        return json.loads(self.call("Runtime.evaluate", {
            "expression": expression, "returnByValue": True}, session=True)["result"]["value"])

    def screenshot(self, path, clip):
        """Saves the region `clip` of the loaded page as a PNG file."""
        shot = self.call("Page.captureScreenshot",
                         {"format": "png", "clip": clip, "captureBeyondViewport": True},
                         session=True)
        pathlib.Path(path).write_bytes(base64.b64decode(shot["data"]))

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except (TimeoutError, EOFError, RuntimeError, OSError):
            pass
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.replies)
        shutil.rmtree(self.profile, ignore_errors=True)


# ---------------------------------------------------------------- the checks

def section_written(text_report, language, letters):
    """True when the text report holds the section that the anchor `letters`
    (list letter, sort letter) names."""
    lists, sorts, html_lines = language["Lists"], language["Sort options"], language["HTML"]
    slot = lists[0].find(letters[0]) + 1
    key = sorts[0].find(letters[1]) if len(letters) == 2 else -1
    if slot < 1 or key < 1 or key > 4:
        return True  # not a section link at all: it must resolve
    heading = lists[slot] + html_lines[13] + " " + html_lines[3 + key]
    pattern = re.compile(r"^\d+ " + re.escape(heading) + "$")
    return any(pattern.match(line) for line in text_report)


def expected_charts(name, text, language):
    """How many charts page `name` holds when the run draws them."""
    if name in OVERVIEW_PAGES:
        return 1
    if name == "index.html":
        # The months' chart stands above their table, which a run without
        # months lacks: the next heading follows at once.
        heading = "<H2>%s</H2>\n" % language["HTML"][33]
        at = text.find(heading)
        return 0 if at < 0 or text.startswith("<H2>", at + len(heading)) else 1
    if PERIOD_PAGE.match(name):
        letters = language["Lists"][0]
        return sum(1 for slot in CHART_SLOTS
                   if re.search(r'<A NAME="%s.">' % re.escape(letters[slot - 1]), text))
    return 0


def check_charts(name, text, drawn, charts_on, language, errors):
    """Checks the charts of one page: the SVG as written (parsed as XML) and
    as the browser drew it. Returns the charts' text alternatives."""
    fragments = re.findall(r"<svg\b.*?</svg>", text, re.S)
    expected = expected_charts(name, text, language) if charts_on else 0
    if len(fragments) != expected or len(drawn) != expected:
        errors.append("%s: %d charts written, %d drawn, %d expected"
                      % (name, len(fragments), len(drawn), expected))
    labels = []
    for fragment in fragments:
        try:
            root = xml.etree.ElementTree.fromstring(fragment)
        except xml.etree.ElementTree.ParseError as error:
            errors.append("%s: a chart is no well-formed XML: %s" % (name, error))
            continue
        label = root.get("aria-label")
        texts = [root.find("{%s}%s" % (SVG_NAMESPACE, tag)) for tag in ("title", "desc")]
        if (root.tag != "{%s}svg" % SVG_NAMESPACE or root.get("role") != "img" or not label
                or any(text is None or text.text != label for text in texts)):
            errors.append("%s: a chart lacks its role, aria-label, title or desc" % name)
        labels.append(label or "")
    for chart in drawn:
        if chart["ns"] != SVG_NAMESPACE or not (chart["width"] > 0 and chart["height"] > 0):
            errors.append("%s: a chart is not drawn as SVG with a size: %r" % (name, chart))
        if chart["title"] != chart["label"]:
            errors.append("%s: a chart's title and aria-label differ" % name)
        if chart["next"] != "TABLE":
            errors.append("%s: a chart stands before %s, not a table" % (name, chart["next"]))
    return labels


def save_screenshots(chromium, html_dir, pages, folder, errors):
    """Saves the hours chart of the first week's page and the top of the
    months overview, each with what stands above it."""
    folder.mkdir(parents=True, exist_ok=True)
    week = next((p for p in pages if PERIOD_PAGE.match(p.name) and p.name[4] == "w"), None)
    for page, file_name, heading in (
            (week, "period_page.png", "chart.previousElementSibling"),
            (html_dir / "monthes.html", "months_overview.png", "document.querySelector('h1')")):
        if page is None or chromium.dom_of(page) is None:
            errors.append("no page to take %s of" % file_name)
            continue
        chromium.screenshot(folder / file_name, chromium.evaluate(CHART_REGION_JS % heading))
        if not (folder / file_name).read_bytes().startswith(b"\x89PNG\r\n"):
            errors.append("%s: the screenshot is no PNG image" % file_name)


def check_run(browser, run_dir, config_name, hostile, screenshots=None):
    run = pathlib.Path(run_dir)
    config = read_config(run / config_name)
    html_dir = run / config.get("htmldir", ".")
    text_dir = run / config["targetdir"]
    language = read_language(run / config["Lang_file"])
    errors = []

    pages = sorted(p for p in html_dir.iterdir() if p.name.endswith(".html"))
    for needed in ("index.html", "years.html", "monthes.html", "weeks.html"):
        if not (html_dir / needed).exists():
            errors.append("missing page " + needed)
    charts_on = config.get("html_charts") == "yes"
    chromium = HeadlessBrowser(browser)
    doms, drawn = {}, {}
    try:
        for page in pages:
            doms[page] = chromium.dom_of(page)
            errors.extend("%s: console error %r" % (page.name, message)
                          for message in chromium.console_errors)
            if doms[page] is not None:
                drawn[page.name] = chromium.evaluate(CHARTS_JS)
        if screenshots is not None and charts_on:
            save_screenshots(chromium, html_dir, pages, screenshots, errors)
    finally:
        chromium.close()

    parsed = {}
    for page, dom in doms.items():
        if dom is None:
            errors.append("%s: did not load" % page.name)
            continue
        parser = PageParser()
        parser.feed(dom)
        parsed[page.name] = parser
        if b"<script" in page.read_bytes().lower():
            errors.append("%s: the file holds a script element" % page.name)
        for tag, attrs in parser.tags:
            if tag == "script":
                errors.append("%s: the DOM holds a script element" % page.name)
            for name, value in attrs.items():
                if name == MARKER:
                    errors.append("%s: a script from log data ran" % page.name)
                if name.startswith("on"):
                    errors.append("%s: event attribute %s=%r" % (page.name, name, value))
                if name == "href" and (value or "").strip().lower().startswith("javascript:"):
                    errors.append("%s: javascript link %r" % (page.name, value))

    chart_labels = []
    for page in pages:
        if page.name in drawn:
            chart_labels += check_charts(page.name, page.read_bytes().decode("latin-1"),
                                         drawn[page.name], charts_on, language, errors)
    if hostile and charts_on and not any("onerror=1>" in label or "&<>" in label
                                         for label in chart_labels):
        errors.append("the hostile agents show in no chart: the test data did not arrive")

    shown_as_text, dangling_empty, links_followed = 0, 0, 0
    reachable, edges = set(), {}
    for name, parser in parsed.items():
        if SCRIPT in "".join(parser.text):
            shown_as_text += 1
        period = PERIOD_PAGE.match(name)
        text_report = None
        if period:
            report = text_dir / (period.group(1) + ".txt")
            text_report = report.read_bytes().decode("latin-1").split("\n") if report.exists() else []
        edges[name] = set()
        for href, row_title in parser.links:
            parts = urllib.parse.urlsplit(href)
            if parts.scheme or parts.netloc:
                continue  # a link out of the site (a referrer)
            path = urllib.parse.unquote(parts.path)
            if path.startswith("../"):
                continue  # the site's own home page, outside the report folder
            target = name if path == "" else path
            links_followed += 1
            if not (html_dir / target).exists():
                errors.append("%s: link %r leads to no file" % (name, href))
                continue
            edges[name].add(target)
            if parts.fragment:
                anchors = parsed[target].anchors if target in parsed else set()
                if parts.fragment in anchors:
                    continue
                if (target == name and text_report is not None
                        and not section_written(text_report, language, parts.fragment)):
                    dangling_empty += 1  # the list of that section is empty this period
                    continue
                errors.append("%s: link %r (row %r) leads to no anchor"
                              % (name, href, row_title))

    # Every report page is reachable by clicking from index.html.
    queue = ["index.html"]
    while queue:
        name = queue.pop()
        if name in reachable:
            continue
        reachable.add(name)
        queue.extend(edges.get(name, ()))
    for page in pages:
        if REPORT_PAGE.match(page.name) and page.name not in reachable:
            errors.append("%s: not reachable from index.html" % page.name)

    if hostile and shown_as_text == 0:
        errors.append("the hostile log data shows on no page: the test data did not arrive")
    print("%s: %d pages opened, %d links followed, %d links to empty sections, "
          "%d pages show the script text, %d charts" % (run.name, len(pages), links_followed,
                                                        dangling_empty, shown_as_text,
                                                        len(chart_labels)))
    for error in errors[:50]:
        print("FAIL " + error)
    return not errors


def main(argv):
    if len(argv) == 4 and argv[1] == "hostile":
        make_hostile_run(argv[2], argv[3])
        return 0
    if len(argv) >= 5 and argv[1] == "check":
        options = argv[5:]
        screenshots = None
        if "--screenshots" in options:
            screenshots = pathlib.Path(options[options.index("--screenshots") + 1])
        return 0 if check_run(argv[2], argv[3], argv[4], "--hostile" in options,
                              screenshots) else 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Kills the analyzer at many points of a run and checks what it leaves.

  crash_safety.py hosts
      Prints a hosts table that names the test's client addresses and the
      address of the name-resolution check, so that reverse lookups answer at
      once from the table (crash_safety_test.sh mounts it over /etc/hosts in
      a private mount namespace).

  crash_safety.py run <sorvik binary> <source dir>
      A first run over two weekly logs leaves the old state; then the open
      week grows and a new week with new clients arrives. A run over that is
      killed (SIGKILL) again and again, each time from the old state: after
      random delays, and, where strace can inject signals, right before each
      call that renames, links or removes a file. After every kill the result
      file and the host-name file must each be the complete old or the
      complete new version, and the next run, left to finish, must leave the
      same result file, host-name file and reports as a run that was never
      interrupted.
"""

import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

RECORDS_PER_WEEK = 10000
KILL_DELAYS = 8  # random kills; the strace kills come on top
# The calls that replace or remove a file, by kind.
STATE_CALLS = ["rename,renameat,renameat2", "link,linkat", "unlink,unlinkat"]
RUN_TIMEOUT = 120
# The status of a killed run, and of strace when the process it ran was killed.
KILLED = (-9, 128 + 9)


def client(a, b):
    return "198.18.%d.%d" % (a, b)


def hosts_table():
    lines = ["127.0.0.1 localhost", "8.8.8.8 dns.google"]
    for a in range(3):
        for b in range(1, 251):
            lines.append("%s c-%d-%d.example.net" % (client(a, b), a, b))
    return "\n".join(lines) + "\n"


def week_lines(rng, first_day, count, client_nets):
    """`count` records of the week that starts on `first_day` of March 2026."""
    lines = []
    for i in range(count):
        stamp = "[%02d/Mar/2026:%02d:%02d:%02d" % (first_day + i * 7 // count, rng.randint(0, 23),
                                                 rng.randint(0, 59), rng.randint(0, 59))
        lines.append('%s - - %s +0100] "GET /d%d/p%d.html HTTP/1.1" 200 %d www.example.org '
                     '"http://www.example.org/d%d/" "Mozilla/5.0 (X11; Linux x86_64) Firefox/%d.0"\n'
                     % (client(rng.choice(client_nets), rng.randint(1, 250)), stamp,
                        rng.randint(0, 40), rng.randint(0, 3000), rng.randint(100, 90000),
                        rng.randint(0, 40), rng.randint(100, 130)))
    return "".join(lines)


def start(binary, run, command_prefix=()):
    environment = dict(os.environ)
    if command_prefix:
        # The leak checker of a sanitizer build cannot work under ptrace.
        options = environment.get("ASAN_OPTIONS", "")
        environment["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
    process = subprocess.Popen(list(command_prefix) + [binary, "sorvik.conf"], cwd=run,
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, env=environment)
    # "J" answers the question asked when name resolution does not work; the
    # end of input serves the key wait at the end.
    process.stdin.write(b"J\n")
    process.stdin.close()
    process.stdin = None
    return process


def finish(process):
    try:
        _, stderr = process.communicate(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        return -1, "the run did not end within %d s" % RUN_TIMEOUT
    return process.returncode, stderr.decode("latin-1")


def run_to_end(binary, run):
    began = time.monotonic()
    status, stderr = finish(start(binary, run))
    if status != 0:
        raise SystemExit("FAIL: a run over %s ended with status %d\n%s" % (run, status, stderr))
    return time.monotonic() - began


def read(path):
    return path.read_bytes() if path.exists() else None


def reports(run):
    """Every report file by name, with the page's creation time taken out."""
    found = {}
    for path in sorted((run / "out").rglob("*")):
        if path.is_file():
            text = re.sub(rb'<META NAME="CREATED" CONTENT="[^"]*">', b"", path.read_bytes())
            found[str(path.relative_to(run))] = text
    return found


def restore(old, run):
    for sub in ("state", "out"):
        shutil.rmtree(run / sub)
        shutil.copytree(old / sub, run / sub)


class Checker:
    def __init__(self, binary, run, old_state, new_state, reference_reports, check_hosts):
        self.binary, self.run = binary, run
        self.old, self.new = old_state, new_state
        self.reference_reports = reference_reports
        self.check_hosts = check_hosts
        self.failures = []

    def state(self):
        return {"results.txt": read(self.run / "state" / "results.txt"),
                "host.dat": read(self.run / "state" / "host.dat")}

    def after_kill(self, where):
        """The state files right after a kill, then a run to the end."""
        state = self.state()
        for name, content in state.items():
            if name == "host.dat" and not self.check_hosts:
                continue
            if content not in (self.old[name], self.new[name]):
                kind = "missing" if content is None else "neither the old nor the new version"
                self.failures.append("%s: %s is %s" % (where, name, kind))
        status, stderr = finish(start(self.binary, self.run))
        if status != 0:
            self.failures.append("%s: the next run ended with status %d: %s"
                                 % (where, status, stderr[-500:]))
            return
        if self.state() != self.new:
            self.failures.append("%s: the next run left other state files than an "
                                 "uninterrupted run" % where)
        repaired = reports(self.run)
        if repaired != self.reference_reports:
            differing = sorted(name for name in set(repaired) | set(self.reference_reports)
                               if repaired.get(name) != self.reference_reports.get(name))
            self.failures.append("%s: after the next run %d report files differ from an "
                                 "uninterrupted run's, e.g. %s"
                                 % (where, len(differing), differing[:3]))


def strace_kills_work(work):
    """True when strace can stop a process with a signal at a chosen call."""
    if shutil.which("strace") is None:
        return False
    probe = work / "probe"
    probe.write_text("")
    calls = STATE_CALLS[-1]
    subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + calls,
                    "-e", "inject=%s:signal=KILL:when=1" % calls, "rm", str(probe)],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return probe.exists()


def main(argv):
    if argv[1] == "hosts":
        sys.stdout.write(hosts_table())
        return 0
    binary = os.path.realpath(argv[2])
    # New names are stamped with the run's local date, so a midnight between
    # the uninterrupted run and a later one would change the host-name file.
    # The runs keep to a time zone where it is now about noon.
    os.environ["TZ"] = "SVK%+d" % (time.gmtime().tm_hour - 12)
    examples = pathlib.Path(argv[3]) / "examples"
    rng = random.Random(20260309)
    work = pathlib.Path(tempfile.mkdtemp(prefix="sorvik-crash-"))
    kills = 0
    try:
        run, old = work / "run", work / "old"
        for sub in ("logs", "out/reports", "out/html", "state"):
            (run / sub).mkdir(parents=True)
        shutil.copy(examples / "english.lng", run / "english.lng")
        (run / "sorvik.conf").write_text(
            "logfiles=logs/access.*\ntargetdir=out/reports\nhtmldir=out/html\n"
            "Lang_file=english.lng\nResults=state/results.txt\nErrlogfile=state/errlog.txt\n"
            "Host_file=state/host.dat\nHost_Url=www.example.org\nAnalyse_Years=yes\n")
        (run / "logs" / "access.10").write_text(week_lines(rng, 2, RECORDS_PER_WEEK, [0]))
        open_week = week_lines(rng, 9, RECORDS_PER_WEEK, [0, 1])
        half = open_week[:len(open_week) // 2]
        (run / "logs" / "access.11").write_text(half[:half.rindex("\n") + 1])

        # The old state; then the open week grows and a week with new clients
        # comes.
        run_to_end(binary, run)
        shutil.copytree(run, old, ignore=shutil.ignore_patterns("logs"))
        (run / "logs" / "access.11").write_text(open_week)
        (run / "logs" / "access.12").write_text(week_lines(rng, 16, RECORDS_PER_WEEK, [1, 2]))

        # The new state, from an uninterrupted run.
        duration = run_to_end(binary, run)
        old_state = {"results.txt": read(old / "state" / "results.txt"),
                     "host.dat": read(old / "state" / "host.dat")}
        new_state = {"results.txt": read(run / "state" / "results.txt"),
                     "host.dat": read(run / "state" / "host.dat")}
        check_hosts = new_state["host.dat"] is not None and new_state["host.dat"] != old_state[
            "host.dat"]
        if not check_hosts:
            print("note: name resolution does not work here, so no host-name file is written; "
                  "only the result file is checked")
        checker = Checker(binary, run, old_state, new_state, reports(run), check_hosts)
        print("an uninterrupted run takes %.2f s" % duration)

        # Kills after random delays over the whole run; fewer where a run is
        # slow (a sanitizer build), so that the test keeps to about a minute.
        count = KILL_DELAYS if duration < 1.5 else 3
        delays = sorted([0.0, 0.005] + [rng.uniform(0, duration * 1.1) for _ in range(count - 2)])
        for delay in delays:
            restore(old, run)
            process = start(binary, run)
            time.sleep(delay)
            process.kill()
            status, _ = finish(process)
            kills += 1
            checker.after_kill("killed after %.3f s (status %d)" % (delay, status))

        # Kills right before each call that replaces or removes a file: the
        # n-th call of each kind, for every n until a run gets through.
        if strace_kills_work(work):
            state_kills = 0
            for calls in STATE_CALLS:
                for n in range(1, 100):
                    restore(old, run)
                    process = start(binary, run, [
                        "strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=" + calls,
                        "-e", "inject=%s:signal=KILL:when=%d" % (calls, n)])
                    status, stderr = finish(process)
                    if status == 0:
                        break
                    if status not in KILLED:
                        checker.failures.append("a run under strace ended with status %d: %s"
                                                % (status, stderr[-500:]))
                        break
                    state_kills += 1
                    checker.after_kill("killed before %s call %d (status %d)"
                                       % (calls.split(",")[0], n, status))
            print("killed before each of %d calls that rename, link or remove a file"
                  % state_kills)
            kills += state_kills
            if state_kills == 0:
                checker.failures.append("strace stopped the run at no call")
        elif os.environ.get("CI") == "true":
            checker.failures.append("strace cannot stop the analyzer at a chosen call here")
        else:
            print("note: strace cannot inject signals here; only the random kills ran")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in checker.failures:
        print("FAIL: " + failure)
    if not checker.failures:
        print("crash safety: %d kills, state always old or new, every next run repaired" % kills)
    return 1 if checker.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""The soak: fieldmon left running against 100 simulated devices while pages
are opened and closed every few seconds, devices vanish and come back, and
one device floods the app with malformed datagrams.

usage: bench/app/soak.py [--seconds N] [--devices N] [--flood N] [--app PATH [--leaks]]

Prints the resident memory after warm-up and at the end, the slowest answer
to a reading request, what was done, and a verdict. PASS needs: the app alive
to the end and quitting cleanly (with a LeakSanitizer build: no leak
reported), resident memory growing less than 1 MiB after warm-up (judged
on its anonymous part: heap and private memory, what a leak grows; library
code that runs for the first time late in the run, the first "Lost client"
alert say, adds its pages too, but only once), and every
reading request answered within 100 ms. Exit status 0 unless the app
crashed, leaked or stopped answering (a missed memory or answer-time goal
is reported, with status 0, as figures are on a shared machine); 77 when no
private network can be made.

With a sanitizer build (--app build-asan/app/fieldmon --leaks) memory
figures mean nothing and are left out; leaks are what that run is for.
"""

import argparse
import os
import random
import re
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devices  # noqa: E402
import harness  # noqa: E402
import procstat  # noqa: E402

ANSWER_GOAL = 0.100
GROWTH_GOAL_MIB = 1.0
CYCLE = 30           # seconds in which a vanishing device is gone for 10
VANISHING = range(90, 100)
OPENED = [0, 1, 2, 3, 4, 5, 95]  # devices whose pages are opened; 95 also vanishes


def options():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--seconds", type=float, default=600)
    p.add_argument("--devices", type=int, default=100)
    p.add_argument("--flood", type=float, default=200, help="malformed datagrams per second from one device")
    p.add_argument("--app", default=harness.APP)
    p.add_argument("--leaks", action="store_true",
                   help="the app is a LeakSanitizer build: check for leaks, leave memory figures out")
    p.add_argument("--log", help="keep the simulator's log in FILE (default: none)")
    p.add_argument("--inside", help=argparse.SUPPRESS)
    return p.parse_args()


def schedule(seconds):
    """Device k of VANISHING falls silent for 10 s of every CYCLE, each at
    its own phase, for the whole run (and a minute more)."""
    def timeline(k):
        if k not in VANISHING:
            return None
        changes, t = [], 5 + (k - VANISHING.start) * CYCLE / len(VANISHING)
        while t < seconds + 60:
            changes += [{"at": round(t, 2), "silent": True}, {"at": round(t + 10, 2), "silent": False}]
            t += CYCLE
        return changes
    return timeline


class Soak:
    def __init__(self, app, asan):
        self.app, self.asan = app, asan
        self.counts = {"pages": 0, "alerts": 0}
        self.rss = []  # (RSS, its anonymous part) in MiB, on the device list between pages

    def ask(self, cmd, **args):
        return self.app(cmd, **args)

    def settle_alerts(self):
        """Presses the button of any alert shown (a lost or found device)."""
        while self.ask("screen").get("alert"):
            self.counts["alerts"] += 1
            self.ask("alert_button", index=0)

    def home(self):
        for _ in range(10):
            self.settle_alerts()
            screen = self.ask("screen")
            if screen.get("depth", 1) <= 1:
                return
            if not self.ask("back").get("ok"):
                self.ask("tap", x=22, y=22)
        raise RuntimeError("cannot get back to the device list")

    def open_page(self, name, stay):
        """Device list -> detail -> Connect -> the page with values for
        `stay` seconds (reading it as it goes) -> back to the list. A device
        that is not listed just now (it vanished) is skipped."""
        self.home()
        where = None
        for si, section in enumerate(self.ask("rows").get("sections", [])):
            for ri, row in enumerate(section["rows"]):
                if row.get("text", "").startswith(name + " ("):
                    where = (si, ri)
        if not where:
            return
        self.ask("tap_row", section=where[0], row=where[1])
        self.settle_alerts()
        table = self.ask("rows")
        if not table.get("ok"):
            return
        rows = table["sections"][0]["rows"]
        connect = next((i for i, r in enumerate(rows) if r.get("center") == "Connect"), None)
        if connect is None:
            return
        self.ask("tap_row", section=0, row=connect)
        end = time.monotonic() + stay
        while time.monotonic() < end:
            self.settle_alerts()
            self.ask("widgets")
            self.ask("wait", ms=200)
        self.counts["pages"] += 1
        self.home()

    def sample_memory(self):
        if not self.asan:
            self.ask("wait", ms=300)
            self.rss.append((procstat.memory(self.app.pid)[0], procstat.anonymous_memory(self.app.pid)))


def inside(args):
    asan = args.leaks
    env = {}
    if asan:
        supp = os.path.join(harness.SOURCE, "tests", "ui", "lsan.supp")  # Qt's own leaks
        env["LSAN_OPTIONS"] = f"suppressions={supp}:print_suppressions=0"
        env["ASAN_OPTIONS"] = "detect_leaks=1"
    print(f"fieldmon soak: {args.seconds:.0f} s, {args.devices} devices, {len(VANISHING)} vanishing every "
          f"{CYCLE} s, one flooding {args.flood:.0f} bad datagrams/s; load average {procstat.load_average():.1f}"
          + (" (sanitizer build: leaks only)" if asan else ""), flush=True)
    app = harness.App(extra_env=env, app=args.app, watch=("ERROR: ", "SUMMARY: ", "Direct leak", "Indirect leak",
                                                          "    #"))
    soak = Soak(app, asan)
    start = time.monotonic()
    problem = None
    try:
        app.client.wait_until(lambda _: app.row_count() >= args.devices - len(VANISHING), timeout=60,
                              what="the devices to be listed")
        rng = random.Random(1607)
        warmed = start + min(120.0, args.seconds / 5)
        while time.monotonic() - start < args.seconds:
            k = rng.choice(OPENED)
            name = "Load panel" if k == 0 else f"Site {k}"
            soak.open_page(name, stay=rng.uniform(1.0, 4.0))
            if time.monotonic() >= warmed:
                soak.sample_memory()
            if not app.alive():
                break
    except Exception as e:  # the app stopped answering, or went away
        problem = f"{type(e).__name__}: {e}"
    elapsed = time.monotonic() - start
    alive = app.alive()
    status = app.quit() if alive else app.process.returncode
    output = "\n".join(line for _, line in app.kept)
    leaks = re.findall(r"ERROR: LeakSanitizer.*|SUMMARY: (?:Address|Undefined|Leak)Sanitizer.*", output)

    print(f"  ran {elapsed:.0f} s: {soak.counts['pages']} pages opened and closed, {soak.counts['alerts']} alerts "
          f"answered, {app.requests} requests, {app.line_count} lines of output")
    print(f"  slowest answer to a reading request: {1000 * app.slowest:.0f} ms ({app.slowest_what}); "
          f"goal {1000 * ANSWER_GOAL:.0f} ms")
    growth = None
    if soak.rss:
        n = max(1, len(soak.rss) // 5)

        def change(k):
            first = statistics.median(sample[k] for sample in soak.rss[:n])
            last = statistics.median(sample[k] for sample in soak.rss[-n:])
            return first, last
        (first, last), (anon_first, anon_last) = change(0), change(1)
        growth = anon_last - anon_first
        print(f"  RSS on the device list after warm-up {first:.1f} MiB, at the end {last:.1f} MiB "
              f"({last - first:+.2f} MiB; max {max(s[0] for s in soak.rss):.1f} MiB, {len(soak.rss)} samples)")
        print(f"  of which anonymous (heap and private memory) {anon_first:.1f} MiB, then {anon_last:.1f} MiB "
              f"(growth {growth:+.2f} MiB, goal < {GROWTH_GOAL_MIB} MiB); the rest is library code paged in")
    for line in leaks[:20]:
        print(f"  {line}")

    failures = []
    if problem:
        failures.append(problem)
    if not alive:
        failures.append(f"the app ended by itself with status {status}")
    elif status != 0:
        failures.append(f"the app quit with status {status}")
    if leaks:
        failures.append("the sanitizer reported errors or leaks")
    misses = []
    if app.slowest > ANSWER_GOAL:
        misses.append("an answer took longer than 100 ms")
    if growth is not None and growth >= GROWTH_GOAL_MIB:
        misses.append("memory grew by 1 MiB or more")
    verdict = "FAIL" if failures else ("PASS" if not misses else "PASS with missed goals")
    print(f"soak verdict: {verdict}" + "".join(f"; {m}" for m in failures + misses), flush=True)
    return 1 if failures else 0


def main():
    args = options()
    if args.inside:
        return inside(args)
    folder = tempfile.mkdtemp(prefix="fieldmon-soak-")

    def extra(k):
        return {"flood": args.flood} if k == 7 and args.flood > 0 else None
    paths = devices.write(folder, args.devices, schedule=schedule(args.seconds), extra=extra)
    log = os.path.abspath(args.log) if args.log else "/dev/null"
    argv = [sys.executable, os.path.abspath(__file__), *sys.argv[1:], "--inside", log]
    status = harness.run_in_netns(paths, log, argv)
    import shutil
    shutil.rmtree(folder, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())

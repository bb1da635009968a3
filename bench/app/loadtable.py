#!/usr/bin/env python3
"""The load table: the real fieldmon against 100 simulated devices in a
private network, driven through its automation socket.

usage: bench/app/loadtable.py [--devices N] [--widgets N] [--rate S]
                              [--changes N] [--window S] [--log FILE]

Prints one table: start-up to the full device list, Connect to the first page
with live values on a big document (fetch / read+build / first values),
reply-to-screen latency, steady state on that page, idle on the list, and
resident memory. CPU figures are CPU time of the app's threads over the
measuring window (not wall-clock shares) with the load average beside them.
Exit status 0 unless the app crashed or stopped answering; 77 when no
private network can be made (user namespaces forbidden and not root).
"""

import argparse
import json
import os
import random
import socket
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devices  # noqa: E402
import harness  # noqa: E402
import procstat  # noqa: E402

LISTEN_THREAD = "fm-listen"


def options():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--devices", type=int, default=100)
    p.add_argument("--widgets", type=int, default=500)
    p.add_argument("--rate", type=float, default=0.1, help="refresh of the big page, seconds")
    p.add_argument("--changes", type=int, default=1000, help="variable changes timed for the latency")
    p.add_argument("--window", type=float, default=20.0, help="seconds of each CPU measurement")
    p.add_argument("--log", help="keep the simulator's log in FILE")
    p.add_argument("--recording", action="store_true",
                   help="also measure the big page's steady state while the app records (the Record switch), "
                        "side by side with not recording, and the recording's size per hour")
    p.add_argument("--inside", help=argparse.SUPPRESS)
    p.add_argument("--quiet", action="store_true", help=argparse.SUPPRESS)
    return p.parse_args()


class Table:
    def __init__(self):
        self.rows = []

    def add(self, what, figure, note=""):
        self.rows.append((what, figure, note))
        print(f"  {what:<44} {figure:<26} {note}", flush=True)


class Unprinted(Table):
    """A table for steps whose figures another row sums up."""

    def add(self, what, figure, note=""):
        self.rows.append((what, figure, note))


def thread_figures(app, seconds):
    """CPU % and wake-ups per second of the main and listen threads, the
    process's CPU %, and datagrams per second each way, over `seconds`."""
    pid = app.pid
    in0, out0 = procstat.udp_counters()
    dropped0 = procstat.udp_dropped()
    before = procstat.ThreadSample(pid)
    cpu0 = procstat.process_cpu(pid)
    t0 = time.monotonic()
    time.sleep(seconds)
    after = procstat.ThreadSample(pid)
    cpu1 = procstat.process_cpu(pid)
    elapsed = time.monotonic() - t0
    in1, out1 = procstat.udp_counters()
    listen = after.tid_named(LISTEN_THREAD)
    if listen is None:  # an app without thread names: the busiest other thread
        others = [t for t in after.names if t != pid and t in before.cpu]
        listen = max(others, key=lambda t: after.wakes[t] - before.wakes[t], default=None)

    def share(tid):
        return 100.0 * (after.cpu[tid] - before.cpu[tid]) / elapsed if tid in before.cpu else float("nan")

    def wakes(tid):
        return (after.wakes[tid] - before.wakes[tid]) / elapsed if tid in before.wakes else float("nan")
    return {
        "process": 100.0 * (cpu1 - cpu0) / elapsed,
        "main": share(pid), "listen": share(listen) if listen else float("nan"),
        "main_wakes": wakes(pid), "listen_wakes": wakes(listen) if listen else float("nan"),
        "in": (in1 - in0) / elapsed, "out": (out1 - out0) / elapsed,
        "dropped": procstat.udp_dropped() - dropped0,
        "load": procstat.load_average(),
    }


# The app's home while --recording measures: its documents folder, where the
# Record switch writes, is HOME/Documents.
RECORD_HOME = None


def startup(table, count):
    in0, out0 = procstat.udp_counters()
    t0 = time.monotonic()
    app = harness.App(extra_env={"HOME": RECORD_HOME, "XDG_CONFIG_HOME": os.path.join(RECORD_HOME, ".config")}
                      if RECORD_HOME else None)
    while app.row_count() < count:
        if time.monotonic() - t0 > 60:
            raise RuntimeError(f"only {app.row_count()} of {count} devices listed after 60 s")
        time.sleep(0.02)
    took = time.monotonic() - t0
    in1, out1 = procstat.udp_counters()
    table.add(f"1 start-up to {count} devices listed", f"{took * 1000:.0f} ms",
              f"datagrams sent {out1 - out0}, received {in1 - in0}; load {procstat.load_average():.1f}")
    return app


def idle(table, app, window):
    app.ok("wait", ms=2000)
    f = thread_figures(app, window)
    table.add("5 idle: list shown, no page", f"process {f['process']:.1f} % CPU",
              f"main {f['main']:.1f} % ({f['main_wakes']:.1f} wake-ups/s), listen {f['listen']:.1f} % "
              f"({f['listen_wakes']:.1f}/s); datagrams/s in {f['in']:.0f} out {f['out']:.0f}, {f['dropped']} dropped; load {f['load']:.1f}")
    rss, _ = procstat.memory(app.pid)
    table.add("6a RSS, list of devices", f"{rss:.1f} MiB")


def quiet(table, window):
    """The app alone: one device that never answers, the list empty. What
    wakes the main thread now are its own timers."""
    app = harness.App()
    try:
        app.ok("wait", ms=2000)
        f = thread_figures(app, window)
        table.add("5b idle, no device answering", f"process {f['process']:.2f} % CPU",
                  f"main {f['main_wakes']:.1f} wake-ups/s, listen {f['listen_wakes']:.1f}/s "
                  f"(the 0.25 s tick: 4/s); load {f['load']:.1f}")
    finally:
        app.quit()


def labels(app):
    return [w for w in app.ok("widgets")["widgets"] if w["class"] == "label"]


def connect(table, app, sim_log, widgets):
    row = app.find_row("Load panel (")
    app.ok("tap_row", section=row[0], row=row[1])
    rows = app.rows()[0]["rows"]
    connect_row = next(i for i, r in enumerate(rows) if r.get("center") == "Connect")
    wall0, t0 = time.time(), time.monotonic()
    app.ok("tap_row", section=0, row=connect_row)
    deadline = t0 + 60
    valued = settled = None
    while valued is None or settled is None:
        screen = app.ok("screen")
        if screen.get("alert"):
            raise RuntimeError(f"Connect showed an alert: {app('alert')}")
        if screen.get("kind") == "page":
            if settled is None and not screen.get("sliding"):
                settled = time.monotonic()
            shown = labels(app) if valued is None else []
            if len(shown) > 0 and all(l["text"] != "(nil)" for l in shown):
                valued = time.monotonic()
        if time.monotonic() > deadline:
            raise RuntimeError("the big page showed no values within 60 s")
        time.sleep(0.01)
    # The simulator's log tells when the document had been served and when
    # the first variable request (sent once the reader has built the page)
    # came in; the app's own output is buffered and cannot.
    lines = harness.sim_lines(sim_log, wall0, who="Load panel")
    served = next((t for t, text in lines if text.startswith("   http: 200")), None)
    requested = next((t for t, text in lines if text.startswith("<- 10.77.0.1:") and
                      (" 'v" in text or " 'a" in text)), None)
    split = "no split: the simulator's log lacks the transfer or the first request"
    if served is not None and requested is not None:
        served, requested = t0 + (served - wall0), t0 + (requested - wall0)
        split = (f"fetch {1000 * (served - t0):.0f} / read+build {1000 * (requested - served):.0f} / "
                 f"first values {1000 * (valued - requested):.0f} ms")
    n = len(app.ok("widgets")["widgets"])
    table.add(f"2 Connect to first page with values ({n} widgets)", f"{1000 * (valued - t0):.0f} ms",
              f"{split}; the page's slide in ends at {1000 * (settled - t0):.0f} ms; "
              f"load {procstat.load_average():.1f}")


def steady(table, app, window, rate):
    app.ok("wait", ms=3000)
    f = thread_figures(app, window)
    table.add(f"4 steady: big page at {1 / rate:.0f} Hz, all devices",
              f"main {f['main']:.1f} %, listen {f['listen']:.1f} %",
              f"process {f['process']:.1f} % CPU; datagrams/s in {f['in']:.0f} out {f['out']:.0f}, "
              f"{f['dropped']} dropped; "
              f"wake-ups/s main {f['main_wakes']:.0f} listen {f['listen_wakes']:.0f}; load {f['load']:.1f}")
    rss, hwm = procstat.memory(app.pid)
    table.add("6b RSS steady / peak, big page open", f"{rss:.1f} / {hwm:.1f} MiB", "goal: at most 40 MiB")


def switch_recording(app, on):
    """Back to the list and a tap on its Record switch, as a finger does;
    switched off, the alert that names the file is answered."""
    app.home()
    record = app.ok("screen")["record"]
    if record["on"] == on:
        return
    x, y, w, h = record["frame"]
    app.ok("tap", x=x + w / 2, y=y + h / 2)
    assert app.ok("screen")["record"]["on"] == on, "the Record switch did not turn"
    if not on:
        deadline = time.monotonic() + 5
        while not app.ok("screen").get("alert"):
            if time.monotonic() > deadline:
                raise RuntimeError("no alert named the recording's file")
            time.sleep(0.02)
        app.ok("alert_button", index=0)


def recording_size():
    import glob
    return sum(os.path.getsize(f) for f in glob.glob(os.path.join(RECORD_HOME, "Documents", "*.pcapng")))


def recording_overhead(table, app, sim_log, widgets, window, rate):
    """The big page's steady state with the app recording and not, in turns
    (off, on, off, on) in the same app, so both see the same load."""
    main = {False: [], True: []}
    size_rate = []
    for on in (False, True, False, True):
        switch_recording(app, on)
        connect(Unprinted(), app, sim_log, widgets)
        app.ok("wait", ms=3000)
        size0, t0 = recording_size(), time.monotonic()
        main[on].append(thread_figures(app, window)["main"])
        if on:
            size_rate.append((recording_size() - size0) / (time.monotonic() - t0))
    switch_recording(app, False)
    off, on = sum(main[False]) / 2, sum(main[True]) / 2
    table.add("4r steady, recording vs not (main thread)", f"{on:.1f} % vs {off:.1f} %",
              f"{100 * (on - off) / off:+.1f} % (goal <= +5 %); turns off {main[False]}, on {main[True]}; "
              f"load {procstat.load_average():.1f}")
    per_hour = 3600 * sum(size_rate) / len(size_rate)
    table.add("4s recording size per hour", f"{per_hour / 2**20:.0f} MiB",
              f"{sum(size_rate) / len(size_rate) / 1024:.0f} KiB/s at {1 / rate:.0f} Hz, all devices")


def latency(table, app, changes, rate, sim_log):
    """Sets the latency label's variable in the simulator through its command
    port and times until the label shows the new value. The simulator's log
    splits each time at the device's first reply after the change: waiting
    for the next poll, and reply to screen."""
    tag = next(w["tag"] for w in labels(app) if w["text"].startswith("L"))
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    device = (devices.address(0), 10024)
    rng = random.Random(16)
    seen = {}  # value -> (changed, shown), monotonic
    value = rng.randrange(1_000_000, 2_000_000)
    wall0, mono0 = time.time(), time.monotonic()

    def shown():
        reply = app.ok("widgets", tag=tag)["widgets"]
        return next((w["text"] for w in reply if w["tag"] == tag), None)

    try:
        for _ in range(changes):
            time.sleep(rng.uniform(0, rate))
            value += 1
            want = f"L{value}"
            changed = time.monotonic()
            sock.sendto(f"cset lat {value}\n".encode(), device)
            while shown() != want:
                if time.monotonic() - changed > 5:
                    raise RuntimeError(f"the label did not show {want} within 5 s")
                time.sleep(0.001)
            seen[value] = (changed, time.monotonic())
    finally:
        sock.close()
    times = [b - a for a, b in seen.values()]
    # The first value reply the device sent after taking each change.
    replied, pending = {}, None
    for stamp, text in harness.sim_lines(sim_log, wall0, who="Load panel"):
        if text.startswith("<- ") and "'cset lat " in text:
            pending = int(text.split("'cset lat ")[1].split("\\n")[0])
        elif pending is not None and text.startswith("-> 10.77.0.1:10023 'A"):
            replied[pending] = mono0 + (stamp - wall0)
            pending = None
    to_screen = [seen[v][1] - t for v, t in replied.items() if v in seen]
    p50, p99 = harness.percentile(times, 50), harness.percentile(times, 99)
    goal = rate + 0.016
    table.add(f"3 change-to-screen latency ({len(times)} changes)",
              f"p50 {1000 * p50:.0f} ms, p99 {1000 * p99:.0f} ms",
              f"max {1000 * max(times):.0f} ms; goal p99 <= {1000 * goal:.0f} ms "
              f"({'met' if p99 <= goal else 'missed'}); load {procstat.load_average():.1f}")
    if to_screen:
        table.add("   of which device reply to screen",
                  f"p50 {1000 * harness.percentile(to_screen, 50):.0f} ms, "
                  f"p99 {1000 * harness.percentile(to_screen, 99):.0f} ms",
                  f"{len(to_screen)} replies found in the simulator's log (1 ms stamps)")


def inside(args):
    global RECORD_HOME
    table = Table()
    if args.recording:
        RECORD_HOME = tempfile.mkdtemp(prefix="fieldmon-record-")
    if args.quiet:
        quiet(table, args.window)
        return 0
    print(f"fieldmon load table: {args.devices} devices, a {args.widgets}-widget page at {args.rate} s "
          f"(load average {procstat.load_average():.1f}, {os.cpu_count()} CPUs)", flush=True)
    app = startup(table, args.devices)
    status = 0
    try:
        idle(table, app, args.window)
        connect(table, app, args.inside, args.widgets)
        steady(table, app, args.window, args.rate)
        if args.recording:
            recording_overhead(table, app, args.inside, args.widgets, args.window, args.rate)
        if args.changes > 0:
            latency(table, app, args.changes, args.rate, args.inside)
        table.add("   automation: slowest answer to a reading", f"{1000 * app.slowest:.0f} ms",
                  f"{app.slowest_what}; {app.requests} requests")
        app.home()
        app.ok("wait", ms=1500)
        rss, _ = procstat.memory(app.pid)
        table.add("6c RSS, list again after the page", f"{rss:.1f} MiB")
    except Exception as e:  # a figure that could not be taken ends the run
        print(f"load table: {e}", flush=True)
        status = 1
    if not app.alive():
        print(f"load table: the app ended with status {app.process.returncode}", flush=True)
        return 1
    quit_status = app.quit()
    if quit_status != 0:
        print(f"load table: the app quit with status {quit_status}", flush=True)
        status = 1
    return status


def main():
    args = options()
    if args.inside:
        return inside(args)
    folder = tempfile.mkdtemp(prefix="fieldmon-load-")
    paths = devices.write(folder, args.devices, args.widgets, args.rate)
    log = os.path.abspath(args.log) if args.log else os.path.join(folder, "fieldsim.log")
    argv = [sys.executable, os.path.abspath(__file__), *sys.argv[1:], "--inside", log]
    status = harness.run_in_netns(paths, log, argv)
    if status == 0:
        # The same app with nobody answering, in a network of its own.
        silent = devices.write(os.path.join(folder, "silent"), 1, extra=lambda k: {"silent": True})
        status = harness.run_in_netns(silent, "/dev/null", argv + ["--quiet"])
    if not args.log:
        import shutil
        shutil.rmtree(folder, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Hostile devices, measured: the app against the hostile panels of the
end-to-end tests (tests/e2e/hostile/) and a flood of forged announcements.

usage: bench/app/hostile.py [--flood-seconds S] [--rate N]

1 pictures: 30 image widgets of one picture that decodes to 61 MiB
  (4000 x 4000). Peak RSS of a fresh app after Connect, beside the same
  app's peak with only the device list shown (the baseline). Goal: under
  300 MB.
2 texts: five labels whose printf asks for 11 MB each. Seconds from Connect
  to the page answering `screen`, the slowest `screen` answer in the two
  seconds after, and the peak RSS beside the list's. Goals: `screen` within
  2 s of Connect, peak under 300 MB.
3 flood: N forged announcements a second (default 1,000), each from a new
  address (10.77.10.0 and up, sent with forged sources through a raw socket
  to the app's own address) for S seconds (default 10). CPU of the main and
  listen threads over the flood, beside the same threads over as long with
  no flood (the baseline); records listed at the end.

Runs inside tools/netns (re-executes itself there; exit 77 without root).
Each part starts its own app, so the peaks are its own. Prints a table.
"""

import argparse
import glob
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import procstat  # noqa: E402

HOSTILE = sorted(glob.glob(os.path.join(harness.SOURCE, "tests", "e2e", "hostile", "*.json")))
DEVICES = [p for p in HOSTILE if os.path.basename(p) in ("pictures.json", "texts.json")]
GOAL_MB = 300


def mb(mib):
    return mib * 1024 * 1024 / 1e6


def listed(app, prefix, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if app.find_row(prefix):
            return True
        app.ok("wait", ms=100)
    return False


def connect(app, name):
    """Connect on `name`; answers the seconds until the page answered."""
    section, row = app.find_row(name + " (")
    app.ok("tap_row", section=section, row=row)
    rows = app.rows()[0]["rows"]
    connect_row = next(i for i, r in enumerate(rows) if r.get("center") == "Connect")
    started = time.monotonic()
    app.ok("tap_row", section=0, row=connect_row)
    while time.monotonic() - started < 60:
        screen = app.ok("screen")
        if screen.get("kind") == "page" and not screen["sliding"]:
            return time.monotonic() - started
        if screen.get("alert"):
            raise RuntimeError(f"Connect on {name}: {app.ok('alert')}")
        time.sleep(0.02)
    raise RuntimeError(f"Connect on {name} opened no page")


def part_pictures():
    app = harness.App()
    base = 0.0
    try:
        listed(app, "Picture panel")
        _, base = procstat.memory(app.pid)
        took = connect(app, "Picture panel")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            images = [w for w in app.ok("widgets")["widgets"] if w["class"] == "image"]
            if images and all(w["state"] != "waiting" for w in images):
                break
            time.sleep(0.1)
        shown = sum(w["state"] == "shown" for w in images)
        _, peak = procstat.memory(app.pid)
        return {"base": base, "peak": peak, "connect": took, "shown": shown, "widgets": len(images)}
    except (TimeoutError, OSError, RuntimeError) as e:
        return stuck(app, base, e)
    finally:
        app.quit()


def part_texts():
    app = harness.App()
    base = 0.0
    try:
        listed(app, "Text panel")
        _, base = procstat.memory(app.pid)
        took = connect(app, "Text panel")
        slowest, end = 0.0, time.monotonic() + 2.0
        while time.monotonic() < end:
            t = time.monotonic()
            app.ok("screen")
            slowest = max(slowest, time.monotonic() - t)
            time.sleep(0.05)
        labels = [w for w in app.ok("widgets")["widgets"] if w["class"] == "RemoteLabel"]
        _, peak = procstat.memory(app.pid)
        return {"base": base, "peak": peak, "connect": took, "slowest": slowest,
                "longest": max((len(w.get("text", "")) for w in labels), default=0)}
    except (TimeoutError, OSError, RuntimeError) as e:
        return stuck(app, base, e)
    finally:
        app.quit()


def stuck(app, base, error):
    """The figures of a part whose app stopped answering (30 s) or failed."""
    try:
        _, peak = procstat.memory(app.pid)
    except OSError:
        peak = float("nan")
    return {"base": base, "peak": peak, "stuck": f"{type(error).__name__}: {error}"}


def forged_sender():
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)

    def send(k):
        source = f"10.77.{10 + k // 250}.{1 + k % 250}"
        payload = f"mPLAT;FLOOD;Forged {k};1;{100000 + k};0".encode()
        udp = struct.pack("!HHHH", 10024, 10023, 8 + len(payload), 0) + payload
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton(source), socket.inet_aton("10.77.0.1"))
        raw.sendto(ip + udp, ("10.77.0.1", 0))
    return send


def thread_cpu(pid, names):
    sample = procstat.ThreadSample(pid)
    out = {}
    for name, tid in names.items():
        out[name] = sample.cpu.get(tid, 0.0)
    return out


def part_flood(seconds, rate):
    app = harness.App()
    try:
        listed(app, "Picture panel")
        tids = {"main": app.pid, "listen": procstat.ThreadSample(app.pid).tid_named("fm-listen")}
        # Baseline: the same window with the list shown and no flood.
        before = thread_cpu(app.pid, tids)
        time.sleep(seconds)
        idle = thread_cpu(app.pid, tids)
        send = forged_sender()
        started = time.monotonic()
        sent = 0
        while time.monotonic() - started < seconds:
            due = int((time.monotonic() - started) * rate)
            while sent < due:
                send(sent)
                sent += 1
            time.sleep(0.002)
        flood = thread_cpu(app.pid, tids)
        elapsed = time.monotonic() - started
        rows = app.row_count()
        return {
            "rate": sent / elapsed,
            "idle": {k: (idle[k] - before[k]) / seconds * 100 for k in tids},
            "flood": {k: (flood[k] - idle[k]) / elapsed * 100 for k in tids},
            "rows": rows,
            "sent": sent,
        }
    finally:
        app.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flood-seconds", type=float, default=10.0)
    parser.add_argument("--rate", type=int, default=1000)
    args = parser.parse_args()
    if not harness.inside_netns():
        log = os.path.join(harness.tempfile.mkdtemp(prefix="fieldmon-hostile-"), "sim.log")
        sys.exit(harness.run_in_netns(DEVICES, log, [sys.executable, os.path.abspath(__file__), *sys.argv[1:]]))

    load = procstat.load_average()
    p = part_pictures()
    t = part_texts()
    f = part_flood(args.flood_seconds, args.rate)
    print(f"Hostile devices (load average {load:.1f})")
    print("| part | figure | goal |")
    print("|---|---|---|")

    def stuck_line(name, part):
        print(f"| {name} | the app stopped answering ({part['stuck']}); peak RSS {mb(part['peak']):.0f} MB "
              f"(list alone {mb(part['base']):.0f} MB) | MISSED |")
    if "stuck" in p:
        stuck_line("1 pictures", p)
    else:
        print(f"| 1 pictures: 30 widgets, one 61 MiB-decoded picture | peak RSS {mb(p['peak']):.0f} MB "
              f"(list alone {mb(p['base']):.0f} MB); {p['shown']} of {p['widgets']} image widgets shown; "
              f"page in {p['connect']:.2f} s | under {GOAL_MB} MB: {'met' if mb(p['peak']) < GOAL_MB else 'MISSED'} |")
    if "stuck" in t:
        stuck_line("2 texts", t)
    else:
        print(f"| 2 texts: five 11 MB-printf labels | page answers `screen` {t['connect']:.2f} s after Connect, "
              f"slowest `screen` in the 2 s after {t['slowest'] * 1000:.0f} ms; labels at most {t['longest']} "
              f"characters; peak RSS {mb(t['peak']):.0f} MB (list alone {mb(t['base']):.0f} MB) | within 2 s "
              f"and under {GOAL_MB} MB: {'met' if t['connect'] < 2 and mb(t['peak']) < GOAL_MB else 'MISSED'} |")
    print(f"| 3 flood: {f['rate']:.0f} forged announcements/s from new addresses, {args.flood_seconds:.0f} s | "
          f"main {f['flood']['main']:.1f} %, listen {f['flood']['listen']:.1f} % CPU (no flood: main "
          f"{f['idle']['main']:.1f} %, listen {f['idle']['listen']:.1f} %); {f['rows']} rows listed after "
          f"{f['sent']} announcements | — |")
    ok = ("stuck" not in p and "stuck" not in t and mb(p["peak"]) < GOAL_MB and t["connect"] < 2
          and mb(t["peak"]) < GOAL_MB)
    sys.exit(0 if ok else 1)

if __name__ == "__main__":
    main()

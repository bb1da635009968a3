"""A visit recorded by the app itself, read by the dissector, and replayed.

Phase one runs the app with `--record` against the example devices in the
private network, while tcpdump records the same network as a technician
would on site, and drives the app through two device pages (the pump's
overview, the turbine's gauges with its picture), noting what the labels
show and when. Then tshark with our dissector reads the app's recording:
every UDP datagram decodes as fieldmon, none malformed, and the ui.xml and
picture transfers show as HTTP. The app's recording holds the datagrams
tcpdump saw on the wire, with the same addresses, ports and bytes. Phase two
replays the app's recording with `fieldsim --replay` in a new private
network and drives a fresh app the same way at the same times after the
capture's start: each label shows what it showed in the recording at the
same time, within two refreshes (one for the phase of the page's polling
against the recording's, one for an app slowed by a busy machine).

Run by hand: python3 tests/e2e/test_replay.py
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import e2e  # noqa: E402

NETNS = os.path.join(e2e.SOURCE, "tools", "netns")
FIELDSIM = os.environ.get("FIELDSIM", os.path.join(e2e.BUILD, "sim", "fieldsim"))
DISSECTOR = os.path.join(e2e.SOURCE, "tools", "wireshark", "fieldmon.lua")

# What both phases do, seconds after the capture's start (the first device
# datagram): open a device's first page, then sample its labels.
TOUR = [("North well", 3.0, 9.0), ("Wind turbine 2", 14.0, 8.0)]


def connect(app, name):
    for si, section in enumerate(app.rows()):
        for ri, row in enumerate(section["rows"]):
            if row.get("text", "").startswith(name + " ("):
                app.ok("tap_row", section=si, row=ri)
                break
    app.wait_until(lambda: app.ok("screen").get("kind") == "detail", what="the detail screen")
    rows = app.rows()[0]["rows"]
    connect_row = next(i for i, r in enumerate(rows) if r.get("center") == "Connect")
    app.ok("tap_row", section=0, row=connect_row)

    def opened():
        s = app.ok("screen")
        if s["alert"]:
            app.ok("alert_button", index=0)
            return None
        return s if s.get("kind") == "page" and not s["sliding"] else None
    return app.wait_until(opened, timeout=15, what=f"the first page of {name}")


def tour(app, start_epoch, samples):
    """Drives `app` through TOUR, timed from `start_epoch`; appends samples
    (device, seconds after the start, label texts, picture states)."""
    for name, at, seconds in TOUR:
        app.home()
        delay = start_epoch + at - time.time()
        if delay > 0:
            app.ok("wait", ms=int(delay * 1000))
        connect(app, name)
        end = time.time() + seconds
        while time.time() < end:
            widgets = app.ok("widgets")["widgets"]
            samples.append({
                "device": name,
                "t": time.time() - start_epoch,
                "labels": [w.get("text") for w in widgets if w["class"] == "label"],
                "images": [w.get("state") for w in widgets if w["class"] == "image"],
            })
            app.ok("wait", ms=100)


def sim_line(log, marker):
    with open(log, errors="replace") as f:
        for line in f:
            if marker in line:
                return line
    return None


def in_user_namespace():
    with open("/proc/self/uid_map") as f:
        return f.read().split()[:3] != ["0", "0", "4294967295"]


def start_capture(interface, capture):
    """tcpdump, as a technician would run it on site. In a user namespace
    tcpdump cannot give up root for its own user (setgroups is denied there),
    so Wireshark's dumpcap writes the same libpcap format instead."""
    if in_user_namespace():
        dump = subprocess.Popen(["dumpcap", "-q", "-i", interface, "-P", "-w", capture],
                                stderr=subprocess.PIPE, text=True)
        line = dump.stderr.readline()
        assert "Capturing on" in line, line
    else:
        dump = subprocess.Popen(["tcpdump", "-i", interface, "-w", capture, "-U", "-n", "-Z", "root"],
                                stderr=subprocess.PIPE, text=True)
        line = dump.stderr.readline()
        assert "listening on" in line, line
    return dump


def record(capture, out):
    """Phase one, inside the network of the example devices: the app records
    to `capture`, tcpdump to `capture`.pcap."""
    dump = start_capture(os.environ["FIELDMON_NETNS"], capture + ".pcap")
    app = e2e.App(extra_args=["--record", capture])
    try:
        app.wait_until(lambda: sum(len(s["rows"]) for s in app.rows()) == len(e2e.DEVICES), timeout=15,
                       what="the example devices to be listed")
        # The capture starts at the first device datagram it holds, which
        # came right after the app's first search.
        start = first_device_datagram(capture)
        samples = []
        tour(app, start, samples)
    finally:
        app.quit()
        time.sleep(0.5)
        dump.send_signal(signal.SIGINT)
        dump.wait(10)
    with open(out, "w") as f:
        json.dump({"start": start, "samples": samples}, f)


def first_device_datagram(capture):
    """Epoch time of the capture's first datagram to port 10023 (tshark reads
    the file while tcpdump still writes it)."""
    deadline = time.time() + 10
    while time.time() < deadline:
        out = subprocess.run(["tshark", "-n", "-r", capture, "-Y", "udp.dstport == 10023",
                              "-T", "fields", "-e", "frame.time_epoch"], capture_output=True, text=True).stdout
        if out.strip():
            return float(out.split()[0])
        time.sleep(0.2)
    raise AssertionError("no device datagram in the capture")


def replay(out):
    """Phase two, inside the network of the replayed devices."""
    log = os.environ["E2E_SIM_LOG"]
    line = e2e.wait_for(lambda: sim_line(log, "plays now ("), timeout=5, what="the replay to start")
    start = float(line.split("plays now (")[1].split(")")[0])
    app = e2e.App()
    samples = []
    try:
        app.wait_until(lambda: sum(len(s["rows"]) for s in app.rows()) == len(e2e.DEVICES), timeout=15,
                       what="the replayed devices to be listed")
        tour(app, start, samples)
    finally:
        app.quit()
    with open(out, "w") as f:
        json.dump({"start": start, "samples": samples}, f)


def udp_datagrams(capture, display_filter="udp && !icmp"):
    """(epoch, source, source port, destination, destination port, payload)
    of every UDP datagram in the capture."""
    out = subprocess.run(["tshark", "-n", "-r", capture, "-Y", display_filter, "-T", "fields",
                          "-e", "frame.time_epoch", "-e", "ip.src", "-e", "udp.srcport", "-e", "ip.dst",
                          "-e", "udp.dstport", "-e", "udp.payload"],
                         capture_output=True, text=True, check=True).stdout
    rows = [line.split("\t") for line in out.splitlines()]
    return [(float(r[0]), *r[1:]) for r in rows if len(r) == 6]


def check_against_the_wire(recording, wire):
    """The app's own recording holds what tcpdump saw while the app ran:
    each datagram with the same addresses, ports and bytes (the sending
    port included, which the app learns from its socket)."""
    ours = udp_datagrams(recording)
    seen = udp_datagrams(wire)
    first, last = ours[0][0], ours[-1][0]
    # The app records from before its first search until it quits; tcpdump
    # around that. Datagrams in flight at either end may fall on one side.
    # A capture tool says it listens a moment before it does (dumpcap in a
    # user namespace), so each side is compared where the other was on.
    margin = 0.05
    from collections import Counter
    wire_first, wire_last = seen[0][0], seen[-1][0]
    assert wire_first - first < 1, f"the wire's capture began {wire_first - first:.2f} s after the app's"
    recorded = Counter(d[1:] for d in ours)
    on_wire = Counter(d[1:] for d in seen if first + margin <= d[0] <= last - margin)
    missing = on_wire - recorded
    while_wire_on = [d for d in ours if wire_first + margin <= d[0] <= wire_last - margin]
    invented = Counter(d[1:] for d in while_wire_on) - Counter(d[1:] for d in seen)
    assert sum(on_wire.values()) > 100, f"only {sum(on_wire.values())} datagrams on the wire"
    assert not missing, f"{sum(missing.values())} datagrams on the wire not in the recording: {list(missing)[:5]}"
    assert not invented, f"{sum(invented.values())} recorded datagrams never on the wire: {list(invented)[:5]}"
    # And at the times the wire saw them: the app stamps a datagram when its
    # socket hands it over, not when the storage thread writes it. The same
    # bytes recur (searches, announcements, a second apart): each recorded
    # datagram is matched with the wire's nearest.
    wire_times = {}
    for d in seen:
        wire_times.setdefault(d[1:], []).append(d[0])
    late = max(min(abs(d[0] - t) for t in wire_times[d[1:]]) for d in while_wire_on)
    assert late < 0.25, f"a recorded datagram is stamped {late:.3f} s away from the wire's time"
    print(f"recording: {len(ours)} UDP datagrams, the same as on the wire (ends and bytes), "
          f"stamped within {1000 * late:.1f} ms of it")


def check_dissector(capture):
    if not shutil.which("tshark"):
        print("tshark is not installed: the dissector is not checked")
        return
    fields = subprocess.run(["tshark", "-n", "-r", capture, "-X", "lua_script:" + DISSECTOR, "-Y", "udp",
                             "-T", "fields", "-e", "frame.protocols", "-e", "_ws.expert.message"],
                            capture_output=True, text=True, check=True).stdout.splitlines()
    assert len(fields) > 100, f"only {len(fields)} UDP datagrams in the capture"
    not_ours = [f for f in fields if not f.split("\t")[0].endswith(":fieldmon")]
    malformed = [f for f in fields if "malformed" in f or "Lua" in f]
    assert not not_ours and not malformed, (not_ours[:5], malformed[:5])
    http = subprocess.run(["tshark", "-n", "-r", capture, "-Y", "http.request", "-T", "fields",
                           "-e", "http.request.uri"], capture_output=True, text=True, check=True).stdout.split()
    assert "/ui.xml" in http and "/logo.png" in http, http
    print(f"dissector: {len(fields)} UDP datagrams, all fieldmon, none malformed; HTTP: {sorted(set(http))}")


# The labels compared, by device. The pump's speed label is left out: the
# page's arrow reads the speed twice a second, so the replay answers the
# label with whichever of those replies came last, which the recording's
# label (once a second, at another phase) may never have shown.
# Each label with its refresh (seconds).
COMPARED = {"North well": {1: 2.0}, "Wind turbine 2": {0: 1.0, 1: 1.0}}
SLACK = 0.5  # the sampling step and the automation round trip


def compare(recorded, replayed):
    """Every replayed sample shows, label by label, what the recording
    showed at the same time within two refreshes."""
    checked = 0
    misses = []
    values = set()
    for s in replayed["samples"]:
        for i, refresh in COMPARED[s["device"]].items():
            near = [r for r in recorded["samples"]
                    if r["device"] == s["device"] and abs(r["t"] - s["t"]) <= 2 * refresh + SLACK]
            text = s["labels"][i] if i < len(s["labels"]) else None
            if text in (None, "(nil)"):
                continue
            checked += 1
            values.add((s["device"], i, text))
            if not any(i < len(r["labels"]) and r["labels"][i] == text for r in near):
                misses.append((s["device"], round(s["t"], 2), i, text))
    assert checked > 40, f"only {checked} label values to compare"
    # A machine under load may stall the app or the replay for a moment,
    # which puts the few samples taken then out of step; a replay that plays
    # the wrong values, or at the wrong pace, misses far more than 1 in 20.
    assert len(misses) <= checked // 20, \
        f"{len(misses)} of {checked} values not shown in the recording near their time: {misses[:8]}"
    # The values move: the comparison is not of constants.
    assert len(values) >= 8, values
    pictures = [s["images"] for s in replayed["samples"] if s["device"] == "Wind turbine 2"]
    assert pictures and pictures[-1] == ["shown"], pictures[-1:]
    print(f"replay: {checked - len(misses)} of {checked} label values ({len(values)} distinct) as the recording "
          f"showed them within two refreshes")


def main():
    if len(sys.argv) == 3 and sys.argv[1] in ("--record", "--replay"):
        return record(sys.argv[2], sys.argv[2] + ".json") if sys.argv[1] == "--record" else replay(sys.argv[2])
    if not shutil.which("tcpdump") or not shutil.which("dumpcap") or not shutil.which("tshark"):
        print("tcpdump, dumpcap or tshark is not installed (tools/deps.sh installs them); skipping")
        return 77
    work = tempfile.mkdtemp(prefix="fieldmon-replay-")
    capture = os.path.join(work, "visit.pcapng")
    env = dict(os.environ, FIELDSIM=FIELDSIM)
    try:
        for phase, args, log in [("--record", [*e2e.DEVICES], "record.log"),
                                 ("--replay", ["--replay", capture], "replay.log")]:
            log = os.path.join(work, log)
            open(log, "w").close()
            target = capture if phase == "--record" else os.path.join(work, "replayed.json")
            status = subprocess.call([NETNS, "--log", log, *args, "--", sys.executable, os.path.abspath(__file__),
                                      phase, target], env=dict(env, E2E_SIM_LOG=log))
            if status != 0:
                if status != 77:
                    subprocess.call(["tail", "-n", "40", log])
                return status
            if phase == "--record":
                check_dissector(capture)
                check_against_the_wire(capture, capture + ".pcap")
        with open(capture + ".json") as f:
            recorded = json.load(f)
        with open(os.path.join(work, "replayed.json")) as f:
            replayed = json.load(f)
        compare(recorded, replayed)
        return 0
    finally:
        if os.environ.get("FIELDMON_KEEP_REPLAY"):
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

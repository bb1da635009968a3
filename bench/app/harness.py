"""The pieces the load table and the soak share: the private network around
them, the app with its standard output time-stamped line by line, timed
automation requests, and the simulator's log.

Everything runs inside tools/netns: a script started outside re-executes
itself there with the device files it generated (exit 77 when no namespace
can be made, as the tests do).
"""

import datetime
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from fieldmon_automation import Connection, stop  # noqa: E402

BUILD = os.path.join(SOURCE, os.environ.get("FIELDMON_BUILD_DIR", "build"))
APP = os.environ.get("FIELDMON_APP", os.path.join(BUILD, "app", "fieldmon"))
READING = {"screen", "rows", "widgets", "alert", "log"}
FIELDSIM = os.environ.get("FIELDSIM", os.path.join(BUILD, "sim", "fieldsim"))


def inside_netns():
    return bool(os.environ.get("FIELDMON_NETNS"))


def run_in_netns(device_paths, sim_log, argv, keep=None):
    """Runs `argv` on the app side of a private network with fieldsim
    running the devices; returns its exit status (77: no namespace)."""
    env = dict(os.environ, FIELDSIM=FIELDSIM, BENCH_SIM_LOG=sim_log)
    command = [os.path.join(SOURCE, "tools", "netns"), "--log", sim_log, *device_paths, "--", *argv]
    return subprocess.call(command, env=env)


class App:
    """fieldmon with an automation socket. Its standard output is read by a
    thread that stamps every line with the monotonic clock on arrival."""

    def __init__(self, extra_env=None, app=APP, watch=()):
        self.dir = tempfile.mkdtemp(prefix="fieldmon-bench-")
        self.socket = os.path.join(self.dir, "app.sock")
        env = dict(os.environ, QT_QPA_PLATFORM=os.environ.get("QT_QPA_PLATFORM", "offscreen"))
        env.update(extra_env or {})
        self.started = time.monotonic()
        self.process = subprocess.Popen([app, "--automation", self.socket], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.lines = queue.Queue()
        self.kept = []          # (time, line) of lines that start with a watched prefix
        self.watch = tuple(watch)
        self.line_count = 0
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.client = Connection(self.socket, wait=30)
        self.slowest = 0.0      # the longest answer to a reading request so far, seconds
        self.slowest_what = ""
        self.requests = 0

    def _read(self):
        for raw in self.process.stdout:
            t = time.monotonic()
            self.line_count += 1
            line = raw.decode(errors="replace").rstrip("\n")
            if self.watch and line.startswith(self.watch):
                self.kept.append((t, line))

    @property
    def pid(self):
        return self.process.pid

    def __call__(self, cmd, **args):
        t = time.monotonic()
        reply = self.client(cmd, **args)
        took = time.monotonic() - t
        self.requests += 1
        # Acting commands answer once a slide has ended; only reading ones
        # say how quickly the app answers.
        if cmd in READING and took > self.slowest:
            self.slowest, self.slowest_what = took, cmd
        return reply

    def ok(self, cmd, **args):
        reply = self(cmd, **args)
        if not reply.get("ok"):
            raise RuntimeError(f"{cmd} {args}: {reply}")
        return reply

    def alive(self):
        return self.process.poll() is None

    def rows(self):
        reply = self("rows")
        return reply.get("sections", []) if reply.get("ok") else []

    def row_count(self):
        return sum(len(s["rows"]) for s in self.rows())

    def find_row(self, prefix):
        for si, section in enumerate(self.rows()):
            for ri, row in enumerate(section["rows"]):
                if row.get("text", "").startswith(prefix):
                    return si, ri
        return None

    def home(self):
        for _ in range(10):
            screen = self.ok("screen")
            if screen["depth"] <= 1:
                return
            if screen.get("alert"):
                self("alert_button", index=0)
                continue
            if not self("back").get("ok"):
                self("tap", x=22, y=22)

    def quit(self):
        """Asks the app to quit; answers its exit status."""
        try:
            self.client("quit")
            self.process.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            pass
        self.client.close()
        status = stop(self.process)
        shutil.rmtree(self.dir, ignore_errors=True)
        return status


def sim_lines(path, since_wall, who=None, contains=None):
    """Lines of the simulator's log stamped at or after `since_wall` (a
    time.time()), as (wall time, text). The log's stamps are local times of
    day with milliseconds."""
    out = []
    day = datetime.datetime.fromtimestamp(since_wall).date()
    with open(path, errors="replace") as f:
        for line in f:
            if len(line) < 13 or line[2] != ":" or line[8] != ".":
                continue
            if who and f"[{who}]" not in line:
                continue
            if contains and contains not in line:
                continue
            stamp = datetime.datetime.combine(day, datetime.time.fromisoformat(line[:12])).timestamp()
            if stamp >= since_wall - 0.0005:
                text = line[13:].rstrip("\n")
                out.append((stamp, text.split("] ", 1)[1] if text.startswith("[") and "] " in text else text))
    return out


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    k = min(len(ordered) - 1, max(0, int(round(p / 100.0 * (len(ordered) - 1)))))
    return ordered[k]

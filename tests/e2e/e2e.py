"""Shared helpers of the end-to-end tests.

Each test file drives the real app only through its automation socket, inside
a private network made by tools/netns, with fieldsim running the example
devices (examples/*/*.json). Run one by hand with

    python3 tests/e2e/test_screens.py          # no root needed; build/ by default

A file re-executes itself through tools/netns when it is not inside one yet
(exit 77, "skipped", when no namespace can be made). FIELDMON_APP and
FIELDSIM name the binaries (default: build/app/fieldmon, build/sim/fieldsim).
To add an area, write tests/e2e/test_<area>.py with AppTestCase classes and
end it with e2e.main(); CMake registers every test_*.py.
"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tools"))

from fieldmon_automation import Connection, launch, stop  # noqa: E402,F401

BUILD = os.path.join(SOURCE, os.environ.get("FIELDMON_BUILD_DIR", "build"))
APP = os.environ.get("FIELDMON_APP", os.path.join(BUILD, "app", "fieldmon"))
DEVICES = sorted(glob.glob(os.path.join(SOURCE, "examples", "*", "*.json")))


def main():
    """Runs the calling file's tests inside the private network."""
    if not os.environ.get("FIELDMON_NETNS"):
        with tempfile.NamedTemporaryFile(prefix="fieldsim-", suffix=".log", delete=False) as log:
            path = log.name
        env = dict(os.environ, E2E_SIM_LOG=path)
        env.setdefault("FIELDSIM", os.path.join(BUILD, "sim", "fieldsim"))
        command = [os.path.join(SOURCE, "tools", "netns"), "--log", path, *DEVICES,
                   "--", sys.executable, os.path.abspath(sys.argv[0]), *sys.argv[1:]]
        status = subprocess.call(command, env=env)
        os.unlink(path)
        sys.exit(status)
    unittest.main(verbosity=2)


def sim_log():
    """What the simulated devices received and sent so far."""
    with open(os.environ["E2E_SIM_LOG"], errors="replace") as f:
        return f.read()


def wait_for(predicate, timeout=10.0, what="condition"):
    """Polls predicate() until it answers something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(0.05)


class App:
    """The app running with its automation socket, and one client of it."""

    def __init__(self, extra_env=None, socket_path=None, extra_args=()):
        self.dir = tempfile.mkdtemp(prefix="fieldmon-e2e-")
        self.socket = socket_path or os.path.join(self.dir, "app.sock")
        self.output = open(os.path.join(self.dir, "stdout"), "w+")
        self.process = launch(APP, self.socket, extra_env, stdout=self.output, extra_args=extra_args)
        self.client = Connection(self.socket, wait=15)

    def __call__(self, cmd, **args):
        return self.client(cmd, **args)

    def ok(self, cmd, **args):
        reply = self.client(cmd, **args)
        assert reply.get("ok"), f"{cmd} {args}: {reply}"
        return reply

    def quit(self):
        """Asks the app to quit and returns its exit status."""
        try:
            self.client("quit")
            self.process.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            pass
        self.client.close()
        self.output.close()
        return stop(self.process)

    def rows(self):
        return self.ok("rows")["sections"]

    def home(self):
        """Back to the device list, answering any alert on the way (a device
        lost while its page showed says so)."""
        for _ in range(50):
            screen = self.ok("screen")
            if screen["alert"]:
                self.ok("alert_button", index=0)
            elif screen["depth"] > 1:
                self.ok("back")
            else:
                return
        raise AssertionError(f"cannot get back to the device list from {screen}")

    def wait_until(self, predicate, timeout=10.0, what="condition"):
        """Asks predicate() between short waits in the app until it holds."""
        return self.client.wait_until(lambda _: predicate(), timeout=timeout, what=what)


class AppTestCase(unittest.TestCase):
    """One app for the whole class, started once every example device is listed."""

    app = None

    @classmethod
    def setUpClass(cls):
        cls.app = App()

        def listed():
            return sum(len(s["rows"]) for s in cls.app.rows()) == len(DEVICES)
        cls.app.wait_until(listed, timeout=15, what="the example devices to be listed")

    @classmethod
    def tearDownClass(cls):
        if cls.app:
            cls.app.quit()

    def setUp(self):
        self.app.home()

    def open_device(self, name):
        """Taps the device list's row of `name` and returns the detail rows."""
        for si, section in enumerate(self.app.rows()):
            for ri, row in enumerate(section["rows"]):
                if row.get("text", "").startswith(name + " ("):
                    self.app.ok("tap_row", section=si, row=ri)
                    return self.app.rows()[0]["rows"]
        self.fail(f"{name} is not listed")

    @staticmethod
    def find_row(rows, **match):
        """Index of the first row whose fields have the given values."""
        for i, row in enumerate(rows):
            if all(row.get(k) == v for k, v in match.items()):
                return i
        raise AssertionError(f"no row with {match} in {rows}")

    def sim_received(self, device, text):
        """True once `device` logged receiving exactly `text` (a Python repr-like quote)."""
        return re.search(re.escape(f"[{device}] <- ") + r"\S+ " + re.escape(text), sim_log()) is not None

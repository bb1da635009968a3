"""Client side of fieldmon's automation socket (Python standard library only).

    from fieldmon_automation import Connection
    with Connection("/tmp/fm.sock", wait=10) as app:
        print(app("screen"))                       # {'ok': True, 'title': 'Devices', ...}
        app("tap_row", section=0, row=0)
        app.send('{"cmd":"wait","ms":500}')       # a raw request line

Used by tools/fieldmon-ctl, tools/demo-walk and the end-to-end tests.
"""

import json
import os
import signal
import socket
import subprocess
import time


class AutomationError(RuntimeError):
    """A reply with "ok": false, raised by Connection.check()."""


class Connection:
    """One client connection: a request line out, one reply line back."""

    def __init__(self, path, wait=0.0, timeout=60.0):
        deadline = time.monotonic() + wait
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.settimeout(timeout)
                self.sock.connect(path)
                break
            except (FileNotFoundError, ConnectionRefusedError):
                self.sock.close()
                if time.monotonic() >= deadline:
                    raise
                time.sleep(0.05)
        self.buffer = b""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.sock.close()

    def send_line(self, line):
        """Sends one raw line (bytes or text) and returns the reply line as text."""
        if isinstance(line, str):
            line = line.encode()
        self.sock.sendall(line.rstrip(b"\n") + b"\n")
        return self.read_line()

    def read_line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("the app closed the automation socket")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def send(self, request):
        """Sends a request (a dict or a JSON text) and returns the reply as a dict."""
        if not isinstance(request, str):
            request = json.dumps(request)
        return json.loads(self.send_line(request))

    def __call__(self, cmd, **args):
        return self.send(dict(cmd=cmd, **args))

    def check(self, cmd, **args):
        """Like calling the connection, but raises AutomationError on "ok": false."""
        reply = self(cmd, **args)
        if not reply.get("ok"):
            raise AutomationError(f"{cmd}: {reply.get('error')}")
        return reply

    def wait_until(self, predicate, timeout=10.0, step_ms=100, what="condition"):
        """Asks predicate(self) until it answers something true; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            result = predicate(self)
            if result:
                return result
            if time.monotonic() >= deadline:
                raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
            self("wait", ms=step_ms)


def request_from_text(text):
    """A request line from what a user typed: JSON, or a bare command name."""
    text = text.strip()
    if text.startswith("{") or not text:
        return text
    return json.dumps({"cmd": text})


def launch(app, socket_path, extra_env=None, stdout=None, data_dir=None, extra_args=()):
    """Starts fieldmon offscreen with the automation socket (and `extra_args`,
    such as ["--record", FILE]); returns the process. The history and CSV
    exports go to data_dir (default: a "data" folder beside the socket), never
    to the user's own data folder."""
    env = dict(os.environ, QT_QPA_PLATFORM=os.environ.get("QT_QPA_PLATFORM", "offscreen"))
    env.update(extra_env or {})
    data_dir = data_dir or os.path.join(os.path.dirname(os.path.abspath(socket_path)), "data")
    return subprocess.Popen([app, "--automation", socket_path, "--data-dir", data_dir, *extra_args], env=env,
                            stdout=stdout, stderr=subprocess.STDOUT if stdout else None)


def stop(process, timeout=10):
    """Ends the app with SIGTERM (it quits cleanly) and returns its status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait()

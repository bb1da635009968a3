"""The automation socket itself: bad requests, clients that misbehave or come
one after another, and the socket file's life."""

import json
import os
import socket
import stat
import subprocess
import time

import e2e


class Requests(e2e.AppTestCase):
    def test_bad_requests_get_an_error_and_the_app_goes_on(self):
        cases = [
            (b'{"cmd": "screen"', "malformed JSON"),
            (b'[1, 2]', "one JSON object"),
            (b'{"x": 1}', 'no "cmd"'),
            (b'{"cmd": 5}', '"cmd" must be a text'),
            (b'{"cmd": "fly"}', 'unknown command "fly"'),
            (b'{"cmd": "tap", "x": "left", "y": 3}', '"x" must be a number'),
            (b'{"cmd": "tap_row", "section": 0, "row": 1.5}', '"row" must be a whole number'),
            (b'{"cmd": "wait", "ms": -1}', '"ms" must be a whole number'),
            (b'{"cmd": "tap", "x": 10, "y": 10, "pointer": "pen"}', '"pointer" must be "touch" or "mouse"'),
            (b'{"cmd": "tap", "x": 10, "y": 9000}', "outside the window"),
            (b'{"cmd": "tap_row", "section": 7, "row": 0}', "no row 0 in section 7"),
            (b'{"cmd": "release"}', "no pointer is down"),
            (b'{"cmd": "alert_button", "index": 0}', "no alert is shown"),
            (b'{"cmd": "pick", "tag": 300, "column": 0, "row": 1}', "no picker with tag 300"),
            (b'{"cmd": "screenshot", "path": "/nonexistent/dir/x.png"}', "cannot write"),
            (b'\xff\xfe{"cmd":"screen"}', "malformed JSON"),
        ]
        for line, error in cases:
            with self.subTest(line=line):
                reply = json.loads(self.app.client.send_line(line))
                self.assertFalse(reply["ok"])
                self.assertIn(error, reply["error"])
        self.assertTrue(self.app.ok("screen")["title"] == "Devices")

    def test_a_screenshot_never_replaces_a_file_of_another_kind_unless_asked(self):
        # A path mistyped through ".." once replaced a system file with a PNG.
        kept = os.path.join(self.app.dir, "notes.txt")
        with open(kept, "w") as f:
            f.write("keep me\n")
        os.mkdir(os.path.join(self.app.dir, "shots"))
        mistyped = os.path.join(self.app.dir, "shots", "..", "notes.txt")
        reply = self.app("screenshot", path=mistyped)
        self.assertFalse(reply["ok"])
        self.assertIn("is not a PNG picture", reply["error"])
        self.assertIn('"overwrite": true', reply["error"])
        with open(kept) as f:
            self.assertEqual(f.read(), "keep me\n")
        self.assertIn("is a folder", self.app("screenshot", path=os.path.join(self.app.dir, "shots"),
                                              overwrite=True)["error"])
        shot = os.path.join(self.app.dir, "shots", "a.png")
        self.assertEqual(self.app.ok("screenshot", path=shot)["path"], shot)
        self.app.ok("screenshot", path=shot)  # a PNG is replaced by a PNG
        self.app.ok("screenshot", path=mistyped, overwrite=True)
        with open(kept, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertEqual(sorted(os.listdir(os.path.join(self.app.dir, "shots"))), ["a.png"])

    def test_a_line_over_64_kib_is_refused_once_and_the_next_line_is_served(self):
        padding = "x" * (64 * 1024 - 40)
        fits = json.dumps({"cmd": "screen", "pad": padding})
        self.assertLessEqual(len(fits), 64 * 1024)
        self.assertTrue(self.app.client.send(fits)["ok"])
        huge = b'{"cmd":"screen","pad":"' + b"y" * (1 << 20) + b'"}\n{"cmd":"screen","id":7}'
        self.assertEqual(json.loads(self.app.client.send_line(huge)),
                         {"ok": False, "error": "line longer than 65536 bytes"})
        self.assertEqual(json.loads(self.app.client.read_line())["id"], 7)

    def test_requests_are_answered_in_order_with_their_ids(self):
        burst = "".join(json.dumps({"cmd": c, "id": i}) + "\n"
                        for i, c in enumerate(["screen", "wait", "rows", "nope", "screen"]))
        self.app.client.sock.sendall(burst.encode())
        replies = [json.loads(self.app.client.read_line()) for _ in range(5)]
        self.assertEqual([r["id"] for r in replies], [0, 1, 2, 3, 4])
        self.assertEqual([r["ok"] for r in replies], [True, False, True, False, True])


class Clients(e2e.AppTestCase):
    def test_clients_one_after_another_and_one_at_a_time(self):
        # A second client while the first is connected is told so.
        with socket.socket(socket.AF_UNIX) as other:
            other.connect(self.app.socket)
            other.settimeout(10)
            refusal = json.loads(other.makefile().readline())
        self.assertEqual(refusal, {"ok": False, "error": "another client is connected; one at a time"})
        # A client that leaves in the middle of its replies: many requests,
        # a slow one among them, and the connection closed unread.
        first = self.app.client
        first.sock.sendall(b'{"cmd":"rows"}\n' * 200 + b'{"cmd":"wait","ms":300}\n' + b'{"cmd":"rows"}\n' * 50)
        first.close()
        # A finger left down by a client that went away is let go.
        with e2e.Connection(self.app.socket, wait=5) as c:
            self.assertTrue(c("press", x=160, y=300)["ok"])
        self.app.client = e2e.Connection(self.app.socket, wait=5)
        self.assertEqual(self.app.ok("screen")["kind"], "devices")
        self.app.ok("tap", x=160, y=300)


class SocketFile(e2e.unittest.TestCase):
    def test_mode_0600_and_removed_after_quit_and_after_sigterm(self):
        for how in ("quit", "sigterm"):
            with self.subTest(how=how):
                app = e2e.App()
                mode = os.stat(app.socket).st_mode
                self.assertTrue(stat.S_ISSOCK(mode))
                self.assertEqual(stat.S_IMODE(mode), 0o600)
                if how == "quit":
                    self.assertEqual(app.quit(), 0)
                else:
                    app.process.terminate()
                    self.assertEqual(app.process.wait(10), 0)
                    app.client.close()
                    app.output.close()
                self.assertFalse(os.path.exists(app.socket))

    def test_a_path_in_use_is_refused_and_a_stale_socket_replaced(self):
        app = e2e.App()
        try:
            # Another run on the same live socket refuses to start.
            second = subprocess.run([e2e.APP, "--automation", app.socket], capture_output=True, text=True,
                                    timeout=20, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            self.assertEqual(second.returncode, 1)
            self.assertIn("another program listens", second.stderr)
            self.assertEqual(app.ok("screen")["kind"], "devices")
        finally:
            app.quit()
        # A plain file is never touched.
        path = os.path.join(app.dir, "notes.txt")
        with open(path, "w") as f:
            f.write("keep me")
        refused = subprocess.run([e2e.APP, "--automation", path], capture_output=True, text=True, timeout=20,
                                 env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.assertEqual(refused.returncode, 1)
        self.assertIn("is not a socket", refused.stderr)
        with open(path) as f:
            self.assertEqual(f.read(), "keep me")
        # A socket left by a run that crashed is taken over.
        stale = os.path.join(app.dir, "stale.sock")
        s = socket.socket(socket.AF_UNIX)
        s.bind(stale)
        s.close()
        revived = e2e.App(socket_path=stale)
        self.assertTrue(revived("screen")["ok"])
        self.assertEqual(revived.quit(), 0)
        self.assertFalse(os.path.exists(stale))


if __name__ == "__main__":
    e2e.main()

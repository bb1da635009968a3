"""Hostile devices, documents and links, end to end: a device that serves a
hostile document and picture, another host claiming a device's serial number,
an announcement from 0.0.0.0 and a redirect to the app's own loopback. The
devices of these tests are in tests/e2e/hostile/ (the impostor announces North
well's serial number from 10.77.0.53)."""

import glob
import http.server
import os
import socket
import struct
import threading
import time

import e2e

HERE = os.path.dirname(os.path.abspath(__file__))
HOSTILE = sorted(glob.glob(os.path.join(HERE, "hostile", "*.json")))
e2e.DEVICES[:] = sorted(e2e.DEVICES + HOSTILE)


def checksum(header):
    total = sum(struct.unpack("!%dH" % (len(header) // 2), header))
    total = (total >> 16) + (total & 0xFFFF)
    return ~(total + (total >> 16)) & 0xFFFF


class Hostile(e2e.AppTestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = e2e.App()

        # The impostor never gets a row of its own: one device fewer is listed.
        def listed():
            return sum(len(s["rows"]) for s in cls.app.rows()) == len(e2e.DEVICES) - 1
        cls.app.wait_until(listed, timeout=15, what="the devices to be listed")

    def connect(self, name):
        """Connect on `name`; answers the screen it settled on."""
        rows = self.open_device(name)
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Connect"))

        def settled():
            s = self.app.ok("screen")
            if s["alert"] or (s.get("kind") == "page" and not s["sliding"]):
                return s
            return None
        return self.app.wait_until(settled, timeout=20, what=f"Connect on {name}")

    def widgets(self, cls):
        return [w for w in self.app.ok("widgets")["widgets"] if w["class"] == cls]

    def test_a_hostile_document_and_picture_stay_bounded(self):
        # 30 widgets of one picture that decodes to 61 MiB, one empty picture.
        screen = self.connect("Picture panel")
        self.assertEqual((screen["kind"], screen["title"]), ("page", "Pictures"))
        self.app.wait_until(lambda: all(w["state"] != "waiting" for w in self.widgets("image")),
                            what="the pictures")
        states = [w["state"] for w in self.widgets("image")]
        self.assertEqual(states, ["shown"] * 30 + ["failed"])
        log = self.app.ok("log")["lines"]
        self.assertEqual(sum(1 for line in log if line.startswith("Requesting 'http://10.77.0.50/big.png'")), 1)
        self.assertIn("Image 'empty.png' is no picture", log)

        # Five labels whose printf asks for 11 MB each.
        self.app.home()
        screen = self.connect("Text panel")
        self.assertEqual((screen["kind"], screen["title"]), ("page", "Texts"))
        labels = self.app.wait_until(
            lambda: (lambda ls: ls if ls and all(l["text"] != "(nil)" for l in ls) else None)(self.widgets("label")),
            what="the labels' texts")
        self.assertEqual(len(labels), 5)
        for label in labels:
            self.assertLessEqual(len(label["text"]), 1024)
            self.assertTrue(label["text"].endswith("\u2026"))
        started = time.monotonic()
        self.app.ok("screen")
        self.assertLess(time.monotonic() - started, 2.0)
        self.app.ok("wait", ms=2500)  # refreshes: the cut is said once per label
        cuts = [line for line in self.app.ok("log")["lines"] if line == "printf: output cut at 4096 bytes"]
        self.assertEqual(len(cuts), 5)

    def test_another_host_claiming_a_serial_takes_nothing_over(self):
        rows = self.app.wait_until(
            lambda: (lambda r: r if r[0]["rows"][2].get("detail") == "1207 (two hosts)" else None)(
                self.open_device_rows("North well")),
            timeout=10, what="the claim on the detail screen")
        self.assertEqual(rows[0]["rows"][3]["detail"], "10.77.0.10")
        self.assertEqual(rows[1]["title"], "Two hosts claim serial 1207")
        self.assertEqual((rows[1]["rows"][0]["text"], rows[1]["rows"][0]["detail"]), ("Other host", "10.77.0.53"))
        self.app.ok("tap_row", section=0, row=self.find_row(rows[0]["rows"], center="Host Request"))
        e2e.wait_for(lambda: self.sim_received("North well", "'chostreq\\n'"), what="the host request")
        self.assertFalse(self.sim_received("Impostor well", "'chostreq\\n'"))
        self.app.ok("tap_row", section=0, row=self.find_row(rows[0]["rows"], center="Event Log"))
        lines = self.app.wait_until(
            lambda: (lambda r: r if any("Two hosts claim serial 1207: 10.77.0.10 and 10.77.0.53" in row.get("text", "")
                                        for s in r for row in s["rows"]) else None)(self.app.rows()),
            what="the claim in the event log")
        self.assertTrue(lines)

    def open_device_rows(self, name):
        self.app.home()
        self.open_device(name)
        return self.app.rows()

    def test_an_announcement_from_0_0_0_0_lists_nothing(self):
        # A broadcast from 0.0.0.0, as a half-configured host sends it. It
        # used to list "Loopback (4242)", whose Connect fetched from the
        # phone's own port 80. The kernel fills in a raw socket's empty source,
        # so the frame goes whole through the loopback device.
        payload = b"mLoop;back;Loopback;1;4242;1"
        udp = struct.pack("!HHHH", 10023, 10023, 8 + len(payload), 0) + payload
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, socket.IPPROTO_UDP, 0,
                         socket.inet_aton("0.0.0.0"), socket.inet_aton("255.255.255.255"))
        ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
        ethernet = b"\xff" * 6 + b"\x00" * 6 + b"\x08\x00"
        frames = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
        frames.bind(("lo", 0))
        for _ in range(3):
            frames.send(ethernet + ip + udp)
        frames.close()
        def names():
            return [row["text"] for s in self.app.rows() for row in s["rows"]]

        # Heard: either the app says it ignored the sender, or it listed it.
        self.app.wait_until(
            lambda: any(line.startswith("Ignoring datagrams from 0.0.0.0") for line in self.app.ok("log")["lines"])
            or any("4242" in n for n in names()),
            what="the app to hear the datagram")
        self.assertFalse([n for n in names() if "4242" in n], names())

    def test_a_redirect_to_the_apps_loopback_is_not_followed(self):
        asked = []

        class Trap(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                asked.append(self.path)
                body = b"<device><start initial='m'/><page name='m' onPageLoad='\"OPEN VALVE\"'/></device>"
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        trap = http.server.HTTPServer(("127.0.0.1", 80), Trap)
        thread = threading.Thread(target=trap.serve_forever, daemon=True)
        thread.start()
        try:
            screen = self.connect("Redirect panel")
            self.assertTrue(screen["alert"])
            alert = self.app.ok("alert")
            self.assertEqual((alert["title"], alert["message"]), ("XML parse error", "Could not fetch ui.xml from 10.77.0.52"))
            self.app.ok("alert_button", index=0)
            log = self.app.ok("log")["lines"]
            self.assertTrue([line for line in log if "Redirect to http://127.0.0.1/ui.xml refused" in line], log)
            self.assertEqual(asked, [])
        finally:
            trap.shutdown()
            trap.server_close()


if __name__ == "__main__":
    e2e.main()

"""Value history, trends and link health, end to end: a long press on a value
opens its trend, which exports a CSV; the link's figures and the stale marks
follow a device that stops answering (tests/e2e/fading goes silent
15 s after the simulator starts)."""

import csv
import os

import e2e

HERE = os.path.dirname(os.path.abspath(__file__))
e2e.DEVICES[:] = sorted(e2e.DEVICES + [os.path.join(HERE, "fading", "fading.json")])


class Trends(e2e.AppTestCase):
    def connect(self, device, title):
        rows = self.open_device(device)
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Connect"))

        def opened():
            screen = self.app.ok("screen")
            if screen["alert"]:
                self.app.ok("alert_button", index=0)
                return None
            return screen["kind"] == "page" and not screen["sliding"] and screen["title"] == title
        self.app.wait_until(opened, timeout=15, what=f"the page {title}")

    def open_details(self):
        """The Overview's info button opens the "Details" table (speed, temperature; refreshed every 5 s)."""
        info = next(w for w in self.app.ok("widgets")["widgets"] if w["class"] == "infobutton")
        x, y, w, h = info["frame"]
        self.app.ok("tap", x=x + w / 2, y=y + h / 2)
        return self.app.wait_until(lambda: (lambda s: s["kind"] == "table" and not s["sliding"] and s)(
            self.app.ok("screen")), what="the Details table")

    def speed_label(self):
        """The start page's speed label (the first label, refreshed every second)."""
        return next(w for w in self.app.ok("widgets")["widgets"] if w["class"] == "label")

    def test_a_long_press_opens_the_trend_which_exports_a_csv(self):
        self.connect("North well", "Overview")
        label = self.app.wait_until(lambda: (lambda w: w["text"] != "(nil)" and w)(self.speed_label()),
                                    what="the speed's first value")
        self.assertIs(label["stale"], False)
        # A tap opens nothing; a press held 0.6 s opens the trend of "speed".
        x, y, w, h = label["frame"]
        self.app.ok("tap", x=x + 20, y=y + h / 2)
        self.assertEqual(self.app.ok("screen")["kind"], "page")
        self.app.ok("press", x=x + 20, y=y + h / 2)
        self.app.ok("wait", ms=800)
        self.app.ok("release")
        trend = self.app.wait_until(lambda: (lambda s: s["kind"] == "trend" and not s["sliding"] and s)(
            self.app.ok("screen")), what="the trend screen")
        self.assertEqual([t["name"] for t in trend["traces"]], ["speed"])
        self.assertFalse(trend["paused"])
        trace = self.app.wait_until(
            lambda: (lambda t: t["points"] >= 2 and t.get("first") != t.get("last") and t)(
                self.app.ok("screen")["traces"][0]),
            what="two times of the speed")
        self.assertTrue(800 <= float(trace["value"]) <= 1400, trace)

        path = os.path.join(self.app.dir, "speed.csv")
        exported = self.app.ok("export_csv", path=path, window="all")
        self.assertEqual(exported["path"], path)
        with open(path, newline="") as f:
            rows = list(csv.reader(f))
        # The header names the device and the trace; a row per time.
        self.assertEqual(rows[0], ["time (UTC)", "North well (1207): speed"])
        data = rows[1:]
        self.assertGreaterEqual(len(data), 2)
        for r in data:
            self.assertRegex(r[0], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
            self.assertTrue(800 <= float(r[1]) <= 1400, r)
        # A folder that cannot be written: a clear failure and no file.
        bad = os.path.join(self.app.dir, "missing", "x.csv")
        reply = self.app("export_csv", path=bad, window="visible")
        self.assertFalse(reply["ok"])
        self.assertFalse(os.path.exists(bad))

        # The same trend through automation, by the widget's tag.
        self.app.ok("back")
        self.app.ok("trend", tag=label["tag"])
        self.assertEqual(self.app.ok("screen")["kind"], "trend")

    def test_a_long_press_on_a_table_row_opens_the_trend_of_what_the_row_shows(self):
        self.connect("North well", "Overview")
        self.open_details()
        rows = self.app.wait_until(lambda: (lambda r: r[0].get("right", "(nil)") != "(nil)" and r)(
            self.app.rows()[0]["rows"]), what="the speed's row")
        self.assertEqual([(r["left"], r["stale"], r["alpha"]) for r in rows],
                         [("Speed", False, 1.0), ("Temperature", False, 1.0)])
        x, y, w, h = rows[1]["frame"]
        self.app.ok("press", x=x + w / 2, y=y + h / 2)
        self.app.ok("wait", ms=800)
        self.app.ok("release")
        trend = self.app.wait_until(lambda: (lambda s: s["kind"] == "trend" and not s["sliding"] and s)(
            self.app.ok("screen")), what="the trend screen")
        self.assertEqual([t["name"] for t in trend["traces"]], ["temperature"])
        self.app.ok("back")
        self.app.wait_until(lambda: self.app.ok("screen")["kind"] == "table", what="the table again")
        self.app.ok("trend", row=0)
        self.assertEqual([t["name"] for t in self.app.ok("screen")["traces"]], ["speed"])

    def test_a_trend_takes_its_units_from_the_text_around_the_value(self):
        self.connect("Harbour crane", "Crane")

        def load_label(*_):
            return next((w for w in self.app.ok("widgets")["widgets"]
                         if w["class"] == "label" and w.get("text", "").startswith("Load ")), None)
        load = self.app.wait_until(load_label, what="the crane's load label")  # "Load 12.5 t"
        self.app.ok("trend", tag=load["tag"])
        traces = self.app.ok("screen")["traces"]
        self.assertEqual([(t["name"], t["units"]) for t in traces], [("st.load", "t")])

    def test_a_device_that_stops_answering_goes_stale(self):
        self.connect("Fading well", "Overview")
        self.app.wait_until(lambda: self.speed_label()["text"] != "(nil)", what="the first value")
        link = self.app.wait_until(lambda: (lambda l: l["rtt_ms_p50"] is not None and l)(self.app.ok("link")),
                                   what="a round trip")
        # The device's replies are held back 50 ms.
        self.assertGreaterEqual(link["rtt_ms_p50"], 40)
        self.assertLess(link["rtt_ms_p50"], 1000)
        self.assertLess(link["since_last_s"], 3)
        self.assertIs(self.speed_label()["stale"], False)

        # Silent from 15 s on: the speed (refreshed every second) is stale
        # once 3 × 1 s + 1 s pass without a value.
        self.app.wait_until(lambda: (lambda w: w["stale"] and w["alpha"] < 0.5)(self.speed_label()), timeout=25,
                            what="the speed to go stale and dim")
        link = self.app.ok("link")
        self.assertGreater(link["since_last_s"], 4)
        self.assertEqual(link["dot"], "red")
        self.app.wait_until(lambda: (self.app.ok("link")["loss"] or 0) > 0, what="requests counted lost")

        # A table page's rows go stale by the same rule at the table's rate
        # (5 s: 3 × 5 s + 1 s after the last value).
        self.open_details()
        self.app.wait_until(lambda: all(r["stale"] and r["alpha"] < 0.5 for r in self.app.rows()[0]["rows"]),
                            timeout=25, what="the Details rows to go stale and dim")
        self.assertEqual(self.app.ok("link")["dot"], "red")


if __name__ == "__main__":
    e2e.main()

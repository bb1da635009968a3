"""A device's own pages: Connect on each example device opens its first page
with live values at the document's rates, an info button opens the page it
names and back returns, every element kind by its name, and the "XML parse
error" alert for a broken document and for a transfer that fails (and none
for a document type). Panels of these tests only (tests/e2e/devices/) serve
the broken document and the one of every element."""

import glob
import os
import re
import time

import e2e

HERE = os.path.dirname(os.path.abspath(__file__))
e2e.DEVICES[:] = sorted(e2e.DEVICES + glob.glob(os.path.join(HERE, "devices", "*", "*.json")))


class Pages(e2e.AppTestCase):
    def connect(self, name):
        """Connect on `name`; answers the screen Connect opened and the
        alert it showed (None without one), the alert dismissed."""
        self.open_device(name)
        self.app.wait_until(lambda: self.app.ok("screen").get("kind") == "detail", what="the detail screen")
        rows = self.app.rows()[0]["rows"]
        connect = self.find_row(rows, center="Connect")
        self.app.ok("tap_row", section=0, row=connect)

        def settled():
            s = self.app.ok("screen")
            if s["alert"] or (s.get("kind") == "page" and not s["sliding"]):
                return s
            table = self.app("rows")
            if s.get("kind") == "detail" and table.get("ok") and table["sections"][0]["rows"][connect].get("busy") is False:
                # Connect has ended since the screen was read: read it again.
                return self.app.ok("screen")
            return None
        screen = self.app.wait_until(settled, timeout=15, what=f"Connect on {name}")
        alert = None
        if screen["alert"]:
            alert = self.app.ok("alert")
            self.app.ok("alert_button", index=0)
            screen = self.app.wait_until(lambda: (lambda s: s if not s["sliding"] else None)(self.app.ok("screen")),
                                         what="the page to settle")
        return screen, alert

    def labels(self):
        return [w for w in self.app.ok("widgets")["widgets"] if w["class"] == "label"]

    def test_connect_opens_the_first_page_of_each_example_device(self):
        for name, title, background in [("North well", "Overview", [0.9, 0.9, 0.9]),
                                        ("Wind turbine 2", "Turbine 2", [0.8, 0.88, 0.95]),
                                        ("Harbour crane", "Crane", [0.95, 0.9, 0.8])]:
            with self.subTest(device=name):
                self.app.home()
                screen, alert = self.connect(name)
                if alert:  # elements of widgets still to come are listed
                    self.assertEqual((alert["title"], alert["buttons"]), ("XML parse error", ["OK"]))
                self.assertEqual((screen["kind"], screen["title"]), ("page", title))
                for got, want in zip(screen["background"], background):
                    self.assertAlmostEqual(got, want, places=3)
                labels = self.labels()
                self.assertTrue(labels)
                self.app.wait_until(lambda: all(l["text"] != "(nil)" for l in self.labels()),
                                    what=f"values on {name}'s labels")
                for label in self.labels():  # a right-aligned label ends at its x
                    x, _, w, _ = label["frame"]
                    self.assertEqual(w, 320)
                    self.assertLessEqual(x + w if label["align"] == "right" else x, 320)

    def test_labels_follow_the_simulators_values_at_the_documents_rates(self):
        self.connect("North well")
        # speed (a sine at the device) shows on a label refreshed every second.
        first = self.app.wait_until(lambda: (lambda t: t if t != "(nil)" else None)(self.labels()[0]["text"]),
                                    what="the speed label's first value")
        before = len(re.findall(r"\[North well\] <- \S+ 'a", e2e.sim_log()))
        start = time.monotonic()
        # The same label alone, read by its tag, as a script watching one value does.
        tag = self.labels()[0]["tag"]
        alone = lambda: self.app.ok("widgets", tag=tag)["widgets"]  # noqa: E731
        self.assertEqual([(w["class"], w["tag"]) for w in alone()], [("label", tag)])
        self.app.wait_until(lambda: alone()[0]["text"] != first, timeout=5, what="a new speed value")
        self.app.ok("wait", ms=3000)
        seconds = time.monotonic() - start
        requests = len(re.findall(r"\[North well\] <- \S+ 'a", e2e.sim_log())) - before
        # One value request per refresh: about one a second, never a flood.
        self.assertGreaterEqual(requests, seconds * 0.5, e2e.sim_log()[-2000:])
        self.assertLessEqual(requests, seconds * 3 + 2)
        self.assertTrue(self.sim_received("North well", "'cstatus\\n'"), "the page's load command")

    def test_an_info_button_opens_the_page_it_names_and_back_returns(self):
        self.connect("Wind turbine 2")
        more = [w for w in self.app.ok("widgets")["widgets"] if w["class"] in ("infobutton", "morebutton")][0]
        self.assertEqual((more["kind"], more["target"]), ("more", "wind"))
        x, y, w, h = more["frame"]
        self.app.ok("tap", x=x + w / 2, y=y + h / 2)
        screen = self.app.wait_until(lambda: (lambda s: s if s["title"] == "Wind" and not s["sliding"] else None)(
            self.app.ok("screen")), what="the wind page")
        self.assertEqual((screen["kind"], screen["back"], screen["depth"]), ("page", "Turbine 2", 4))
        self.app.ok("back")
        screen = self.app.ok("screen")
        self.assertEqual((screen["title"], screen["depth"]), ("Turbine 2", 3))
        # Back from the start page ends the device's pages: its requests stop.
        self.app.ok("back")
        self.app.ok("wait", ms=500)
        quiet_from = len(e2e.sim_log())
        self.app.ok("wait", ms=2500)
        later = e2e.sim_log()[quiet_from:]
        self.assertNotRegex(later, r"\[Wind turbine 2\] <- \S+ '[va]", later)

    def test_the_pumps_blue_button_opens_its_controls_page(self):
        self.connect("North well")
        more = [w for w in self.app.ok("widgets")["widgets"] if w.get("target") == "controls"][0]
        self.assertEqual((more["class"], more["kind"]), ("morebutton", "more"))
        x, y, w, h = more["frame"]
        self.app.ok("tap", x=x + w / 2, y=y + h / 2)
        self.app.wait_until(lambda: (lambda s: s["title"] == "Pump 2" and not s["sliding"])(self.app.ok("screen")),
                            what="the pump's controls page")
        self.app.wait_until(lambda: self.sim_received("North well", "'ccontrols\\n'"), what="its load command")

    def test_each_element_reports_its_name_and_a_doctype_opens_without_an_alert(self):
        # widgets named labels, switches, fields and buttons by our C++
        # classes, gauges by their elements; a DOCTYPE naming an outside DTD
        # put an entry in the "XML parse error" alert.
        screen, alert = self.connect("Every element")
        self.assertIsNone(alert)
        self.assertEqual((screen["kind"], screen["title"]), ("page", "Elements"))
        self.assertEqual([w["class"] for w in self.app.ok("widgets")["widgets"]],
                         ["label", "button", "bool", "textfield", "thumbwheel", "picker", "infobutton",
                          "morebutton", "image", "turbine", "compass", "arrow", "progress", "circle",
                          "gradient", "eventhud", "joystick"])
        self.app.wait_until(lambda: self.labels()[0]["text"] == "Level 3 bar", what="the label, its entity expanded")

    def test_a_broken_document_shows_the_error_alert_and_what_was_read(self):
        screen, alert = self.connect("Broken panel")
        self.assertIsNotNone(alert)
        self.assertEqual((alert["title"], alert["buttons"]), ("XML parse error", ["OK"]))
        self.assertRegex(alert["message"], r"^syntax error:line \d+$")
        self.assertEqual((screen["kind"], screen["title"]), ("page", "Broken"))
        # The first label was read whole; the second was cut off by the error.
        self.app.wait_until(lambda: self.labels()[0]["text"] == "42", what="the label read before the error")

    def test_a_failed_transfer_shows_the_error_alert(self):
        screen, alert = self.connect("Mute panel")
        self.assertIsNotNone(alert)
        self.assertEqual((alert["title"], alert["message"], alert["buttons"]),
                         ("XML parse error", "Could not fetch ui.xml from 10.77.0.41", ["OK"]))
        self.assertEqual(screen["kind"], "detail")


if __name__ == "__main__":
    e2e.main()

"""The device list, the detail screen and the event log, driven through the
automation socket against the simulated example devices."""

import e2e


class Screens(e2e.AppTestCase):
    def test_devices_are_listed_by_type(self):
        screen = self.app.ok("screen")
        self.assertEqual((screen["title"], screen["kind"], screen["depth"]), ("Devices", "devices", 1))
        listed = {s["title"]: [r["text"] for r in s["rows"]] for s in self.app.rows()}
        self.assertEqual(listed, {"PUMP (PLAT)": ["North well (1207)"],
                                  "GENERATOR (PLAT)": ["Wind turbine 2 (2301)"],
                                  "CRANE (PLAT)": ["Harbour crane (3150)"]})

    def test_detail_rows_show_the_device(self):
        rows = self.open_device("North well")
        screen = self.app.ok("screen")
        self.assertEqual((screen["kind"], screen["title"], screen["back"], screen["sliding"]),
                         ("detail", "Device", "Devices", False))
        self.assertEqual([(r.get("text") or r.get("center"), r.get("detail")) for r in rows],
                         [("Platform", "PLAT"), ("Type", "PUMP v3"), ("Serial Number", "1207"),
                          ("IP Address", "10.77.0.10"), ("Service Mode", None), ("Connect", None),
                          ("Host Request", None), ("Event Log", None)])
        # Rows lie one under the other inside the 320 x 416 page.
        tops = [r["frame"][1] for r in rows]
        self.assertEqual(tops, sorted(tops))
        self.assertTrue(all(0 <= r["frame"][1] and r["frame"][1] + r["frame"][3] <= 416 for r in rows))

    def test_service_switch_reaches_the_device_and_shows_after_a_reload(self):
        rows = self.open_device("North well")
        switch = rows[self.find_row(rows, text="Service Mode")]["switch"]
        self.assertFalse(switch["on"])
        x, y, w, h = switch["frame"]
        self.app.ok("tap", x=x + w / 2, y=y + h / 2)
        e2e.wait_for(lambda: self.sim_received("North well", "'cservice 1\\r\\n'"), what="cservice 1 at the device")
        # The device reports its new mode; the switch shows it when the
        # screen is built again.
        self.app.ok("back")
        rows = self.open_device("North well")
        self.assertTrue(rows[self.find_row(rows, text="Service Mode")]["switch"]["on"])
        # Mouse flips it back, the other input path.
        x, y, w, h = rows[self.find_row(rows, text="Service Mode")]["switch"]["frame"]
        self.app.ok("tap", x=x + w / 2, y=y + h / 2, pointer="mouse")
        e2e.wait_for(lambda: self.sim_received("North well", "'cservice 0\\r\\n'"), what="cservice 0 at the device")

    def test_event_log_is_landscape_and_follows_new_lines(self):
        rows = self.open_device("Harbour crane")
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Event Log"))
        screen = self.app.ok("screen")
        self.assertEqual((screen["kind"], screen["orientation"], screen["page_size"]),
                         ("eventlog", "landscape", [480, 256]))
        before = [r["text"] for r in self.app.rows()[0]["rows"]]
        self.assertTrue(any("EVENTIPOD_FOUND_CLIENT" in line for line in before), before)
        # A host request makes the device send an event; the list reloads
        # and the new line is in the rows.
        self.app.ok("back")
        rows = self.app.rows()[0]["rows"]
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Host Request"))
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Event Log"))
        self.app.wait_until(lambda: len(self.app.rows()[0]["rows"]) > len(before), what="a new event line")
        lines = self.app.rows()[0]["rows"]
        self.assertTrue(all(r["frame"][2] > 320 for r in lines), "rows span the landscape page")
        # Back turns the window upright again.
        self.app.ok("back")
        screen = self.app.ok("screen")
        self.assertEqual((screen["kind"], screen["orientation"]), ("detail", "portrait"))

    def test_back_is_refused_where_no_back_button_is_shown(self):
        reply = self.app("back")
        self.assertEqual(reply, {"ok": False, "error": "no back button is shown"})

    def test_log_returns_each_line_once(self):
        self.app.ok("log")
        self.open_device("Wind turbine 2")
        self.app.ok("back")
        lines = self.app.ok("log")["lines"]
        self.assertIn("Hit back button", lines)
        self.assertNotIn("Hit back button", self.app.ok("log")["lines"])


if __name__ == "__main__":
    e2e.main()

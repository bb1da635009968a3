"""Input widgets and table pages against the simulated devices: every input
widget of the example devices sends its command (the simulator's log shows
the exact bytes), the device changes its variable, and the page shows the
new value at its next refresh; a table of 200 rows loads in stages (a few
request batches, not one per row) and scrolls under a finger; a row's text
field and a confirmed row command reach the device."""

import re

import e2e


class Inputs(e2e.AppTestCase):
    def connect(self, name, kind="page"):
        self.open_device(name)
        rows = self.app.rows()[0]["rows"]
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Connect"))

        def opened():
            s = self.app.ok("screen")
            if s["alert"]:
                self.app.ok("alert_button", index=0)
                return None
            return s if s.get("kind") == kind and not s["sliding"] else None
        return self.app.wait_until(opened, timeout=15, what=f"Connect on {name}")

    def widgets(self, cls):
        return [w for w in self.app.ok("widgets")["widgets"] if w["class"] == cls]

    def tap_widget(self, w, **args):
        x, y, width, height = w["frame"]
        self.app.ok("tap", x=x + width / 2, y=y + height / 2, **args)

    def received(self, device, text):
        return self.sim_received(device, repr(text))

    def requests_to(self, device, log):
        return len(re.findall(re.escape(f"[{device}] <- ") + r"\S+ '[va]", log))

    def test_switches_send_their_state_and_show_the_devices_value(self):
        self.connect("Harbour crane")
        lamp = self.widgets("bool")[1]
        self.app.wait_until(lambda: self.widgets("bool")[1]["on"], what="the lamp switch to show on")
        self.tap_widget(lamp, pointer="mouse")
        self.app.wait_until(lambda: self.received("Harbour crane", "clamp 0\n"), what="'clamp 0' at the crane")
        self.assertIn("lamp = 0", e2e.sim_log())
        # After the hold-off the switch shows the device's state: off, as set.
        self.app.ok("wait", ms=6000)
        self.assertFalse(self.widgets("bool")[1]["on"])
        self.tap_widget(self.widgets("bool")[1])
        self.app.wait_until(lambda: self.received("Harbour crane", "clamp 1\n"), what="'clamp 1' at the crane")

    def test_a_picker_and_a_text_field_change_the_turbine(self):
        self.connect("Wind turbine 2")
        button = [w for w in self.app.ok("widgets")["widgets"] if w["class"] == "button"][0]
        self.tap_widget(button)
        self.app.wait_until(lambda: self.app.ok("screen")["title"].startswith("Hydraulics"), what="the hydraulics page")
        picker = self.widgets("picker")[0]  # the turbine's document names no definition
        self.assertEqual(picker["widths"], [80])
        reply = self.app.ok("pick", tag=picker["tag"], column=0, row=1)
        self.assertEqual(reply["widget"]["values"], ["On"])
        self.app.wait_until(lambda: self.received("Wind turbine 2", "cbrake On\n"), what="'cbrake On'")
        label = lambda: [w["text"] for w in self.widgets("label") if w["text"].startswith("Brake")][0]
        self.app.wait_until(lambda: label().startswith("Brake on"), timeout=5, what="the brake label")

        self.tap_widget(self.widgets("textfield")[0])
        self.assertTrue(self.widgets("textfield")[0]["editing"])
        self.app.ok("type", text="level 700", enter=True)
        self.app.wait_until(lambda: self.received("Wind turbine 2", "clevel 700\n"), what="'clevel 700'")
        self.assertFalse(self.widgets("textfield")[0]["editing"])
        self.app.wait_until(lambda: label().endswith("oil level 700"), timeout=5, what="the oil level label")
        commands = re.findall(r"\[Wind turbine 2\] <- \S+ '(c[^']*)'", e2e.sim_log())
        self.assertEqual([c for c in commands if c.startswith(("cbrake", "clevel"))], ["cbrake On\\n", "clevel 700\\n"])

    def test_a_table_of_200_rows_loads_in_stages_and_its_rows_act(self):
        self.connect("Harbour crane")
        info = [w for w in self.app.ok("widgets")["widgets"] if w["class"] == "infobutton"][0]
        self.tap_widget(info)
        self.app.wait_until(lambda: self.app.ok("screen")["kind"] == "table", what="the crane's data table")
        hoist = self.app.wait_until(lambda: len(self.app.rows()) == 3 and self.app.rows()[2], what="the Hoist section")

        # "Clear hoist log" asks first: No sends nothing, Yes sends it.
        self.app.ok("tap_row", section=2, row=1)
        alert = self.app.ok("alert")
        self.assertEqual((alert["title"], alert["message"], alert["buttons"]),
                         ("Clear hoist log", "Are you sure?", ["No", "Yes"]))
        self.app.ok("alert_button", index=0)
        self.app.ok("wait", ms=500)
        self.assertFalse(self.received("Harbour crane", "cclear log\n"))
        self.app.ok("tap_row", section=2, row=1)
        self.app.ok("alert_button", index=1)
        self.app.wait_until(lambda: self.received("Harbour crane", "cclear log\n"), what="'cclear log'")

        self.assertEqual(hoist["rows"][0]["target"], "hoistlog")
        before = e2e.sim_log()
        self.app.ok("tap_row", section=2, row=0)
        self.app.wait_until(lambda: self.app.ok("screen")["title"] == "Hoist log", what="the hoist log")
        rows = self.app.wait_until(lambda: (lambda s: s and len(s[0]["rows"]) == 200 and s[0]["rows"])(self.app.rows()),
                                   what="200 rows")
        load = e2e.sim_log()[len(before):]
        self.assertIn("'choistlog\\n'", load)
        # Count, then the rows' addresses and values: a few batches for 200 rows.
        self.assertLessEqual(self.requests_to("Harbour crane", load), 8, load[-3000:])
        self.assertEqual((rows[0]["left"], rows[0]["right"]), ("Lift 1", "8.0"))
        self.assertTrue(rows[0]["field"]["editable"])
        self.assertEqual(rows[0]["field"]["color"], "red")

        # A finger drag moves the list: rows further down come into view.
        first = rows[0]["frame"][1]
        self.app.ok("drag", **{"from": [50, 380], "to": [50, 80], "ms": 400})
        self.app.ok("wait", ms=1500)
        moved = self.app.rows()[0]["rows"]
        self.assertLess(moved[0]["frame"][1], first - 200)
        shown = [r for r in moved if 0 <= r["frame"][1] < 416 and "left" in r]
        self.assertTrue(shown and int(shown[-1]["left"].split()[1]) > 10, shown)

        # Row 150's field: the command for row 150 and the typed load.
        self.app.ok("tap_row", section=0, row=149, field=True)
        self.app.ok("type", text="14.5", enter=True)
        self.app.wait_until(lambda: self.received("Harbour crane", "clift 149 14.5\n"), what="'clift 149 14.5'")
        self.app.wait_until(lambda: self.app.rows()[0]["rows"][149].get("right") == "14.5", timeout=12,
                            what="row 150 to show the corrected load")


if __name__ == "__main__":
    e2e.main()

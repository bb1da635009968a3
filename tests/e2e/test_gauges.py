"""The example devices' drawn gauges, joystick and heads-up display, driven
through the automation socket against the simulated devices."""

import math
import re

import e2e


class Gauges(e2e.AppTestCase):
    def connect(self, device, title):
        """Opens the device's start page; a parse alert (elements another
        part of the app builds) is answered first."""
        rows = self.open_device(device)
        self.app.ok("tap_row", section=0, row=self.find_row(rows, center="Connect"))

        def opened():
            screen = self.app.ok("screen")
            if screen["alert"]:
                self.app.ok("alert_button", index=0)
                return None
            return screen["kind"] == "page" and not screen["sliding"] and screen["title"] == title
        self.app.wait_until(opened, timeout=15, what=f"the page {title}")

    def widget(self, cls):
        return next(w for w in self.app.ok("widgets")["widgets"] if w["class"] == cls)

    def test_the_turbine_turns_with_its_heading_and_shows_the_devices_picture(self):
        self.connect("Wind turbine 2", "Turbine 2")
        self.app.wait_until(lambda: self.widget("image")["state"] == "shown", what="logo.png from the device")
        logo = self.widget("image")
        self.assertEqual(logo["file"], "logo.png")
        self.assertEqual(logo["center"][0], 160)
        self.assertAlmostEqual(logo["center"][1], 0.09 * 416, places=4)
        first = self.widget("turbine")
        self.assertEqual(first["center"], [160, 208])
        self.app.ok("wait", ms=1500)
        later = self.widget("turbine")
        # The heading goes round once a minute: about 0.1 rad a second.
        turned = (later["angle"] - first["angle"]) % (2 * math.pi)
        self.assertTrue(0.05 < turned < 0.5, (first["angle"], later["angle"]))
        bar = self.widget("progress")
        self.assertAlmostEqual(bar["length"], 0.6, places=5)
        self.assertTrue(0 < bar["progress"] <= 1, bar)
        circle = self.widget("circle")
        self.assertEqual((circle["radius"], circle["clip"]), (12, [224, 0, 96, 104]))

    def test_the_cranes_joystick_moves_it_in_service_mode_and_its_events_show(self):
        self.connect("Harbour crane", "Crane")
        joystick = self.widget("joystick")
        self.assertEqual((joystick["knob"], joystick["moving"]), ([160, 208], False))
        # The page's centre is 4 points above (160, 208) in page points: the
        # knob sits 60 window points above the finger.
        for pointer, to, move in (("touch", (260, 204), "0.625000 0.000000"),
                                  ("mouse", (160, 308), "0.000000 0.500000")):
            self.app.ok("press", x=160, y=204, pointer=pointer)
            self.app.ok("move", x=to[0], y=to[1], pointer=pointer)
            self.assertTrue(self.widget("joystick")["moving"])
            e2e.wait_for(lambda: self.sim_received("Harbour crane", f"'cmove {move}\\r\\n'"),
                         what=f"a move to {move} at the crane ({pointer})")
            self.app.ok("release", pointer=pointer)
        self.app.wait_until(lambda: not self.widget("joystick")["moving"], what="the chain to end")
        # The knob's glide back sent the centred move, the crane's stop.
        moves = re.findall(r"'cmove ([^\\]*)\\r\\n'", e2e.sim_log())
        self.assertEqual(moves[-1], "0.000000 0.000000", moves[-6:])
        self.app.ok("wait", ms=600)
        self.assertEqual(len(re.findall(r"'cmove ", e2e.sim_log())), len(moves), "no move after the chain's end")

        # Opening the page sends "drive", which the crane answers with an event.
        hud = self.app.wait_until(lambda: self.widget("eventhud")["lines"] and self.widget("eventhud"),
                                  what="an event on the heads-up display")
        self.assertIn("DRIVE PAGE OPEN", hud["lines"])
        self.assertLessEqual(len(hud["lines"]), 2)
        self.assertEqual(hud["frozen"], False)

if __name__ == "__main__":
    e2e.main()

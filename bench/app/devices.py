"""Simulated devices for the app-level benchmarks: device files for fieldsim
and the UI documents they serve.

Device 0 ("Load panel") serves the big document: one page of `widgets`
widgets refreshed at `rate` seconds, whose first widget is the latency label
(variable `lat`, set by command), and a second page that its buttons open.
Every other device serves a small one-page document. Addresses run from
10.77.0.10 up inside the private network of tools/netns.
"""

import json
import os
import shutil

FIRST_ADDRESS = 10
SERIAL_BASE = 5000
TYPES = ["PUMP", "VALVE", "METER", "CRANE", "TURBINE", "GATE", "FAN", "HEATER"]
VARIABLES = 50  # v0 .. v49 on the big page; `lat` comes after them
PICTURE = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                       "examples", "turbine", "logo.png")


def address(k):
    """The address of device k: 10.77.0.10 and up, then 10.77.1.x."""
    n = FIRST_ADDRESS + k
    return f"10.77.{n // 250}.{n % 250 + (0 if n < 250 else 2)}"


def big_document(widgets, rate, mix=True):
    """A page of `widgets` widgets: the latency label first, then a grid of
    labels over v0..v49 with one button and one info button in every 25. With
    `mix`, drawn gauges (progress bars, circles, gradients, compasses,
    arrows, turbines), a few pictures, the joystick and the event heads-up
    display take some of the labels' places."""
    decl = " ".join(f"(WORD) v{i} = {i};" for i in range(VARIABLES))
    decl += f" (DWORD) lat = {VARIABLES};"
    body = [f"  <label position='(0.02, 0.01)' size='10' left='1' refresh='{rate}'>printf(\"L%d\", lat)</label>"]
    drawn = {3: "progress", 8: "progress", 5: "circle", 17: "gradient", 20: "compass", 22: "arrow"} if mix else {}
    for i in range(1, widgets - (2 if mix else 0)):
        col, row = i % 10, (i // 10) % 50
        x, y = 0.01 + col * 0.098, 0.04 + row * 0.019
        v, slot, at = i % VARIABLES, i % 25, f"position='({x:.3f}, {y:.3f})'"
        kind = drawn.get(slot)
        if mix and slot == 20 and (i // 25) % 2:
            kind = "turbine"
        if mix and i in (60, 160, 260, 360):
            body.append(f"  <image file='logo.png' {at} refresh='once'/>")
        elif slot == 0:
            body.append(f"  <infobutton target='second' {at} refresh='once'/>")
        elif slot == 12:
            body.append(f"  <button target='second' refresh='once'>\"More {i}\"</button>")
        elif kind == "progress":
            body.append(f"  <progress {at} length='0.08' angle='0' progress='v{v} / 1000' refresh='{rate}'/>")
        elif kind == "circle":
            body.append(f"  <circle {at} color='(v{v} / 1000, 0.5, 0, 1)' radius='4' clipRect='(0, 0, 1, 1)'"
                        f" refresh='{rate}'/>")
        elif kind == "gradient":
            body.append(f"  <gradient {at} innerColor='(1, v{v} / 1000, 0, 1)' outerColor='(0, 0, 0.3, 0)'"
                        f" innerRadius='1' outerRadius='4 + v{v} / 250' clipRect='(0, 0, 1, 1)'"
                        f" extendInner='FALSE' extendOuter='FALSE' refresh='{rate}'/>")
        elif kind in ("compass", "arrow", "turbine"):
            body.append(f"  <{kind} {at} angle='v{v} / 100' refresh='{rate}'/>")
        else:
            body.append(f"  <label {at} size='7' left='1' refresh='{rate}'>printf(\"%d\", v{v})</label>")
    if mix:
        body.append("  <eventhud/>")
        body.append(f"  <joystick command='printf(\"move %f %f\", x, y)' rate='0.25'/>")
    return "\n".join([
        "<device>",
        f"  <variables>{decl}</variables>",
        "  <start initial='main'/>",
        "  <page name='main' title='\"Load\"' color='(0.95, 0.95, 0.95)'>",
        *body,
        "  </page>",
        "  <page name='second' title='\"Second\"'>",
        f"    <label position='(0.1, 0.2)' size='20' left='1' refresh='{rate}'>printf(\"v0 %d\", v0)</label>",
        "  </page>",
        "</device>",
        "",
    ])


SMALL_DOCUMENT = """<device>
  <variables>(WORD) speed = 0; (DEC10) temperature = 1;</variables>
  <start initial='main'/>
  <page name='main' title='"Panel"'>
    <label position='(0.05, 0.1)' size='20' left='1' refresh='1'>printf("Speed %d", speed)</label>
    <label position='(0.05, 0.2)' size='20' left='1' refresh='2'>temperature</label>
  </page>
</device>
"""


def big_variables():
    moving = {f"v{i}": {"behaviour": "ramp", "from": 0, "to": 999, "period": 10 + i, "every": 0.1}
              for i in range(VARIABLES)}
    moving["lat"] = 0
    return moving


def write(folder, count=100, widgets=500, rate=0.1, schedule=None, extra=None, mix=True):
    """Writes `count` device files (and their documents) into `folder`;
    returns the device file paths. `schedule(k)` may give device k a
    timeline; `extra(k)` more fields."""
    os.makedirs(os.path.join(folder, "big"), exist_ok=True)
    os.makedirs(os.path.join(folder, "small"), exist_ok=True)
    with open(os.path.join(folder, "big", "ui.xml"), "w") as f:
        f.write(big_document(widgets, rate, mix))
    shutil.copy(PICTURE, os.path.join(folder, "big", "logo.png"))
    with open(os.path.join(folder, "small", "ui.xml"), "w") as f:
        f.write(SMALL_DOCUMENT)
    paths = []
    for k in range(count):
        device = {
            "name": "Load panel" if k == 0 else f"Site {k}",
            "platform": "PLAT",
            "type": TYPES[k % len(TYPES)],
            "version": 1,
            "serial": SERIAL_BASE + k,
            "address": address(k),
            "folder": "big" if k == 0 else "small",
            "variables": big_variables() if k == 0 else {
                "speed": {"behaviour": "sine", "min": 800, "max": 1400, "period": 30},
                "temperature": 21.5},
            "commands": [{"match": "set lat %d", "set": {"lat": "$1"}}] if k == 0 else [],
        }
        if schedule:
            timeline = schedule(k)
            if timeline:
                device["schedule"] = timeline
        if extra:
            device.update(extra(k) or {})
        path = os.path.join(folder, f"device{k:03d}.json")
        with open(path, "w") as f:
            json.dump(device, f, indent=1)
        paths.append(path)
    return paths

"""fieldmon-gateway against the simulated example devices in the private
network, with a real mosquitto broker on the namespace's loopback: the
Home Assistant discovery message of each device lists exactly the value
elements of its ui.xml (read here independently, with ElementTree), the
state topics move as the simulator moves the values, /metrics parses with
the reference Prometheus parser and has one value series per numeric
element, a command on a switch's topic reaches the device as the bytes a
tap sends only with --allow-commands, and a device that goes away turns
offline within the finder's removal time. Beside the examples run a panel
whose document is broken, one whose server breaks off every transfer, and a
pump that floods the gateway with malformed datagrams and hostile
announcements."""

import glob
import json
import os
import re
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.request
import xml.etree.ElementTree as ElementTree

import e2e

GATEWAY = os.environ.get("FIELDMON_GATEWAY", os.path.join(e2e.BUILD, "gateway", "fieldmon-gateway"))
PARSER = os.path.join(e2e.SOURCE, "tests", "gateway", "parse_metrics.py")
# The finder removes a device silent for 6 s; the gateway looks every 0.25 s.
REMOVAL_SECONDS = 6.0 + 0.25

# What the gateway exports of a document, by element name: the component
# with commands allowed, and without (read-only; a text field is then left out).
VALUE_ELEMENTS = {"label": ("sensor", "sensor"), "arrow": ("sensor", "sensor"), "turbine": ("sensor", "sensor"),
                  "compass": ("sensor", "sensor"), "progress": ("sensor", "sensor"),
                  "bool": ("switch", "binary_sensor"), "thumbwheel": ("select", "sensor"),
                  "picker": ("select", "sensor"), "textfield": ("text", None),
                  # table rows of their own (an "index") with a text at the right or centre
                  "cell": ("sensor", "sensor")}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def expected_components(ui_xml, commands):
    """page__elementN -> component, counted per element name within each page."""
    expected = {}
    for page in ElementTree.parse(ui_xml).getroot():
        if page.tag not in ("page", "table"):
            continue
        counts = {}
        for element in page:
            if element.tag not in VALUE_ELEMENTS or (element.tag == "label" and not (element.text or "").strip()):
                continue
            if element.tag == "cell" and (element.get("index") is None or element.get("indexStart") is not None
                                          or element.get("indexEnd") is not None
                                          or (element.get("right") is None and element.get("center") is None)):
                continue
            n = counts.get(element.tag, 0)
            counts[element.tag] = n + 1
            component = VALUE_ELEMENTS[element.tag][0 if commands else 1]
            if component:
                expected[f"{page.get('name')}__{element.tag}{n}"] = component
    return expected


PANELS = [os.path.join(e2e.SOURCE, "tests", "e2e", "devices", name, name + ".json")
          for name in ("broken", "mute", "flood")]
e2e.DEVICES = e2e.DEVICES + PANELS


def devices(examples_only=False):
    """serial -> (name, ui.xml path) of the simulated devices."""
    found = {}
    for path in e2e.DEVICES:
        if examples_only and path in PANELS:
            continue
        with open(path) as f:
            device = json.load(f)
        folder = os.path.join(os.path.dirname(path), device.get("folder", "."))
        found[str(device["serial"])] = (device["name"], os.path.join(folder, device.get("ui", "ui.xml")))
    return found


class Broker:
    """mosquitto on the namespace's loopback, and a subscriber to everything."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="fieldmon-gw-e2e-")
        self.port = free_port()
        config = os.path.join(self.dir, "mosquitto.conf")
        with open(config, "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n")
            # Root of a user namespace has no "mosquitto" user to drop to.
            f.write("user root\n" if os.geteuid() == 0 else "")
        self.broker = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        e2e.wait_for(self.listening, what="mosquitto to listen")
        self.log = open(os.path.join(self.dir, "messages"), "w+")
        self.subscriber = subprocess.Popen(["mosquitto_sub", "-p", str(self.port), "-v", "-t", "#"],
                                           stdout=self.log, stderr=subprocess.DEVNULL)

    def listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), 0.2).close()
            return True
        except OSError:
            return False

    def messages(self):
        """Every message so far as (topic, payload), in arrival order."""
        with open(self.log.name, errors="replace") as f:
            return [line.rstrip("\n").partition(" ")[::2] for line in f]

    def last(self, topic):
        values = [m[1] for m in self.messages() if m[0] == topic]
        return values[-1] if values else None

    def publish(self, topic, payload):
        subprocess.run(["mosquitto_pub", "-p", str(self.port), "-t", topic, "-m", payload], check=True)

    def close(self):
        for p in (self.subscriber, self.broker):
            p.terminate()
            p.wait(5)
        self.log.close()


class Gateway(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.broker = Broker()
        cls.metrics = free_port()
        cls.gateway = None
        cls.start_gateway()

    @classmethod
    def start_gateway(cls, *extra):
        if cls.gateway:
            cls.gateway.terminate()
            cls.gateway.wait(10)
            cls.gateway_err.close()
        cls.gateway_err = open(os.path.join(cls.broker.dir, f"gateway{len(extra)}.err"), "w+")
        cls.gateway = subprocess.Popen(
            [GATEWAY, "--broker", f"mqtt://127.0.0.1:{cls.broker.port}", "--client-id", "e2e",
             "--metrics", f"127.0.0.1:{cls.metrics}", *extra],
            stdout=subprocess.DEVNULL, stderr=cls.gateway_err)

    @classmethod
    def tearDownClass(cls):
        cls.gateway.terminate()
        status = cls.gateway.wait(10)
        cls.broker.close()
        if status != 0:
            raise AssertionError(f"fieldmon-gateway ended with {status} on SIGTERM")

    def discovery(self, serial):
        payload = e2e.wait_for(lambda: self.broker.last(f"homeassistant/device/fieldmon__{serial}/config"),
                               timeout=15, what=f"the discovery message of {serial}")
        return json.loads(payload)

    def components(self, serial):
        message = self.discovery(serial)
        return {key: c["p"] for key, c in message["cmps"].items()
                if key != "event" and c.get("entity_category") != "diagnostic"}

    def test_1_discovery_lists_every_value_element_and_values_move(self):
        for serial, (name, ui_xml) in devices(examples_only=True).items():
            self.assertEqual(self.components(serial), expected_components(ui_xml, False), name)
            self.assertEqual(self.broker.last(f"fieldmon/{serial}/availability"), "online")
        # The turbine's rotor turns in the simulator: its gauge's number moves.
        topic = "fieldmon/2301/gauges/turbine0"
        e2e.wait_for(lambda: len({m[1] for m in self.broker.messages() if m[0] == topic}) >= 3, timeout=10,
                     what="the rotor's angle to change")
        # A numeric label carries its unit into the discovery message.
        self.assertEqual(self.discovery("2301")["cmps"]["gauges__label1"].get("unit_of_measurement"), "kW")

    def test_2_commands_run_only_when_allowed_and_send_what_a_tap_sends(self):
        self.discovery("3150")
        lamp = "fieldmon/3150/drive/bool1/set"
        # Without --allow-commands nothing listens on the command topic.
        self.broker.publish(lamp, "ON")
        self.start_gateway("--allow-commands")
        e2e.wait_for(lambda: "online" == self.broker.last("fieldmon/gateway/e2e/status"), what="the new gateway")
        e2e.wait_for(lambda: self.broker.last("fieldmon/3150/drive/bool1") == "ON", what="the lamp state")
        # The new gateway subscribes once it has read the crane's document.
        time_out = time.monotonic() + 15
        while not self.received("Harbour crane", "clamp 0\\n"):
            self.assertLess(time.monotonic(), time_out, "'clamp 0' never reached the crane")
            self.broker.publish(lamp, "OFF")
            time.sleep(0.5)
        # The refused "ON" never arrived, though it went out first.
        self.assertFalse(self.received("Harbour crane", "clamp 1\\n"))
        for serial, (name, ui_xml) in devices(examples_only=True).items():
            self.assertEqual(self.components(serial), expected_components(ui_xml, True), name)
        # The crane answers the lamp command with an event, published as one.
        event = e2e.wait_for(lambda: [p for t, p in self.broker.messages() if t == "fieldmon/3150/event"],
                             what="the crane's event")
        self.assertIn("LAMP 0", event[-1])
        # Not an option of the turbine's brake picker: refused, nothing sent.
        before = len(self.commands("Wind turbine 2"))
        self.broker.publish("fieldmon/2301/hydraulics/picker0/set", "Of")
        self.broker.publish("fieldmon/2301/hydraulics/picker0/set", "On")
        e2e.wait_for(lambda: self.received("Wind turbine 2", "cbrake On\\n"), what="'cbrake On'")
        self.assertEqual(self.commands("Wind turbine 2")[before:], ["cbrake On\\n"])

    def received(self, device, text):
        return re.search(re.escape(f"[{device}] <- ") + r"\S+ '" + re.escape(text) + "'", e2e.sim_log()) is not None

    def commands(self, device):
        return re.findall(re.escape(f"[{device}] <- ") + r"\S+ '(c[^']*)'", e2e.sim_log())

    def test_3_metrics_parse_and_have_a_series_per_numeric_element(self):
        for serial in set(devices()) - {"4004"}:
            self.discovery(serial)

        def scrape():
            text = urllib.request.urlopen(f"http://127.0.0.1:{self.metrics}/metrics", timeout=5).read()
            parsed = subprocess.run(["/usr/bin/python3", PARSER], input=text, capture_output=True)
            if parsed.returncode == 77:
                self.skipTest("python3-prometheus-client is not installed")
            self.assertEqual(parsed.returncode, 0, parsed.stderr)
            return json.loads(parsed.stdout)["samples"]

        def numeric_elements(serial):
            cmps = self.discovery(serial)["cmps"]
            count = 0
            for key, c in cmps.items():
                if c.get("entity_category") == "diagnostic" or c["p"] not in ("sensor", "switch"):
                    continue
                payload = self.broker.last(c["state_topic"])
                number = r"\s*[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?(\s*[^\s0-9.,]\S*)?\s*"
                if c["p"] == "switch" or re.fullmatch(number, payload or ""):
                    count += 1
            return count

        def settled():
            samples = scrape()
            up = {s[1]["serial"] for s in samples if s[0] == "fieldmon_device_up" and s[2] == 1}
            values = [s[1]["serial"] for s in samples if s[0] == "fieldmon_value"]
            counts = {serial: values.count(serial) for serial in exported}
            return up == exported and all(counts[s] == numeric_elements(s) for s in exported)

        # Every device but the flooding one (see test_4).
        exported = set(devices()) - {"4004"}

        e2e.wait_for(settled, timeout=10, what="one value series per numeric element of every device")

    def test_4_broken_documents_and_a_flooding_device(self):
        # Fetched but broken half-way, and never fetched at all: both are
        # available, with no values and the reason in their attributes.
        for serial in ("4001", "4002"):
            self.assertEqual(set(self.components(serial)), set(), serial)
            attributes = json.loads(self.broker.last(f"fieldmon/{serial}/attributes"))
            self.assertEqual(attributes["document"], "error", serial)
            self.assertIn("ui.xml", attributes["error"])
            self.assertEqual(self.broker.last(f"fieldmon/{serial}/availability"), "online")
            self.assertFalse([t for t, _ in self.broker.messages() if t.startswith(f"fieldmon/{serial}/main/")])
        # The flooding pump announces random identities from its address
        # many times a second: none of them, nor the pump, becomes a device
        # on the broker, while the other pump's speed keeps moving.
        topic = "fieldmon/1207/main/label0"
        seen = len({p for t, p in self.broker.messages() if t == topic})
        e2e.wait_for(lambda: len({p for t, p in self.broker.messages() if t == topic}) >= seen + 2, timeout=10,
                     what="the other pump's speed to move")
        announced = {t.split("/")[2] for t, _ in self.broker.messages() if t.startswith("homeassistant/device/")}
        self.assertEqual(announced, {f"fieldmon__{serial}" for serial in devices() if serial != "4004"})

    def test_5_a_device_that_goes_away_turns_offline_within_the_removal_time(self):
        self.discovery("3150")
        # The devices' namespace is the one the network script's holder
        # process sits in; taking the crane's address away silences it alone.
        holder = self.devices_namespace_holder()
        in_devices = ["nsenter", "-t", str(holder), "-n"]
        # The crane's address may be the interface's first: the others must stay.
        subprocess.run(in_devices + ["sysctl", "-qw", "net.ipv4.conf.fmdev0.promote_secondaries=1"], check=True)
        subprocess.run(in_devices + ["ip", "addr", "del", "10.77.0.12/24", "dev", "fmdev0"], check=True)
        gone = time.monotonic()
        e2e.wait_for(lambda: self.broker.last("fieldmon/3150/availability") == "offline",
                     timeout=REMOVAL_SECONDS + 3, what="the crane to go offline")
        took = time.monotonic() - gone
        self.assertLess(took, REMOVAL_SECONDS + 2)
        self.assertEqual(self.broker.last("fieldmon/1207/availability"), "online")

    @staticmethod
    def devices_namespace_holder():
        own = os.readlink("/proc/self/ns/net")
        script = os.getppid()
        for task in glob.glob(f"/proc/{script}/task/*/children"):
            with open(task) as f:
                children = f.read().split()
            for pid in children:
                try:
                    if os.readlink(f"/proc/{pid}/ns/net") != own:
                        return int(pid)
                except OSError:
                    pass
        raise unittest.SkipTest("the devices' namespace cannot be found")


if __name__ == "__main__":
    e2e.main()

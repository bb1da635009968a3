#!/usr/bin/env python3
"""The Wireshark dissector (tools/wireshark/fieldmon.lua) under tshark: every
datagram kind decodes with its fields, hand-made malformed datagrams get the
expert info "malformed" and never a Lua error, the heuristic takes our
datagrams on other ports and leaves other traffic alone. Skipped (77)
without tshark."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(SOURCE, "tools", "wireshark", "fieldmon.lua")

APP, DEVICE = "10.77.0.1", "10.77.0.10"


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def udp_packet(src, sport, dst, dport, payload):
    a, b = bytes(map(int, src.split("."))), bytes(map(int, dst.split(".")))
    udp = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    c = checksum(a + b + struct.pack("!BBH", 0, 17, len(udp)) + udp) or 0xFFFF
    udp = udp[:6] + struct.pack("!H", c) + udp[8:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 1, 0x4000, 64, 17, 0, a, b)
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    return ip + udp


def write_pcap(path, packets):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 228))  # raw IPv4
        for i, p in enumerate(packets):
            f.write(struct.pack("<IIII", 1700000000 + i, 0, len(p), len(p)) + p)


def to_device(payload, port=10024):
    return udp_packet(APP, 41000, DEVICE, port, payload)


def from_device(payload, port=10023):
    return udp_packet(DEVICE, 10024, APP, port, payload)


# (packet, malformed?, {field: value} that must show)
CASES = [
    (to_device(b"H"), False, {"fieldmon.kind": "0x48"}),
    (to_device(b"h"), False, {"fieldmon.kind": "0x68"}),
    (to_device(b"F"), False, {"fieldmon.kind": "0x46"}),
    (to_device(b"s"), False, {"fieldmon.kind": "0x73"}),
    (to_device(b"E"), False, {"fieldmon.kind": "0x45"}),
    (to_device(b"cservice 1\r\n"), False, {"fieldmon.command": "service 1\\r\\n"}),
    (to_device(b"vbA4C8"), False, {"fieldmon.request_id": "b", "fieldmon.items": "2",
                                   "fieldmon.item.index": "0,2", "fieldmon.item.count": "4,8"}),
    (to_device(b"ac00001234C00000100E"), False, {"fieldmon.request_id": "c",
                                                 "fieldmon.item.address": "0x00001234,0x00000100",
                                                 "fieldmon.item.size": "2,4"}),
    (to_device(b"ad"), False, {"fieldmon.items": "0"}),
    (from_device(b"mPLAT;PUMP;North well;3;1207;1"), False,
     {"fieldmon.name": "North well", "fieldmon.serial": "1207", "fieldmon.service": "1", "fieldmon.version": "3"}),
    (from_device(b"mA;B"), False, {"fieldmon.platform": "A", "fieldmon.type": "B"}),
    (from_device(b"mA;B;C;7;99;0;extra;more"), False, {"fieldmon.serial": "99", "fieldmon.extra": "extra;more"}),
    (from_device(b"m"), False, {"fieldmon.platform": ""}),
    (from_device(b"i"), False, {"fieldmon.kind": "0x69"}),
    (from_device(b"e12:00:01 PUMP STARTED"), False,
     {"fieldmon.event.stamp": "12:00:01", "fieldmon.event.text": "PUMP STARTED"}),
    (from_device(b"e1:2"), False, {"fieldmon.event.text": "1:2"}),
    (from_device(b"Vb\x00\x01\x00\x00\x04\x01\x00\x00\x00"), False,
     {"fieldmon.payload.length": "8", "fieldmon.payload.address": "0x00000100,0x00000104", "fieldmon.closing": "0x00"}),
    (from_device(b"Ac\x10\x27\x00"), False, {"fieldmon.payload.length": "2", "fieldmon.request_id": "c"}),
    (from_device(b"f"), False, {"fieldmon.kind": "0x66"}),
    # Malformed: each would once have been read past its end or taken whole.
    # (An empty datagram never reaches a dissector: Wireshark's UDP stops there.)
    (to_device(b"E1"), True, {}),
    (to_device(b"hh"), True, {}),
    (from_device(b"i\x00"), True, {}),
    (to_device(b"v"), True, {}),
    (to_device(b"vbA4C"), True, {"fieldmon.items": "1"}),
    (to_device(b"ab1234"), True, {}),
    (to_device(b"abZZZZ1234C"), True, {}),
    (from_device(b"V"), True, {}),
    (from_device(b"Ab"), True, {}),
    (from_device(b"\x01\x02\x03"), True, {}),
    (from_device(b"\xff"), True, {}),
]

# The heuristic on other ports: (packet, taken as fieldmon?)
HEURISTIC = [
    (udp_packet(APP, 5000, DEVICE, 6000, b"mPLAT;PUMP;North well;3;1207;1"), True),
    (udp_packet(APP, 5000, DEVICE, 6000, b"vbA4C8"), True),
    (udp_packet(APP, 5000, DEVICE, 6000, b"Ab\x01\x02\x00"), True),
    (udp_packet(APP, 5000, DEVICE, 6000, b"e12:00:01 PUMP STARTED"), True),
    (udp_packet(APP, 5000, DEVICE, 6000, b"cset speed 900\n"), True),
    (udp_packet(APP, 5000, DEVICE, 6000, b"vbA"), False),
    (udp_packet(APP, 5000, DEVICE, 6000, b"hello world"), False),
    (udp_packet(APP, 5000, DEVICE, 6000, b"\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"), False),
]


def tshark(path, *args):
    out = subprocess.run(["tshark", "-n", "-r", path, "-X", "lua_script:" + SCRIPT, *args],
                         capture_output=True, text=True, check=True)
    return out.stdout, out.stderr


class Dissector(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="fieldmon-dissector-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def fields(self, packets, names):
        path = os.path.join(self.dir, "d.pcap")
        write_pcap(path, packets)
        args = ["-T", "fields", "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=,"]
        for n in ["frame.protocols", "_ws.expert.message", *names]:
            args += ["-e", n]
        out, err = tshark(path, *args)
        self.assertNotIn("Lua", err)
        rows = [line.split("|") for line in out.splitlines()]
        self.assertEqual(len(rows), len(packets))
        return rows

    def test_every_kind_decodes_and_malformed_datagrams_are_marked(self):
        names = sorted({k for _, _, want in CASES for k in want})
        rows = self.fields([p for p, _, _ in CASES], names)
        for (packet, bad, want), row in zip(CASES, rows):
            with self.subTest(payload=packet[28:]):
                self.assertTrue(row[0].endswith(":fieldmon"), row[0])
                self.assertNotIn("Lua Error", row[1])
                self.assertEqual("malformed" in row[1], bad, row[1])
                got = dict(zip(names, row[2:]))
                for k, v in want.items():
                    self.assertEqual(got[k], v, k)

    def test_filters_by_field_name(self):
        path = os.path.join(self.dir, "f.pcap")
        write_pcap(path, [p for p, _, _ in CASES])
        out, _ = tshark(path, "-Y", 'fieldmon.serial == "1207"', "-T", "fields", "-e", "frame.number")
        self.assertEqual(out.split(), ["10"])
        out, _ = tshark(path, "-Y", "fieldmon.malformed", "-T", "fields", "-e", "frame.number")
        self.assertEqual(len(out.split()), sum(1 for _, bad, _ in CASES if bad))

    def test_the_heuristic_takes_ours_on_other_ports_and_nothing_else(self):
        rows = self.fields([p for p, _ in HEURISTIC], [])
        for (packet, ours), row in zip(HEURISTIC, rows):
            with self.subTest(payload=packet[28:]):
                self.assertEqual(row[0].endswith(":fieldmon"), ours, row[0])
                self.assertNotIn("malformed", row[1])


if __name__ == "__main__":
    if not shutil.which("tshark"):
        print("tshark is not installed (tools/deps.sh installs it); skipping")
        sys.exit(77)
    unittest.main(verbosity=2)

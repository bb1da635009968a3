#!/usr/bin/env python3
"""Draws fieldmon's application icon (our own artwork) from one description.

The icon is a blue rounded tile with a white dial, an amber needle and a
radio signal: a gauge read over the air. The shapes below are described once,
in a 256 x 256 space, and written twice: as packaging/icons/fieldmon.svg
(the scalable icon) and, rasterised here with 4x4 supersampling, as
packaging/icons/fieldmon-<N>.png for each size a desktop asks for. Plain
Python (the PNG writer is tools/pngdraw.py).
Run from anywhere: tools/make-app-icon.py
"""
import math
import os

from pngdraw import supersample, write_png

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
OUT = os.path.join(ROOT, "packaging", "icons")
SIZES = (16, 24, 32, 48, 64, 128, 256)

TILE = dict(x=16, y=16, size=224, radius=44, top=(0x25, 0x7f, 0xc0), bottom=(0x0f, 0x45, 0x73))
WHITE = (1.0, 1.0, 1.0)
AMBER = (0xf5 / 255, 0xa6 / 255, 0x23 / 255)
# Angles in degrees, counter-clockwise from the positive x axis (y points up
# on the dial; the picture's y points down).
DIAL = dict(cx=128, cy=156, r=70, width=16, start=210, end=-30, color=WHITE, alpha=0.95)
TICKS = [dict(cx=128, cy=156, r=70, angle=a) for a in (210, 150, 90, 30, -30)]
NEEDLE = dict(cx=128, cy=156, length=62, angle=55, width=12, color=AMBER)
HUB = dict(cx=128, cy=156, r=15, color=AMBER)
SIGNAL = [dict(cx=186, cy=78, r=r, width=10, start=100, end=-10, color=WHITE, alpha=0.85) for r in (20, 40)]
SIGNAL_DOT = dict(cx=186, cy=78, r=7, color=WHITE)


def rgb(c):
    return "#%02x%02x%02x" % tuple(int(round(v * 255)) for v in c)


def polar(cx, cy, r, angle):
    a = math.radians(angle)
    return cx + r * math.cos(a), cy - r * math.sin(a)


def svg():
    t = TILE
    parts = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        "  <title>fieldmon</title>",
        '  <defs><linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">'
        f'<stop offset="0" stop-color="#{bytes(t["top"]).hex()}"/>'
        f'<stop offset="1" stop-color="#{bytes(t["bottom"]).hex()}"/></linearGradient></defs>',
        f'  <rect x="{t["x"]}" y="{t["y"]}" width="{t["size"]}" height="{t["size"]}" rx="{t["radius"]}" '
        'fill="url(#tile)"/>',
    ]

    def arc(a):
        x0, y0 = polar(a["cx"], a["cy"], a["r"], a["start"])
        x1, y1 = polar(a["cx"], a["cy"], a["r"], a["end"])
        large = 1 if (a["start"] - a["end"]) % 360 > 180 else 0
        return (f'  <path d="M {x0:.2f} {y0:.2f} A {a["r"]} {a["r"]} 0 {large} 1 {x1:.2f} {y1:.2f}" '
                f'fill="none" stroke="{rgb(a["color"])}" stroke-opacity="{a["alpha"]}" '
                f'stroke-width="{a["width"]}" stroke-linecap="round"/>')

    parts.append(arc(DIAL))
    for tick in TICKS:
        x0, y0 = polar(tick["cx"], tick["cy"], tick["r"] - 20, tick["angle"])
        x1, y1 = polar(tick["cx"], tick["cy"], tick["r"] - 12, tick["angle"])
        parts.append(f'  <line x1="{x0:.2f}" y1="{y0:.2f}" x2="{x1:.2f}" y2="{y1:.2f}" stroke="#ffffff" '
                     'stroke-opacity="0.95" stroke-width="6" stroke-linecap="round"/>')
    for s in SIGNAL:
        parts.append(arc(s))
    d = SIGNAL_DOT
    parts.append(f'  <circle cx="{d["cx"]}" cy="{d["cy"]}" r="{d["r"]}" fill="{rgb(d["color"])}" fill-opacity="0.85"/>')
    n = NEEDLE
    x1, y1 = polar(n["cx"], n["cy"], n["length"], n["angle"])
    parts.append(f'  <line x1="{n["cx"]}" y1="{n["cy"]}" x2="{x1:.2f}" y2="{y1:.2f}" stroke="{rgb(n["color"])}" '
                 f'stroke-width="{n["width"]}" stroke-linecap="round"/>')
    h = HUB
    parts.append(f'  <circle cx="{h["cx"]}" cy="{h["cy"]}" r="{h["r"]}" fill="{rgb(h["color"])}"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


# The same shapes as coverage tests at a point (x, y) of the 256 space.
def in_tile(x, y):
    t = TILE
    left, top = t["x"], t["y"]
    right, bottom = left + t["size"], top + t["size"]
    r = t["radius"]
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def near_segment(x, y, x0, y0, x1, y1, half):
    dx, dy = x1 - x0, y1 - y0
    t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
    return (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= half * half


def on_arc(x, y, a):
    """Within the stroke of arc `a` (round caps), swept clockwise from start to end."""
    half = a["width"] / 2
    for angle in (a["start"], a["end"]):
        ex, ey = polar(a["cx"], a["cy"], a["r"], angle)
        if (x - ex) ** 2 + (y - ey) ** 2 <= half * half:
            return True
    d = math.hypot(x - a["cx"], y - a["cy"])
    if abs(d - a["r"]) > half:
        return False
    angle = math.degrees(math.atan2(a["cy"] - y, x - a["cx"]))
    sweep = (a["start"] - a["end"]) % 360
    return (a["start"] - angle) % 360 <= sweep


def shade(x, y):
    """(r, g, b, a) in 0..1 at (x, y), the layers painted in the SVG's order."""
    if not in_tile(x, y):
        return (0.0, 0.0, 0.0, 0.0)
    t = TILE
    f = (y - t["y"]) / t["size"]
    color = tuple((t["top"][i] + (t["bottom"][i] - t["top"][i]) * f) / 255 for i in range(3))

    def over(c, alpha):
        return tuple(color[i] * (1 - alpha) + c[i] * alpha for i in range(3))

    if on_arc(x, y, DIAL):
        color = over(DIAL["color"], DIAL["alpha"])
    for tick in TICKS:
        x0, y0 = polar(tick["cx"], tick["cy"], tick["r"] - 20, tick["angle"])
        x1, y1 = polar(tick["cx"], tick["cy"], tick["r"] - 12, tick["angle"])
        if near_segment(x, y, x0, y0, x1, y1, 3):
            color = over(WHITE, 0.95)
    for s in SIGNAL:
        if on_arc(x, y, s):
            color = over(s["color"], s["alpha"])
    d = SIGNAL_DOT
    if (x - d["cx"]) ** 2 + (y - d["cy"]) ** 2 <= d["r"] ** 2:
        color = over(d["color"], 0.85)
    n = NEEDLE
    x1, y1 = polar(n["cx"], n["cy"], n["length"], n["angle"])
    if near_segment(x, y, n["cx"], n["cy"], x1, y1, n["width"] / 2):
        color = n["color"]
    if (x - HUB["cx"]) ** 2 + (y - HUB["cy"]) ** 2 <= HUB["r"] ** 2:
        color = HUB["color"]
    return color + (1.0,)


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "fieldmon.svg"), "w") as f:
        f.write(svg())
    for size in SIZES:
        scale = 256 / size
        write_png(os.path.join(OUT, f"fieldmon-{size}.png"), size, size,
                  lambda px, py: supersample(lambda u, v: shade(u * scale, v * scale), px, py))


if __name__ == "__main__":
    main()

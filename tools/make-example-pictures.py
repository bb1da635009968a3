#!/usr/bin/env python3
"""Draws the pictures that the example devices serve (our own artwork).

Writes examples/turbine/logo.png (a three-bladed rotor on a disc with the
word-less wind mark) and examples/turbine/badge.png (a round service badge).
Plain Python: PNG encoded with zlib, shapes rasterised with 4x4 supersampling.
Run from anywhere: tools/make-example-pictures.py
"""
import math
import os

from pngdraw import supersample, write_png

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def logo_shade(px, py):
    w, h = 120, 72
    cx, cy = 36.0, 36.0
    dx, dy = px - cx, py - cy
    r = math.hypot(dx, dy)
    # Rotor blades: three narrow lobes around the hub.
    ang = math.atan2(dy, dx)
    for k in range(3):
        a0 = -math.pi / 2 + k * 2 * math.pi / 3
        d = math.atan2(math.sin(ang - a0), math.cos(ang - a0))
        if 4 < r < 30 and abs(d) < 0.22 * (1 - r / 34):
            return (0.95, 0.97, 1.0, 1.0)
    if r < 5:
        return (0.95, 0.97, 1.0, 1.0)
    if r < 34:
        t = r / 34
        return (0.10 + 0.10 * t, 0.35 + 0.15 * t, 0.65 + 0.10 * t, 1.0)
    # Three bars to the right: wind.
    for k, length in enumerate((70, 56, 42)):
        y0 = 20 + k * 14
        if 76 <= px <= 76 + length * 0.6 and y0 <= py <= y0 + 6:
            return (0.10, 0.35, 0.65, 1.0)
    return (0, 0, 0, 0)


def badge_shade(px, py):
    cx, cy = 32.0, 32.0
    r = math.hypot(px - cx, py - cy)
    if r > 30:
        return (0, 0, 0, 0)
    if r > 26:
        return (0.85, 0.55, 0.05, 1.0)
    # A spanner-like diagonal bar with a ring at the top end.
    u = (px - cx + py - cy) / math.sqrt(2)
    v = (px - cx - (py - cy)) / math.sqrt(2)
    if abs(v) < 3.5 and -16 < u < 10:
        return (0.25, 0.25, 0.28, 1.0)
    if 5 < math.hypot(u - 12, v) < 9 and not (abs(v) < 3 and u > 12):
        return (0.25, 0.25, 0.28, 1.0)
    return (1.0, 0.85, 0.35, 1.0)


def main():
    out = os.path.join(ROOT, "examples", "turbine")
    write_png(os.path.join(out, "logo.png"), 120, 72, lambda x, y: supersample(logo_shade, x, y))
    write_png(os.path.join(out, "badge.png"), 64, 64, lambda x, y: supersample(badge_shade, x, y))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the pictures of the turning gauges that ship with the app (our own
artwork): resources/Arrow.png, resources/Compass.png, resources/Turbine.png.

Each picture turns about a pivot that the app fixes as an offset from the
picture's centre, so the drawings are laid out around those points:

  Arrow.png    24 x 100   pivot at the centre (12, 50): a dark shaft with a
                          red head pointing up (tip at y 2), a dark hub of
                          radius 5 at the pivot
  Compass.png  120 x 121  pivot (65.5, 60), 5.5 right of and 0.5 above the
                          centre: a cream dial of radius 50 in a dark ring
                          (radius 50 to 54), eight ticks, a needle whose
                          north half is red and south half light grey, a
                          dark hub of radius 4 at the pivot
  Turbine.png  60 x 140   pivot (30.25, 135), 0.25 right of and 65 below the
                          centre: a turbine seen from above, the dark tower
                          top (radius 6) at the pivot, the light nacelle
                          reaching up from it, the rotor's two tapering blades
                          across the top (along y 32) and a red spinner
                          (centre (30, 22))

The tests probe these colours at these places on rendered pages. Plain
Python: PNG encoded with zlib, shapes rasterised with 4x4 supersampling.
Run from anywhere: tools/make-gauge-pictures.py
"""
import math
import os

from pngdraw import supersample, write_png

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

DARK = (0.16, 0.19, 0.26, 1.0)
RED = (0.86, 0.10, 0.10, 1.0)
LIGHT = (0.78, 0.78, 0.80, 1.0)
CREAM = (0.97, 0.95, 0.86, 1.0)
WHITE = (0.98, 0.98, 0.99, 1.0)
NACELLE = (0.86, 0.88, 0.91, 1.0)
CLEAR = (0, 0, 0, 0)


def in_triangle(px, py, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side((px, py), a, b), side((px, py), b, c), side((px, py), c, a)
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def arrow_shade(px, py):
    cx, cy = 12.0, 50.0
    if math.hypot(px - cx, py - cy) < 5:
        return DARK
    if in_triangle(px, py, (12, 2), (1, 26), (23, 26)):
        return RED
    if abs(px - cx) < 3 and 24 <= py <= 96:
        return DARK
    # Fletching at the tail.
    if 86 <= py <= 98 and abs(px - cx) < 3 + (py - 86) * 0.5:
        return DARK
    return CLEAR


def compass_shade(px, py):
    cx, cy = 65.5, 60.0
    dx, dy = px - cx, py - cy
    r = math.hypot(dx, dy)
    if r > 54:
        return CLEAR
    if r < 4:
        return DARK
    if r >= 50:
        return DARK
    # The needle: a thin diamond, north half red, south half grey.
    if abs(dx) < 5 * (1 - abs(dy) / 44) and abs(dy) < 44:
        return RED if dy < 0 else LIGHT
    # Eight ticks inside the ring.
    angle = math.atan2(dy, dx)
    nearest = round(angle / (math.pi / 4)) * (math.pi / 4)
    if r > 42 and abs(angle - nearest) * r < 1.2:
        return DARK
    return CREAM


def turbine_shade(px, py):
    pivot = (30.25, 135.0)
    if math.hypot(px - pivot[0], py - pivot[1]) < 6:
        return DARK
    if math.hypot(px - 30, py - 22) < 7:
        return RED
    # Two blades from the hub out to the tips, tapering, with a dark edge.
    u = abs(px - 30)
    if u <= 28:
        half = 4.5 - 3.0 * u / 28
        v = abs(py - 32)
        if v <= half:
            return DARK if v > half - 1 or u > 27 else WHITE
    # The nacelle, narrowing towards the tower.
    if 30 < py <= 136:
        half = 8 - 2.5 * (py - 30) / 106
        u = abs(px - 30.25)
        if u <= half:
            return DARK if u > half - 1 else NACELLE
    return CLEAR


def main():
    out = os.path.join(ROOT, "resources")
    write_png(os.path.join(out, "Arrow.png"), 24, 100, lambda x, y: supersample(arrow_shade, x, y))
    write_png(os.path.join(out, "Compass.png"), 120, 121, lambda x, y: supersample(compass_shade, x, y))
    write_png(os.path.join(out, "Turbine.png"), 60, 140, lambda x, y: supersample(turbine_shade, x, y))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the app's own pictures of a page's plain button (our own artwork).

Writes resources/whiteButton.png (the button at rest: a white rounded button
with a grey rim) and resources/blueButton.png (the button held down: blue).
Each is 25 x 40 points: 12 points of rounded end on either side of one
column that stretches to the button's width. Plain Python: PNG encoded with
zlib, the rounded rectangle rasterised with 4x4 supersampling.
Run from anywhere: tools/make-button-pictures.py
"""
import os

from pngdraw import write_png

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
W, H, R = 25, 40, 9.0


def inside(x, y, inset):
    """Whether (x, y) lies in the rounded rectangle shrunk by `inset`."""
    left, top, right, bottom = inset, inset, W - inset, H - inset
    r = max(R - inset, 0.5)
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def button(rim, top, bottom, shine):
    def pixel(px, py):
        cover_rim = cover_face = 0
        for sy in range(4):
            for sx in range(4):
                x, y = px + (sx + 0.5) / 4, py + (sy + 0.5) / 4
                if inside(x, y, 0.5):
                    cover_rim += 1
                    if inside(x, y, 1.5):
                        cover_face += 1
        if cover_rim == 0:
            return (0, 0, 0, 0)
        t = py / (H - 1)
        face = mix(top, bottom, t)
        if py < H * 0.45:  # the glossy upper half
            face = mix(face, (255, 255, 255), shine * (1 - py / (H * 0.45)))
        f = cover_face / cover_rim
        colour = mix(rim, face, f)
        return colour + (int(round(255 * cover_rim / 16)),)
    return pixel


def main():
    out = os.path.join(ROOT, "resources")
    os.makedirs(out, exist_ok=True)
    write_png(os.path.join(out, "whiteButton.png"), W, H,
              button((0x8e, 0x94, 0x9e), (0xff, 0xff, 0xff), (0xdc, 0xe0, 0xe6), 0.0))
    write_png(os.path.join(out, "blueButton.png"), W, H,
              button((0x1c, 0x3f, 0x94), (0x4d, 0x86, 0xf2), (0x14, 0x51, 0xd6), 0.45))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Draws the launcher's tray icon: a violet rounded square with a white "V"
whose arms hold a dot, a voice between them. Writes the scalable picture
(launcher-icon.svg, drawn at 48 px) and one PNG per size of the icon theme,
each from a picture drawn for that size, with the square's edges on whole
pixels, so that the small sizes stay sharp. The PNGs are committed; run this
again (it needs rsvg-convert, Debian package librsvg2-bin) after changing the
drawing:  python3 make-icons.py"""

import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
# Sizes of the theme's folders; NxN@2 holds the same icon for twice the scale.
SIZES = [16, 22, 24, 32, 48]


def drawing(size):
    margin = max(1, round(size / 16))
    side = size - 2 * margin
    radius = round(side * 0.22)
    stroke = max(2, round(size * 0.14))
    # The V's arms, from the top corners to the point, in whole or half pixels.
    top = margin + round(side * 0.24 * 2) / 2
    bottom = margin + round(side * 0.80 * 2) / 2
    left = margin + round(side * 0.22 * 2) / 2
    right = size - left
    middle = size / 2
    dot = stroke * 0.55
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 {size} {size}">
  <defs>
    <linearGradient id="face" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#6a5cff"/>
      <stop offset="1" stop-color="#3b28c4"/>
    </linearGradient>
  </defs>
  <rect x="{margin}" y="{margin}" width="{side}" height="{side}" rx="{radius}" fill="url(#face)"/>
  <rect x="{margin + 0.5}" y="{margin + 0.5}" width="{side - 1}" height="{side - 1}" rx="{radius - 0.5}"
        fill="none" stroke="#241780" stroke-opacity="0.55"/>
  <path d="M{left} {top} L{middle} {bottom} L{right} {top}" fill="none" stroke="#ffffff"
        stroke-width="{stroke}" stroke-linecap="round" stroke-linejoin="round"/>
  <circle cx="{middle}" cy="{top - stroke * 0.05:.2f}" r="{dot:.2f}" fill="#ffffff"/>
</svg>
"""


def main():
    with open(os.path.join(HERE, "launcher-icon.svg"), "w") as scalable:
        scalable.write(drawing(48))
    for size in SIZES:
        for scale, suffix in ((1, ""), (2, "@2")):
            pixels = size * scale
            picture = os.path.join(HERE, f"{size}x{size}{suffix}.png")
            subprocess.run(["rsvg-convert", "-w", str(pixels), "-h", str(pixels), "-o", picture],
                           input=drawing(pixels).encode(), check=True)


if __name__ == "__main__":
    main()

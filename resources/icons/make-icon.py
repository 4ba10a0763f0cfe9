#!/usr/bin/env python3
"""Draws the program icon, zelvo-footswitch2.svg: two analogue meter faces in
grey frames, an S-meter above an SWR meter, each with a scale arc that runs
green and turns red, and a red needle.

Run from this folder; the SVG is kept in the tree, so the build needs no
Python. Plain SVG on purpose (no filters, no CSS): Qt SVG draws the window
icon from it at run time and the PNG sizes at build time.
"""
import math

WIDTH, HEIGHT = 119, 127
RADIUS = 37          # centre line of the coloured arc
LABEL_RADIUS = 46.5  # baseline centre of the scale numbers
FONT = "DejaVu Sans, Verdana, Arial, sans-serif"

S_METER = {
    "scale": [("1", -50), ("3", -36), ("5", -22), ("7", -8), ("9", 6), ("+20", 20), ("+40", 35), ("+60", 50)],
    "turn": 6,       # the arc turns red at S9
    "needle": -14,
    "name": "S",
}
SWR_METER = {
    "scale": [("1", -50), ("1.5", -24), ("2", -6), ("3", 12), ("5", 31), ("10", 50)],
    "turn": -6,      # red above 2:1
    "needle": -36,
    "name": "SWR",
}


def polar(cx, cy, r, degrees):
    a = math.radians(degrees)
    return cx + r * math.sin(a), cy - r * math.cos(a)


def arc(cx, cy, r, start, end, colour, width):
    x1, y1 = polar(cx, cy, r, start)
    x2, y2 = polar(cx, cy, r, end)
    return (f'<path d="M {x1:.2f} {y1:.2f} A {r} {r} 0 0 1 {x2:.2f} {y2:.2f}" '
            f'fill="none" stroke="{colour}" stroke-width="{width}"/>')


def meter(top, face):
    left, width, height = 2, WIDTH - 4, 61
    cx, cy = WIDTH / 2, top + height - 8
    out = [f'<g id="{face["name"].lower()}-meter">']
    # frame: dark edge, grey body, light inner bevel, then the face
    out.append(f'<rect x="{left}" y="{top}" width="{width}" height="{height}" rx="5" fill="#5a5a5a"/>')
    out.append(f'<rect x="{left + 1}" y="{top + 1}" width="{width - 2}" height="{height - 2}" rx="4" fill="url(#frame)"/>')
    out.append(f'<rect x="{left + 5}" y="{top + 5}" width="{width - 10}" height="{height - 10}" rx="2" fill="#6e6e6e"/>')
    out.append(f'<rect x="{left + 6}" y="{top + 6}" width="{width - 12}" height="{height - 12}" rx="1.5" fill="url(#face)"/>')
    scale = face["scale"]
    first, last = scale[0][1], scale[-1][1]
    out.append(arc(cx, cy, RADIUS, first, face["turn"], "#18a318", 4))
    out.append(arc(cx, cy, RADIUS, face["turn"], last, "#d81e1e", 4))
    for text, angle in scale:
        x1, y1 = polar(cx, cy, RADIUS - 2, angle)
        x2, y2 = polar(cx, cy, RADIUS + 4, angle)
        out.append(f'<line x1="{x1:.2f}" y1="{y1:.2f}" x2="{x2:.2f}" y2="{y2:.2f}" stroke="#202020" stroke-width="1"/>')
        lx, ly = polar(cx, cy, LABEL_RADIUS, angle)
        size = 6.2 if len(text) > 1 else 7
        colour = "#b01010" if angle > face["turn"] else "#202020"
        out.append(f'<text x="{lx:.2f}" y="{ly + 2.3:.2f}" font-family="{FONT}" font-size="{size}" '
                   f'font-weight="bold" text-anchor="middle" fill="{colour}">{text}</text>')
    out.append(f'<text x="{cx:.2f}" y="{cy - 13:.2f}" font-family="{FONT}" font-size="7" '
               f'font-weight="bold" text-anchor="middle" fill="#404040">{face["name"]}</text>')
    nx, ny = polar(cx, cy, RADIUS + 5, face["needle"])
    out.append(f'<line x1="{cx:.2f}" y1="{cy:.2f}" x2="{nx:.2f}" y2="{ny:.2f}" stroke="#e00000" '
               f'stroke-width="2" stroke-linecap="round"/>')
    out.append(f'<circle cx="{cx:.2f}" cy="{cy:.2f}" r="3.5" fill="#303030"/>')
    out.append('</g>')
    return "\n".join(out)


svg = f'''<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="{WIDTH}" height="{HEIGHT}" viewBox="0 0 {WIDTH} {HEIGHT}">
<title>Zelvo-FootSwitch2</title>
<defs>
<linearGradient id="frame" x1="0" y1="0" x2="0" y2="1">
<stop offset="0" stop-color="#d4d4d4"/>
<stop offset="1" stop-color="#8c8c8c"/>
</linearGradient>
<linearGradient id="face" x1="0" y1="0" x2="0" y2="1">
<stop offset="0" stop-color="#fffbe8"/>
<stop offset="1" stop-color="#ece4c4"/>
</linearGradient>
</defs>
{meter(1, S_METER)}
{meter(65, SWR_METER)}
</svg>
'''

with open("zelvo-footswitch2.svg", "w") as f:
    f.write(svg)

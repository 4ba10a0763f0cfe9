#!/usr/bin/env python3
"""Draws the interface circuits of the help page as SVG:

  footswitch-input.svg         the footswitch between RTS and CTS of the input port
  footswitch-input-dsr-nc.svg  a normally closed footswitch between DTR and DSR
  relay-driver.svg             relay driver on RTS of the output port, optocoupler
  relay-driver-transistor.svg  the same with one transistor, no isolation

Run from this folder; the SVGs are kept in the tree, so the build needs no
Python. IEC symbols (rectangular resistors), plain SVG without CSS, so that
any browser shows them.
"""

FONT = "DejaVu Sans, Verdana, Arial, sans-serif"
INK = "#000000"
NOTE = "#404040"


class Drawing:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.parts = []

    def add(self, text):
        self.parts.append(text)

    def wire(self, *points, dashed=False):
        d = " ".join(f"{x},{y}" for x, y in points)
        dash = ' stroke-dasharray="6,4"' if dashed else ""
        self.add(f'<polyline points="{d}" fill="none" stroke="{INK}" stroke-width="2"{dash}/>')

    def dot(self, x, y):
        self.add(f'<circle cx="{x}" cy="{y}" r="3.5" fill="{INK}"/>')

    def terminal(self, x, y):
        self.add(f'<circle cx="{x}" cy="{y}" r="4" fill="#ffffff" stroke="{INK}" stroke-width="2"/>')

    def text(self, x, y, words, size=13, anchor="start", bold=False, colour=INK):
        weight = ' font-weight="bold"' if bold else ""
        for i, line in enumerate(words.split("\n")):
            self.add(f'<text x="{x}" y="{y + i * (size + 3)}" font-family="{FONT}" font-size="{size}"'
                     f'{weight} text-anchor="{anchor}" fill="{colour}">{line}</text>')

    def box(self, x, y, w, h, dashed=False, fill="none"):
        dash = ' stroke-dasharray="6,4"' if dashed else ""
        self.add(f'<rect x="{x}" y="{y}" width="{w}" height="{h}" fill="{fill}" stroke="{INK}" '
                 f'stroke-width="{1.5 if dashed else 2}"{dash}/>')

    def resistor_h(self, cx, y):
        """Horizontal resistor, leads end at cx - 20 and cx + 20."""
        self.box(cx - 20, y - 7, 40, 14, fill="#ffffff")

    def resistor_v(self, x, cy):
        self.box(x - 7, cy - 20, 14, 40, fill="#ffffff")

    def capacitor_v(self, x, top, bottom):
        """Vertical capacitor between the two lead ends."""
        mid = (top + bottom) / 2
        self.wire((x, top), (x, mid - 4))
        self.wire((x, mid + 4), (x, bottom))
        self.add(f'<line x1="{x - 12}" y1="{mid - 4}" x2="{x + 12}" y2="{mid - 4}" stroke="{INK}" stroke-width="3"/>')
        self.add(f'<line x1="{x - 12}" y1="{mid + 4}" x2="{x + 12}" y2="{mid + 4}" stroke="{INK}" stroke-width="3"/>')
        self.text(x - 16, mid - 8, "+", size=12, anchor="middle")

    def diode_v(self, x, top, bottom, cathode_up):
        """Vertical diode between the two lead ends, 20 px body in the middle."""
        mid = (top + bottom) / 2
        a, b = mid - 10, mid + 10
        self.wire((x, top), (x, a))
        self.wire((x, b), (x, bottom))
        if cathode_up:
            self.add(f'<polygon points="{x - 10},{b} {x + 10},{b} {x},{a}" fill="#ffffff" stroke="{INK}" stroke-width="2"/>')
            self.add(f'<line x1="{x - 10}" y1="{a}" x2="{x + 10}" y2="{a}" stroke="{INK}" stroke-width="2"/>')
        else:
            self.add(f'<polygon points="{x - 10},{a} {x + 10},{a} {x},{b}" fill="#ffffff" stroke="{INK}" stroke-width="2"/>')
            self.add(f'<line x1="{x - 10}" y1="{b}" x2="{x + 10}" y2="{b}" stroke="{INK}" stroke-width="2"/>')

    def arrow(self, x1, y1, x2, y2):
        self.add(f'<line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke="{INK}" stroke-width="1.5" marker-end="url(#arrow)"/>')

    def npn(self, cx, cy, base=True):
        """NPN transistor: base lead ends at cx - 20 (if any), collector at
        (cx + 10, cy - 18), emitter at (cx + 10, cy + 18)."""
        self.add(f'<circle cx="{cx}" cy="{cy}" r="22" fill="#ffffff" stroke="{INK}" stroke-width="2"/>')
        self.add(f'<line x1="{cx - 8}" y1="{cy - 12}" x2="{cx - 8}" y2="{cy + 12}" stroke="{INK}" stroke-width="3"/>')
        if base:
            self.wire((cx - 20, cy), (cx - 8, cy))
        self.wire((cx - 8, cy - 5), (cx + 10, cy - 15), (cx + 10, cy - 18))
        self.wire((cx - 8, cy + 5), (cx + 10, cy + 15), (cx + 10, cy + 18))
        # emitter arrow, pointing out
        self.add(f'<polygon points="{cx + 10},{cy + 15} {cx + 1},{cy + 14} {cx + 5},{cy + 8}" fill="{INK}"/>')

    def ground(self, x, y):
        for i, half in enumerate((12, 8, 4)):
            yy = y + i * 4
            self.add(f'<line x1="{x - half}" y1="{yy}" x2="{x + half}" y2="{yy}" stroke="{INK}" stroke-width="2"/>')

    def relay_contact_v(self, x, top, bottom):
        """Normally open contact between (x, top) and (x, bottom); returns
        the point on the blade for the mechanical link."""
        self.terminal(x, top)
        self.terminal(x, bottom)
        self.wire((x, bottom - 4), (x - 16, top + 6))
        return x - 8, (top + bottom) / 2

    def connector(self, x, y, w, h, title, pins):
        """A port's plug as a box; pins: list of (y, label). Lead ends at x + w."""
        self.box(x, y, w, h, fill="#f4f4f4")
        self.text(x + 10, y + 20, title, size=13, bold=True)
        for py, label in pins:
            self.text(x + w - 12, py + 5, label, size=13, anchor="end")
            self.terminal(x + w, py)

    def svg(self):
        return (f'<?xml version="1.0" encoding="UTF-8"?>\n'
                f'<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="{self.width}" height="{self.height}" '
                f'viewBox="0 0 {self.width} {self.height}">\n'
                f'<defs><marker id="arrow" markerWidth="8" markerHeight="8" refX="7" refY="4" orient="auto">'
                f'<path d="M0,0 L8,4 L0,8 z" fill="{INK}"/></marker></defs>\n'
                f'<rect width="{self.width}" height="{self.height}" fill="#ffffff"/>\n'
                + "\n".join(self.parts) + "\n</svg>\n")


def transmitter(d, x, ptt_y, gnd_y):
    d.box(x, ptt_y - 30, 110, gnd_y - ptt_y + 60, fill="#f4f4f4")
    d.text(x + 10, ptt_y - 12, "Transmitter", bold=True)
    d.terminal(x, ptt_y)
    d.text(x + 12, ptt_y + 5, "PTT")
    d.terminal(x, gnd_y)
    d.text(x + 12, gnd_y + 5, "GND")


def footswitch_input(supply="7 RTS", sense="8 CTS", normally_closed=False):
    d = Drawing(600, 300)
    d.connector(20, 40, 160, 230, "Input port\nDB-9, PC side",
                [(100, supply), (180, sense), (240, "5 GND")])
    supply_name = supply.split()[1]
    d.text(20, 292, f"{supply_name} is raised by the program as the supply (about +5 to +12 V).",
           size=12, colour=NOTE)
    d.box(240, 50, 330, 220, dashed=True)
    d.text(560, 70, "footswitch", anchor="end", colour=NOTE)
    # RTS through R1 to one side of the switch
    d.wire((184, 100), (320, 100))
    d.resistor_h(340, 100)
    d.text(340, 84, "R1 2.2 kΩ (1 to 4.7 kΩ)", anchor="middle")
    d.wire((360, 100), (500, 100), (500, 180), (434, 180))
    # S1: push switch between R1 and the sense line; a normally closed one
    # rests with its bar on the contacts, and pressing lifts it off.
    d.terminal(430, 180)
    d.terminal(370, 180)
    if normally_closed:
        bar, ends = 185, (370, 430)  # under the contacts, touching both
    else:
        bar, ends = 166, (364, 436)
    d.wire((ends[0], bar), (ends[1], bar))
    d.wire((400, bar), (400, 146))
    d.wire((386, 146), (414, 146))
    d.text(400, 210, "S1 normally closed" if normally_closed else "S1 normally open", anchor="middle")
    d.wire((184, 180), (366, 180))
    # ground: the cable screen and the switch housing
    d.wire((184, 240), (500, 240), (500, 246))
    d.ground(500, 246)
    d.text(490, 232, "screen, housing", anchor="end", colour=NOTE)
    return d


def relay_driver_optocoupler():
    d = Drawing(960, 400)
    d.connector(20, 40, 160, 250, "Output port\nDB-9, PC side", [(100, "7 RTS"), (260, "5 GND")])
    # LED side: RTS, R1, the LED to ground, D1 across it the other way round
    d.wire((184, 100), (230, 100))
    d.resistor_h(250, 100)
    d.text(250, 84, "R1 1 kΩ", anchor="middle")
    d.wire((270, 100), (370, 100), (370, 150))
    d.dot(310, 100)
    d.diode_v(310, 100, 260, cathode_up=True)
    d.text(298, 176, "D1\n1N4148", anchor="end")
    d.diode_v(370, 150, 190, cathode_up=False)
    d.arrow(386, 164, 408, 176)
    d.arrow(386, 176, 408, 188)
    d.wire((370, 190), (370, 260), (184, 260))
    d.dot(310, 260)
    # U1 with its phototransistor
    d.box(340, 125, 135, 105, dashed=True)
    d.text(378, 250, "U1 4N25 / PC817")
    d.npn(440, 178, base=False)
    # relay side, on its own supply
    d.wire((450, 160), (450, 60), (780, 60))
    d.text(780, 50, "+12 V relay supply", anchor="end")
    d.wire((450, 196), (450, 230), (490, 230))
    d.resistor_h(510, 230)
    d.text(510, 214, "R2 4.7 kΩ", anchor="middle")
    d.wire((530, 230), (600, 230))
    d.dot(545, 230)
    d.wire((545, 230), (545, 255))
    d.resistor_v(545, 275)
    d.wire((545, 295), (545, 330))
    d.text(534, 280, "R3\n10 kΩ", anchor="end")
    d.dot(575, 230)
    d.capacitor_v(575, 230, 330)
    d.npn(620, 230)
    d.text(648, 262, "Q1 BC337\nor 2N2222", colour=INK)
    # K1 coil between +12 V and the collector, D2 across it
    d.wire((630, 212), (630, 150))
    d.resistor_v(630, 130)
    d.text(646, 114, "K1 relay, 12 V coil")
    d.wire((630, 110), (630, 60))
    d.dot(630, 85)
    d.dot(630, 175)
    d.wire((630, 85), (580, 85), (580, 90))
    d.diode_v(580, 90, 170, cathode_up=True)
    d.wire((580, 170), (580, 175), (630, 175))
    d.text(568, 126, "D2\n1N4007", anchor="end")
    d.wire((630, 248), (630, 330))
    d.wire((450, 330), (780, 330))
    d.text(780, 348, "0 V relay supply", anchor="end")
    for x in (545, 575, 630):
        d.dot(x, 330)
    d.text(450, 370, "C1 10 µF (optional) delays the pull-in by a few ms.", size=12, colour=NOTE)
    d.text(450, 388, "The port's GND and the relay supply stay separate.", size=12, colour=NOTE)
    # K1 contact to the transmitter
    bx, by = d.relay_contact_v(820, 110, 160)
    d.wire((640, 130), (bx, by), dashed=True)
    d.wire((820, 106), (820, 80), (840, 80))
    d.wire((820, 164), (820, 190), (840, 190))
    transmitter(d, 840, 80, 190)
    return d


def relay_driver_transistor():
    d = Drawing(820, 380)
    d.connector(20, 40, 160, 280, "Output port\nDB-9, PC side", [(100, "7 RTS"), (300, "5 GND")])
    d.wire((184, 100), (230, 100))
    d.resistor_h(250, 100)
    d.text(250, 84, "R1 4.7 kΩ", anchor="middle")
    d.wire((270, 100), (320, 100), (320, 200), (460, 200))
    d.dot(340, 200)
    d.diode_v(340, 200, 300, cathode_up=True)
    d.text(352, 246, "D1\n1N4148")
    d.dot(420, 200)
    d.wire((420, 200), (420, 230))
    d.resistor_v(420, 250)
    d.wire((420, 270), (420, 300))
    d.text(432, 250, "R2\n10 kΩ")
    d.npn(480, 200)
    d.text(508, 236, "Q1 BC337\nor 2N2222")
    d.wire((490, 182), (490, 140))
    d.resistor_v(490, 120)
    d.text(506, 104, "K1 relay, 12 V coil")
    d.wire((490, 100), (490, 60))
    d.wire((470, 60), (660, 60))
    d.text(660, 50, "+12 V relay supply", anchor="end")
    d.dot(490, 80)
    d.dot(490, 160)
    d.wire((490, 80), (430, 80), (430, 85))
    d.diode_v(430, 85, 155, cathode_up=True)
    d.wire((430, 155), (430, 160), (490, 160))
    d.text(418, 116, "D2\n1N4007", anchor="end")
    d.wire((490, 218), (490, 300))
    d.wire((184, 300), (660, 300))
    for x in (340, 420, 490):
        d.dot(x, 300)
    d.text(660, 318, "0 V relay supply", anchor="end")
    d.text(20, 350, "The port's GND (pin 5) and the relay supply's 0 V are joined: no isolation.", size=12, colour=NOTE)
    d.text(20, 368, "D1 keeps the negative RTS level (down to -12 V) off the base of Q1.", size=12, colour=NOTE)
    bx, by = d.relay_contact_v(680, 110, 160)
    d.wire((500, 120), (bx, by), dashed=True)
    d.wire((680, 106), (680, 80), (700, 80))
    d.wire((680, 164), (680, 190), (700, 190))
    transmitter(d, 700, 80, 190)
    return d


def footswitch_input_dsr_normally_closed():
    return footswitch_input(supply="4 DTR", sense="6 DSR", normally_closed=True)


for name, make in (("footswitch-input.svg", footswitch_input),
                   ("footswitch-input-dsr-nc.svg", footswitch_input_dsr_normally_closed),
                   ("relay-driver.svg", relay_driver_optocoupler),
                   ("relay-driver-transistor.svg", relay_driver_transistor)):
    with open(name, "w", encoding="utf-8") as f:
        f.write(make().svg())

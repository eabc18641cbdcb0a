#!/usr/bin/env python3
"""Draws the pictures of the tray program as SVG files.

Every picture of the program is written by this script into the folder that
holds it: the application icon, the five frames of the tray animation, the
16x16 menu pictures and the 32x32 button images (each with its hover form).
Edit the drawings here and run the script again; the SVG files are committed
so that the build needs nothing but Qt's SVG support.

    python3 resources/icons/make_icons.py
"""

import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette shared by every picture.
INK = "#33475e"  # outlines
BLUE_DARK = "#1d4f91"
BLUE = "#2f74c8"
BLUE_LIGHT = "#8fc3f7"
GREEN_DARK = "#1f7a31"
GREEN = "#37a84a"
GREEN_LIGHT = "#8ee39a"
RED_DARK = "#9e1f1f"
RED = "#d93b3b"
RED_LIGHT = "#ff9a9a"
GOLD_DARK = "#8a5a00"
GOLD = "#f0b429"
GOLD_LIGHT = "#ffe08a"
ORANGE_DARK = "#a8330f"
ORANGE = "#f26b1d"
ORANGE_LIGHT = "#ffc04d"
PAPER = "#ffffff"
PAPER_SHADE = "#dce6f2"
FOLDER_DARK = "#9a6e0c"
FOLDER = "#e3ac2c"
FOLDER_LIGHT = "#f9d774"
STEEL = "#7d8fa6"
STEEL_LIGHT = "#c9d4e2"


def fmt(value):
    text = f"{value:.2f}".rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def linear(gid, top, bottom, x1=0, y1=0, x2=0, y2=1):
    return (f'<linearGradient id="{gid}" x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}">'
            f'<stop offset="0" stop-color="{top}"/><stop offset="1" stop-color="{bottom}"/>'
            f'</linearGradient>')


def radial(gid, inner, outer, cx=0.35, cy=0.3, r=0.75):
    return (f'<radialGradient id="{gid}" cx="{cx}" cy="{cy}" r="{r}">'
            f'<stop offset="0" stop-color="{inner}"/><stop offset="1" stop-color="{outer}"/>'
            f'</radialGradient>')


class Picture:
    """One SVG document: gradients collected once, shapes in drawing order."""

    def __init__(self, size, view=32):
        self.size = size
        self.view = view
        self.defs = {}
        self.body = []

    def gradient(self, gid, text):
        self.defs.setdefault(gid, text)
        return f"url(#{gid})"

    def add(self, text):
        self.body.append(text)

    def text(self):
        defs = "".join(self.defs.values())
        return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{self.size}" '
                f'height="{self.size}" viewBox="0 0 {self.view} {self.view}">'
                + (f"<defs>{defs}</defs>" if defs else "") + "".join(self.body) + "</svg>\n")


# ---------------------------------------------------------------------------
# Shapes. All coordinates are in a 32-unit square; `sw` is the outline width.


def globe(p, cx, cy, r, sw, phase, warm=False):
    """A globe whose meridians stand at `phase` degrees of turn."""
    if warm:
        fill = p.gradient("globeWarm", radial("globeWarm", ORANGE_LIGHT, ORANGE, r=0.8))
        edge, lines = ORANGE_DARK, "#ffe2b0"
    else:
        fill = p.gradient("globe", radial("globe", BLUE_LIGHT, BLUE, r=0.8))
        edge, lines = BLUE_DARK, "#d6ebff"
    p.add(f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}" fill="{fill}" '
          f'stroke="{edge}" stroke-width="{fmt(sw)}"/>')
    lw = fmt(sw * 0.8)
    # Two parallels.
    for lat in (-35, 35):
        y = cy + r * math.sin(math.radians(lat))
        half = r * math.cos(math.radians(lat))
        bow = r * 0.12 * (1 if lat > 0 else -1)
        p.add(f'<path d="M{fmt(cx - half)} {fmt(y)} Q{fmt(cx)} {fmt(y + bow)} {fmt(cx + half)} '
              f'{fmt(y)}" fill="none" stroke="{lines}" stroke-width="{lw}" opacity="0.9"/>')
    p.add(f'<path d="M{fmt(cx - r)} {fmt(cy)} H{fmt(cx + r)}" stroke="{lines}" '
          f'stroke-width="{lw}" opacity="0.9"/>')
    # Meridians every 60 degrees; only those on the near side are drawn.
    longitude = -90 + (phase % 60)
    while longitude < 90:
        if longitude > -89.5:
            s = math.sin(math.radians(longitude))
            rx = abs(s) * r
            if rx < 0.3:
                p.add(f'<path d="M{fmt(cx)} {fmt(cy - r)} V{fmt(cy + r)}" stroke="{lines}" '
                      f'stroke-width="{lw}" opacity="0.9"/>')
            else:
                sweep = 1 if s > 0 else 0
                p.add(f'<path d="M{fmt(cx)} {fmt(cy - r)} A{fmt(rx)} {fmt(r)} 0 0 {sweep} '
                      f'{fmt(cx)} {fmt(cy + r)}" fill="none" stroke="{lines}" '
                      f'stroke-width="{lw}" opacity="0.9"/>')
        longitude += 60
    # A soft highlight.
    p.add(f'<ellipse cx="{fmt(cx - r * 0.35)}" cy="{fmt(cy - r * 0.45)}" rx="{fmt(r * 0.35)}" '
          f'ry="{fmt(r * 0.2)}" fill="#ffffff" opacity="0.35"/>')


def comb(p, x, y, width, sw, teeth=7):
    """A golden comb: a bar with teeth hanging below it."""
    fill = p.gradient("comb", linear("comb", GOLD_LIGHT, GOLD))
    tooth_len = 6.5
    gap = width / teeth
    path = [f"M{fmt(x)} {fmt(y)}", f"H{fmt(x + width)}", f"V{fmt(y + 3.2)}"]
    # Teeth from right to left along the lower edge of the bar.
    for i in range(teeth - 1, -1, -1):
        left = x + i * gap + gap * 0.2
        right = x + i * gap + gap * 0.8
        path.append(f"H{fmt(right)}")
        path.append(f"V{fmt(y + 3.2 + tooth_len)}")
        path.append(f"H{fmt(left)}")
        path.append(f"V{fmt(y + 3.2)}")
    path.append(f"H{fmt(x)}Z")
    p.add(f'<path d="{" ".join(path)}" fill="{fill}" stroke="{GOLD_DARK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    p.add(f'<path d="M{fmt(x + 1)} {fmt(y + 1.1)} H{fmt(x + width - 1)}" stroke="#fff6d0" '
          f'stroke-width="{fmt(sw * 0.8)}" stroke-linecap="round" opacity="0.8"/>')


def document(p, sw, shade=True):
    fill = p.gradient("paper", linear("paper", PAPER, PAPER_SHADE))
    p.add(f'<path d="M7 2.5 H19 L25.5 9 V29.5 H7 Z" fill="{fill}" stroke="{INK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    p.add(f'<path d="M19 2.5 V9 H25.5" fill="{PAPER_SHADE}" stroke="{INK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    if shade:
        for y in (13, 17, 21):
            p.add(f'<path d="M10.5 {y} H21.5" stroke="#9fb3c8" stroke-width="{fmt(sw)}" '
                  f'stroke-linecap="round"/>')


def star(p, cx, cy, r, sw):
    fill = p.gradient("star", radial("star", GOLD_LIGHT, GOLD, cx=0.5, cy=0.4, r=0.6))
    points = []
    for i in range(10):
        radius = r if i % 2 == 0 else r * 0.45
        angle = math.radians(-90 + i * 36)
        points.append(f"{fmt(cx + radius * math.cos(angle))},{fmt(cy + radius * math.sin(angle))}")
    p.add(f'<polygon points="{" ".join(points)}" fill="{fill}" stroke="{GOLD_DARK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')


def folder(p, sw, open_flap):
    back = p.gradient("folderBack", linear("folderBack", FOLDER, "#c98f12"))
    front = p.gradient("folderFront", linear("folderFront", FOLDER_LIGHT, FOLDER))
    p.add(f'<path d="M2.5 7 H11 L13.5 9.5 H26.5 V27 H2.5 Z" fill="{back}" stroke="{FOLDER_DARK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    if open_flap:
        p.add(f'<path d="M2.5 27 L7 14 H30 L26.5 27 Z" fill="{front}" stroke="{FOLDER_DARK}" '
              f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    else:
        p.add(f'<path d="M2.5 13 H26.5 V27 H2.5 Z" fill="{front}" stroke="{FOLDER_DARK}" '
              f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')


def floppy(p, sw):
    body = p.gradient("floppy", linear("floppy", "#4d8fe0", BLUE_DARK))
    p.add(f'<path d="M4 5.5 Q4 3.5 6 3.5 H24 L28.5 8 V26.5 Q28.5 28.5 26.5 28.5 H6 Q4 28.5 4 26.5 Z" '
          f'fill="{body}" stroke="#173e73" stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    p.add(f'<rect x="9" y="3.5" width="14" height="8.5" fill="{STEEL_LIGHT}" stroke="#173e73" '
          f'stroke-width="{fmt(sw * 0.8)}"/>')
    p.add(f'<rect x="18" y="5" width="3" height="5.5" fill="{BLUE_DARK}"/>')
    p.add(f'<rect x="8" y="16" width="16.5" height="12.5" rx="1" fill="{PAPER}" stroke="#173e73" '
          f'stroke-width="{fmt(sw * 0.8)}"/>')
    for y in (20, 23.5):
        p.add(f'<path d="M10.5 {y} H22" stroke="#9fb3c8" stroke-width="{fmt(sw)}" '
              f'stroke-linecap="round"/>')


def disc(p, cx, cy, r, sw, light, mid, dark, gid):
    fill = p.gradient(gid, radial(gid, light, mid, r=0.85))
    p.add(f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(r)}" fill="{fill}" stroke="{dark}" '
          f'stroke-width="{fmt(sw)}"/>')


def plus(p, sw):
    disc(p, 16, 16, 13, sw, GREEN_LIGHT, GREEN, GREEN_DARK, "green")
    p.add('<path d="M16 9 V23 M9 16 H23" stroke="#ffffff" stroke-width="4.2" '
          'stroke-linecap="round"/>')


def cross(p, sw):
    disc(p, 16, 16, 13, sw, RED_LIGHT, RED, RED_DARK, "red")
    p.add('<path d="M11 11 L21 21 M21 11 L11 21" stroke="#ffffff" stroke-width="4.2" '
          'stroke-linecap="round"/>')


def pencil(p, sw, x, y, scale=1.0):
    body = p.gradient("pencil", linear("pencil", GOLD_LIGHT, GOLD, x2=1, y2=0))
    p.add(f'<g transform="translate({fmt(x)} {fmt(y)}) rotate(45) scale({fmt(scale)})">'
          f'<rect x="-3.2" y="-14" width="6.4" height="4" fill="#ef8f8f" stroke="{INK}" '
          f'stroke-width="{fmt(sw)}"/>'
          f'<rect x="-3.2" y="-10" width="6.4" height="15" fill="{body}" stroke="{INK}" '
          f'stroke-width="{fmt(sw)}"/>'
          f'<path d="M-3.2 5 L0 12 L3.2 5 Z" fill="#f6dcb2" stroke="{INK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>'
          f'<path d="M-1.2 9.4 L0 12 L1.2 9.4 Z" fill="{INK}"/></g>')


def arrow(p, sw, up):
    fill = p.gradient("arrow", linear("arrow", "#6aaaf0", BLUE_DARK))
    if up:
        d = "M16 2.5 L28.5 15.5 H21 V29.5 H11 V15.5 H3.5 Z"
    else:
        d = "M16 29.5 L28.5 16.5 H21 V2.5 H11 V16.5 H3.5 Z"
    p.add(f'<path d="{d}" fill="{fill}" stroke="#163a6b" stroke-width="{fmt(sw)}" '
          f'stroke-linejoin="round"/>')


def gear(p, sw, cx=16, cy=16, outer=14, inner=10.5, hole=4.5, teeth=8):
    fill = p.gradient("gear", radial("gear", STEEL_LIGHT, STEEL, cx=0.4, cy=0.35, r=0.8))
    points = []
    step = 2 * math.pi / teeth
    for i in range(teeth):
        a = i * step
        for da, radius in ((-0.30, inner), (-0.18, outer), (0.18, outer), (0.30, inner)):
            angle = a + da * step * 1.2
            points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    d = "M" + " L".join(f"{fmt(x)} {fmt(y)}" for x, y in points) + " Z"
    p.add(f'<path d="{d}" fill="{fill}" stroke="#3c4b5e" stroke-width="{fmt(sw)}" '
          f'stroke-linejoin="round"/>')
    p.add(f'<circle cx="{fmt(cx)}" cy="{fmt(cy)}" r="{fmt(hole)}" fill="#ffffff" stroke="#3c4b5e" '
          f'stroke-width="{fmt(sw)}"/>')


def question(p, sw):
    disc(p, 16, 16, 13.5, sw, BLUE_LIGHT, BLUE, BLUE_DARK, "blueDisc")
    p.add('<path d="M11.6 12.2 C11.6 6.6 20.4 6.6 20.4 12.2 C20.4 15.8 16 16.2 16 19.8" '
          'fill="none" stroke="#ffffff" stroke-width="3.6" stroke-linecap="round"/>')
    p.add('<circle cx="16" cy="24.6" r="2.2" fill="#ffffff"/>')


def info(p, sw):
    disc(p, 16, 16, 13.5, sw, BLUE_LIGHT, BLUE, BLUE_DARK, "blueDisc")
    p.add('<circle cx="16" cy="9" r="2.4" fill="#ffffff"/>')
    p.add('<path d="M16 14 V24" stroke="#ffffff" stroke-width="4.2" stroke-linecap="round"/>')


def power(p, sw):
    disc(p, 16, 16, 13.5, sw, RED_LIGHT, RED, RED_DARK, "red")
    p.add('<path d="M11 10.5 A7.5 7.5 0 1 0 21 10.5" fill="none" stroke="#ffffff" '
          'stroke-width="3.4" stroke-linecap="round"/>')
    p.add('<path d="M16 6.5 V15" stroke="#ffffff" stroke-width="3.4" stroke-linecap="round"/>')


def funnel(p, sw):
    fill = p.gradient("funnel", linear("funnel", "#6aaaf0", BLUE_DARK, x2=1, y2=0))
    p.add(f'<path d="M3 4 H29 L19 16.5 V27 L13 30 V16.5 Z" fill="{fill}" stroke="#163a6b" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')
    p.add('<path d="M6.5 6.5 H25.5" stroke="#d6ebff" stroke-width="1.6" stroke-linecap="round" '
          'opacity="0.8"/>')


def download(p, sw):
    tray = p.gradient("tray", linear("tray", STEEL_LIGHT, STEEL))
    p.add(f'<path d="M3 20 V28.5 H29 V20" fill="none" stroke="#3c4b5e" stroke-width="{fmt(sw * 1.8)}" '
          f'stroke-linejoin="round" stroke-linecap="round"/>')
    p.add(f'<rect x="4.5" y="24" width="23" height="3.5" fill="{tray}"/>')
    fill = p.gradient("down", linear("down", GREEN_LIGHT, GREEN_DARK))
    p.add(f'<path d="M16 25 L26 14.5 H20 V2.5 H12 V14.5 H6 Z" fill="{fill}" stroke="{GREEN_DARK}" '
          f'stroke-width="{fmt(sw)}" stroke-linejoin="round"/>')


def checkbox(p, sw, ticked):
    fill = p.gradient("box", linear("box", PAPER, PAPER_SHADE))
    p.add(f'<rect x="4" y="4" width="24" height="24" rx="3.5" fill="{fill}" stroke="{INK}" '
          f'stroke-width="{fmt(sw * 1.3)}"/>')
    if ticked:
        p.add(f'<path d="M9 16.5 L14 22 L24 9.5" fill="none" stroke="{GREEN}" stroke-width="4.4" '
              f'stroke-linecap="round" stroke-linejoin="round"/>')


def hover_plate(p):
    fill = p.gradient("plate", linear("plate", "#f4f9ff", "#cde2fb"))
    p.add(f'<rect x="0.75" y="0.75" width="30.5" height="30.5" rx="5" fill="{fill}" '
          f'stroke="#6fa3e3" stroke-width="1.5"/>')


# ---------------------------------------------------------------------------
# The pictures.

BUTTON_SW = 1.4
MENU_SW = 2.0  # drawn in 32 units, shown at 16 pixels: one pixel


def button_new(p, sw):
    document(p, sw)
    star(p, 22.5, 22.5, 7.5, sw)


def button_open(p, sw):
    folder(p, sw, open_flap=True)


def button_save(p, sw):
    floppy(p, sw)


def button_save_as(p, sw):
    # The floppy with a pencil: saved under a name the user writes.
    floppy(p, sw)
    pencil(p, sw, 20, 17, 1.0)


def button_add(p, sw):
    plus(p, sw)


def button_delete(p, sw):
    cross(p, sw)


def button_edit(p, sw):
    document(p, sw)
    pencil(p, sw, 20, 17, 1.0)


def button_up(p, sw):
    arrow(p, sw, up=True)


def button_down(p, sw):
    arrow(p, sw, up=False)


def button_options(p, sw):
    gear(p, sw)


def button_help(p, sw):
    question(p, sw)


def button_comb_ie(p, sw):
    globe(p, 16, 13.5, 11.5, sw, 30)
    comb(p, 3.5, 19.5, 25, sw)


def button_comb_mozilla(p, sw):
    globe(p, 16, 13.5, 11.5, sw, 30, warm=True)
    comb(p, 3.5, 19.5, 25, sw)


def button_comb_other(p, sw):
    # The other browsers' combs: a cool globe and the comb, with a small
    # pointer that says the button opens a menu.
    globe(p, 16, 13.5, 11.5, sw, 0)
    comb(p, 3.5, 19.5, 25, sw)
    p.add('<path d="M23 27.5 L31 27.5 L27 31.5 Z" fill="#404040"/>')


BUTTONS = {
    "new": button_new,
    "open": button_open,
    "save": button_save,
    "save-as": button_save_as,
    "add": button_add,
    "delete": button_delete,
    "edit": button_edit,
    "up": button_up,
    "down": button_down,
    "options": button_options,
    "help": button_help,
    "comb-ie": button_comb_ie,
    "comb-mozilla": button_comb_mozilla,
    "comb-other": button_comb_other,
}

MENU = {
    "filters": funnel,
    "options": gear,
    "visit": lambda p, sw: globe(p, 16, 16, 13.5, sw, 30),
    "last-version": download,
    "help": question,
    "about": info,
    "exit": power,
    "add": plus,
    "delete": cross,
    "edit": lambda p, sw: pencil(p, sw, 15, 17, 1.15),
    "check-all": lambda p, sw: checkbox(p, sw, True),
    "uncheck-all": lambda p, sw: checkbox(p, sw, False),
    "open-folder": lambda p, sw: folder(p, sw, open_flap=True),
    "up": lambda p, sw: arrow(p, sw, True),
    "down": lambda p, sw: arrow(p, sw, False),
}

# Comb sweeps left and right while the globe turns: five frames make one
# seamless loop (the meridians repeat every 60 degrees of turn).
FRAME_SHIFT = [3.0 * math.sin(math.radians(72 * i)) for i in range(5)]


def app_icon(p, phase=30, shift=0.0):
    globe(p, 16, 13, 12, 1.3, phase)
    comb(p, 5 + shift, 19.5, 22, 1.3, teeth=6)


def write(name, picture):
    with open(os.path.join(HERE, name), "w", encoding="utf-8") as out:
        out.write(picture.text())


def main():
    p = Picture(48)
    app_icon(p)
    write("app.svg", p)
    for i in range(5):
        p = Picture(32)
        app_icon(p, phase=12 * i, shift=FRAME_SHIFT[i])
        write(f"tray-frame-{i}.svg", p)
    for name, draw in BUTTONS.items():
        for hover in (False, True):
            p = Picture(32)
            if hover:
                hover_plate(p)
            # The glyph keeps a margin inside the square, so that the hover
            # plate shows around it; both forms draw it at the same place.
            p.add('<g transform="translate(1.6 1.6) scale(0.9)">')
            draw(p, BUTTON_SW)
            p.add("</g>")
            write(f"button-{name}{'-hover' if hover else ''}.svg", p)
    for name, draw in MENU.items():
        p = Picture(16)
        draw(p, MENU_SW)
        write(f"menu-{name}.svg", p)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Paints the pictures of Brelvon's bundled skins and writes each skin's folder.

    python3 data/skins/paint_skins.py          # rewrites data/skins/default and data/skins/graphite

Standard library only: shapes are drawn with 4 x 4 supersampling and written as 8-bit RGB PNGs.
Each folder gets skin.ini and one PNG per picture key; the build packs a folder into a .jss with
brelvon-skin. Sizes suit a caption bar 27 pixels high and borders 7 pixels thick.
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CAPTION_H = 27
BORDER = 7


def hexrgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


class Canvas:
    def __init__(self, w, h, colour=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[tuple(map(float, colour)) for _ in range(w)] for _ in range(h)]

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.w and 0 <= y < self.h and alpha > 0:
            self.px[y][x] = mix(self.px[y][x], colour, min(alpha, 1.0))

    def set(self, x, y, colour):
        self.blend(x, y, colour, 1.0)

    def vgradient(self, stops):
        """stops: (row fraction 0..1, colour) pairs, covering the whole height."""
        for y in range(self.h):
            t = y / max(self.h - 1, 1)
            for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
                if t0 <= t <= t1:
                    c = mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 0)
                    break
            for x in range(self.w):
                self.px[y][x] = c

    def shape(self, inside, colour, alpha=1.0):
        """Fills where inside(x, y) holds, x and y in pixel units, antialiased."""
        n = 4
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for sy in range(n):
                    for sx in range(n):
                        if inside(x + (sx + 0.5) / n, y + (sy + 0.5) / n):
                            hits += 1
                if hits:
                    self.blend(x, y, colour, alpha * hits / (n * n))

    def png(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b in row:
                raw += bytes((int(round(r)), int(round(g)), int(round(b))))

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        data = b"\x89PNG\r\n\x1a\n"
        data += chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 2, 0, 0, 0))
        data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        data += chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(data)


# Shapes, as inside-tests on a point.

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def segment(ax, ay, bx, by, width):
    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= (width / 2) ** 2
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def outline(x0, y0, x1, y1, w):
    return minus(rect(x0, y0, x1, y1), rect(x0 + w, y0 + w, x1 - w, y1 - w))


# Caption bar pieces.

def caption_piece(t, w, end=None):
    c = Canvas(w, CAPTION_H)
    c.vgradient([(0.0, t["cap_top"]), (0.45, t["cap"]), (1.0, t["cap_bottom"])])
    for x in range(w):
        c.set(x, 0, t["cap_highlight"])
        c.set(x, CAPTION_H - 1, t["inner_line"])
    if end:
        # Outer edge, with a chamfer where the window cuts its top corners (3 x 3 at the left,
        # 3 wide and 4 high at the right).
        cut_w, cut_h = (3, 3) if end == "left" else (3, 4)
        for y in range(CAPTION_H):
            for x in range(w):
                ex = x if end == "left" else w - 1 - x
                if ex == 0 or (y < cut_h and ex * cut_h + y * cut_w < cut_w * cut_h):
                    c.set(x, y, t["outline"])
                elif ex == 1 and y < CAPTION_H - 1:
                    c.set(x, y, mix(c.px[y][x], t["cap_highlight"], 0.6))
        for i in range(cut_w + 1):
            y = round(cut_h - i * cut_h / cut_w)
            x = i if end == "left" else w - 1 - i
            c.set(x, y, t["outline"])
    return c


# Buttons.

def button(t, kind, state, glyph):
    s = t["button"]
    c = Canvas(s, s)
    # The caption's own gradient around the button, so it sits on the bar.
    top = t["button_y"]
    for y in range(s):
        f = (y + top) / (CAPTION_H - 1)
        col = mix(t["cap_top"], t["cap"], f / 0.45) if f < 0.45 else \
            mix(t["cap"], t["cap_bottom"], (f - 0.45) / 0.55)
        for x in range(s):
            c.px[y][x] = col
    face = t[kind]
    if state == "hover":
        face = tuple(mix(f, (255, 255, 255), 0.28) for f in face)
    elif state == "pressed":
        face = tuple(mix(f, (0, 0, 0), 0.30) for f in face)
    elif state == "on":
        face = t["on"]
    body = rounded(0.5, 0.5, s - 0.5, s - 0.5, 3.2)
    inner = rounded(1.5, 1.5, s - 1.5, s - 1.5, 2.4)
    c.shape(body, t["button_edge"])
    for y in range(s):
        f = y / (s - 1)
        col = mix(face[0], face[1], f)
        c.shape(lambda x, yy, y=y: y <= yy < y + 1 and inner(x, yy), col)
    if state != "pressed":
        c.shape(minus(rounded(1.5, 1.5, s - 1.5, s - 1.5, 2.4),
                      rounded(2.5, 2.5, s - 1.5, s - 1.5, 2.0)), (255, 255, 255), 0.35)
    off = 1 if state in ("pressed", "on") else 0
    shape = glyph(s, off)
    c.shape(lambda x, y: shape(x - 0.8, y - 0.8), t["glyph_shadow"], 0.5)
    c.shape(shape, t["glyph"])
    return c


def glyph_close(s, o):
    a, b = 0.3 * s + o, 0.7 * s + o
    return union(segment(a, a, b, b, 2.4), segment(b, a, a, b, 2.4))


def glyph_max(s, o):
    a, b = 0.28 * s + o, 0.72 * s + o
    return union(outline(a, a, b, b, 1.3), rect(a, a, b, a + 2.8))


def glyph_restore(s, o):
    a, b, d = 0.26 * s + o, 0.62 * s + o, 0.14 * s
    back = union(outline(a + d, a, b + d, b - d, 1.2), rect(a + d, a, b + d, a + 2.2))
    front_box = rect(a, a + d, b, b + d)
    front = union(outline(a, a + d, b, b + d, 1.2), rect(a, a + d, b, a + d + 2.2))
    return union(minus(back, front_box), front)


def glyph_min(s, o):
    return rect(0.3 * s + o, 0.62 * s + o, 0.7 * s + o, 0.62 * s + 2.6 + o)


def glyph_pin(pushed):
    def glyph(s, o):
        cx = s / 2 + o
        top = 0.2 * s + o
        needle = 0.84 * s if not pushed else 0.72 * s
        return union(
            rect(cx - 3.2, top, cx + 3.2, top + 2.0),            # head
            rect(cx - 2.0, top + 2.0, cx + 2.0, top + 6.2),      # body
            rect(cx - 4.6, top + 6.2, cx + 4.6, top + 8.0),      # collar
            segment(cx, top + 8.0, cx, needle + o, 1.4),         # needle
        )
    return glyph


# Borders: the colour profile from the outer edge (0) to the content (BORDER - 1).

def profile(t):
    return [t["outline"], t["border_light"], t["cap"], t["cap"], t["cap"], t["border_dark"],
            t["inner_line"]]


def border_piece(t, w, h, depth):
    """depth(x, y) -> how far the pixel is from the outer edge, 0 .. BORDER - 1."""
    p = profile(t)
    c = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            c.set(x, y, p[max(0, min(BORDER - 1, depth(x, y)))])
    return c


def paint(t, folder):
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.endswith(".png") or name == "skin.ini":
            os.remove(os.path.join(folder, name))
    pics = {
        "TOPLEFT": caption_piece(t, 8, "left"),
        "TOPMID": caption_piece(t, 32),
        "TOPRIGHT": caption_piece(t, 8, "right"),
        "LEFTTOP": border_piece(t, BORDER, 24, lambda x, y: x),
        "LEFTMID": border_piece(t, BORDER, 32, lambda x, y: x),
        "RIGHTTOP": border_piece(t, BORDER, 24, lambda x, y: BORDER - 1 - x),
        "RIGHTMID": border_piece(t, BORDER, 32, lambda x, y: BORDER - 1 - x),
        "BOTTOM": border_piece(t, 32, BORDER, lambda x, y: BORDER - 1 - y),
        "LEFTBOT": border_piece(t, 12, BORDER, lambda x, y: min(x, BORDER - 1 - y)),
        "RIGHTBOT": border_piece(t, 12, BORDER, lambda x, y: min(11 - x, BORDER - 1 - y)),
    }
    states = {"": "normal", "3": "hover", "2": "pressed"}
    for suffix, state in states.items():
        pics["CLOSE" + suffix] = button(t, "close_face", state, glyph_close)
        pics["MAX" + suffix] = button(t, "face", state, glyph_max)
        pics["MIN" + suffix] = button(t, "face", state, glyph_min)
    # The restore button numbers its states the other way round: 2 is hover, 3 pressed.
    for suffix, state in {"1": "normal", "2": "hover", "3": "pressed"}.items():
        pics["RES" + suffix] = button(t, "face", state, glyph_restore)
    pics["ONTOP1"] = button(t, "face", "normal", glyph_pin(False))
    pics["ONTOP3"] = button(t, "face", "on", glyph_pin(True))
    for key, canvas in pics.items():
        canvas.png(os.path.join(folder, key + ".png"))

    hexc = lambda c: "#%02X%02X%02X" % tuple(int(v) for v in c)
    with open(os.path.join(folder, "skin.ini"), "w", newline="\n") as f:
        f.write("; %s skin of Brelvon, written by paint_skins.py\n" % t["title"])
        f.write("; numbers are pixels; colours are #RRGGBB\n[numbers]\n")
        for key in ("XOFFSET", "XOFFSET2", "YOFFSET", "FROMRIGHT", "FROMTOP", "ICONSPACE"):
            f.write("%s=%d\n" % (key, t["numbers"][key]))
        f.write("\n[colours]\n")
        f.write("FORECOLOR=%s\n" % hexc(t["text"]))
        f.write("BackColor=%s\n" % hexc(t["text_shadow"]))
        f.write("PARENTBACKCOLOR=%s\n" % hexc(t["parent"]))


BLUE = {
    "title": "Default (blue)",
    "cap_top": hexrgb("8CA8EE"), "cap": hexrgb("5A7EDC"), "cap_bottom": hexrgb("4468CC"),
    "cap_highlight": hexrgb("B4C8F6"), "inner_line": hexrgb("2E4FB0"),
    "outline": hexrgb("1F3C96"), "border_light": hexrgb("8CA8EE"), "border_dark": hexrgb("4468CC"),
    "button": 21, "button_y": 3,
    "face": (hexrgb("7C9CEC"), hexrgb("3F63CA")), "close_face": (hexrgb("EC7B5C"), hexrgb("C8391E")),
    "on": (hexrgb("F8D27A"), hexrgb("D99A1E")),
    "button_edge": hexrgb("F2F6FF"), "glyph": hexrgb("FFFFFF"), "glyph_shadow": hexrgb("1F3C96"),
    "text": hexrgb("FFFFFF"), "text_shadow": hexrgb("1C347F"), "parent": hexrgb("FFF7EE"),
    "numbers": {"XOFFSET": 11, "XOFFSET2": 6, "YOFFSET": 4, "FROMRIGHT": 5, "FROMTOP": 3,
                "ICONSPACE": 2},
}

GRAPHITE = {
    "title": "Graphite",
    "cap_top": hexrgb("6E747E"), "cap": hexrgb("454A53"), "cap_bottom": hexrgb("30343A"),
    "cap_highlight": hexrgb("8F959F"), "inner_line": hexrgb("1E2024"),
    "outline": hexrgb("141518"), "border_light": hexrgb("6E747E"), "border_dark": hexrgb("30343A"),
    "button": 19, "button_y": 4,
    "face": (hexrgb("5E646E"), hexrgb("353940")), "close_face": (hexrgb("D9604F"), hexrgb("A3281A")),
    "on": (hexrgb("F0B44C"), hexrgb("B87812")),
    "button_edge": hexrgb("9AA0AA"), "glyph": hexrgb("F4F4F4"), "glyph_shadow": hexrgb("101114"),
    "text": hexrgb("F0F0F0"), "text_shadow": hexrgb("0E0F11"), "parent": hexrgb("F4F1EC"),
    "numbers": {"XOFFSET": 11, "XOFFSET2": 6, "YOFFSET": 4, "FROMRIGHT": 6, "FROMTOP": 4,
                "ICONSPACE": 3},
}


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else HERE
    paint(BLUE, os.path.join(root, "default"))
    paint(GRAPHITE, os.path.join(root, "graphite"))


if __name__ == "__main__":
    main()

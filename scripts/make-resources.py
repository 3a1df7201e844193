#!/usr/bin/env python3
"""Draws Glimmerly's pictures: the bitmaps and the icon in res/, and the demo library's wordmark.

    make-resources.py [--out DIR]        writes the resource pictures (default: res/ of the tree)
    make-resources.py --wordmark FILE    writes the small "Glimmerly" wordmark as a 24-bit BMP

Only the Python standard library is used and the output is deterministic, so running it again
gives identical files. The generated files are committed; the build never runs this script.

Every shape is filled by supersampling an inside test, which gives clean anti-aliased edges
without any drawing library. Text is drawn with a small pixel font of our own, in the spirit
of the dialog's 8-point system font, so that button labels stay crisp at 25 pixels high.
"""

import argparse
import math
import os
import struct
import sys

# The dark theme the pictures sit on.
DIALOG = (114, 119, 116)  # dialog and preview panel background
BAR = (93, 95, 99)  # the bar behind the buttons, and the template list background

# Glimmerly's accent: a warm gold.
GOLD_LIGHT = (255, 224, 140)
GOLD = (242, 186, 76)
GOLD_DEEP = (206, 134, 38)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


class Canvas:
    """Straight (not premultiplied) RGBA in floats; colour channels 0..255, alpha 0..1."""

    def __init__(self, width, height, color=(0, 0, 0), alpha=1.0):
        self.width, self.height = width, height
        self.px = [[[color[0], color[1], color[2], alpha] for _ in range(width)]
                   for _ in range(height)]

    def blend(self, x, y, color, alpha):
        if alpha <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        p = self.px[y][x]
        below = p[3] * (1.0 - alpha)
        out = alpha + below
        for i in range(3):
            p[i] = (color[i] * alpha + p[i] * below) / out
        p[3] = out

    def fill(self, inside, paint, box=None, samples=4, opacity=1.0):
        """Fills the shape `inside(x, y)` (continuous coordinates, pixel centres at +0.5).

        `paint` is a colour or a function (x, y) -> colour. `box` limits the pixels visited.
        """
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        offsets = [(i + 0.5) / samples for i in range(samples)]
        total = samples * samples
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for sy in offsets:
                    for sx in offsets:
                        if inside(x + sx, y + sy):
                            hits += 1
                if hits:
                    color = paint(x + 0.5, y + 0.5) if callable(paint) else paint
                    self.blend(x, y, color, opacity * hits / total)

    def glow(self, cx, cy, radius, color, strength):
        """A soft round light that fades to nothing at `radius`."""
        for y in range(max(0, int(cy - radius)), min(self.height, int(cy + radius) + 1)):
            for x in range(max(0, int(cx - radius)), min(self.width, int(cx + radius) + 1)):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) / radius
                if d < 1.0:
                    self.blend(x, y, color, strength * (1.0 - d) ** 2)

    def put(self, x, y, color, alpha=1.0):
        self.blend(x, y, color, alpha)

    def rgb_rows(self):
        return [[tuple(int(round(min(255.0, max(0.0, c)))) for c in p[:3]) for p in row]
                for row in self.px]


# ---------------------------------------------------------------------------------------------
# Shapes: inside tests in continuous coordinates.


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        dx = max(x0 + r - x, 0.0, x - (x1 - r))
        dy = max(y0 + r - y, 0.0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r

    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def polygon(points):
    """Even-odd rule, so concave outlines work too."""

    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                result = not result
        return result

    return inside


def arc(cx, cy, r, width, start_deg, end_deg):
    """A ring segment with square ends; angles counted anticlockwise from +x, y pointing up."""

    def inside(x, y):
        dx, dy = x - cx, cy - y
        if abs(math.hypot(dx, dy) - r) > width / 2:
            return False
        a = math.degrees(math.atan2(dy, dx)) % 360.0
        return (a - start_deg) % 360.0 <= (end_deg - start_deg) % 360.0

    return inside


def sparkle(cx, cy, r, waist=0.62):
    """A four-pointed star with concave sides (an astroid); `waist` < 1 slims the points."""
    p = 2.0 / 3.0 * waist

    def inside(x, y):
        u, v = abs(x - cx) / r, abs(y - cy) / r
        return u ** p + v ** p <= 1.0

    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def vertical(top_color, bottom_color, y0, y1):
    return lambda x, y: mix(top_color, bottom_color, clamp01((y - y0) / max(1e-6, y1 - y0)))


# ---------------------------------------------------------------------------------------------
# The pixel font: cap height 8, x-height 6, two rows of descender. '#' is ink.

GLYPHS = {
    "I": ["###", ".#.", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#....", "#####"],
    "G": [".####.", "#....#", "#.....", "#.....", "#..###", "#....#", "#....#", ".####."],
    "a": ["....", "....", ".###.", "....#", ".####", "#...#", "#..##", ".##.#"],
    "e": [".....", ".....", ".###.", "#...#", "#####", "#....", "#...#", ".###."],
    "i": ["#", ".", "#", "#", "#", "#", "#", "#"],
    "l": ["#", "#", "#", "#", "#", "#", "#", "#"],
    "m": [".......", ".......", "###.##.", "#..#..#", "#..#..#", "#..#..#", "#..#..#",
          "#..#..#"],
    "n": [".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#", "#...#"],
    "r": ["...", "...", "#.##", "##..", "#...", "#...", "#...", "#..."],
    "s": ["....", "....", ".###", "#...", ".##.", "...#", "...#", "###."],
    "t": ["...", ".#.", "###", ".#.", ".#.", ".#.", ".#.", "..##"],
    "x": [".....", ".....", "#...#", ".#.#.", "..#..", "..#..", ".#.#.", "#...#"],
    "y": [".....", ".....", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#..", "..#..",
          "##..."],
}


def glyph_width(ch):
    return max(len(row) for row in GLYPHS[ch])


def ink_width(text, bold=False):
    """Width of the drawn text; bold doubles every column to the right."""
    advance = sum(glyph_width(c) for c in text) + (2 if bold else 1) * (len(text) - 1)
    return advance + (1 if bold else 0)


def draw_text(canvas, text, x, y, color, bold=False, colors=None, opacity=1.0):
    """Draws `text` with its cap top at (x, y); `colors` may give a colour per character."""
    for index, ch in enumerate(text):
        ink = colors[index] if colors else color
        for row, line in enumerate(GLYPHS[ch]):
            for col, cell in enumerate(line):
                if cell == "#":
                    canvas.put(x + col, y + row, ink, opacity)
                    if bold:
                        canvas.put(x + col + 1, y + row, ink, opacity)
        x += glyph_width(ch) + (2 if bold else 1)


# ---------------------------------------------------------------------------------------------
# The mark: a gold "G" whose opening holds a sparkle.


def draw_mark(canvas, cx, cy, radius, stroke, samples=6, sparkle_scale=1.0):
    """The G and its sparkle, centred so that the pair looks balanced around (cx, cy)."""
    gold = vertical(GOLD_LIGHT, GOLD_DEEP, cy - radius - stroke / 2, cy + radius + stroke / 2)
    opening = 52.0
    ring = arc(cx, cy, radius, stroke, opening, 360.0)
    half = stroke / 2
    bar = lambda x, y: cx - 0.05 * radius <= x <= cx + radius + half and cy - half <= y <= cy + half
    canvas.fill(union(ring, bar), gold, samples=samples)
    # The sparkle sits where the ring opens, a little outside it, and lights its surroundings.
    a = math.radians(opening * 0.62)
    sx = cx + (radius + stroke * 0.15) * math.cos(a)
    sy = cy - (radius + stroke * 0.15) * math.sin(a)
    size = stroke * 1.45 * sparkle_scale
    canvas.glow(sx, sy, size * 1.5, (255, 236, 180), 0.45)
    canvas.fill(sparkle(sx, sy, size), lambda x, y: mix((255, 255, 246), GOLD_LIGHT,
                                                        clamp01(math.hypot(x - sx, y - sy) / size)),
                samples=samples)


# Where the mark sits in the badge, by badge size: centre offsets, ring radius, stroke and the
# sparkle's scale, all as fractions of the size. Small sizes get heavier strokes and a bigger
# sparkle so that the mark survives being only a few pixels across.
MARK_TUNING = {
    16: (-0.03, 0.04, 0.24, 0.15, 1.0),
    32: (-0.03, 0.03, 0.235, 0.10, 1.35),
}
MARK_DEFAULT = (-0.03, 0.025, 0.235, 0.085, 1.25)


def make_badge(size, background, transparent):
    """A dark round badge with the mark, on `background` (or transparent for the icon)."""
    c = Canvas(size, size, background, 0.0 if transparent else 1.0)
    centre = size / 2
    r = size * 0.46 if size >= 32 else size / 2 - 0.3
    # A soft shadow below the badge, then its rim and body.
    if size >= 32:
        for i in range(3):
            c.fill(disc(centre, centre + size * 0.02 + i * 0.5, r + 0.5 + i * 0.6), (20, 22, 24),
                   samples=4, opacity=0.12)
    c.fill(disc(centre, centre, r), (34, 36, 40), samples=6)
    body = lambda x, y: mix((80, 84, 92), (44, 47, 52),
                            clamp01(math.hypot(x - centre, y - (centre - r * 0.6)) / (r * 1.6)))
    c.fill(disc(centre, centre, r - max(1.0, size / 64)), body, samples=6)
    if size >= 32:
        rim = minus(disc(centre, centre, r - size / 64),
                    disc(centre, centre + size * 0.012, r - size / 64))
        c.fill(rim, (150, 154, 162), samples=6, opacity=0.55)
    dx, dy, radius, stroke, spark = MARK_TUNING.get(size, MARK_DEFAULT)
    draw_mark(c, centre + size * dx, centre + size * dy, size * radius, size * stroke,
              sparkle_scale=spark)
    return c


# ---------------------------------------------------------------------------------------------
# The pictures.


def logo_bitmap():
    """Resource 137: 100 x 100, drawn centred on the empty preview panel."""
    return make_badge(100, DIALOG, False)


def list_bar(selected):
    """Resources 134 (raised, normal) and 130 (flat and lighter, selected): 145 x 17."""
    w, h = 145, 17
    if selected:
        c = Canvas(w, h, (210, 212, 215))
        for x in range(w):
            c.put(x, 0, (54, 56, 60))
            c.put(x, 1, (168, 170, 174))
            c.put(x, 2, (194, 196, 200))
        # A gold tick at the left end marks the chosen template.
        for y in range(3, h - 2):
            c.put(2, y, GOLD_DEEP)
            c.put(3, y, GOLD)
        return c
    c = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            c.put(x, y, mix((172, 175, 180), (144, 147, 153), y / (h - 1)))
    for x in range(w):
        c.put(x, 0, (222, 224, 228))
        c.put(x, 1, (190, 193, 197))
        c.put(x, h - 1, (62, 64, 68))
        c.put(x, h - 2, (118, 121, 126))
    for y in range(h):
        c.put(0, y, (210, 212, 216) if y < h - 1 else (62, 64, 68))
        c.put(w - 1, y, (74, 76, 80) if y > 0 else (222, 224, 228))
    return c


# Button faces by strip row: border, face top, face bottom, inner top line, glyph, glyph shadow.
FACES = {
    0: ((36, 38, 42), (136, 140, 147), (90, 93, 99), (176, 180, 186), (240, 240, 236),
        (34, 36, 40)),
    1: ((30, 32, 36), (70, 73, 78), (98, 101, 107), (52, 54, 58), (214, 214, 210), None),
    3: ((74, 76, 80), (106, 109, 114), (99, 102, 107), (116, 119, 124), (136, 139, 144), None),
    4: ((216, 160, 64), (160, 164, 171), (106, 110, 117), (206, 210, 215), (255, 244, 208),
        (34, 36, 40)),
}


def button_face(canvas, top, w, h, row):
    border, face_top, face_bottom, line, _, _ = FACES[row]
    canvas.fill(rounded_rect(0, top, w, top + h, 4.0), border, samples=6)
    canvas.fill(rounded_rect(1, top + 1, w - 1, top + h - 1, 3.0), line, samples=6)
    canvas.fill(rounded_rect(1, top + 2, w - 1, top + h - 1, 3.0),
                vertical(face_top, face_bottom, top + 2, top + h - 1), samples=6)
    if row == 4:  # a warm light along the inside of the hover border
        canvas.fill(minus(rounded_rect(1, top + 1, w - 1, top + h - 1, 3.0),
                          rounded_rect(2, top + 2, w - 2, top + h - 2, 2.0)),
                    (255, 214, 130), samples=6, opacity=0.35)


def button_strip(w, draw_glyph):
    """Five rows of w x 25: normal, pressed, normal again (unused), disabled, hover."""
    h = 25
    c = Canvas(w, h * 5, BAR)
    for row in range(5):
        look = 0 if row == 2 else row
        top = row * h
        button_face(c, top, w, h, look)
        _, _, _, _, ink, shadow = FACES[look]
        shift = 1 if look == 1 else 0  # pressed: the label sinks one pixel
        if shadow:
            draw_glyph(c, top, shift, 1, shadow, 0.55)
        draw_glyph(c, top, shift, 0, ink, 1.0)
    return c


def arrow_glyph(pointing_left):
    def draw(c, top, shift, drop, color, opacity):
        cx = 12.0 + shift + (-0.5 if pointing_left else 0.5)
        cy = top + 12.5 + shift + drop
        tip, back, half = 5.0, 3.5, 6.0
        if pointing_left:
            pts = [(cx - tip, cy), (cx + back, cy - half), (cx + back, cy + half)]
        else:
            pts = [(cx + tip, cy), (cx - back, cy - half), (cx - back, cy + half)]
        c.fill(polygon(pts), color, box=(0, top, 24, top + 25), samples=6, opacity=opacity)

    return draw


def label_glyph(text, width):
    def draw(c, top, shift, drop, color, opacity):
        x = (width - ink_width(text, bold=True)) // 2 + shift
        draw_text(c, text, x, top + 8 + shift + drop, color, bold=True, opacity=opacity)

    return draw


# At 16 pixels a drawn ring turns to mush, so the small icon's G is placed pixel by pixel.
SMALL_G = [
    "..####..",
    ".##..##.",
    "##......",
    "##......",
    "##..####",
    "##....##",
    "##....##",
    ".##..##.",
    "..####..",
]


def icon_image(size):
    if size != 16:
        return make_badge(size, (0, 0, 0), True)
    c = Canvas(16, 16, (0, 0, 0), 0.0)
    c.fill(disc(8, 8, 7.7), (34, 36, 40), samples=8)
    c.fill(disc(8, 8, 6.8), lambda x, y: mix((84, 88, 96), (46, 49, 54), y / 16), samples=8)
    for row, line in enumerate(SMALL_G):
        ink = mix(GOLD_LIGHT, GOLD_DEEP, row / (len(SMALL_G) - 1))
        for col, cell in enumerate(line):
            if cell == "#":
                c.put(4 + col, 3 + row, ink)
    # The sparkle: a white point with short gold arms, in the G's opening.
    c.put(12, 3, (255, 255, 240))
    for x, y in ((11, 3), (13, 3), (12, 2), (12, 4)):
        c.put(x, y, GOLD_LIGHT, 0.75)
    return c


def wordmark():
    """The demo's "Logo.bmp": the mark over the word, on the bar's colour.

    It sits at (1, 3) on the 42-pixel bar, left of the Prev button that starts 60 pixels in, so it
    stays within 56 x 36 pixels.
    """
    w, h = 56, 36
    c = Canvas(w, h, BAR)
    draw_mark(c, w / 2 - 1.5, 11.5, 8.0, 3.2, sparkle_scale=1.1)
    word = "Glimmerly"
    x = (w - ink_width(word)) // 2
    colors = [GOLD] + [(232, 232, 228)] * (len(word) - 1)
    draw_text(c, word, x, 25, None, colors=colors)
    return c


# ---------------------------------------------------------------------------------------------
# Files.


def bmp24_bytes(canvas):
    """A bottom-up 24-bit BMP with a BITMAPINFOHEADER."""
    rows = canvas.rgb_rows()
    stride = (canvas.width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0, len(pixels),
                         3780, 3780, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0,
                              14 + len(header))
    return file_header + header + pixels


def ico_bytes(canvases):
    """An .ico of 32-bit images with alpha (and the AND mask older readers want)."""
    images = []
    for c in canvases:
        n = c.width
        xor = bytearray()
        mask_stride = ((n + 31) // 32) * 4
        mask = bytearray()
        for row in reversed(c.px):
            bits = bytearray(mask_stride)
            for x, p in enumerate(row):
                a = int(round(clamp01(p[3]) * 255))
                rgb = [int(round(min(255.0, max(0.0, v)))) if a else 0 for v in p[:3]]
                xor += bytes((rgb[2], rgb[1], rgb[0], a))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(xor) + len(mask), 0, 0,
                             0, 0)
        images.append((n, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--out", default=os.path.join(here, "..", "res"))
    parser.add_argument("--wordmark", metavar="FILE")
    args = parser.parse_args()

    if args.wordmark:
        write(args.wordmark, bmp24_bytes(wordmark()))
        return 0

    out = os.path.normpath(args.out)
    os.makedirs(out, exist_ok=True)
    pictures = {
        "ListItemSelected.bmp": list_bar(True),  # IDB_LIST_SELECTED 130
        "ListItem.bmp": list_bar(False),  # IDB_LIST_NORMAL 134
        "PreviewLogo.bmp": logo_bitmap(),  # IDB_PREVIEW_LOGO 137
        "ButtonPrev.bmp": button_strip(24, arrow_glyph(True)),  # IDB_PREV 138
        "ButtonNext.bmp": button_strip(24, arrow_glyph(False)),  # IDB_NEXT 139
        "ButtonInstall.bmp": button_strip(77, label_glyph("Install", 77)),  # IDB_INSTALL 140
        "ButtonExit.bmp": button_strip(77, label_glyph("Exit", 77)),  # IDB_EXIT 141
    }
    for name, canvas in pictures.items():
        write(os.path.join(out, name), bmp24_bytes(canvas))
    write(os.path.join(out, "Glimmerly.ico"), ico_bytes([icon_image(n) for n in (16, 32, 48)]))
    return 0


if __name__ == "__main__":
    sys.exit(main())

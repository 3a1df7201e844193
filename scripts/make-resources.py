#!/usr/bin/env python3
"""Draws Glimmerly's pictures: the bitmaps and the icon in res/, and the demo library's wordmark.

    make-resources.py [--out DIR]        writes the resource pictures (default: res/ of the tree)
                                         at 1x, and the skins also at 1.5x and 2x
    make-resources.py --wordmark FILE    writes the small "Glimmerly" wordmark as a 24-bit BMP

Only the Python standard library is used and the output is deterministic, so running it again
gives identical files. The generated files are committed; the build never runs this script.

Every shape is filled by supersampling an inside test, which gives clean anti-aliased edges
without any drawing library. Text is drawn with a small pixel font of our own, in the spirit
of the dialog's 8-point system font, so that button labels stay crisp at 25 pixels high.

The skins (list bars, button strips, the preview logo) are also drawn for 144 and 192 DPI, at
each 96-DPI size scaled as the program scales it (rounded to the nearest pixel, halves up), so
that at those DPIs the program shows them pixel for pixel. Shapes are drawn again at the larger
size; lines stay whole pixels thick.
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


def scale_px(px96, dpi):
    """The program's scaling of a 96-DPI pixel quantity: nearest pixel, halves up."""
    return (px96 * dpi + 48) // 96


class Scaled:
    """Draws on `canvas` in 96-DPI coordinates stretched by (sx, sy): the shapes are sampled at
    the canvas's own resolution, and a pixel put at 96 DPI becomes a filled square."""

    def __init__(self, canvas, sx, sy):
        self.canvas, self.sx, self.sy = canvas, sx, sy

    def fill(self, inside, paint, box=None, samples=4, opacity=1.0):
        sx, sy = self.sx, self.sy
        if box:
            box = (box[0] * sx, box[1] * sy, box[2] * sx, box[3] * sy)
        scaled_paint = (lambda x, y: paint(x / sx, y / sy)) if callable(paint) else paint
        self.canvas.fill(lambda x, y: inside(x / sx, y / sy), scaled_paint, box=box,
                         samples=samples, opacity=opacity)

    def put(self, x, y, color, alpha=1.0):
        square = lambda u, v: x <= u < x + 1 and y <= v < y + 1
        self.fill(square, color, box=(x, y, x + 1, y + 1), samples=4, opacity=alpha)


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


def logo_bitmap(dpi=96):
    """Resource 137: 100 x 100 at 96 DPI, drawn centred on the empty preview panel."""
    return make_badge(scale_px(100, dpi), DIALOG, False)


def list_bar(selected, dpi=96):
    """Resources 134 (raised, normal) and 130 (flat and lighter, selected): 145 x 17 at 96 DPI.

    Drawn in device pixels: every line is `t` pixels thick, one 96-DPI pixel scaled."""
    w, h, t = scale_px(145, dpi), scale_px(17, dpi), scale_px(1, dpi)

    def rows(c, y0, y1, color, x0=0, x1=None):
        for y in range(y0, y1):
            for x in range(x0, w if x1 is None else x1):
                c.put(x, y, color)

    if selected:
        c = Canvas(w, h, (210, 212, 215))
        rows(c, 0, t, (54, 56, 60))
        rows(c, t, 2 * t, (168, 170, 174))
        rows(c, 2 * t, 3 * t, (194, 196, 200))
        # A gold tick at the left end marks the chosen template.
        rows(c, 3 * t, h - 2 * t, GOLD_DEEP, 2 * t, 3 * t)
        rows(c, 3 * t, h - 2 * t, GOLD, 3 * t, 4 * t)
        return c
    c = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            c.put(x, y, mix((172, 175, 180), (144, 147, 153), y / (h - 1)))
    rows(c, 0, t, (222, 224, 228))
    rows(c, t, 2 * t, (190, 193, 197))
    rows(c, h - t, h, (62, 64, 68))
    rows(c, h - 2 * t, h - t, (118, 121, 126))
    rows(c, 0, h - t, (210, 212, 216), 0, t)
    rows(c, h - t, h, (62, 64, 68), 0, t)
    rows(c, t, h, (74, 76, 80), w - t, w)
    rows(c, 0, t, (222, 224, 228), w - t, w)
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


def button_strip(w, draw_glyph, dpi=96):
    """Five rows of w x 25 at 96 DPI: normal, pressed, normal again (unused), disabled, hover.

    Each row is drawn on its own canvas of the scaled size, so no row reaches into another."""
    h = 25
    width, height = scale_px(w, dpi), scale_px(h, dpi)
    strip = Canvas(width, height * 5, BAR)
    for row in range(5):
        look = 0 if row == 2 else row
        canvas = Canvas(width, height, BAR)
        c = canvas if dpi == 96 else Scaled(canvas, width / w, height / h)
        button_face(c, 0, w, h, look)
        _, _, _, _, ink, shadow = FACES[look]
        shift = 1 if look == 1 else 0  # pressed: the label sinks one pixel
        if shadow:
            draw_glyph(c, 0, shift, 1, shadow, 0.55)
        draw_glyph(c, 0, shift, 0, ink, 1.0)
        strip.px[row * height:(row + 1) * height] = canvas.px
    return strip


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
    # The skins at 96 DPI under their names, and at 144 and 192 DPI as NAME-150.bmp and
    # NAME-200.bmp (resource ids + 200 and + 400, see res/resource.h).
    skins = {
        "ListItemSelected": lambda dpi: list_bar(True, dpi),  # IDB_LIST_SELECTED 130
        "ListItem": lambda dpi: list_bar(False, dpi),  # IDB_LIST_NORMAL 134
        "PreviewLogo": logo_bitmap,  # IDB_PREVIEW_LOGO 137
        "ButtonPrev": lambda dpi: button_strip(24, arrow_glyph(True), dpi),  # IDB_PREV 138
        "ButtonNext": lambda dpi: button_strip(24, arrow_glyph(False), dpi),  # IDB_NEXT 139
        "ButtonInstall": lambda dpi: button_strip(77, label_glyph("Install", 77), dpi),  # 140
        "ButtonExit": lambda dpi: button_strip(77, label_glyph("Exit", 77), dpi),  # 141
    }
    for name, draw in skins.items():
        for dpi, suffix in ((96, ""), (144, "-150"), (192, "-200")):
            write(os.path.join(out, name + suffix + ".bmp"), bmp24_bytes(draw(dpi)))
    write(os.path.join(out, "Glimmerly.ico"), ico_bytes([icon_image(n) for n in (16, 32, 48)]))
    return 0


if __name__ == "__main__":
    sys.exit(main())

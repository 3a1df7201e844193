#!/usr/bin/env python3
"""The geometry behind the starter library's pictures, for scripts/starter-library.sh.

    starter-maps.py frame W H BORDER RADIUS PROFILE PREFIX [--depth D] [--shadow N] [--pattern P]
        A picture frame W x H with a moulding BORDER pixels wide (outer corners rounded by
        RADIUS, 0 for mitred corners), lit from the top left. Writes four 8-bit PGM maps:
        PREFIX-light.pgm   the moulding's brightness, 128 for a face turned to the viewer
        PREFIX-alpha.pgm   the moulding opaque, the window transparent
        PREFIX-shadow.pgm  the opacity of the shadow the moulding casts on the picture, fading
                           over N pixels (none without --shadow)
        PREFIX-side.pgm    white on the left and right pieces, where wood grain runs upright
        PROFILE names the moulding's cross-section (see PROFILES), D scales its height (0.5 by
        default), and P adds a relief along it (beads or twist).
    starter-maps.py bokeh W H SEED COUNT COLOURS...
        An ImageMagick draw file (MVG) of COUNT soft discs in the given colours, placed by a
        generator seeded with SEED.

Only the standard library; the same arguments always give the same bytes.
"""

import math
import random
import sys


# Cross-sections: height in units of the border's width, over t from 0 (outer edge) to 1
# (the window's edge).
def _bump(u):
    return math.sin(max(0.0, min(1.0, u)) * math.pi)


def profile_gold(t):
    # Outer bead, a deep cove, a flat, and a raised lip at the window.
    if t < 0.2:
        return 0.30 + 0.12 * _bump(t / 0.2)
    if t < 0.55:
        return 0.30 - 0.16 * _bump((t - 0.2) / 0.35)
    if t < 0.78:
        return 0.30
    if t < 0.94:
        return 0.30 + 0.10 * _bump((t - 0.78) / 0.16)
    return 0.30 - 0.22 * (t - 0.94) / 0.06


def profile_walnut(t):
    # A broad rounded face sloping down to a small step at the window.
    if t < 0.85:
        u = t / 0.85
        return 0.12 + 0.30 * math.sin(u * math.pi * 0.75)
    return 0.12 + 0.30 * math.sin(math.pi * 0.75) * (1.0 - (t - 0.85) / 0.15)


def profile_ornate(t):
    # Two beads framing a wide flat band for the relief, then a stepped lip.
    if t < 0.12:
        return 0.25 + 0.10 * _bump(t / 0.12)
    if t < 0.72:
        return 0.25
    if t < 0.86:
        return 0.25 + 0.12 * _bump((t - 0.72) / 0.14)
    return 0.25 - 0.15 * (t - 0.86) / 0.14


def profile_rounded(t):
    # One soft cushion.
    return 0.35 * math.sin(t * math.pi) ** 0.8


def profile_gallery(t):
    # A flat face with small bevels at both edges.
    if t < 0.08:
        return 0.18 * t / 0.08
    if t > 0.92:
        return 0.18 * (1.0 - t) / 0.08
    return 0.18


PROFILES = {
    "gold": profile_gold,
    "walnut": profile_walnut,
    "ornate": profile_ornate,
    "rounded": profile_rounded,
    "gallery": profile_gallery,
}


def pattern_beads(t, along, border):
    # A row of round pearls on the band between t = 0.2 and 0.66.
    if not 0.2 < t < 0.66:
        return 0.0
    period = border * 0.46
    u = ((along % period) / period - 0.5) * period
    v = (t - 0.43) * border
    r = border * 0.2
    q = r * r - u * u - v * v
    return math.sqrt(q) / border if q > 0 else 0.0


def pattern_twist(t, along, border):
    # A rope: ridges running at 45 degrees across the band.
    if not 0.16 < t < 0.7:
        return 0.0
    period = border * 0.3
    phase = (along + t * border) / period
    across = _bump((t - 0.16) / 0.54)
    return 0.07 * across * (0.5 + 0.5 * math.cos(phase * 2.0 * math.pi))


PATTERNS = {"beads": pattern_beads, "twist": pattern_twist}

# The light comes from the top left, above the picture.
_LIGHT = (-0.45, -0.55, 0.70)
_NORM = math.sqrt(sum(c * c for c in _LIGHT))
LIGHT = tuple(c / _NORM for c in _LIGHT)
HALF = (LIGHT[0], LIGHT[1], LIGHT[2] + 1.0)
HALF = tuple(c / math.sqrt(sum(h * h for h in HALF)) for c in HALF)


def brightness(gx, gy):
    """Grey level (0..255) of a surface with height gradient (gx, gy), 128 when flat."""
    n = math.sqrt(gx * gx + gy * gy + 1.0)
    nx, ny, nz = -gx / n, -gy / n, 1.0 / n
    diffuse = max(0.0, nx * LIGHT[0] + ny * LIGHT[1] + nz * LIGHT[2])
    glint = max(0.0, nx * HALF[0] + ny * HALF[1] + nz * HALF[2]) ** 40
    flat = LIGHT[2]
    # Some light from everywhere, so faces turned away stay readable; the glint a flat face
    # has is taken off again, so that a flat face stays at 128.
    value = 128.0 * (0.4 + 0.6 * diffuse / flat) + 90.0 * glint - 90.0 * HALF[2] ** 40
    return max(0, min(255, int(round(value))))


def frame(width, height, border, radius, profile, pattern, shadow, depth, prefix):
    steps = 8  # table entries per pixel of depth
    table = [profile(min(1.0, (i + 0.5) / (border * steps))) * border * depth
             for i in range(border * steps + 1)]

    def h_at(d, along):
        i = int(d * steps)
        i = 0 if i < 0 else len(table) - 1 if i >= len(table) else i
        base = table[i]
        if pattern and 0.0 <= d < border:
            base += pattern(d / border, along, border) * border * depth
        return base

    light = bytearray(width * height)
    alpha = bytearray(width * height)
    shade = bytearray(width * height)
    side_map = bytearray(width * height)
    cache = {}
    for y in range(height):
        cy = y + 0.5
        row = y * width
        for x in range(width):
            cx = x + 0.5
            dx = cx if cx < width - cx else width - cx
            dy = cy if cy < height - cy else height - cy
            if dx < radius and dy < radius:
                ox, oy = radius - dx, radius - dy
                dist = math.hypot(ox, oy)
                d = radius - dist
                vertical = ox > oy
                # Inward, away from the corner's centre, in picture coordinates.
                ix = (1.0 if cx < width / 2 else -1.0) * (ox / dist if dist else 0.0)
                iy = (1.0 if cy < height / 2 else -1.0) * (oy / dist if dist else 0.0)
            else:
                vertical = dx < dy
                d = dx if vertical else dy
                if vertical:
                    ix, iy = (1.0 if cx < width / 2 else -1.0), 0.0
                else:
                    ix, iy = 0.0, (1.0 if cy < height / 2 else -1.0)
            along = cy if vertical else cx
            side_map[row + x] = 255 if vertical else 0
            if d < border:
                key = None
                if radius == 0 and not pattern:
                    key = (int(d * steps), ix, iy)
                    if key in cache:
                        light[row + x] = cache[key]
                        alpha[row + x] = 255
                        continue
                e = 0.25
                slope = (h_at(d + e, along) - h_at(d - e, along)) / (2 * e)
                tangent = 0.0
                if pattern:
                    tangent = (h_at(d, along + e) - h_at(d, along - e)) / (2 * e)
                # The tangent runs along the piece: x for the top and bottom, y for the sides.
                gx = slope * ix + (tangent if not vertical else 0.0)
                gy = slope * iy + (tangent if vertical else 0.0)
                value = brightness(gx, gy)
                light[row + x] = value
                # The window's edge is softened over one pixel.
                alpha[row + x] = 255 if d < border - 1 else int(255 * (border - d))
                if key is not None:
                    cache[key] = value
            elif shadow:
                # The moulding's shadow on the picture, falling down and to the right: deep
                # below the top and right of the left piece, faint elsewhere.
                depth = d - border
                strength = 0.55 if (iy > 0.5 or ix > 0.5) else 0.25
                a = strength * math.exp(-depth / shadow)
                shade[row + x] = int(255 * a)
    for name, data in (("light", light), ("alpha", alpha), ("shadow", shade), ("side", side_map)):
        with open("%s-%s.pgm" % (prefix, name), "wb") as f:
            f.write(b"P5\n%d %d\n255\n" % (width, height))
            f.write(data)


def bokeh(width, height, seed, count, colours):
    rng = random.Random(seed)
    lines = []
    for _ in range(count):
        r = rng.uniform(0.015, 0.07) * width
        x = rng.uniform(-0.05, 1.05) * width
        # Denser towards the middle band, as out-of-focus lights are.
        y = (0.5 + (rng.random() - 0.5) * rng.uniform(0.6, 1.1)) * height
        colour = rng.choice(colours)
        opacity = rng.uniform(0.25, 0.7)
        lines.append("fill %s fill-opacity %.3f circle %.1f,%.1f %.1f,%.1f"
                     % (colour, opacity, x, y, x + r, y))
    sys.stdout.write("\n".join(lines) + "\n")


def main(argv):
    if len(argv) >= 7 and argv[0] == "frame":
        w, h, border, radius = (int(v) for v in argv[1:5])
        profile = PROFILES[argv[5]]
        prefix = argv[6]
        rest = argv[7:]
        shadow, pattern, depth = 0, None, 0.5
        while rest:
            if rest[0] == "--depth":
                depth = float(rest[1])
            elif rest[0] == "--shadow":
                shadow = float(rest[1])
            elif rest[0] == "--pattern":
                pattern = PATTERNS[rest[1]]
            else:
                raise SystemExit("starter-maps: unknown option " + rest[0])
            rest = rest[2:]
        frame(w, h, border, radius, profile, pattern, shadow, depth, prefix)
    elif len(argv) >= 6 and argv[0] == "bokeh":
        bokeh(int(argv[1]), int(argv[2]), int(argv[3]), int(argv[4]), argv[5:])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])

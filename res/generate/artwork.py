#!/usr/bin/env python3
"""Draws the program's artwork: the nine busy-animation frames (bitmaps 136 and
138..145) and the two loudspeaker bitmaps (146, 147) into OUT/bitmaps/, and the
program icon (130, at 64 and 32 pixels, the two the window uses) into OUT/icons/
(OUT defaults to res/). The icon's further sizes for the desktop's icon theme
(16, 24, 48, 128 and 256 pixels) go into OUT/icons/ as 130-<size>.png.

Only the Python standard library is used, and the output is deterministic. The
PNG files it writes are committed; the build uses them as they are, so run this
only after changing a drawing:

    python3 res/generate/artwork.py [OUT]

Bitmaps use pure white (255, 255, 255) as their transparent colour. Shapes are
supersampled; a pixel covered less than COVER_MIN stays pure white, and a partly
covered edge pixel is blended toward the usual button-face grey instead of white,
so no light fringe shows around the drawing on the dialog and no anti-aliased
pixel turns transparent by accident. The icon has a real alpha channel.
"""

import math
import os
import struct
import sys
import zlib

RES = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SS = 8  # samples per pixel along each axis
COVER_MIN = 0.35
FACE = (239, 239, 239)  # edge blending target: a typical button-face grey
WHITE = (255, 255, 255)


# ---------------------------------------------------------------- PNG writer


def write_png(path, width, height, rows, alpha):
    """rows: list of lists of (r, g, b) or (r, g, b, a) tuples."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for px in row:
            raw.extend(px[:4] if alpha else px[:3])
    colour_type = 6 if alpha else 2

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)
    print(f"  {path}  {width} x {height}")


# ---------------------------------------------------------------- rasteriser


def render(width, height, paint, ss=SS):
    """paint(x, y) -> (r, g, b) or None for one sample point, ss x ss samples
    per pixel. Returns per pixel (coverage, mean colour of the covered
    samples)."""
    pixels = []
    for py in range(height):
        row = []
        for px in range(width):
            n = 0
            acc = [0.0, 0.0, 0.0]
            for sy in range(ss):
                y = py + (sy + 0.5) / ss
                for sx in range(ss):
                    c = paint(px + (sx + 0.5) / ss, y)
                    if c is not None:
                        n += 1
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
            cover = n / (ss * ss)
            mean = tuple(v / n for v in acc) if n else WHITE
            row.append((cover, mean))
        pixels.append(row)
    return pixels


def to_keyed_rows(pixels):
    """Pure white where (almost) uncovered; edges blended toward the face grey;
    never pure white where something is drawn."""
    rows = []
    for row in pixels:
        out = []
        for cover, mean in row:
            if cover < COVER_MIN:
                out.append(WHITE)
                continue
            c = [round(m * cover + f * (1 - cover)) for m, f in zip(mean, FACE)]
            c = [max(0, min(255, v)) for v in c]
            if c == [255, 255, 255]:
                c[2] = 254
            out.append(tuple(c))
        rows.append(out)
    return rows


def to_alpha_rows(pixels):
    return [[(round(m[0]), round(m[1]), round(m[2]), round(cover * 255)) for cover, m in row]
            for row in pixels]


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(x + (y - x) * t for x, y in zip(a, b))


# ---------------------------------------------------------------- gears


class Gear:
    """A spur gear: trapezoid teeth, a web with round lightening holes, an axle."""

    def __init__(self, cx, cy, teeth, module, holes, body, rim, hole_radius, hole_rim):
        self.cx, self.cy = cx, cy
        self.teeth = teeth
        self.pitch = module * teeth / 2
        self.outer = self.pitch + module * 1.0
        self.root = self.pitch - module * 1.05
        self.holes = holes
        self.body = body
        self.rim = rim
        self.hole_radius = hole_radius
        self.hole_rim = hole_rim
        self.axle = 1.35 if teeth > 10 else 1.1

    def radius_at(self, phase):
        """Outline radius at a position within one tooth pitch (0..1, tooth
        centred on 0)."""
        t = abs((phase + 0.5) % 1.0 - 0.5)  # 0 at tooth centre, 0.5 mid-gap
        top, flank = 0.15, 0.33
        if t <= top:
            return self.outer
        if t >= flank:
            return self.root
        return self.outer + (self.root - self.outer) * (t - top) / (flank - top)

    def paint(self, x, y, angle):
        """Colour at (x, y) with the gear turned by angle (radians, counter-
        clockwise on screen), or None outside it."""
        dx, dy = x - self.cx, self.cy - y
        r = math.hypot(dx, dy)
        if r > self.outer:
            return None
        a = math.atan2(dy, dx) - angle
        phase = a * self.teeth / (2 * math.pi)
        edge = self.radius_at(phase)
        if r > edge:
            return None
        if r < self.axle:
            return (70, 70, 74)
        # Light from the upper left: brighter toward it, darker away.
        light = (-dx * 0.7 + dy * 0.7) / self.outer
        base = mix(self.body, (255, 255, 255), 0.22 * light) if light > 0 else \
            mix(self.body, (0, 0, 0), -0.28 * light)
        if edge - r < 0.85 or r < self.axle + self.hole_rim:
            return self.rim
        if self.holes:
            ring = (self.root + self.axle) / 2 + 0.35
            for k in range(self.holes):
                ha = angle + (k + 0.5) * 2 * math.pi / self.holes
                hx, hy = ring * math.cos(ha), ring * math.sin(ha)
                d = math.hypot(dx - hx, dy - hy)
                if d < self.hole_radius:
                    return None
                if d < self.hole_radius + self.hole_rim:
                    return self.rim
        if abs(r - self.root) < 0.45:
            return mix(base, self.rim, 0.45)
        return base


def gear_pair():
    module = 1.5
    big = Gear(11.6, 18.6, 12, module, 4, (120, 150, 190), (40, 56, 84), 1.45, 0.7)
    distance = big.pitch + module * 9 / 2
    theta = math.radians(41)
    small = Gear(big.cx + distance * math.cos(theta), big.cy - distance * math.sin(theta),
                 9, module, 3, (222, 168, 72), (110, 70, 20), 1.1, 0.45)
    return big, small, theta


def gear_frame(index, frames=9):
    big, small, theta = gear_pair()
    # One cycle turns each gear by three teeth: the big gear's four holes and
    # the small gear's three holes then line up with frame 0 again.
    step = 3 * (2 * math.pi / big.teeth) / frames
    a_big = theta + index * step  # a big tooth points at the small gear at 0
    # The small gear turns the other way, faster by the tooth ratio; at 0 a gap
    # of it faces the big gear's tooth.
    a_small = theta + math.pi + math.pi / small.teeth - index * step * big.teeth / small.teeth

    def paint(x, y):
        c = small.paint(x, y, a_small)
        if c is not None:
            return c
        return big.paint(x, y, a_big)

    return to_keyed_rows(render(33, 30, paint))


# ---------------------------------------------------------------- loudspeaker


def in_polygon(x, y, poly):
    inside = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


SPEAKER_DARK = (45, 52, 64)
SPEAKER_BODY = (96, 108, 128)
SPEAKER_CONE = (150, 162, 182)
WAVE = (30, 110, 200)


def speaker(x, y):
    magnet = [(1.5, 6.3), (5.2, 6.3), (5.2, 11.7), (1.5, 11.7)]
    cone = [(5.0, 6.3), (9.8, 1.8), (9.8, 16.2), (5.0, 11.7)]
    cone_in = [(5.9, 7.1), (9.0, 4.1), (9.0, 13.9), (5.9, 10.9)]
    mag_in = [(2.3, 7.1), (4.6, 7.1), (4.6, 10.9), (2.3, 10.9)]
    if in_polygon(x, y, cone_in):
        return mix(SPEAKER_CONE, (255, 255, 255), 0.25 * (9.0 - x) / 3.1)
    if in_polygon(x, y, mag_in):
        return SPEAKER_BODY
    if in_polygon(x, y, cone) or in_polygon(x, y, magnet):
        return SPEAKER_DARK
    return None


def sound_waves(x, y):
    cx, cy = 9.0, 9.0
    dx, dy = x - cx, y - cy
    if dx <= 0 or abs(math.atan2(dy, dx)) > math.radians(50):
        return None
    r = math.hypot(dx, dy)
    for radius in (3.4, 6.0, 8.6):
        if abs(r - radius) < 0.65:
            return WAVE
    return None


def speaker_on(x, y):
    return speaker(x, y) or sound_waves(x, y)


def speaker_off(x, y):
    cx, cy, radius, width = 12.2, 11.6, 5.3, 1.25
    dx, dy = x - cx, y - cy
    r = math.hypot(dx, dy)
    red, ring = (214, 32, 32), (150, 16, 16)
    if r <= radius:
        # The bar runs from upper left to lower right.
        if abs(dx - dy) / math.sqrt(2) < width * 0.85 and r < radius - 0.6:
            return red
        if r >= radius - width:
            return red if r < radius - 0.35 else ring
        return (250, 238, 238)  # the sign's pale face: near white on purpose
    return speaker(x, y)


# ---------------------------------------------------------------- program icon


def icon_painter(size):
    s = size / 64.0
    body = (18 * s, 14 * s, 46 * s, 50 * s)  # x0, y0, x1, y1
    pins = 5
    chip = (48, 52, 60)
    chip_hi = (78, 84, 96)
    pin_col = (196, 200, 208)
    pin_dark = (120, 126, 136)
    bolt = [(35, 17), (24, 34), (31, 34), (27, 47), (40, 28), (33, 28), (38, 17)]
    bolt = [(px * s, py * s) for px, py in bolt]

    def rounded(x, y, x0, y0, x1, y1, r):
        qx = max(x0 + r - x, 0, x - (x1 - r))
        qy = max(y0 + r - y, 0, y - (y1 - r))
        return x0 <= x <= x1 and y0 <= y <= y1 and qx * qx + qy * qy <= r * r

    def paint(x, y):
        x0, y0, x1, y1 = body
        if in_polygon(x, y, bolt):
            edge = min(abs(x - px) + abs(y - py) for px, py in bolt)
            return (255, 214, 40) if edge > 1.2 * s else (236, 160, 0)
        if rounded(x, y, x0, y0, x1, y1, 3 * s):
            inner = rounded(x, y, x0 + 1.5 * s, y0 + 1.5 * s, x1 - 1.5 * s, y1 - 1.5 * s, 2 * s)
            if not inner:
                return (24, 26, 32)
            # Pin-one dot and a soft top light.
            if math.hypot(x - (x0 + 6 * s), y - (y0 + 6 * s)) < 2.2 * s:
                return (30, 32, 38)
            return mix(chip_hi, chip, (y - y0) / (y1 - y0))
        pitch = (y1 - y0) / pins
        for k in range(pins):
            py0 = y0 + k * pitch + pitch * 0.28
            py1 = py0 + pitch * 0.44
            for px0, px1 in ((x0 - 9 * s, x0), (x1, x1 + 9 * s)):
                if px0 <= x <= px1 and py0 <= y <= py1:
                    return pin_col if y < py0 + (py1 - py0) * 0.6 else pin_dark
        return None

    return paint


# ---------------------------------------------------------------- main


FRAME_IDS = [136, 138, 139, 140, 141, 142, 143, 144, 145]  # there is no 137
# The icon theme's further sizes. Large pixels need fewer samples each for the
# same smoothness, and the pure-Python rasteriser stays quick.
THEME_ICON_SIZES = [(16, SS), (24, SS), (48, SS), (128, 4), (256, 2)]


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    if len(args) > 1 or (args and args[0].startswith("-")):
        sys.exit("usage: artwork.py [OUT]  (default: res/)")
    out = args[0] if args else RES
    bitmaps = os.path.join(out, "bitmaps")
    icons = os.path.join(out, "icons")
    print(f"artwork.py: writing the bitmaps and icons into {out}")
    for index, rid in enumerate(FRAME_IDS):
        write_png(os.path.join(bitmaps, f"{rid}.png"), 33, 30, gear_frame(index), False)
    write_png(os.path.join(bitmaps, "146.png"), 18, 18,
              to_keyed_rows(render(18, 18, speaker_on)), False)
    write_png(os.path.join(bitmaps, "147.png"), 18, 18,
              to_keyed_rows(render(18, 18, speaker_off)), False)
    write_png(os.path.join(icons, "130.png"), 64, 64,
              to_alpha_rows(render(64, 64, icon_painter(64))), True)
    write_png(os.path.join(icons, "130-32.png"), 32, 32,
              to_alpha_rows(render(32, 32, icon_painter(32))), True)
    for size, ss in THEME_ICON_SIZES:
        write_png(os.path.join(icons, f"130-{size}.png"), size, size,
                  to_alpha_rows(render(size, size, icon_painter(size), ss)), True)
    print("artwork.py: done")


if __name__ == "__main__":
    main()

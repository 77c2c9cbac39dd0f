#!/usr/bin/env python3
"""Draws the program's toolbar and pane icons into resources/ as 32 x 32 RGBA PNG files.

The icons are simple flat shapes in the interface's colours, drawn with 4 x 4 supersampling so
their edges are smooth when the toolbar scales them down. Run from the repository's top folder:
    python3 scripts/draw_icons.py
Only the standard library is used.
"""
import math
import os
import struct
import zlib

SIZE = 32
SUB = 4

INK = (60, 68, 82)
ACCENT = (58, 123, 213)
PALE = (214, 224, 238)
ORANGE = (232, 140, 48)
GREEN = (64, 160, 96)
RED = (210, 70, 60)
GREY = (150, 156, 166)
LIGHT = (236, 238, 242)
WHITE = (255, 255, 255)


class Canvas:
    def __init__(self):
        self.px = [[(0, 0, 0, 0.0) for _ in range(SIZE)] for _ in range(SIZE)]

    def fill(self, inside, colour, opacity=1.0):
        """Paints every pixel by the share of its sub-samples for which inside(x, y) holds."""
        for y in range(SIZE):
            for x in range(SIZE):
                hits = 0
                for sy in range(SUB):
                    for sx in range(SUB):
                        if inside(x + (sx + 0.5) / SUB, y + (sy + 0.5) / SUB):
                            hits += 1
                if hits:
                    self.blend(x, y, colour, opacity * hits / (SUB * SUB))

    def blend(self, x, y, colour, alpha):
        r, g, b, a = self.px[y][x]
        out_a = alpha + a * (1 - alpha)
        if out_a <= 0:
            return
        mix = lambda top, bottom: (top * alpha + bottom * a * (1 - alpha)) / out_a
        self.px[y][x] = (mix(colour[0], r), mix(colour[1], g), mix(colour[2], b), out_a)

    def polygon(self, points, colour, opacity=1.0):
        def inside(x, y):
            crossings = False
            for i in range(len(points)):
                (x0, y0), (x1, y1) = points[i], points[(i + 1) % len(points)]
                if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                    crossings = not crossings
            return crossings
        self.fill(inside, colour, opacity)

    def rect(self, x0, y0, x1, y1, colour, opacity=1.0):
        self.fill(lambda x, y: x0 <= x <= x1 and y0 <= y <= y1, colour, opacity)

    def circle(self, cx, cy, r, colour, opacity=1.0):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour, opacity)

    def ring(self, cx, cy, r, width, colour, start=0.0, end=360.0):
        def inside(x, y):
            d = math.hypot(x - cx, y - cy)
            if abs(d - r) > width / 2:
                return False
            angle = math.degrees(math.atan2(cy - y, x - cx)) % 360
            return start <= angle <= end if start <= end else angle >= start or angle <= end
        self.fill(inside, colour)

    def line(self, x0, y0, x1, y1, width, colour):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= width / 2
        self.fill(inside, colour)

    def outline(self, points, width, colour):
        for i in range(len(points)):
            (x0, y0), (x1, y1) = points[i], points[(i + 1) % len(points)]
            self.line(x0, y0, x1, y1, width, colour)

    def save(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b, a in row:
                raw += bytes((round(r), round(g), round(b), round(a * 255)))
        chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                    struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
        header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                    chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def arrow(c, x0, y0, x1, y1, colour, width=2.6, head=5.5):
    angle = math.atan2(y1 - y0, x1 - x0)
    back = (x1 - head * math.cos(angle), y1 - head * math.sin(angle))
    c.line(x0, y0, back[0], back[1], width, colour)
    side = lambda sign: (back[0] + sign * head * 0.7 * math.sin(angle),
                         back[1] - sign * head * 0.7 * math.cos(angle))
    c.polygon([(x1, y1), side(1), side(-1)], colour)


def page(c):
    c.polygon([(8, 3), (20, 3), (26, 9), (26, 29), (8, 29)], WHITE)
    c.outline([(8, 3), (20, 3), (26, 9), (26, 29), (8, 29)], 1.6, INK)
    c.polygon([(20, 3), (20, 9), (26, 9)], PALE)
    c.outline([(20, 3), (20, 9), (26, 9)], 1.2, INK)


def proj_new(c):
    page(c)
    c.line(17, 14, 17, 24, 2.4, GREEN)
    c.line(12, 19, 22, 19, 2.4, GREEN)


def folder(c):
    c.polygon([(3, 8), (12, 8), (15, 11), (29, 11), (29, 27), (3, 27)], (240, 190, 90))
    c.outline([(3, 8), (12, 8), (15, 11), (29, 11), (29, 27), (3, 27)], 1.4, (150, 104, 30))


def proj_open(c):
    folder(c)
    arrow(c, 16, 3, 16, 22, ACCENT, 3.0, 7)


def proj_save(c):
    c.polygon([(4, 20), (28, 20), (28, 29), (4, 29)], PALE)
    c.outline([(4, 20), (28, 20), (28, 29), (4, 29)], 1.6, INK)
    arrow(c, 16, 2, 16, 25, ACCENT, 3.2, 8)


def lay_on_face(c):
    c.rect(2, 27, 30, 29.5, INK)
    c.polygon([(9, 26), (23, 26), (23, 12), (9, 12)], PALE)
    c.outline([(9, 26), (23, 26), (23, 12), (9, 12)], 1.6, ACCENT)
    c.ring(16, 12, 9, 2.0, ORANGE, 20, 160)
    c.polygon([(23.5, 6), (27, 10), (22, 11)], ORANGE)


def sel_normal(c):
    c.polygon([(9, 4), (9, 26), (14, 21), (18, 29), (21, 27.5), (17, 20), (24, 20)], WHITE)
    c.outline([(9, 4), (9, 26), (14, 21), (18, 29), (21, 27.5), (17, 20), (24, 20)], 1.6, INK)


def sel_move(c):
    for end in [(16, 2), (16, 30), (2, 16), (30, 16)]:
        arrow(c, 16, 16, end[0], end[1], ACCENT, 2.6, 6)
    c.circle(16, 16, 3, INK)


def sel_rotate(c):
    c.ring(16, 16, 10, 3.0, ACCENT, 120, 60)
    c.polygon([(19, 1.5), (27, 8.5), (17.5, 11)], ACCENT)


def sel_scale(c):
    c.rect(3, 17, 15, 29, PALE)
    c.outline([(3, 17), (15, 17), (15, 29), (3, 29)], 1.4, INK)
    c.outline([(3, 3), (29, 3), (29, 29), (3, 29)], 1.4, GREY)
    arrow(c, 11, 21, 27, 5, ACCENT, 2.6, 7)


def sel_mask(c):
    for i in range(7):
        t0, t1 = i * 4, i * 4 + 2.2
        c.line(3 + t0, 3, 3 + t1, 3, 1.6, INK)
        c.line(3 + t0, 29, 3 + t1, 29, 1.6, INK)
        c.line(3, 3 + t0, 3, 3 + t1, 1.6, INK)
        c.line(29, 3 + t0, 29, 3 + t1, 1.6, INK)
    c.circle(16, 16, 8, ORANGE, 0.85)


def dashed_box(c, x0, y0, x1, y1, colour, width=1.6, dash=2.4, gap=1.6):
    """A dashed square outline: the look of a mask volume in the toolbar."""
    for (ax, ay, bx, by) in [(x0, y0, x1, y0), (x1, y0, x1, y1), (x1, y1, x0, y1), (x0, y1, x0, y0)]:
        length = math.hypot(bx - ax, by - ay)
        t = 0.0
        while t < length:
            e = min(t + dash, length)
            c.line(ax + (bx - ax) * t / length, ay + (by - ay) * t / length,
                   ax + (bx - ax) * e / length, ay + (by - ay) * e / length, width, colour)
            t = e + gap


def mask_duplicate(c):
    c.rect(2, 2, 17, 17, PALE)
    dashed_box(c, 2, 2, 17, 17, INK)
    c.rect(9, 9, 24, 24, WHITE)
    c.circle(16.5, 16.5, 5, ORANGE, 0.85)
    dashed_box(c, 9, 9, 24, 24, INK)
    c.line(26, 21, 26, 30, 2.6, GREEN)
    c.line(21.5, 25.5, 30.5, 25.5, 2.6, GREEN)


def mask_delete(c):
    c.rect(4, 4, 24, 24, PALE)
    c.circle(14, 14, 6.5, ORANGE, 0.85)
    dashed_box(c, 4, 4, 24, 24, INK)
    c.line(18, 18, 29, 29, 3.0, RED)
    c.line(29, 18, 18, 29, 3.0, RED)


def sphere(c, colour, shade=True):
    c.circle(16, 16, 12.5, colour)
    if shade:
        c.circle(12, 12, 6, WHITE, 0.35)
    c.ring(16, 16, 12.5, 1.4, INK)


def surf_plain(c):
    sphere(c, GREY)


def surf_checkered(c):
    c.rect(4, 4, 28, 28, WHITE)
    for row in range(4):
        for col in range(4):
            if (row + col) % 2 == 0:
                c.rect(4 + col * 6, 4 + row * 6, 10 + col * 6, 10 + row * 6, INK)
    c.outline([(4, 4), (28, 4), (28, 28), (4, 28)], 1.2, INK)


def surf_colored(c):
    c.polygon([(16, 3), (29, 10), (16, 17), (3, 10)], RED)
    c.polygon([(3, 10), (16, 17), (16, 30), (3, 23)], GREEN)
    c.polygon([(29, 10), (16, 17), (16, 30), (29, 23)], ACCENT)


def surf_texture(c):
    c.rect(3, 3, 29, 29, LIGHT)
    for k in range(5):
        y = 6 + k * 5.2
        points = [(3 + i, y + 1.8 * math.sin(i / 2.5)) for i in range(0, 27)]
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            c.line(x0, y0, x1, y1, 2.0, INK)
    c.outline([(3, 3), (29, 3), (29, 29), (3, 29)], 1.2, INK)


def surf_exposure(c):
    c.fill(lambda x, y: (x - 16) ** 2 + (y - 16) ** 2 <= 12.5 ** 2 and x < 16, (245, 226, 196))
    c.fill(lambda x, y: (x - 16) ** 2 + (y - 16) ** 2 <= 12.5 ** 2 and x >= 16, ORANGE)
    c.ring(16, 16, 12.5, 1.4, INK)


def smoothshaded(c):
    for k in range(12, 0, -1):
        shade = int(90 + 12 * (12 - k))
        c.circle(16 - (12 - k) * 0.35, 16 - (12 - k) * 0.35, k + 0.5, (shade, shade + 6, shade + 16))
    c.ring(16, 16, 12.5, 1.2, INK)


def hexagon_points(r=13):
    return [(16 + r * math.cos(math.radians(a)), 16 + r * math.sin(math.radians(a)))
            for a in range(-90, 270, 60)]


def facets(c, shades):
    corners = hexagon_points()
    for i, shade in enumerate(shades):
        c.polygon([(16, 16), corners[i], corners[(i + 1) % 6]], shade)


FACET_SHADES = [(200, 206, 216), (170, 178, 190), (130, 138, 152), (110, 118, 132),
                (150, 158, 170), (220, 224, 232)]


def flatshaded(c):
    facets(c, FACET_SHADES)


def mesh_lines(c, colour):
    corners = hexagon_points()
    c.outline(corners, 1.4, colour)
    for corner in corners:
        c.line(16, 16, corner[0], corner[1], 1.4, colour)


def wireframe(c):
    mesh_lines(c, ACCENT)


def flat_wireframe(c):
    facets(c, FACET_SHADES)
    mesh_lines(c, INK)


def view_ortho(c):
    front = [(5, 11), (21, 11), (21, 27), (5, 27)]
    c.polygon(front, PALE)
    c.polygon([(5, 11), (11, 5), (27, 5), (21, 11)], WHITE)
    c.polygon([(21, 11), (27, 5), (27, 21), (21, 27)], (190, 200, 214))
    c.outline(front, 1.4, INK)
    c.outline([(5, 11), (11, 5), (27, 5), (21, 11)], 1.4, INK)
    c.outline([(21, 11), (27, 5), (27, 21), (21, 27)], 1.4, INK)


def print_view(c):
    for k, width in enumerate([22, 20, 17, 14, 10]):
        y = 26 - k * 4.6
        colour = ACCENT if k % 2 == 0 else (120, 160, 225)
        c.rect(16 - width / 2, y - 1.6, 16 + width / 2, y + 1.6, colour)
    c.rect(2, 28.6, 30, 30.5, INK)


def pane_workflow(c):
    for k in range(4):
        c.rect(4, 5 + k * 6.5, 7, 8 + k * 6.5, ACCENT)
        c.rect(10, 5.5 + k * 6.5, 28, 7.5 + k * 6.5, INK)


def pane_output(c):
    c.rect(3, 4, 29, 28, (40, 44, 52))
    c.line(7, 10, 11, 13, 1.8, GREEN)
    c.line(11, 13, 7, 16, 1.8, GREEN)
    c.rect(13, 18, 22, 19.6, LIGHT)
    c.rect(7, 22, 25, 23.6, GREY)


def pane_information(c):
    c.circle(16, 16, 13, ACCENT)
    c.circle(16, 9.5, 2.2, WHITE)
    c.rect(14.2, 13.5, 17.8, 24, WHITE)


def tool_tilling(c):
    # Four tiles of one wave pattern: the tile repeats across the part.
    for x0, y0 in ((4, 4), (17, 4), (4, 17), (17, 17)):
        c.rect(x0, y0, x0 + 11, y0 + 11, PALE)
        c.line(x0 + 1, y0 + 8, x0 + 5.5, y0 + 3, 1.8, ACCENT)
        c.line(x0 + 5.5, y0 + 3, x0 + 10, y0 + 8, 1.8, ACCENT)


def tool_autolevel(c):
    # A histogram spread between a black and a white marker.
    for i, h in enumerate((6, 11, 17, 21, 15, 9, 5)):
        c.rect(7 + i * 2.8, 25 - h, 8.8 + i * 2.8, 25, GREY)
    c.polygon([(4, 29), (8, 29), (6, 25.5)], INK)
    c.polygon([(24, 29), (28, 29), (26, 25.5)], WHITE)
    c.polygon([(24, 29), (28, 29), (26, 25.5)], INK, 0.35)
    c.line(4, 26, 28, 26, 1.2, INK)


def tool_invert(c):
    # A relief and its negative, split by the middle.
    c.rect(4, 4, 28, 28, LIGHT)
    c.polygon([(4, 16), (10, 9), (16, 16)], INK)
    c.polygon([(16, 16), (22, 23), (28, 16)], ACCENT)
    c.line(4, 16, 28, 16, 1.4, GREY)


BLUE = (77, 133, 235)


def iso(x, y, z, s=7.0, cx=16.0, cy=16.0):
    """The Mapping sketch's view from the front right: +X right and down, +Y right and up."""
    return (cx + s * 0.866 * (x + y), cy + s * (0.5 * x - 0.5 * y - z))


def projection_cubic(c):
    # A cube with its three front faces tinted in the side colours.
    top = [iso(-1, -1, 1), iso(1, -1, 1), iso(1, 1, 1), iso(-1, 1, 1)]
    right = [iso(1, -1, 1), iso(1, 1, 1), iso(1, 1, -1), iso(1, -1, -1)]
    front = [iso(-1, -1, 1), iso(1, -1, 1), iso(1, -1, -1), iso(-1, -1, -1)]
    c.polygon(top, BLUE, 0.75)
    c.polygon(right, RED, 0.75)
    c.polygon(front, GREEN, 0.75)
    for face in (top, right, front):
        c.outline(face, 1.3, INK)


def projection_planar(c):
    # One square with the direction it is projected along.
    c.polygon([(5, 22), (17, 28), (27, 20), (15, 14)], BLUE, 0.7)
    c.outline([(5, 22), (17, 28), (27, 20), (15, 14)], 1.3, INK)
    arrow(c, 16, 2, 16, 20, ACCENT, 2.4, 6)


def projection_cylindrical(c):
    c.rect(7, 8, 25, 24, RED, 0.6)
    c.fill(lambda x, y: ((x - 16) / 9) ** 2 + ((y - 24) / 3.5) ** 2 <= 1, RED, 0.6)
    c.fill(lambda x, y: ((x - 16) / 9) ** 2 + ((y - 8) / 3.5) ** 2 <= 1, BLUE, 0.8)
    c.line(7, 8, 7, 24, 1.3, INK)
    c.line(25, 8, 25, 24, 1.3, INK)
    c.fill(lambda x, y: abs(math.hypot((x - 16) / 9, (y - 8) / 3.5) - 1) <= 0.09, INK)
    c.fill(lambda x, y: abs(math.hypot((x - 16) / 9, (y - 24) / 3.5) - 1) <= 0.09 and y >= 24, INK)


def projection_sphere(c):
    c.circle(16, 16, 12, BLUE, 0.55)
    c.ring(16, 16, 12, 1.4, INK)
    c.fill(lambda x, y: abs(math.hypot((x - 16) / 12, (y - 16) / 4) - 1) <= 0.07, INK)
    c.line(16, 4, 16, 28, 1.0, GREY)


def axis_icon(c, letter_strokes, colour, direction):
    arrow(c, 16 - direction[0] * 11, 16 - direction[1] * 11, 16 + direction[0] * 12,
          16 + direction[1] * 12, colour, 2.6, 7)
    for (x0, y0), (x1, y1) in letter_strokes:
        c.line(x0, y0, x1, y1, 2.0, INK)


def axis_x(c):
    axis_icon(c, [((3, 3), (10, 11)), ((10, 3), (3, 11))], RED, (0.866, 0.5))


def axis_y(c):
    axis_icon(c, [((3, 3), (6.5, 7)), ((10, 3), (6.5, 7)), ((6.5, 7), (6.5, 11))], GREEN, (0.866, -0.5))


def axis_z(c):
    axis_icon(c, [((3, 3), (10, 3)), ((10, 3), (3, 11)), ((3, 11), (10, 11))], BLUE, (0.0, -1.0))


def tube(c, outer, inner):
    """A tube seen end on: the outer ring and the bore, each drawn textured or plain."""
    c.circle(16, 16, 13, ACCENT if outer else LIGHT)
    c.circle(16, 16, 7, WHITE)
    c.ring(16, 16, 7, 3.0, ACCENT if inner else LIGHT)
    if outer:
        for k in range(12):
            a = math.radians(k * 30)
            c.circle(16 + 11.5 * math.cos(a), 16 + 11.5 * math.sin(a), 1.6, WHITE, 0.8)
    if inner:
        for k in range(8):
            a = math.radians(k * 45 + 22.5)
            c.circle(16 + 7 * math.cos(a), 16 + 7 * math.sin(a), 1.0, WHITE, 0.8)
    c.ring(16, 16, 13, 1.2, INK)
    c.ring(16, 16, 5.5, 1.0, INK)


def surfaces_all(c):
    tube(c, True, True)


def surfaces_outer(c):
    tube(c, True, False)


def surfaces_inner(c):
    tube(c, False, True)


ICONS = {
    "proj_new": proj_new, "proj_open": proj_open, "proj_save": proj_save,
    "lay_on_face": lay_on_face, "sel_normal": sel_normal, "sel_move": sel_move,
    "sel_rotate": sel_rotate, "sel_scale": sel_scale, "sel_mask": sel_mask,
    "mask_duplicate": mask_duplicate, "mask_delete": mask_delete,
    "surf_plain": surf_plain, "surf_checkered": surf_checkered, "surf_colored": surf_colored,
    "surf_texture": surf_texture, "surf_exposure": surf_exposure,
    "smoothshaded": smoothshaded, "flatshaded": flatshaded, "wireframe": wireframe,
    "flat_wireframe": flat_wireframe, "view_ortho": view_ortho, "3Dprint_view": print_view,
    "pane_workflow": pane_workflow, "pane_output": pane_output,
    "pane_information": pane_information,
    "tool_tilling": tool_tilling, "tool_autolevel": tool_autolevel, "tool_invert": tool_invert,
    "projection_cubic": projection_cubic, "projection_planar": projection_planar,
    "projection_cylindrical": projection_cylindrical, "projection_sphere": projection_sphere,
    "axis_x": axis_x, "axis_y": axis_y, "axis_z": axis_z,
    "surfaces_all": surfaces_all, "surfaces_outer": surfaces_outer, "surfaces_inner": surfaces_inner,
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "resources")
    os.makedirs(folder, exist_ok=True)
    for name, draw in ICONS.items():
        canvas = Canvas()
        draw(canvas)
        canvas.save(os.path.join(folder, name + ".png"))


if __name__ == "__main__":
    main()

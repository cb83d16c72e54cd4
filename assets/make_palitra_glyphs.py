#!/usr/bin/env python3
"""Draws the options window's glyphs and writes them as BMP files.

    pencil.bmp, spray.bmp, line.bmp   32 x 32, 24 bits per pixel (3,126 bytes)
    spin_up.bmp, spin_down.bmp        9 x 6, 16 colours (4 bits per pixel)

The files are committed; run this script only to change them. It needs
nothing but Python 3 and writes next to itself.
"""

import math
import os
import random
import struct

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
DARK_BLUE = (0, 0, 128)
NAVY_LIGHT = (48, 48, 176)
LIGHT_BLUE = (96, 176, 255)
PALE_BLUE = (176, 216, 255)
GREY = (128, 128, 128)
OLIVE = (128, 128, 0)


def file_header(pixel_offset, size):
    return b"BM" + struct.pack("<IHHI", size, 0, 0, pixel_offset)


def info_header(width, height, bits, image_size, colours):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 3780, 3780, colours, 0)


def write_24(path, pixels):
    """pixels[y][x] = (r, g, b), top row first; the file is bottom-up."""
    height, width = len(pixels), len(pixels[0])
    stride = (width * 3 + 3) & ~3
    rows = b""
    for y in reversed(range(height)):
        row = b"".join(bytes((b, g, r)) for (r, g, b) in pixels[y])
        rows += row + b"\0" * (stride - len(row))
    with open(path, "wb") as f:
        f.write(file_header(54, 54 + len(rows)))
        f.write(info_header(width, height, 24, len(rows), 0))
        f.write(rows)


# The 16 colours of the classic palette, in its usual order.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128), (128, 128, 128),
    (192, 192, 192), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255),
    (255, 255, 255),
]


def write_4(path, pixels):
    height, width = len(pixels), len(pixels[0])
    stride = ((width + 1) // 2 + 3) & ~3
    rows = b""
    for y in reversed(range(height)):
        indices = [PALETTE_16.index(c) for c in pixels[y]] + [0]
        row = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, width, 2))
        rows += row + b"\0" * (stride - len(row))
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE_16)
    offset = 14 + 40 + len(palette)
    with open(path, "wb") as f:
        f.write(file_header(offset, offset + len(rows)))
        f.write(info_header(width, height, 4, len(rows), 16))
        f.write(palette)
        f.write(rows)


def canvas(size=32):
    return [[WHITE] * size for _ in range(size)]


def inside_polygon(x, y, polygon):
    """Even-odd test of the pixel centre."""
    px, py = x + 0.5, y + 0.5
    result = False
    for i in range(len(polygon)):
        (x1, y1), (x2, y2) = polygon[i], polygon[i - 1]
        if (y1 > py) != (y2 > py) and px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def fill_polygon(img, polygon, colour):
    for y in range(len(img)):
        for x in range(len(img[0])):
            if inside_polygon(x, y, polygon):
                img[y][x] = colour


def line(img, x0, y0, x1, y1, colour):
    """A one-pixel line; the error starts from 0 at (x0, y0)."""
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x1 > x0 else -1), (1 if y1 > y0 else -1)
    err = dx + dy
    while True:
        if 0 <= x0 < len(img[0]) and 0 <= y0 < len(img):
            img[y0][x0] = colour
        if (x0, y0) == (x1, y1):
            return
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def along(start, direction, normal, s, t):
    return (start[0] + direction[0] * s + normal[0] * t, start[1] + direction[1] * s + normal[1] * t)


def pencil():
    """A dark-blue pencil leaning to the right, its tip at the lower left,
    above a wavy stroke."""
    img = canvas()
    tip = (5.0, 23.0)
    d = (math.cos(math.radians(-50)), math.sin(math.radians(-50)))  # towards the upper right
    n = (-d[1], d[0])
    half = 2.6
    # the sharpened wood, the lead and the body
    fill_polygon(img, [tip, along(tip, d, n, 6, -half), along(tip, d, n, 6, half)], PALE_BLUE)
    fill_polygon(img, [tip, along(tip, d, n, 2.5, -1.1), along(tip, d, n, 2.5, 1.1)], DARK_BLUE)
    fill_polygon(img, [along(tip, d, n, 6, -half), along(tip, d, n, 23, -half), along(tip, d, n, 23, half),
                       along(tip, d, n, 6, half)], DARK_BLUE)
    fill_polygon(img, [along(tip, d, n, 6, -0.6), along(tip, d, n, 23, -0.6), along(tip, d, n, 23, 0.6),
                       along(tip, d, n, 6, 0.6)], NAVY_LIGHT)
    # the end cap
    fill_polygon(img, [along(tip, d, n, 23, -half), along(tip, d, n, 26, -half), along(tip, d, n, 26, half),
                       along(tip, d, n, 23, half)], GREY)
    # the stroke it drew: a wave along the bottom
    previous = None
    for x in range(2, 30):
        y = int(round(27.5 + 1.8 * math.sin((x - 2) / 3.2)))
        if previous:
            line(img, previous[0], previous[1], x, y, DARK_BLUE)
        previous = (x, y)
    return img


def spray():
    """A light-blue spray can pointing to the upper left with a cloud of dots
    in front of its nozzle."""
    img = canvas()
    d = (-math.cos(math.radians(45)), -math.sin(math.radians(45)))  # towards the upper left
    n = (-d[1], d[0])
    base = (27.0, 27.0)
    half = 4.5
    body = [along(base, d, n, 0, -half), along(base, d, n, 13, -half), along(base, d, n, 13, half),
            along(base, d, n, 0, half)]
    fill_polygon(img, body, LIGHT_BLUE)
    shoulder = [along(base, d, n, 13, -half), along(base, d, n, 16, -2.2), along(base, d, n, 16, 2.2),
                along(base, d, n, 13, half)]
    fill_polygon(img, shoulder, PALE_BLUE)
    nozzle = [along(base, d, n, 16, -1.2), along(base, d, n, 18.5, -1.2), along(base, d, n, 18.5, 1.2),
              along(base, d, n, 16, 1.2)]
    fill_polygon(img, nozzle, DARK_BLUE)
    # a darker band round the can
    band = [along(base, d, n, 5, -half), along(base, d, n, 7, -half), along(base, d, n, 7, half),
            along(base, d, n, 5, half)]
    fill_polygon(img, band, NAVY_LIGHT)
    # the cloud: dots in a cone in front of the nozzle, the same every run
    rng = random.Random(1)
    mouth = along(base, d, n, 19.5, 0)
    for _ in range(70):
        s = rng.uniform(0.5, 11.0)
        t = rng.uniform(-0.55, 0.55) * s
        x, y = along(mouth, d, n, s, t)
        x, y = int(round(x)), int(round(y))
        if 0 <= x < 32 and 0 <= y < 32 and img[y][x] == WHITE:
            img[y][x] = LIGHT_BLUE if rng.random() < 0.6 else DARK_BLUE
    return img


def straight_line():
    """One straight dark-blue line from the lower left to the upper right."""
    img = canvas()
    line(img, 3, 28, 28, 3, DARK_BLUE)
    line(img, 4, 28, 28, 4, DARK_BLUE)
    return img


def spin_arrow(up):
    """A black triangle of rows 1, 3, 5 and 7 pixels on olive, which is drawn
    transparent; the top and bottom rows are all olive."""
    rows = [[OLIVE] * 9 for _ in range(6)]
    widths = [1, 3, 5, 7] if up else [7, 5, 3, 1]
    for i, w in enumerate(widths):
        for x in range(4 - w // 2, 4 + w // 2 + 1):
            rows[1 + i][x] = BLACK
    return rows


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    write_24(os.path.join(here, "pencil.bmp"), pencil())
    write_24(os.path.join(here, "spray.bmp"), spray())
    write_24(os.path.join(here, "line.bmp"), straight_line())
    write_4(os.path.join(here, "spin_up.bmp"), spin_arrow(True))
    write_4(os.path.join(here, "spin_down.bmp"), spin_arrow(False))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the application icon and writes it as a Windows .ico file.

The emblem is a trail of two footprints on a rounded blue square: traces left behind. Every image is
rasterised from the same shapes, given in a unit square (x to the right, y downwards), with
supersampling for smooth edges. The 16, 32 and 48 pixel images are stored as 32-bit bitmaps with an
AND mask, which every Windows version reads; the 256 pixel image as PNG. Only the standard library is
used and nothing depends on the time or the machine, so the same script gives the same bytes.

Usage: make_icon.py OUTPUT.ico
"""

import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
PNG_SIZES = (256,)

BACKGROUND_TOP = (0x1F, 0x78, 0xB4)
BACKGROUND_BOTTOM = (0x0B, 0x3A, 0x66)
NEAR_PRINT = (0xFF, 0xFF, 0xFF)
FAR_PRINT = (0xF2, 0xB1, 0x34)

MARGIN = 1.0 / 32.0
CORNER = 0.2


def inside_rounded_square(x, y):
    low, high = MARGIN + CORNER, 1.0 - MARGIN - CORNER
    dx = max(low - x, 0.0, x - high)
    dy = max(low - y, 0.0, y - high)
    return dx * dx + dy * dy <= CORNER * CORNER


def ellipse(cx, cy, rx, ry, degrees):
    cos_a = math.cos(math.radians(degrees))
    sin_a = math.sin(math.radians(degrees))

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u = dx * cos_a + dy * sin_a
        v = -dx * sin_a + dy * cos_a
        return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0

    return inside


def footprint(cx, cy, scale, degrees, mirrored):
    """A right foot's print (or a left one when mirrored) centred near (cx, cy): ball, heel and toes."""
    side = -1.0 if mirrored else 1.0
    parts = [
        (0.00, 0.00, 0.115, 0.150),  # ball of the foot
        (0.01, 0.20, 0.080, 0.095),  # heel
        (-0.075, -0.195, 0.040, 0.046),  # big toe
        (-0.010, -0.215, 0.030, 0.034),
        (0.045, -0.200, 0.026, 0.030),
        (0.088, -0.168, 0.022, 0.026),
        (0.115, -0.125, 0.019, 0.022),  # little toe
    ]
    cos_a = math.cos(math.radians(degrees))
    sin_a = math.sin(math.radians(degrees))
    shapes = []
    for ox, oy, rx, ry in parts:
        ox *= side * scale
        oy *= scale
        px = cx + ox * cos_a - oy * sin_a
        py = cy + ox * sin_a + oy * cos_a
        shapes.append(ellipse(px, py, rx * scale, ry * scale, degrees))
    bounds = (cx - 0.3 * scale, cy - 0.33 * scale, cx + 0.3 * scale, cy + 0.33 * scale)

    def inside(x, y):
        if not (bounds[0] <= x <= bounds[2] and bounds[1] <= y <= bounds[3]):
            return False
        return any(shape(x, y) for shape in shapes)

    return inside


PRINTS = (
    (footprint(0.35, 0.64, 1.0, -8.0, True), NEAR_PRINT),
    (footprint(0.66, 0.37, 0.82, 8.0, False), FAR_PRINT),
)


def sample(x, y):
    """Colour and alpha of the emblem at one point."""
    if not inside_rounded_square(x, y):
        return (0.0, 0.0, 0.0), 0.0
    for inside, colour in PRINTS:
        if inside(x, y):
            return colour, 1.0
    t = min(max((y - MARGIN) / (1.0 - 2.0 * MARGIN), 0.0), 1.0)
    colour = tuple(top + (bottom - top) * t for top, bottom in zip(BACKGROUND_TOP, BACKGROUND_BOTTOM))
    return colour, 1.0


def render(size):
    """Rows of straight-alpha RGBA pixels, top row first."""
    grid = 4 if size <= 48 else 3
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            red = green = blue = alpha = 0.0
            for sy in range(grid):
                y = (py + (sy + 0.5) / grid) / size
                for sx in range(grid):
                    x = (px + (sx + 0.5) / grid) / size
                    colour, a = sample(x, y)
                    red += colour[0] * a
                    green += colour[1] * a
                    blue += colour[2] * a
                    alpha += a
            count = grid * grid
            if alpha == 0.0:
                row.append((0, 0, 0, 0))
            else:
                row.append((
                    int(red / alpha + 0.5),
                    int(green / alpha + 0.5),
                    int(blue / alpha + 0.5),
                    int(255.0 * alpha / count + 0.5),
                ))
        rows.append(row)
    return rows


def bitmap_image(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for red, green, blue, alpha in row:
            pixels += bytes((blue, green, red, alpha))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_image(rows):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def icon_file(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        dimension = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return directory + data


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_image(rows) if size in PNG_SIZES else bitmap_image(rows)))
    with open(sys.argv[1], "wb") as output:
        output.write(icon_file(images))


if __name__ == "__main__":
    main()

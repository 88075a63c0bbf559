#!/usr/bin/env python3
"""Draws the kestrun application icon and writes resources/kestrun.ico.

The design: a rounded teal square with a white arrow rising out of a tray,
the sign of an update about to start. Ten images, 16 to 256 pixels; the
256-pixel image is stored as PNG, the others as 32-bit DIBs with an AND mask,
as Windows Explorer expects. Standard library only:

    python3 resources/make_icon.py
"""
import math
import os
import struct
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64, 96, 128, 256]
TEAL = (18, 120, 140)
TEAL_DARK = (10, 78, 96)
WHITE = (255, 255, 255)


def rounded_square(x, y, radius):
    """Signed distance to a square of side 1 centred at 0.5 with round corners."""
    qx = abs(x - 0.5) - (0.5 - radius)
    qy = abs(y - 0.5) - (0.5 - radius)
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def in_arrow(x, y):
    """The white mark: an arrow pointing up above an open tray."""
    # Arrow head: triangle with its tip at the top.
    if 0.18 <= y <= 0.46 and abs(x - 0.5) <= (y - 0.18) * 0.95:
        return True
    # Arrow shaft.
    if 0.44 <= y <= 0.66 and abs(x - 0.5) <= 0.085:
        return True
    # Tray: a bar below with two short sides.
    if 0.74 <= y <= 0.82 and 0.22 <= x <= 0.78:
        return True
    if 0.60 <= y <= 0.82 and (0.22 <= x <= 0.30 or 0.70 <= x <= 0.78):
        return True
    return False


def pixel(size, px, py, samples=4):
    """Colour of one pixel, averaged over samples x samples points."""
    r = g = b = a = 0.0
    for sy in range(samples):
        for sx in range(samples):
            x = (px + (sx + 0.5) / samples) / size
            y = (py + (sy + 0.5) / samples) / size
            if rounded_square(x, y, 0.18) > 0:
                continue
            if in_arrow(x, y):
                colour = WHITE
            else:
                # A gentle top-to-bottom shade.
                t = y
                colour = tuple(int(c0 + (c1 - c0) * t) for c0, c1 in zip(TEAL, TEAL_DARK))
            r += colour[0]
            g += colour[1]
            b += colour[2]
            a += 255
    n = samples * samples
    if a == 0:
        return (0, 0, 0, 0)
    covered = a / 255
    return (int(r / covered), int(g / covered), int(b / covered), int(a / n))


def render(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def png(size, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png(size, rows) if size >= 256 else dib(size, rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kestrun.ico")
    with open(target, "wb") as f:
        f.write(out)
    preview = os.path.join(os.path.dirname(target), "..", "build", "icon-preview.png")
    if os.path.isdir(os.path.dirname(preview)):
        with open(preview, "wb") as f:
            f.write(png(256, render(256)))


if __name__ == "__main__":
    main()

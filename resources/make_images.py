#!/usr/bin/env python3
"""Draws the window icon and the About box banner as PNG files, and the icon
again as icon.ico for the Windows programs (stdlib only)."""
import math
import struct
import zlib


def png(path, width, height, pixel):
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


def meter(cx, cy, r, x, y, angle):
    """A gauge: white arc over the top half, red needle at `angle` (radians)."""
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if dy <= 0 and r * 0.72 <= d <= r * 0.86:
        return (255, 255, 255)
    nx, ny = math.cos(angle), -math.sin(angle)
    along = dx * nx + dy * ny
    across = abs(dx * ny - dy * nx)
    if 0 <= along <= r * 0.8 and across <= max(1.2, r * 0.05):
        return (230, 40, 40)
    if d <= r * 0.1:
        return (255, 255, 255)
    return None


def icon(x, y):
    size = 64
    corner = 12
    qx = min(x, size - 1 - x)
    qy = min(y, size - 1 - y)
    if qx < corner and qy < corner and math.hypot(corner - qx, corner - qy) > corner:
        return (0, 0, 0, 0)
    m = meter(32, 40, 28, x, y, math.radians(55))
    if m:
        return (*m, 255)
    return (20, 70 + y, 150 + y // 2, 255)


def banner(x, y):
    w, h = 295, 88
    m = meter(48, 62, 44, x, y, math.radians(60))
    if m:
        return (*m, 255)
    # bar chart of readings on the right
    bars = [30, 46, 38, 58, 50, 66, 44, 60]
    for i, bh in enumerate(bars):
        left = 120 + i * 20
        if left <= x < left + 14 and h - 12 - bh <= y < h - 12:
            return (120, 200, 255, 255)
    if y == h - 12 and 112 <= x < 282:
        return (200, 220, 240, 255)
    t = x / w
    return (int(10 + 20 * t), int(40 + 40 * t), int(90 + 60 * t), 255)


def ico(path, png_path, size):
    """One PNG image in an .ico file, which Windows Vista and later read."""
    data = open(png_path, "rb").read()
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), 22))
        f.write(data)


if __name__ == "__main__":
    png("icon.png", 64, 64, icon)
    png("banner.png", 295, 88, banner)
    ico("icon.ico", "icon.png", 64)

#!/usr/bin/env python3
"""Saves the screen of an Xvfb started with -fbdir as a PNG file, once it
shows something and has stopped changing (at most TIMEOUT seconds).
   xvfb_png.py FBDIR/Xvfb_screen0 OUT.png [TIMEOUT]"""
import struct
import sys
import time
import zlib


def read_screen(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    if bits_per_pixel != 32:
        sys.exit("xvfb_png: only 32-bit screens (-screen 0 WxHx24)")
    start = header_size + 12 * ncolors
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + y * bytes_per_line + 4 * width]
        if byte_order == 0:  # LSBFirst: blue, green, red, unused
            rgb = bytearray(3 * width)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        else:
            rgb = bytearray(3 * width)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[1::4], line[2::4], line[3::4]
        rows.append(bytes(rgb))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + r for r in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main():
    screen, out = sys.argv[1], sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 60)
    last = None
    while True:
        width, height, rows = read_screen(screen)
        shows = len(set(rows)) > 1
        if (shows and rows == last) or time.monotonic() > deadline:
            break
        last = rows
        time.sleep(2)
    write_png(out, width, height, rows)
    print(f"{out}: {width}x{height}" + ("" if shows else ", empty"))
    return 0 if shows else 1


sys.exit(main())

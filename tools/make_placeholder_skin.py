#!/usr/bin/env python3
"""Writes plain placeholder artwork for the main window into app/skin/.

Every bitmap has its final size, so the window looks and behaves right until
the real artwork replaces these files. 24-bit BMP, no dependencies.
"""
import math
import os
import struct
import sys


def write_bmp(path, width, height, pixel):
    row_size = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def inside_symbol(kind, x, y):
    cx, cy = 28, 20
    if kind == "Play":
        return 22 <= x <= 36 and abs(y - cy) <= (36 - x) * 0.6  # points right
    if kind == "stop":
        return abs(x - cx) <= 7 and abs(y - cy) <= 7
    if kind == "rec":
        return math.hypot(x - cx, y - cy) <= 7.5
    return abs(abs(x - cx) - abs(y - cy)) <= 1 and abs(x - cx) <= 7


def face(kind, sunken, lit):
    def pixel(x, y):
        w, h = 57, 49
        light, dark = (235, 235, 235), (60, 60, 60)
        if sunken:
            light, dark = dark, light
        if x == 0 or y == 0:
            return light
        if x == w - 1 or y == h - 1:
            return dark
        shift = 1 if sunken else 0
        if 18 <= x - shift <= 38 and 38 <= y - shift <= 41:
            return (0, 255, 255) if lit else (0, 70, 80)
        if inside_symbol(kind, x - shift, y - shift):
            return (20, 20, 20)
        return (170, 170, 176)
    return pixel


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "app", "skin")
    os.makedirs(out, exist_ok=True)
    faces = {"Play": (1, 2, 3, 4), "stop": (1, 2, 3, 4), "rec": (1, 4), "exit": (1, 4)}
    for kind, numbers in faces.items():
        for n in numbers:
            write_bmp(os.path.join(out, f"{kind}{n}.bmp"), 57, 49, face(kind, n in (2, 4), n in (3, 4)))
    write_bmp(os.path.join(out, "Title.bmp"), 448, 20,
              lambda x, y: (0, 40 + y * 4, 120 + y * 5) if y < 19 else (0, 20, 60))
    write_bmp(os.path.join(out, "Logo.bmp"), 160, 30,
              lambda x, y: (230, 230, 240) if (x // 8 + y // 6) % 2 else (0, 79, 196))
    write_bmp(os.path.join(out, "GlyphHide.bmp"), 10, 9,
              lambda x, y: (0, 0, 0) if y >= 7 and 1 <= x <= 8 else (192, 192, 192))
    write_bmp(os.path.join(out, "GlyphClose.bmp"), 10, 9,
              lambda x, y: (0, 0, 0) if abs(x - y) <= 0 or abs((9 - x) - y) <= 0 else (192, 192, 192))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Generates the splash bitmap (res/splash.bmp) and the program icon (res/launcher.ico).

The splash is 570 x 333, 8 bits per pixel with a 256-entry colour table, uncompressed, 3779 pixels
per metre. The window draws on fixed places of it: the bar inside the track, the title at (140, 30)
and the footer line in the white band below the track, so those places must stay as laid out here.
Run it after changing the artwork and commit what it writes: the build does not run it.
"""
import math
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT = 570, 333
WHITE, FRAME, DARK, RED, ICON_GREY, TRACK, TEAL = range(7)
PALETTE = [(255, 255, 255), (209, 209, 209), (88, 88, 87), (200, 30, 40), (200, 200, 200), (222, 222, 222),
           (0, 160, 160)]


def canvas(width, height, colour=WHITE):
    return [[colour] * width for _ in range(height)]


def fill(pixels, x0, y0, x1, y1, colour):
    """Fills the inclusive rectangle x0..x1, y0..y1."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            pixels[y][x] = colour


def circle(pixels, cx, cy, radius, colour, width=2):
    for y in range(cy - radius - width, cy + radius + width + 1):
        for x in range(cx - radius - width, cx + radius + width + 1):
            if abs(math.hypot(x - cx, y - cy) - radius) < width / 2:
                pixels[y][x] = colour


def line(pixels, x0, y0, x1, y1, colour, width=2):
    steps = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(steps + 1):
        x = x0 + (x1 - x0) * i // steps
        y = y0 + (y1 - y0) * i // steps
        fill(pixels, x, y, x + width - 1, y + width - 1, colour)


def splash():
    pixels = canvas(WIDTH, HEIGHT)
    # Logo mark: a stylised Z in dark grey with a red accent, inside x 41-137, y 40-79.
    fill(pixels, 41, 40, 125, 47, DARK)
    fill(pixels, 53, 72, 137, 79, DARK)
    for y in range(48, 72):
        x = 125 - (y - 48) * 72 // 23
        fill(pixels, max(41, x - 8), y, min(137, x + 4), y, DARK)
    fill(pixels, 128, 40, 137, 49, RED)
    # Light-grey line icons in the right part, inside x 357-568, y 1-239.
    circle(pixels, 420, 70, 30, ICON_GREY)
    circle(pixels, 510, 150, 40, ICON_GREY)
    line(pixels, 370, 200, 560, 120, ICON_GREY)
    line(pixels, 380, 20, 470, 230, ICON_GREY)
    fill(pixels, 450, 30, 540, 31, ICON_GREY)
    fill(pixels, 540, 30, 541, 90, ICON_GREY)
    # The track the progress bar runs in.
    fill(pixels, 25, 262, 544, 272, TRACK)
    # The 1-pixel frame along all four edges.
    fill(pixels, 0, 0, WIDTH - 1, 0, FRAME)
    fill(pixels, 0, HEIGHT - 1, WIDTH - 1, HEIGHT - 1, FRAME)
    fill(pixels, 0, 0, 0, HEIGHT - 1, FRAME)
    fill(pixels, WIDTH - 1, 0, WIDTH - 1, HEIGHT - 1, FRAME)
    return pixels


def colour_table():
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return table + b"\0" * (1024 - len(table))


def dib_rows(pixels):
    """Bottom-up rows of 8-bit indices, each padded to four bytes."""
    width = len(pixels[0])
    pad = b"\0" * ((4 - width % 4) % 4)
    return b"".join(bytes(row) + pad for row in reversed(pixels))


def bitmap_info(width, height, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, image_size, 3779, 3779, 256, 0)


def bmp_file(pixels):
    rows = dib_rows(pixels)
    info = bitmap_info(len(pixels[0]), len(pixels), len(rows)) + colour_table()
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return header + info + rows


def icon_image(size):
    pixels = canvas(size, size, DARK)
    margin = size // 8
    fill(pixels, margin, margin, size - margin - 1, margin + size // 8, WHITE)
    fill(pixels, margin, size - margin - size // 8 - 1, size - margin - 1, size - margin - 1, WHITE)
    fill(pixels, margin, size // 2 - size // 16, size - margin - 1, size // 2 + size // 16, TEAL)
    rows = dib_rows(pixels)
    mask_stride = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_stride * size)  # every pixel opaque
    # In an icon the height counts the colour rows and the mask rows together.
    return bitmap_info(size, size * 2, len(rows) + len(mask)) + colour_table() + rows + mask


def ico_file(sizes):
    images = [icon_image(s) for s in sizes]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, image in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    return header + entries + b"".join(images)


def main():
    res = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / "res"
    (res / "splash.bmp").write_bytes(bmp_file(splash()))
    (res / "launcher.ico").write_bytes(ico_file([64, 32, 16]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the program's skin pictures (dialogs/resources/skin/*.png) at 1x and 2x device pixel ratio:
the title bar of the skinned windows, the four faces of their push buttons and the faces of the
title bar's minimise and close buttons. The PNG files are committed; run this only after changing
a drawing. Standard library only.

The colours follow the rest of the program: the navy of the tray icon and the popup, with the
popup's orange rule as the accent."""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "dialogs", "resources", "skin")
SAMPLES = 4  # supersampling per axis and device pixel

NAVY_TOP = (0x34, 0x64, 0x9E)
NAVY_BOTTOM = (0x1B, 0x2A, 0x48)
ORANGE = (0xE0, 0x8A, 0x2C)
TITLE_HEIGHT = 24  # the title bar's height; its buttons sit 3 pixels below its top
TITLE_BUTTON = 18


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def title_colour(y):
    """The title bar at height y (0 at the top): the navy gradient, the orange rule at the bottom."""
    if y >= TITLE_HEIGHT - 2:
        return ORANGE
    return mix(NAVY_TOP, NAVY_BOTTOM, max(0.0, min(1.0, y / (TITLE_HEIGHT - 2))))


def in_round_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, x1, y1, x2, y2, half_width):
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= half_width


def render(width, height, ratio, shade):
    """shade(x, y) -> (r, g, b, a) at a point in device-independent pixels (a from 0 to 1)."""
    rows = []
    for py in range(height * ratio):
        row = bytearray([0])  # filter type 0
        for px in range(width * ratio):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / ratio
                    y = (py + (sy + 0.5) / SAMPLES) / ratio
                    r, g, b, a = shade(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                colour = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                colour = [0, 0, 0]
            row += bytes(colour + [round(alpha * 255)])
        rows.append(bytes(row))
    return png(width * ratio, height * ratio, b"".join(rows))


def png(width, height, raw):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def face(width, height, border, top, bottom, radius=4.0):
    """A rounded push-button face: a one-pixel border, a vertical gradient inside."""
    def shade(x, y):
        if not in_round_rect(x, y, 0, 0, width, height, radius):
            return (0, 0, 0, 0)
        if not in_round_rect(x, y, 1, 1, width - 1, height - 1, radius - 1):
            return border + (1.0,)
        return mix(top, bottom, (y - 1) / (height - 2)) + (1.0,)
    return shade


def title_button(glyph, hover=None, pressed=False):
    """A face of the title bar's buttons: the bar's own gradient (so the normal face is the bar),
    a rounded patch when the pointer is over it or it is pressed, and the glyph in white."""
    size = TITLE_BUTTON
    offset = (TITLE_HEIGHT - 2 - size) / 2

    def shade(x, y):
        colour = title_colour(y + offset)
        if hover and in_round_rect(x, y, 0.5, 0.5, size - 0.5, size - 0.5, 3):
            colour = hover
        if glyph == "minimize":
            on = 5 <= x <= 13 and 11.5 <= y <= 13.5
        else:
            on = near_segment(x, y, 5.5, 5.5, 12.5, 12.5, 0.9) or near_segment(x, y, 12.5, 5.5, 5.5, 12.5, 0.9)
        if on:
            colour = (0xFF, 0xFF, 0xFF) if not pressed else (0xE6, 0xEC, 0xF4)
        return colour + (1.0,)
    return size, size, shade


def pictures():
    yield "titlebar", 32, TITLE_HEIGHT, lambda x, y: title_colour(y) + (1.0,)
    yield "button-normal", 24, 24, face(24, 24, (0x2E, 0x5A, 0x92), (0xF7, 0xF9, 0xFC), (0xD5, 0xDF, 0xEC))
    yield "button-over", 24, 24, face(24, 24, ORANGE, (0xFF, 0xFF, 0xFF), (0xE4, 0xEC, 0xF7))
    yield "button-down", 24, 24, face(24, 24, NAVY_BOTTOM, (0x24, 0x49, 0x7A), (0x2E, 0x5A, 0x92))
    yield "button-disabled", 24, 24, face(24, 24, (0xA9, 0xB2, 0xBF), (0xEE, 0xF0, 0xF3), (0xE3, 0xE6, 0xEA))
    for glyph in ("minimize", "close"):
        hover = (0xC0, 0x39, 0x2B) if glyph == "close" else (0x4A, 0x7B, 0xB8)
        down = (0x96, 0x28, 0x1E) if glyph == "close" else (0x1B, 0x2A, 0x48)
        yield (f"{glyph}-normal",) + title_button(glyph)
        yield (f"{glyph}-over",) + title_button(glyph, hover)
        yield (f"{glyph}-down",) + title_button(glyph, down, pressed=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, width, height, shade in pictures():
        for ratio, suffix in ((1, ""), (2, "@2x")):
            with open(os.path.join(OUT, f"{name}{suffix}.png"), "wb") as f:
                f.write(render(width, height, ratio, shade))


if __name__ == "__main__":
    main()

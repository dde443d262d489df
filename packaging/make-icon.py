#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Draws Nukrit's application icon (run from this folder): nukrit.svg and the PNG
sizes of the hicolor theme, painted from the same few shapes: three hosts on a
dark tile, the links between them and a packet on its way."""

import math
import struct
import zlib

SIZE = 64  # drawing units
TILE = (4, 4, 60, 60, 11, "#1e5bb8")  # x0, y0, x1, y1, corner radius, colour
HOSTS = [(19, 21), (46, 19), (32, 45)]
LINK = ("#8fb8f0", 3.5)
HOST = ("#ffffff", 7.0)
PACKET = ((25.5, 33.0), 4.5, "#f2c230")
PNG_SIZES = (16, 32, 48, 128, 256)


def links():
    return [(HOSTS[a], HOSTS[b]) for a, b in ((0, 1), (1, 2), (2, 0))]


def svg():
    x0, y0, x1, y1, r, c = TILE
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" viewBox="0 0 {SIZE} {SIZE}">',
             f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" rx="{r}" fill="{c}"/>']
    for (ax, ay), (bx, by) in links():
        parts.append(f'  <line x1="{ax}" y1="{ay}" x2="{bx}" y2="{by}" stroke="{LINK[0]}" '
                     f'stroke-width="{LINK[1]}" stroke-linecap="round"/>')
    for x, y in HOSTS:
        parts.append(f'  <circle cx="{x}" cy="{y}" r="{HOST[1]}" fill="{HOST[0]}"/>')
    (px, py), pr, pc = PACKET
    parts.append(f'  <circle cx="{px}" cy="{py}" r="{pr}" fill="{pc}"/>')
    parts.append('</svg>')
    return "\n".join(parts) + "\n"


def rgb(colour):
    return tuple(int(colour[i:i + 2], 16) for i in (1, 3, 5))


def segment_distance(x, y, a, b):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def colour_at(x, y):
    """The topmost shape's colour at drawing point (x, y), or None."""
    (px, py), pr, pc = PACKET
    if math.hypot(x - px, y - py) <= pr:
        return pc
    if any(math.hypot(x - hx, y - hy) <= HOST[1] for hx, hy in HOSTS):
        return HOST[0]
    if any(segment_distance(x, y, a, b) <= LINK[1] / 2 for a, b in links()):
        return LINK[0]
    x0, y0, x1, y1, r, c = TILE
    cx, cy = min(max(x, x0 + r), x1 - r), min(max(y, y0 + r), y1 - r)
    if x0 <= x <= x1 and y0 <= y <= y1 and math.hypot(x - cx, y - cy) <= r:
        return c
    return None


def png(size, samples=4):
    rows = []
    scale = SIZE / size
    for py in range(size):
        row = bytearray([0])  # filter: none
        for px in range(size):
            acc, hits = [0, 0, 0], 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) * scale, (py + (sy + 0.5) / samples) * scale)
                    if c:
                        hits += 1
                        acc = [a + v for a, v in zip(acc, rgb(c))]
            n = samples * samples
            row += bytes([a // hits for a in acc] + [255 * hits // n]) if hits else bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + \
        chunk(b"IEND", b"")


if __name__ == "__main__":
    with open("icons/nukrit.svg", "w") as f:
        f.write(svg())
    for s in PNG_SIZES:
        with open(f"icons/nukrit-{s}.png", "wb") as f:
            f.write(png(s))

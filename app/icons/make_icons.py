#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Draws the main window's tool bar icons as XPM files (run from this folder).

Each icon is painted from simple shapes on a transparent canvas of the size the
tool bar table asks for; rerun after changing a drawing."""

import math

PALETTE = {
    ' ': 'None', 'k': '#202020', 'w': '#ffffff', 'g': '#2e9e3a', 'G': '#7bd67f',
    'r': '#c62828', 'R': '#ef7a7a', 'b': '#1e5bb8', 'B': '#8fb8f0', 'y': '#f2c230',
    'o': '#e07b1a', 's': '#9e9e9e', 'S': '#d8d8d8', 'p': '#7b3fa0',
}


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[' '] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c); self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c); self.put(x1, y, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.h):
            for x in range(self.w):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def ring(self, cx, cy, r, width, c):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if r - width <= d <= r:
                    self.put(x, y, c)

    def polygon(self, pts, c):
        for y in range(self.h):
            for x in range(self.w):
                if inside(x + 0.5, y + 0.5, pts):
                    self.put(x, y, c)

    def line(self, x0, y0, x1, y1, width, c):
        for y in range(self.h):
            for x in range(self.w):
                if seg_dist(x + 0.5, y + 0.5, x0, y0, x1, y1) <= width / 2:
                    self.put(x, y, c)

    def arrow(self, x0, y0, x1, y1, width, head, c):
        ang = math.atan2(y1 - y0, x1 - x0)
        bx, by = x1 - head * math.cos(ang), y1 - head * math.sin(ang)
        self.line(x0, y0, bx, by, width, c)
        nx, ny = -math.sin(ang) * head * 0.6, math.cos(ang) * head * 0.6
        self.polygon([(x1, y1), (bx + nx, by + ny), (bx - nx, by - ny)], c)

    def xpm(self, name):
        used = sorted({c for row in self.px for c in row})
        out = ['/* XPM */', 'static const char* %s[] = {' % name,
               '"%d %d %d 1",' % (self.w, self.h, len(used))]
        out += ['"%s c %s",' % (c, PALETTE[c]) for c in used]
        out += ['"%s",' % ''.join(row) for row in self.px]
        out[-1] = out[-1].rstrip(',')
        out.append('};')
        return '\n'.join(out) + '\n'


def inside(x, y, pts):
    result = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def seg_dist(px, py, x0, y0, x1, y1):
    dx, dy = x1 - x0, y1 - y0
    t = 0 if dx == dy == 0 else max(0, min(1, ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - x0 - t * dx, py - y0 - t * dy)


def seldata():
    # A data cylinder with a wand's star: choose what to watch.
    c = Canvas(40, 40)
    c.rect(6, 12, 26, 32, 'b')
    c.disc(16, 32, 10.5, 'b')
    c.disc(16, 12, 10.5, 'B')
    c.ring(16, 12, 10.5, 1.2, 'k')
    for y in (19, 25):
        c.line(6, y, 26, y, 1, 'B')
    c.line(22, 34, 34, 14, 2.5, 'k')
    star = [(34 + 6 * math.cos(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45),
             10 + 6 * math.sin(a * math.pi / 5 - math.pi / 2) * (1 if a % 2 == 0 else 0.45)) for a in range(10)]
    c.polygon(star, 'y')
    return c


def play():
    c = Canvas(40, 40)
    c.disc(20, 20, 18, 'g')
    c.disc(20, 20, 15.5, 'G')
    c.polygon([(14, 9), (14, 31), (31, 20)], 'g')
    return c


def step1():
    c = Canvas(40, 40)
    c.disc(20, 20, 18, 'b')
    c.disc(20, 20, 15.5, 'B')
    c.polygon([(10, 10), (10, 30), (25, 20)], 'b')
    c.rect(26, 10, 30, 30, 'b')
    return c


def stop():
    c = Canvas(40, 40)
    pts = [(20 + 18 * math.cos(math.pi / 8 + k * math.pi / 4), 20 + 18 * math.sin(math.pi / 8 + k * math.pi / 4))
           for k in range(8)]
    c.polygon(pts, 'r')
    c.rect(12, 12, 27, 27, 'w')
    c.rect(14, 14, 25, 25, 'r')
    return c


def pkview():
    # A list of packets: header row and striped rows.
    c = Canvas(32, 32)
    c.rect(2, 3, 29, 28, 'w')
    c.rect(2, 3, 29, 8, 'b')
    for i, y in enumerate(range(11, 27, 4)):
        c.rect(3, y, 28, y + 2, 'S' if i % 2 else 'w')
        c.rect(4, y + 1, 8, y + 1, 'k')
        c.rect(11, y + 1, 24 - 3 * (i % 3), y + 1, 's')
    c.frame(2, 3, 29, 28, 'k')
    return c


def network():
    # Hosts and the links between them.
    c = Canvas(40, 40)
    nodes = [(8, 9), (32, 8), (20, 22), (7, 33), (33, 32)]
    for a, b in [(0, 2), (1, 2), (2, 3), (2, 4), (0, 1), (3, 4)]:
        c.line(*nodes[a], *nodes[b], 1.6, 's')
    for i, (x, y) in enumerate(nodes):
        c.disc(x, y, 5.5, 'k')
        c.disc(x, y, 4.3, 'o' if i == 2 else 'B')
    return c


def timeline():
    # Two end points' lines with packets crossing between them.
    c = Canvas(40, 36)
    c.rect(5, 1, 7, 34, 'k')
    c.rect(32, 1, 34, 34, 'k')
    c.arrow(8, 6, 31, 13, 1.6, 6, 'r')
    c.arrow(31, 17, 8, 24, 1.6, 6, 'b')
    c.arrow(8, 27, 31, 33, 1.6, 6, 'r')
    return c


def contents():
    # A page of reassembled text under a magnifying glass.
    c = Canvas(40, 40)
    c.polygon([(5, 2), (26, 2), (33, 9), (33, 37), (5, 37)], 'w')
    c.polygon([(26, 2), (26, 9), (33, 9)], 'S')
    for y in range(8, 35, 4):
        c.rect(9, y, 28 if y > 10 else 22, y + 1, 's')
    c.line(5, 2, 26, 2, 1, 'k'); c.line(26, 2, 33, 9, 1, 'k'); c.line(33, 9, 33, 37, 1, 'k')
    c.line(5, 37, 33, 37, 1, 'k'); c.line(5, 2, 5, 37, 1, 'k')
    c.ring(18, 21, 8, 2.2, 'p')
    c.line(24, 27, 31, 34, 3, 'p')
    return c


def streamview():
    # A conversation: packets flowing both ways between two ends.
    c = Canvas(40, 36)
    c.rect(1, 4, 8, 31, 'b')
    c.rect(31, 4, 38, 31, 'g')
    for y, right in ((9, True), (18, False), (27, True)):
        for x in range(11, 29, 6):
            c.rect(x, y - 2, x + 3, y + 2, 'y' if right else 'o')
        if right:
            c.polygon([(27, y - 4), (27, y + 4), (30, y)], 'k')
        else:
            c.polygon([(12, y - 4), (12, y + 4), (9, y)], 'k')
    return c


def tcpstatus():
    # States and transitions.
    c = Canvas(37, 40)
    boxes = [(4, 2, 32, 9), (1, 17, 15, 24), (21, 17, 35, 24), (9, 32, 27, 38)]
    c.arrow(14, 10, 9, 16, 1.4, 4, 'k')
    c.arrow(22, 10, 27, 16, 1.4, 4, 'k')
    c.arrow(9, 25, 15, 31, 1.4, 4, 'k')
    c.arrow(27, 25, 21, 31, 1.4, 4, 'k')
    for i, (x0, y0, x1, y1) in enumerate(boxes):
        c.rect(x0, y0, x1, y1, 'G' if i == 0 else ('R' if i == 3 else 'B'))
        c.frame(x0, y0, x1, y1, 'k')
    return c


ICONS = {'seldata': seldata, 'play': play, 'step1': step1, 'stop': stop, 'pkview': pkview,
         'network': network, 'timeline': timeline, 'contents_xpm': contents, 'streamview': streamview,
         'tcpstatus': tcpstatus}

if __name__ == '__main__':
    for name, draw in ICONS.items():
        with open(name + '.xpm', 'w') as f:
            f.write(draw().xpm(name.replace('_xpm', '') + '_xpm'))

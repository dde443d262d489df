#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Draws the time line's 24 x 24 lock and unlock tool bar icons as XPM files (run from
this folder), with the shapes and palette of the main window's icon script."""

import os
import sys

sys.dont_write_bytecode = True

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', '..', 'app', 'icons'))
from make_icons import Canvas  # noqa: E402


def padlock(open_shackle):
    c = Canvas(24, 24)
    # Shackle: a ring's upper half and two legs; open, the right leg is lifted out.
    lift = 3 if open_shackle else 0
    c.ring(12, 9 - lift, 6, 2, 'k')
    c.rect(0, 10 - lift, 23, 23, ' ')  # keep the upper half only
    c.rect(6, 9 - lift, 7, 11, 'k')
    c.rect(16, 9 - lift, 17, 11 - lift, 'k')
    # Body with a key hole.
    c.rect(3, 11, 20, 22, 'y' if not open_shackle else 'G')
    c.frame(3, 11, 20, 22, 'k')
    c.disc(11.5, 15.5, 1.8, 'k')
    c.rect(11, 16, 12, 19, 'k')
    return c


ICONS = {'lock': lambda: padlock(False), 'unlock': lambda: padlock(True)}

if __name__ == '__main__':
    for name, draw in ICONS.items():
        with open(name + '.xpm', 'w') as f:
            f.write(draw().xpm(name + '_xpm'))

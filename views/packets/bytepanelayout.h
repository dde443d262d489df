// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where the byte pane draws each character of a frame's hexadecimal image: the
// hexadecimal part (offsets, 16 bytes a row in two groups of 8) and the character
// part to its right, with the selected field's digits and bytes marked. Kept apart
// from the widget so the geometry can be checked without pixels.

#include <QString>

#include <vector>

struct ByteCell {
    enum Colour { Black, Red, Blue };
    int x;       // left edge, pixels
    int y;       // text baseline, pixels
    char ch;
    Colour colour;
};

struct BytePaneLayout {
    static constexpr int CellWidth = 8;
    static constexpr int RowHeight = 15;
    static constexpr int CharPartX = 500;
    static constexpr int ContentsWidth = 900;
    static constexpr int InitialHeight = 600;

    std::vector<ByteCell> cells;
    int rows = 0;  // highest row number started in either part

    // `hex` is the image (two digits a byte); a selection with pos < 0 marks nothing.
    static BytePaneLayout of(const QString& hex, int selPos, int selLen);
    // The contents height after drawing: it grows by one row height whenever a row
    // is started at or beyond (height / 15) - 5, and never shrinks.
    static int grownHeight(const QString& hex, int height);
};

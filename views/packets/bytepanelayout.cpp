// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/bytepanelayout.h"

#include <cstdio>

namespace {

bool printable(unsigned v) { return v >= 0x20 && v < 0x7f; }  // isprint() of the POSIX locale

unsigned hexValue(QChar c)
{
    const char l = c.toLatin1();
    if (l >= '0' && l <= '9') return unsigned(l - '0');
    if (l >= 'a' && l <= 'f') return unsigned(l - 'a' + 10);
    if (l >= 'A' && l <= 'F') return unsigned(l - 'A' + 10);
    return 0;
}

bool isBlankColumn(int k)
{
    switch (k) {
    case 9: case 12: case 15: case 18: case 21: case 24: case 27:
    case 36: case 39: case 42: case 45: case 48: case 51: case 54:
        return true;
    default:
        return false;
    }
}

// Walks the drawing order of both parts; `onRowStart(row)` sees every row that is
// started after the first, `onCell` every drawn character.
template <typename RowStart, typename Cell>
void walk(const QString& hex, int selPos, int selLen, RowStart onRowStart, Cell onCell)
{
    const int CW = BytePaneLayout::CellWidth, RH = BytePaneLayout::RowHeight;
    const bool selected = selPos >= 0;
    auto offset = [&](int row) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", unsigned(16 * (row - 1)) & 0xffffu);
        for (int c = 0; c < 4; ++c)
            onCell(ByteCell{CW * (1 + c), RH * row, text[c], ByteCell::Black});
    };

    int k = 1, row = 1;
    for (int i = 0; i < hex.size(); ++i) {
        if (k == 1) {
            offset(row);
            k = 7;
        }
        if (k == 57) {
            ++row;
            onRowStart(row);
            offset(row);
            k = 7;
        }
        if (k == 30)
            k = 34;
        if (isBlankColumn(k))
            ++k;  // a blank: nothing to draw on white
        const bool red = selected && selPos <= i && i < selPos + selLen;
        onCell(ByteCell{CW * k, RH * row, hex.at(i).toLatin1(), red ? ByteCell::Red : ByteCell::Black});
        ++k;
    }

    k = 0;
    row = 1;
    for (int j = 0; 2 * j + 1 < hex.size(); ++j) {
        const unsigned v = hexValue(hex.at(2 * j)) << 4 | hexValue(hex.at(2 * j + 1));
        const bool red = selected && selPos / 2 <= j && j < (selPos + selLen) / 2;
        onCell(ByteCell{BytePaneLayout::CharPartX + CW * k, RH * row, printable(v) ? char(v) : '.',
                        red ? ByteCell::Red : ByteCell::Blue});
        ++k;
        if (k == 8)
            k = 10;
        if (k == 18) {
            ++row;
            onRowStart(row);
            k = 0;
        }
    }
}

}  // namespace

BytePaneLayout BytePaneLayout::of(const QString& hex, int selPos, int selLen)
{
    BytePaneLayout layout;
    layout.cells.reserve(std::size_t(hex.size()) * 3 / 2 + 64);
    layout.rows = hex.isEmpty() ? 0 : 1;
    walk(
        hex, selPos, selLen, [&](int row) { layout.rows = std::max(layout.rows, row); },
        [&](const ByteCell& c) { layout.cells.push_back(c); });
    return layout;
}

int BytePaneLayout::grownHeight(const QString& hex, int height)
{
    walk(
        hex, -1, 0,
        [&](int row) {
            if (row >= height / RowHeight - 5)
                height += RowHeight;
        },
        [](const ByteCell&) {});
    return height;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Probes for drawings grabbed offscreen. Text is anti-aliased and its strokes depend
// on the face, so a colour is matched as ink laid over the paper: a pixel on the line
// from the paper's colour to the ink's, at least 40 % of the way (hue and darkness).

#include <QColor>
#include <QImage>
#include <QRect>

#include <cmath>

namespace pixels {

inline bool isDark(QRgb c) { return qGray(c) < 100; }

inline bool isInk(QRgb c, const QColor& ink, const QColor& paper = Qt::white)
{
    const int d[3] = {ink.red() - paper.red(), ink.green() - paper.green(), ink.blue() - paper.blue()};
    const int p[3] = {qRed(c) - paper.red(), qGreen(c) - paper.green(), qBlue(c) - paper.blue()};
    const int dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double cover = dd ? double(p[0] * d[0] + p[1] * d[1] + p[2] * d[2]) / dd : 0;
    if (cover < 0.4 || cover > 1.1)
        return false;
    for (int i = 0; i < 3; ++i)
        if (std::abs(p[i] - cover * d[i]) > 48)
            return false;
    return true;
}

// Whether some pixel in the rectangle is `ink` (anti-aliased) on `paper`.
inline bool hasInk(const QImage& image, const QRect& area, const QColor& ink, const QColor& paper = Qt::white)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (isInk(image.pixel(x, y), ink, paper))
                return true;
    return false;
}

// Whether every pixel in the rectangle is `paper`.
inline bool isBlank(const QImage& image, const QRect& area, const QColor& paper = Qt::white)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != paper.rgb())
                return false;
    return true;
}

}  // namespace pixels

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/linkgeometry.h"

#include "views/topology/topologymodel.h"

#include <algorithm>
#include <cmath>

LinkGeometry linkGeometry(const CLink& link)
{
    LinkGeometry g;
    const CNode* from = link.pFromNode;
    const CNode* to = link.pToNode;
    if (!from || !to)
        return g;
    g.zoom = to->fZoom < from->fZoom ? to->fZoom : from->fZoom;
    g.penWidth = std::max(1, int(g.zoom));

    g.left = from;
    g.right = to;
    if (to->centreX() < from->centreX())
        std::swap(g.left, g.right);
    int x1 = g.left->centreX(), y1 = g.left->centreY();
    int x2 = g.right->centreX(), y2 = g.right->centreY();
    if (x1 == x2 && y1 == y2)
        return g;

    // Clip at both rims.
    const float dist = std::sqrt(float(x2 - x1) * float(x2 - x1) + float(y2 - y1) * float(y2 - y1));
    const auto clip = [&](float r, int& dx, int& dy) {
        dy = int((r + 1) * float(y2 - y1) / dist);
        dx = y2 == y1 || dy == 0 ? int(r) : int(std::int64_t(x2 - x1) * dy / (y2 - y1));
    };
    int dx1, dy1, dx2, dy2;
    clip(g.left->radius(), dx1, dy1);
    clip(g.right->radius(), dx2, dy2);
    x1 += dx1;
    y1 += dy1;
    x2 -= dx2;
    y2 -= dy2;
    g.x1 = x1;
    g.y1 = y1;
    g.x2 = x2;
    g.y2 = y2;

    g.len = int(std::sqrt(float(x2 - x1) * float(x2 - x1) + float(y2 - y1) * float(y2 - y1)));
    if (g.len == 0)
        return g;  // circles touching or overlapping: nothing to draw, no area
    const float half = float(link.nWidth) * g.zoom;
    g.ox = int(half * float(y2 - y1) / float(g.len));
    g.oy = int(half * float(x2 - x1) / float(g.len));
    g.k = 2.0f * half / 3.0f;
    g.band = {QPoint(x1 + g.ox, y1 - g.oy), QPoint(x2 + g.ox, y2 - g.oy), QPoint(x2 - g.ox, y2 + g.oy),
              QPoint(x1 - g.ox, y1 + g.oy)};
    g.drawn = true;
    return g;
}

QPoint LinkGeometry::position(bool rightward, qint64 age, qint64 travel) const
{
    const qint64 dx = x2 - x1, dy = y2 - y1;
    const qint64 ox = travel > 0 ? dx * age / travel : dx;
    const qint64 oy = travel > 0 ? dy * age / travel : dy;
    return rightward ? QPoint(int(x1 + ox), int(y1 + oy)) : QPoint(int(x2 - ox), int(y2 - oy));
}

std::array<QPoint, 4> LinkGeometry::trail(bool rightward, qint64 oldestAge, qint64 travel) const
{
    const QPoint q = position(rightward, oldestAge, travel);
    if (rightward) {
        const QPoint p(x1, y1);
        return {QPoint(p.x() + ox, p.y() - oy), QPoint(q.x() + ox, q.y() - oy), QPoint(q.x() + ox / 3, q.y() - oy / 3),
                QPoint(p.x() + ox / 3, p.y() - oy / 3)};
    }
    const QPoint p(x2, y2);
    return {QPoint(p.x() - ox, p.y() + oy), QPoint(q.x() - ox, q.y() + oy), QPoint(q.x() - ox / 3, q.y() + oy / 3),
            QPoint(p.x() - ox / 3, p.y() + oy / 3)};
}

std::array<QPoint, 3> LinkGeometry::notch(bool rightward, qint64 age, qint64 travel) const
{
    const QPoint h = position(rightward, age, travel);
    const float ax = k * float(x2 - x1) / float(len);
    const float ay = k * float(y2 - y1) / float(len);
    if (rightward) {
        const QPoint tip(int(float(h.x()) + ax), int(float(h.y()) + ay));
        return {QPoint(h.x() + ox, h.y() - oy), QPoint(h.x() + ox / 3, h.y() - oy / 3),
                QPoint(tip.x() + ox, tip.y() - oy)};
    }
    const QPoint tip(int(float(h.x()) - ax), int(float(h.y()) - ay));
    return {QPoint(h.x() - ox, h.y() + oy), QPoint(h.x() - ox / 3, h.y() + oy / 3), QPoint(tip.x() - ox, tip.y() + oy)};
}

bool travelsRightward(const LinkGeometry& g, const IpAddress& source) { return g.left && g.left->address == source; }

Bars barLengths(int nSent, int nReceived, int full)
{
    Bars b;
    if (nReceived == 0) {
        b.sent = nSent > 0 ? full : 0;
    } else if (nSent == 0) {
        b.received = full;
    } else {
        const int m = std::max(nSent, nReceived);
        b.sent = int(std::int64_t(full) * nSent / m);
        b.received = int(std::int64_t(full) * nReceived / m);
    }
    return b;
}

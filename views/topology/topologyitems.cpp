// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/topology/topologyitems.h"

#include "capture/cpacket.h"

#include <QFontMetrics>
#include <QHash>
#include <QPaintEngine>
#include <QPainter>
#include <QImage>

#include <algorithm>

// How a node is drawn at its zoom: the circle's size and pen, and the font whose
// point size makes the number fit inside the circle. Fonts and metrics are costly
// to make, so an item keeps its look until the zoom changes.
struct NodeLook {
    explicit NodeLook(const CNode& node)
    {
        zoom = node.fZoom;
        g = float(node.nSize) * node.fZoom;
        s = int(g);
        p = std::max(1, int(g / 6.0f));
        number = QString::number(node.nNodeNo);
        font = QFont(QStringLiteral("courier"), 12, QFont::Normal, false);
        // A point size below 1 is no font at all: tiny circles get the smallest one.
        const int f = int(g * 5.0f / 6.0f - float(p));
        font.setPointSize(std::max(1, f));
        QFontMetrics metrics(font);
        const int m = std::max(metrics.horizontalAdvance(number), metrics.height());
        if (f < m)
            font.setPointSize(std::max(1, int(float(f) / float(m) * float(f))));
        metrics = QFontMetrics(font);
        w = metrics.horizontalAdvance(number);
        h = metrics.height();
        addressWidth = metrics.horizontalAdvance(node.strIPAddress);
        lw = metrics.horizontalAdvance(QLatin1Char('s'));
        digitWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    }
    // Width of a count in the node's fixed-pitch font.
    int countWidth(int count) const { return digitWidth * int(QString::number(count).size()); }

    float zoom;
    float g;
    int s, p;
    QString number;
    QFont font;
    int w, h;
    int addressWidth, lw, digitWidth;
};

namespace {

QPolygon polygon(const QPoint* points, int n) { return QPolygon(QList<QPoint>(points, points + n)); }

// The circle of a node: stroking a thick arc is costly, and a burst of new hosts
// draws hundreds of equal ones. Drawn once per size, pen and colour into a picture
// with a margin of `kRingMargin`, then copied (the same pixels: integer offsets, no
// antialiasing).
constexpr int kRingMargin = 4;

const QImage& ring(int diameter, int pen, const QColor& colour)
{
    // Images, not pixmaps: these outlive the application object.
    static QHash<quint64, QImage> rings;
    const bool selected = colour != QColor(Qt::black);
    const quint64 key = (quint64(quint32(diameter)) << 32) | (quint64(quint32(pen)) << 1) | quint64(selected);
    auto it = rings.find(key);
    if (it == rings.end()) {
        const int side = std::max(0, diameter) + pen + 2 * kRingMargin;
        QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setPen(QPen(colour, pen, Qt::SolidLine));
        p.drawArc(kRingMargin, kRingMargin, diameter, diameter, 0, 5760);
        it = rings.insert(key, picture);
    }
    return *it;
}

}  // namespace

CNodeItem::CNodeItem(CNode* node) : m_node(node)
{
    setZValue(1);  // nodes answer clicks before the links beneath them
    sync();
}

CNodeItem::~CNodeItem() = default;

void CNodeItem::sync()
{
    if (!m_look || m_look->zoom != m_node->fZoom)
        m_look = std::make_unique<NodeLook>(*m_node);
    const NodeLook& look = *m_look;
    QRectF bounds(0, 0, look.s + 1, look.s + 1);
    if (m_node->bShowIPAddress) {
        const int w = look.addressWidth;
        const int baseline = int(float(look.h) + look.g + 1.0f);
        bounds |= QRectF(int(look.g / 2 - float(w / 2)), baseline - look.h, w, 2 * look.h);
    }
    if (m_node->bShowStatInfo) {
        const int axis = 2 * look.h + 6;
        const int counts = std::max(look.countWidth(m_node->nSent), look.countWidth(m_node->nReceived));
        bounds |= QRectF(int(look.g), -axis - look.h, look.lw + axis + counts, axis + 2 * look.h);
    }
    bounds.adjust(-2, -2, 2, 2);
    if (bounds != m_bounds) {
        prepareGeometryChange();
        m_bounds = bounds;
    }
    const bool stat = m_node->bShowStatInfo;
    const Shown shown{m_node->fZoom, m_node->bSelected, m_node->bShowIPAddress, stat, stat ? m_node->nSent : 0,
                      stat ? m_node->nReceived : 0};
    if (!(shown == m_shown)) {
        m_shown = shown;
        update();
    }
    setPos(m_node->nX, m_node->nY);
}

QPainterPath CNodeItem::shape() const
{
    const int s = int(float(m_node->nSize) * m_node->fZoom);
    QPainterPath path;
    path.addRect(0, 0, s + 1, s + 1);
    return path;
}

void CNodeItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    const CNode& n = *m_node;
    const NodeLook& look = *m_look;
    painter->save();
    painter->translate(-pos());  // draw in canvas coordinates
    const int d = int(look.g - float(look.p));
    const QColor colour = n.bSelected ? topologycolours::kSelected : QColor(Qt::black);
    if (painter->paintEngine()->type() == QPaintEngine::Raster) {
        painter->drawImage(n.nX + look.p / 2 - kRingMargin, n.nY + look.p / 2 - kRingMargin, ring(d, look.p, colour));
    } else {  // a drawing that stays a drawing (SVG export)
        painter->setPen(QPen(colour, look.p, Qt::SolidLine));
        painter->drawArc(n.nX + look.p / 2, n.nY + look.p / 2, d, d, 0, 5760);
    }

    painter->setFont(look.font);
    painter->setPen(Qt::black);
    painter->drawText(n.nX + int(look.g / 2 - float(look.w / 2)), n.nY + int(float(look.h / 3) + look.g / 2), look.number);
    if (n.bShowIPAddress) {
        const int w = look.addressWidth;
        painter->drawText(n.nX + int(look.g / 2 - float(w / 2)), n.nY + int(float(look.h) + look.g + 1.0f),
                          n.strIPAddress);
    }
    if (n.bShowStatInfo) {
        const int bx = int(look.g + float(n.nX)), by = n.nY;
        const int lw = look.lw, h = look.h;
        const int full = 2 * h + 4, axis = 2 * h + 6;
        const Bars bars = barLengths(n.nSent, n.nReceived, full);
        painter->setPen(QPen(Qt::black, 1));
        painter->drawLine(bx + lw, by, bx + lw, by - axis);
        painter->drawLine(bx + lw, by, bx + lw + axis, by);
        painter->drawText(bx, by - 1, QStringLiteral("S"));
        painter->drawText(bx, by - h - 3, QStringLiteral("R"));
        painter->fillRect(bx + lw + 1, by - h - 2, bars.sent, h - 2, topologycolours::kSentBar);
        painter->fillRect(bx + lw + 1, by - 2 * h - 4, bars.received, h - 2, topologycolours::kReceivedBar);
        painter->drawText(bx + lw + axis, by - 1, QString::number(n.nSent));
        painter->drawText(bx + lw + axis, by - h - 3, QString::number(n.nReceived));
    }
    painter->restore();
}

CLinkItem::CLinkItem(CLink* link) : m_link(link) { sync(); }

void CLinkItem::sync()
{
    prepareGeometryChange();
    m_geometry = linkGeometry(*m_link);
    m_link->fZoom = m_geometry.zoom;
    if (!m_geometry.drawn) {
        m_band.clear();
        m_bounds = QRectF();
        return;
    }
    m_band = polygon(m_geometry.band.data(), 4);
    // Notches run a little ahead of their packets and pens have width: a margin
    // of the band's half-width keeps all of it inside the area repainted.
    const int margin = int(float(m_link->nWidth) * m_geometry.zoom) + m_geometry.penWidth + 2;
    m_bounds = QRectF(m_band.boundingRect()).adjusted(-margin, -margin, margin, margin);
}

QPainterPath CLinkItem::shape() const
{
    QPainterPath path;
    if (!m_band.isEmpty())
        path.addPolygon(m_band);
    return path;
}

void CLinkItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    const LinkGeometry& g = m_geometry;
    if (!g.drawn)
        return;
    painter->save();
    painter->setPen(QPen(m_link->bSelected ? topologycolours::kSelected : Qt::black, g.penWidth, Qt::SolidLine));
    painter->drawLine(g.x1, g.y1, g.x2, g.y2);

    const qint64 now = m_link->UpdateData(monotonicMs());
    const qint64 travel = m_link->travelTime();
    m_drewPackets = !m_link->packetList.empty();
    qint64 oldest[2] = {-1, -1};  // leftward, rightward; −1: none
    for (const LINKPACKET& p : m_link->packetList) {
        const bool right = travelsRightward(g, p.pPacket->sourceAddress());
        oldest[right] = std::max(oldest[right], now - p.tStart);
    }
    const auto fill = [&](const QPoint* points, int n, const QColor& colour) {
        painter->setPen(colour);
        painter->setBrush(colour);
        painter->drawPolygon(points, n);
    };
    if (oldest[1] >= 0)
        fill(g.trail(true, oldest[1], travel).data(), 4, topologycolours::kRightwardTrail);
    if (oldest[0] >= 0)
        fill(g.trail(false, oldest[0], travel).data(), 4, topologycolours::kLeftwardTrail);
    for (const LINKPACKET& p : m_link->packetList) {
        const bool right = travelsRightward(g, p.pPacket->sourceAddress());
        fill(g.notch(right, now - p.tStart, travel).data(), 3, topologycolours::kBackground);
    }
    painter->restore();
}

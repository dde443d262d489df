// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/payloadpanes.h"

#include "views/packets/packet.h"

#include <QPainter>
#include <QScrollBar>

#include <cstdio>

namespace {
constexpr int kBaseline0 = 20;  // row r's baseline is at 15 × r + 20

void drawCell(QPainter& painter, int x, qint64 y, char c, int left, qint64 top)
{
    painter.drawText(QPoint(x - left, int(y - top)), QString(QLatin1Char(c)));
}

// The title, where its line touches the exposed rows.
void drawTitle(QPainter& painter, const QString& title, int points, QPoint at, const QRect& exposed, int left, qint64 top)
{
    const QFont font = ContentsPane::courier(points);
    const QFontMetrics metrics(font);
    if (at.y() + metrics.descent() < top + exposed.top() || at.y() - metrics.ascent() > top + exposed.bottom())
        return;
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(at.x() - left, int(at.y() - top)), title);
}
}  // namespace

void PayloadPane::updateview(const Packet* packet)
{
    m_bytes = packet ? QByteArray::fromHex(packet->data().toLatin1()) : QByteArray();
    // A short packet after a long one must not sit below an empty screen.
    setContentsSize(m_startWidth, m_startHeight);
    grow();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

BinaryScrollView::BinaryScrollView(QWidget* parent) : PayloadPane(500, 900, parent) {}

QPoint BinaryScrollView::cellOf(int index, int digit)
{
    const int inRow = index % 16;
    const int column = (inRow < 8 ? 7 + 3 * inRow : 34 + 3 * (inRow - 8)) + digit;
    return QPoint(CellWidth * column, RowHeight * (index / 16 + 1) + kBaseline0);
}

// A row begins before each further 16 bytes; once the contents grow they are 900 wide.
void BinaryScrollView::grow()
{
    const qint64 rows = (m_bytes.size() + 15) / 16;
    const qint64 height = grownHeight(contentsHeight(), rows);
    if (height != contentsHeight())
        setContentsSize(900, height);
}

void BinaryScrollView::paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top)
{
    if (m_bytes.isEmpty())
        return;
    drawTitle(painter, QStringLiteral("Binary Form"), 18, QPoint(180, 12), exposed, left, top);
    const QFont font = courier(12);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const qint64 rows = (m_bytes.size() + 15) / 16;
    auto [first, last] = rowsTouching(font, top + exposed.top(), top + exposed.bottom(), kBaseline0);
    static const char digits[] = "0123456789abcdef";
    for (qint64 row = first; row <= std::min(last, rows); ++row) {
        const qint64 y = RowHeight * row + kBaseline0;
        char offset[8];
        std::snprintf(offset, sizeof offset, "%04x", unsigned(16 * (row - 1)) & 0xffffu);
        for (int c = 0; c < 4; ++c)
            drawCell(painter, CellWidth * (1 + c), y, offset[c], left, top);
        const int end = int(std::min<qint64>(m_bytes.size(), 16 * row));
        for (int i = int(16 * (row - 1)); i < end; ++i) {
            const auto v = static_cast<unsigned char>(m_bytes[i]);
            drawCell(painter, cellOf(i, 0).x(), y, digits[v >> 4], left, top);
            drawCell(painter, cellOf(i, 1).x(), y, digits[v & 0xf], left, top);
        }
    }
}

ASCIIScrollView::ASCIIScrollView(QWidget* parent) : PayloadPane(600, 600, parent) {}

QPoint ASCIIScrollView::cellOf(int index)
{
    const int inRow = index % 16;
    const int k = inRow < 8 ? inRow : inRow + 2;
    return QPoint(9 * k + 10, RowHeight * (index / 16 + 1) + kBaseline0);
}

// The row advances after every 16th byte, also after the last one.
void ASCIIScrollView::grow()
{
    setContentsSize(600, grownHeight(contentsHeight(), m_bytes.size() / 16 + 1));
}

void ASCIIScrollView::paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top)
{
    if (m_bytes.isEmpty())
        return;
    drawTitle(painter, QStringLiteral(" ASCII form "), 18, QPoint(50, 12), exposed, left, top);
    const QFont font = courier(12);
    painter.setFont(font);
    painter.setPen(Qt::blue);
    auto [first, last] = rowsTouching(font, top + exposed.top(), top + exposed.bottom(), kBaseline0);
    const int end = int(std::min<qint64>(m_bytes.size(), 16 * last));
    for (int i = int(16 * (first - 1)); i < end; ++i) {
        const auto v = static_cast<unsigned char>(m_bytes[i]);
        const QPoint cell = cellOf(i);
        drawCell(painter, cell.x(), cell.y(), isPrintableByte(v) ? char(v) : '.', left, top);
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/detailscrollview.h"

#include "views/packets/itemfolder.h"
#include "views/packets/packet.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

DetailScrollView::DetailScrollView(QWidget* parent) : QAbstractScrollArea(parent)
{
    m_font = QFont(QStringLiteral("courier"), 12, QFont::Normal);
    m_font.setStyleHint(QFont::TypeWriter);
    // The cells are 8 pixels apart whatever the font; a proportional substitute
    // would still overlap, so insist on a fixed-pitch face.
    if (!QFontInfo(m_font).fixedPitch()) {
        m_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        m_font.setPointSize(12);
    }
    viewport()->setBackgroundRole(QPalette::Base);
    updateScrollBars();
}

void DetailScrollView::updateview(const Packet* packet)
{
    display(packet ? packet->text() : QString(), -1, -1);
}

void DetailScrollView::updateview(const Packet* packet, const ItemFolder* folder)
{
    if (!packet) {
        display(QString(), -1, -1);
        return;
    }
    display(packet->text(), folder ? folder->pos() : -1, folder ? folder->length() : -1);
}

void DetailScrollView::clear() { display(QString(), -1, -1); }

void DetailScrollView::display(const QString& text, int pos, int len)
{
    m_text = text;
    m_pos = pos;
    m_len = len;
    m_height = BytePaneLayout::grownHeight(m_text, m_height);
    updateScrollBars();
    viewport()->update();
}

void DetailScrollView::updateScrollBars()
{
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, BytePaneLayout::ContentsWidth - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setRange(0, std::max(0, m_height - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(BytePaneLayout::RowHeight);
}

void DetailScrollView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void DetailScrollView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    painter.translate(-scroll);
    drawContents(painter, event->rect().translated(scroll));
}

void DetailScrollView::drawContents(QPainter& painter, const QRect& rect) const
{
    painter.fillRect(rect, Qt::white);
    if (m_text.isEmpty())
        return;
    painter.setFont(m_font);
    const BytePaneLayout layout = BytePaneLayout::of(m_text, m_pos, m_len);
    const int ascent = painter.fontMetrics().ascent();
    const int descent = painter.fontMetrics().descent();
    for (const ByteCell& c : layout.cells) {
        if (c.y + descent < rect.top() || c.y - ascent > rect.bottom() || c.x > rect.right() ||
            c.x + BytePaneLayout::CellWidth * 2 < rect.left())
            continue;
        switch (c.colour) {
        case ByteCell::Black: painter.setPen(Qt::black); break;
        case ByteCell::Red: painter.setPen(Qt::red); break;
        case ByteCell::Blue: painter.setPen(Qt::blue); break;
        }
        painter.drawText(QPoint(c.x, c.y), QString(QLatin1Char(c.ch)));
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/contentspane.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <climits>

ContentsPane::ContentsPane(int width, qint64 height, QWidget* parent)
    : QAbstractScrollArea(parent), m_width(width), m_height(height)
{
    viewport()->setBackgroundRole(QPalette::Base);
    updateScrollBars();
}

QFont ContentsPane::courier(int points)
{
    QFont font(QStringLiteral("courier"), points, QFont::Normal);
    font.setStyleHint(QFont::TypeWriter);
    // The cells are a fixed number of pixels apart; a proportional face would overlap.
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSize(points);
    }
    return font;
}

int ContentsPane::scrollLeft() const { return horizontalScrollBar()->value(); }
qint64 ContentsPane::scrollTop() const { return verticalScrollBar()->value(); }

void ContentsPane::setContentsSize(int width, qint64 height)
{
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    updateScrollBars();
}

qint64 ContentsPane::grownHeight(qint64 height, qint64 rowsStarted)
{
    if (rowsStarted >= 2 && rowsStarted >= height / RowHeight - 5)
        return std::max(height, RowHeight * (rowsStarted + 6));
    return height;
}

std::pair<qint64, qint64> ContentsPane::rowsTouching(const QFont& font, qint64 top, qint64 bottom, int baseline0)
{
    const QFontMetrics metrics(font);
    const qint64 first = (top - metrics.descent() - baseline0) / RowHeight;
    const qint64 last = (bottom + metrics.ascent() - baseline0) / RowHeight + 1;
    return {std::max<qint64>(1, first), last};
}

void ContentsPane::updateScrollBars()
{
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, m_width - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setRange(0, int(std::clamp<qint64>(m_height - view.height(), 0, INT_MAX)));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(RowHeight);
}

void ContentsPane::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ContentsPane::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), Qt::white);
    paintContents(painter, event->rect(), scrollLeft(), scrollTop());
}

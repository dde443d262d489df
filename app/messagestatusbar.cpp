// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/messagestatusbar.h"

#include <QEvent>
#include <QPainter>
#include <QSizeGrip>
#include <QStyleOption>

#include <algorithm>

namespace {
// The margins QStatusBar keeps around its message.
constexpr int kLeftMargin = 6;
constexpr int kRightMargin = 12;
constexpr int kGap = 2;
}  // namespace

MessageStatusBar::MessageStatusBar(QWidget* parent) : QStatusBar(parent)
{
    connect(this, &QStatusBar::messageChanged, this, &MessageStatusBar::fitMessage);
}

// From the message's left margin to the first visible permanent widget (while a
// message shows, the visible children are the permanent widgets).
int MessageStatusBar::roomBesideWidgets() const
{
    int right = width() - kRightMargin;
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !qobject_cast<const QSizeGrip*>(child))
            right = std::min(right, child->x() - kGap);
    }
    return right - kLeftMargin;
}

QRect MessageStatusBar::messageRect() const
{
    if (m_band > 0)
        return QRect(kLeftMargin, 0, width() - kLeftMargin - kRightMargin, m_band);
    return QRect(kLeftMargin, 0, std::max(0, roomBesideWidgets()), height());
}

void MessageStatusBar::fitMessage()
{
    const QString text = currentMessage();
    const QFontMetrics metrics = fontMetrics();
    int lines = 1, band = 0;
    if (!text.isEmpty() && metrics.horizontalAdvance(text) > roomBesideWidgets()) {
        const int width = std::max(1, this->width() - kLeftMargin - kRightMargin);
        const int height = metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text).height();
        lines = std::clamp((height + metrics.lineSpacing() - 1) / metrics.lineSpacing(), 1, kMaxLines);
        band = lines * metrics.lineSpacing() + 3;
    }
    if (band != m_band) {
        m_band = band;
        // The layout puts the permanent widgets below the band and the bar grows by it.
        setContentsMargins(0, band, 0, 0);
    }
    m_lines = lines;
    update();
}

bool MessageStatusBar::event(QEvent* event)
{
    const bool handled = QStatusBar::event(event);
    // A permanent widget shown, hidden or grown changes the room beside them.
    if (event->type() == QEvent::LayoutRequest)
        fitMessage();
    return handled;
}

void MessageStatusBar::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    fitMessage();
}

void MessageStatusBar::paintEvent(QPaintEvent* event)
{
    const QString text = currentMessage();
    if (text.isEmpty()) {
        QStatusBar::paintEvent(event);
        return;
    }
    QPainter p(this);
    QStyleOption opt;
    opt.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelStatusBar, &opt, &p, this);
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !qobject_cast<const QSizeGrip*>(child)) {
            opt.rect = child->geometry().adjusted(-1, -1, 1, 1);
            style()->drawPrimitive(QStyle::PE_FrameStatusBarItem, &opt, &p, child);
        }
    }
    p.setPen(palette().windowText().color());
    p.drawText(messageRect(), Qt::AlignLeading | Qt::AlignVCenter | Qt::TextWordWrap, text);
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/wraplabel.h"

#include <QResizeEvent>

WrapLabel::WrapLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setWordWrap(true);
}

QSize WrapLabel::minimumSizeHint() const
{
    QSize size = QLabel::minimumSizeHint();
    if (m_laidOutWidth > 0)
        size.setHeight(heightForWidth(m_laidOutWidth));
    return size;
}

QSize WrapLabel::sizeHint() const
{
    QSize size = QLabel::sizeHint();
    if (m_laidOutWidth > 0)
        size.setHeight(std::max(size.height(), heightForWidth(m_laidOutWidth)));
    return size;
}

void WrapLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    if (event->size().width() != m_laidOutWidth) {
        m_laidOutWidth = event->size().width();
        updateGeometry();  // the layout asks again, and the window grows if it must
    }
}

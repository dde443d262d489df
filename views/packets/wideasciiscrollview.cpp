// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/wideasciiscrollview.h"

#include "views/common/savefile.h"
#include "views/common/viewprompts.h"
#include "views/packets/payloadpanes.h"

#include <QAction>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace {
constexpr int kBaseline0 = 20;
}

WideASCIIScrollView::WideASCIIScrollView(bool sorted, bool forward, QWidget* parent)
    : ContentsPane(600, 600, parent), m_sorted(sorted), m_forward(forward)
{
    m_save = new QAction(QStringLiteral("Save Bytes As..."), this);
    m_save->setEnabled(false);
    connect(m_save, &QAction::triggered, this, &WideASCIIScrollView::saveBytesAs);
    addAction(m_save);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

QPoint WideASCIIScrollView::cellOf(std::uint64_t index)
{
    return QPoint(9 * int(index % WideText::RowBytes) + 10,
                  int(RowHeight * qint64(index / WideText::RowBytes + 1) + kBaseline0));
}

int WideASCIIScrollView::rowFittingWidth() const
{
    const int row = cellOf(WideText::RowBytes - 1).x() + 9 + cellOf(0).x();
    return std::max(row, contentsWidth()) + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) +
           2 * frameWidth();
}

void WideASCIIScrollView::updateview(const Connection* connection)
{
    m_text.clear();
    if (connection)
        m_text.showLive(*connection);
    shown();
}

void WideASCIIScrollView::updateSortedView(const Connection* connection)
{
    if (connection)
        showRuns(connection->reassembled(m_forward));
    else
        clearLstText();
}

void WideASCIIScrollView::showRuns(const std::vector<ByteRun>& runs)
{
    m_text.showRuns(runs, m_forward ? ColoredText::Red : ColoredText::Blue);
    shown();
}

void WideASCIIScrollView::clearLstText()
{
    m_text.clear();
    shown();
}

void WideASCIIScrollView::scrollToByte(std::uint64_t index)
{
    const qint64 top = qint64(index / WideText::RowBytes) * RowHeight;
    verticalScrollBar()->setValue(int(std::clamp<qint64>(top, 0, verticalScrollBar()->maximum())));
}

void WideASCIIScrollView::shown()
{
    setContentsSize(600, grownHeight(contentsHeight(), qint64(m_text.rowsStarted())));
    m_save->setEnabled(!m_text.isEmpty());
    viewport()->update();
}

void WideASCIIScrollView::paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top)
{
    if (m_text.isEmpty())
        return;
    const QFont title = courier(14);
    const QFont font = courier(12);
    if (top + exposed.top() <= 12 + QFontMetrics(title).descent()) {
        painter.setFont(title);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(20 - left, int(12 - top)),
                         m_sorted ? QStringLiteral("Reconstructed ASCII form") : QStringLiteral("ASCII form "));
    }
    painter.setFont(font);
    const auto [first, last] = rowsTouching(font, top + exposed.top(), top + exposed.bottom(), kBaseline0);
    const QColor colours[] = {Qt::red, Qt::blue, Qt::black};
    const QColor fixed = m_forward ? Qt::red : Qt::blue;
    int pen = -1;
    std::uint64_t index = std::uint64_t(first - 1) * WideText::RowBytes;
    m_text.forEach(index, std::uint64_t(last) * WideText::RowBytes, [&](unsigned char byte, ColoredText::Colour colour) {
        if (pen != colour) {
            pen = colour;
            painter.setPen(m_sorted ? fixed : colours[colour]);
        }
        const QPoint cell = cellOf(index % WideText::RowBytes);  // x only; the row below
        const qint64 baseline = RowHeight * qint64(index / WideText::RowBytes + 1) + kBaseline0;
        painter.drawText(QPoint(cell.x() - left, int(baseline - top)), QString(QLatin1Char(isPrintableByte(byte) ? char(byte) : '.')));
        ++index;
    });
}

void WideASCIIScrollView::saveBytesAs()
{
    const QString name = viewui::getSaveFileName(this, QStringLiteral("Save Bytes As"), QString(), QString());
    if (name.isEmpty())
        return;
    QString error;
    if (!saveUserFile(name, m_text.bytes(), &error))
        viewui::warning(this, QStringLiteral("Warning"), error);
}

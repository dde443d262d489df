// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/timeline/linescrollview.h"

#include "views/common/widestaddress.h"
#include "capture/cpacket.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>

#include <algorithm>

namespace {
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kGreen(5, 155, 0);
// The longest line label, to know how far left of the view a label may start.
QString widestLabel(const QFontMetrics& metrics) { return widestIPv6Address(metrics) + QStringLiteral("  <65535> "); }

// The line labels as they stand at the top of the contents, kept over the top of the
// viewport however far it scrolls down; sideways it follows the contents.
class TimeLineHeader : public QWidget {
public:
    explicit TimeLineHeader(LineScrollView* view) : QWidget(view), m_view(view)
    {
        setObjectName(QStringLiteral("timeLineHeader"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const QPoint origin = m_view->contentsOrigin();
        QPainter p(this);
        p.setFont(m_view->viewport()->font());
        p.fillRect(rect(), Qt::white);
        const int labelWidth = p.fontMetrics().horizontalAdvance(widestLabel(p.fontMetrics()));
        const TimeLineFrame frame = m_view->model().frame(0, -1, origin.x() - labelWidth, origin.x() + width() + 40);
        p.setPen(QPen(kNavy, 0, Qt::SolidLine));
        // Lines start 50 pixels down the contents and, once scrolled, just below the
        // labels, never through them.
        const int lineTop = std::max(20 + p.fontMetrics().descent() + 2, 50 - origin.y());
        for (std::size_t k = 0; k < frame.labels.size(); ++k) {
            const int x = frame.lineSpacing * (frame.firstLine + int(k)) - origin.x();
            p.drawText(x + 10, 20, frame.labels[k]);
            if (lineTop < height())
                p.drawLine(x + 50, lineTop, x + 50, height() - 1);
        }
        if (origin.y() > 0) {
            p.setPen(Qt::lightGray);
            p.drawLine(0, height() - 1, width() - 1, height() - 1);
        }
    }

private:
    LineScrollView* m_view;
};
}  // namespace

const QColor LineScrollView::kMarkedColour(220, 0, 0);

TimeLineTextColumns TimeLineTextColumns::forFont(const QFontMetrics& metrics)
{
    TimeLineTextColumns c;
    const int numberEnd = c.number + metrics.horizontalAdvance(QStringLiteral("88888888")) + metrics.averageCharWidth();
    const int tcpShift = std::max(0, numberEnd - c.tcpNames);
    const int udpShift = std::max(0, numberEnd - c.udpLength);
    c.tcpNames += tcpShift;
    c.tcpValues += tcpShift;
    c.udpLength += udpShift;
    c.udpData += udpShift;
    c.udpValues += udpShift;
    return c;
}

LineScrollView::LineScrollView(QWidget* parent, const char* name)
    : QAbstractScrollArea(parent), m_model(std::make_unique<TimeLineModel>())
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    // Every paint fills what it exposes.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // The texts' places are laid out for 12-pixel text (rows 15 pixels apart, values
    // 80 pixels right of their names): a 12-point font on a 96 dpi screen would overlap.
    QFont drawingFont = font();
    drawingFont.setPixelSize(12);
    viewport()->setFont(drawingFont);
    m_header = new TimeLineHeader(this);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &LineScrollView::userScrolled);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &LineScrollView::userScrolledSideways);
    m_fixTimer.setSingleShot(true);
    m_fixTimer.setInterval(500);
    connect(&m_fixTimer, &QTimer::timeout, this, &LineScrollView::fixView);
    myInitiate();
}

LineScrollView::~LineScrollView() = default;

void LineScrollView::myInitiate()
{
    m_model->myInitiate();
    m_marked = 0;
    m_follow = m_followSideways = true;
    updateScrollBars(m_model->grow());
    viewport()->update();
    m_header->update();
}

void LineScrollView::myAdd(CPacket* packet) { m_model->myAdd(*packet); }

void LineScrollView::myUpdate()
{
    if (!m_model->isPending())
        return;
    updateScrollBars(m_model->grow());
    followNewest();
    viewport()->update();
    m_header->update();
}

void LineScrollView::setHostList(const std::vector<HostTimeLine>& list)
{
    m_model->setHostList(list);
    updateScrollBars(m_model->grow());
    followNewest();
    viewport()->update();
    m_header->update();
}

int LineScrollView::newestBottom() const
{
    const std::size_t records = m_model->recordCount();
    return records ? m_model->record(records - 1).y2 + 50 : 0;
}

// Like the packet list: the newest arrow stays in sight while the user has not
// scrolled away from it.
// Sideways it moves only when the arrow is wholly out of sight and the user has not
// scrolled sideways since the view last took up following.
void LineScrollView::followNewest()
{
    if (!m_follow)
        return;
    m_scrolling = true;
    const auto done = qScopeGuard([this] { m_scrolling = false; });
    const int target = newestBottom() - viewport()->height();
    if (target > verticalScrollBar()->value())
        verticalScrollBar()->setValue(target);
    const std::size_t records = m_model->recordCount();
    if (!m_followSideways || records == 0)
        return;
    const theTimeLines& r = m_model->record(records - 1);
    const int left = std::min(r.x1, r.x2), right = std::max(r.x1, r.x2);
    const int shown = horizontalScrollBar()->value();
    if (right < shown || left > shown + viewport()->width())
        horizontalScrollBar()->setValue(left - TimeLineModel::kFirstLineX);
}

void LineScrollView::userScrolled()
{
    if (m_scrolling)
        return;
    // Back at the newest arrow (or at the end) the view follows again.
    const int bottom = verticalScrollBar()->value() + viewport()->height();
    const bool follow = bottom >= newestBottom() || verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    if (follow && !m_follow)
        m_followSideways = true;
    m_follow = follow;
}

void LineScrollView::userScrolledSideways()
{
    if (!m_scrolling)
        m_followSideways = false;
}

void LineScrollView::markPacket(std::uint32_t capture)
{
    if (capture == m_marked)
        return;
    m_marked = capture;
    viewport()->update();
}

bool LineScrollView::showPacket(std::uint32_t capture)
{
    const std::ptrdiff_t index = m_model->recordOfPacket(capture);
    if (index < 0)
        return false;
    markPacket(capture);
    updateScrollBars(m_model->grow());
    const theTimeLines r = m_model->record(std::size_t(index));
    // Looking at an older arrow: the view stops following the newest.
    m_scrolling = true;
    const auto done = qScopeGuard([this] { m_scrolling = false; });
    const int top = verticalScrollBar()->value(), height = viewport()->height();
    if (r.y1 - kHeaderHeight - 20 < top || r.y2 + 30 > top + height) {
        verticalScrollBar()->setValue((r.y1 + r.y2) / 2 - height / 2);
        m_follow = false;
    }
    const int left = std::min(r.x1, r.x2), right = std::max(r.x1, r.x2);
    const int shown = horizontalScrollBar()->value(), width = viewport()->width();
    if (left < shown || right > shown + width)
        horizontalScrollBar()->setValue(left - TimeLineModel::kFirstLineX);
    return true;
}

void LineScrollView::mousePressEvent(QMouseEvent* event)
{
    const std::uint32_t capture = m_model->packetNear(event->position().toPoint() + contentsOrigin(), kPickReach);
    if (capture == 0)
        return;
    markPacket(capture);
    emit arrowChosen(capture);
}

void LineScrollView::fixView() { m_model->fixView(m_drawnChanges); }

QPoint LineScrollView::contentsOrigin() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void LineScrollView::updateScrollBars(QSize contents)
{
    // A range that shrinks moves the bar: not the user's doing.
    m_scrolling = true;
    const auto done = qScopeGuard([this] { m_scrolling = false; });
    m_scrollContents = contents;
    const QSize page = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, contents.width() - page.width()));
    horizontalScrollBar()->setPageStep(page.width());
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setRange(0, std::max(0, contents.height() - page.height()));
    verticalScrollBar()->setPageStep(page.height());
    verticalScrollBar()->setSingleStep(20);
}

void LineScrollView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const QRect port = viewport()->geometry();
    m_header->setGeometry(port.x(), port.y(), port.width(), std::min(kHeaderHeight, port.height()));
    m_header->raise();
    updateScrollBars(m_model->contentsSize());
}

void LineScrollView::scrollContentsBy(int dx, int dy)
{
    viewport()->scroll(dx, dy);
    m_header->update();
}

void LineScrollView::paintEvent(QPaintEvent* event)
{
    // A drawing grows the contents even when no refresh step follows the last packets
    // (the capture stopped); the scroll bars change once the paint is over.
    if (m_model->grow() != m_scrollContents)
        QMetaObject::invokeMethod(this, [this] { updateScrollBars(m_model->contentsSize()); }, Qt::QueuedConnection);
    const QPoint origin = contentsOrigin();
    const QRect area = event->rect().translated(origin);
    // A record's texts stay within its own 70 pixels but for the font's reach; a
    // line's label starts 40 pixels left of it.
    const QFontMetrics metrics = viewport()->fontMetrics();
    const int margin = 2 * metrics.height() + 20;
    const int labelWidth = metrics.horizontalAdvance(widestLabel(metrics));
    // Only a paint of the whole viewport shows every change: a strip exposed by
    // scrolling leaves the rest as it was. The header covers the viewport's top, so
    // paints leave that out.
    if (event->rect().contains(viewport()->rect().adjusted(0, m_header->height(), 0, 0)))
        m_drawnChanges = m_model->changeCount();
    const TimeLineFrame frame =
        m_model->frame(area.top() - margin, area.bottom() + margin, area.left() - labelWidth, area.right() + 40);
    QPainter painter(viewport());
    drawView(&painter, frame, area, origin, m_marked);
    m_fixTimer.start();
}

void LineScrollView::drawView(QPainter* p, const TimeLineFrame& frame, const QRect& area, QPoint origin,
                              std::uint32_t marked)
{
    const int ox = origin.x(), oy = origin.y();
    p->fillRect(area.translated(-origin), Qt::white);

    // Lines, only the exposed part of each.
    p->setPen(QPen(kNavy, 0, Qt::SolidLine));
    const int lineTop = std::max(50, area.top()), lineBottom = std::min(frame.contents.height() - 50, area.bottom());
    for (std::size_t k = 0; k < frame.labels.size(); ++k) {
        const int x = frame.lineSpacing * (frame.firstLine + int(k));
        p->drawText(x + 10 - ox, 20 - oy, frame.labels[k]);
        if (lineTop <= lineBottom)
            p->drawLine(x + 50 - ox, lineTop - oy, x + 50 - ox, lineBottom - oy);
    }

    const TimeLineTextColumns c = TimeLineTextColumns::forFont(p->fontMetrics());
    const QPen solid(Qt::black, 1, Qt::SolidLine), dashed(Qt::black, 1, Qt::DashLine);
    for (const theTimeLines& r : frame.records) {
        const int xl = std::min(r.x1, r.x2) - ox;
        const int ym = (r.y1 + r.y2) / 2 - oy;
        p->setPen(Qt::black);
        p->drawText(xl + 15, ym - 10, QStringLiteral("*"));
        p->drawText(xl + c.number, ym - 10, QString::number(r.number));
        if (r.tcp) {
            p->setPen(kTeal);
            p->drawText(xl + 20, ym + 5, QStringLiteral("TCP"));
            if (r.syn)
                p->drawText(xl + 20, ym + 20, QStringLiteral("SYN"));
            else if (r.fin)
                p->drawText(xl + 20, ym + 20, QStringLiteral("FIN"));
            p->setPen(Qt::black);
            p->drawText(xl + c.tcpNames, ym - 10, QStringLiteral("Seqence No: "));
            p->drawText(xl + c.tcpNames, ym + 5, QStringLiteral("Ack No: "));
            p->drawText(xl + c.tcpNames, ym + 20, QStringLiteral("Data Bytes: "));
            p->setPen(kGreen);
            p->drawText(xl + c.tcpValues, ym - 10, QString::number(r.value1));
            p->drawText(xl + c.tcpValues, ym + 5, QString::number(r.value2));
            p->drawText(xl + c.tcpValues, ym + 20, QString::number(r.payloadSize));
            p->setPen(solid);
        } else {
            p->setPen(Qt::blue);
            p->drawText(xl + 5, ym + 5, QStringLiteral("UDP"));
            p->setPen(Qt::black);
            p->drawText(xl + c.udpLength, ym - 10, QStringLiteral("Packet Length: "));
            p->drawText(xl + c.udpData, ym + 5, QStringLiteral(" Data Bytes: "));
            p->setPen(kGreen);
            p->drawText(xl + c.udpValues, ym - 10, QString::number(r.value1));
            p->drawText(xl + c.udpValues, ym + 5, QString::number(r.payloadSize));
            p->setPen(dashed);
        }
        if (marked != 0 && r.capture == marked) {
            QPen pen = p->pen();
            pen.setColor(kMarkedColour);
            pen.setWidth(3);
            p->setPen(pen);
        }
        drawArrowLine(p, r.x1 - ox, r.y1 - oy, r.x2 - ox, r.y2 - oy, int(r.angle));
    }
}

void LineScrollView::drawArrowLine(QPainter* p, int x1, int y1, int x2, int y2, int angle)
{
    p->drawLine(x1, y1, x2, y2);
    p->save();
    p->translate(x2, y2);
    p->rotate(angle);
    p->drawLine(0, 0, -5, -15);
    p->drawLine(0, 0, 5, -15);
    p->restore();
}

#include "views/timeline/linescrollview.h"

#include "capture/cpacket.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kGreen(5, 155, 0);
}  // namespace

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
    m_fixTimer.setSingleShot(true);
    m_fixTimer.setInterval(500);
    connect(&m_fixTimer, &QTimer::timeout, this, &LineScrollView::fixView);
    myInitiate();
}

LineScrollView::~LineScrollView() = default;

void LineScrollView::myInitiate()
{
    m_model->myInitiate();
    updateScrollBars(m_model->grow());
    viewport()->update();
}

void LineScrollView::myAdd(CPacket* packet) { m_model->myAdd(*packet); }

void LineScrollView::myUpdate()
{
    if (!m_model->isPending())
        return;
    updateScrollBars(m_model->grow());
    viewport()->update();
}

void LineScrollView::setHostList(const std::vector<HostTimeLine>& list)
{
    m_model->setHostList(list);
    updateScrollBars(m_model->grow());
    viewport()->update();
}

void LineScrollView::fixView() { m_model->fixView(m_drawnChanges); }

QPoint LineScrollView::contentsOrigin() const
{
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void LineScrollView::updateScrollBars(QSize contents)
{
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
    updateScrollBars(m_model->contentsSize());
}

void LineScrollView::scrollContentsBy(int dx, int dy) { viewport()->scroll(dx, dy); }

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
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("255.255.255.255  <65535> "));
    // Only a paint of the whole viewport shows every change: a strip exposed by
    // scrolling leaves the rest as it was.
    if (event->rect().contains(viewport()->rect()))
        m_drawnChanges = m_model->changeCount();
    const TimeLineFrame frame =
        m_model->frame(area.top() - margin, area.bottom() + margin, area.left() - labelWidth, area.right() + 40);
    QPainter painter(viewport());
    drawView(&painter, frame, area, origin);
    m_fixTimer.start();
}

void LineScrollView::drawView(QPainter* p, const TimeLineFrame& frame, const QRect& area, QPoint origin)
{
    const int ox = origin.x(), oy = origin.y();
    p->fillRect(area.translated(-origin), Qt::white);

    // Lines, only the exposed part of each.
    p->setPen(QPen(kNavy, 0, Qt::SolidLine));
    const int lineTop = std::max(50, area.top()), lineBottom = std::min(frame.contents.height() - 50, area.bottom());
    for (std::size_t k = 0; k < frame.labels.size(); ++k) {
        const int x = TimeLineModel::kLineSpacing * (frame.firstLine + int(k));
        p->drawText(x + 10 - ox, 20 - oy, frame.labels[k]);
        if (lineTop <= lineBottom)
            p->drawLine(x + 50 - ox, lineTop - oy, x + 50 - ox, lineBottom - oy);
    }

    const QPen solid(Qt::black, 1, Qt::SolidLine), dashed(Qt::black, 1, Qt::DashLine);
    for (const theTimeLines& r : frame.records) {
        const int xl = std::min(r.x1, r.x2) - ox;
        const int ym = (r.y1 + r.y2) / 2 - oy;
        p->setPen(Qt::black);
        p->drawText(xl + 15, ym - 10, QStringLiteral("*"));
        p->drawText(xl + 25, ym - 10, QString::number(r.number));
        if (r.tcp) {
            p->setPen(kTeal);
            p->drawText(xl + 20, ym + 5, QStringLiteral("TCP"));
            if (r.syn)
                p->drawText(xl + 20, ym + 20, QStringLiteral("SYN"));
            else if (r.fin)
                p->drawText(xl + 20, ym + 20, QStringLiteral("FIN"));
            p->setPen(Qt::black);
            p->drawText(xl + 70, ym - 10, QStringLiteral("Seqence No: "));
            p->drawText(xl + 70, ym + 5, QStringLiteral("Ack No: "));
            p->drawText(xl + 70, ym + 20, QStringLiteral("Data Bytes: "));
            p->setPen(kGreen);
            p->drawText(xl + 150, ym - 10, QString::number(r.value1));
            p->drawText(xl + 150, ym + 5, QString::number(r.value2));
            p->drawText(xl + 150, ym + 20, QString::number(r.payloadSize));
            p->setPen(solid);
        } else {
            p->setPen(Qt::blue);
            p->drawText(xl + 5, ym + 5, QStringLiteral("UDP"));
            p->setPen(Qt::black);
            p->drawText(xl + 60, ym - 10, QStringLiteral("Packet Length: "));
            p->drawText(xl + 70, ym + 5, QStringLiteral(" Data Bytes: "));
            p->setPen(kGreen);
            p->drawText(xl + 150, ym - 10, QString::number(r.value1));
            p->drawText(xl + 150, ym + 5, QString::number(r.payloadSize));
            p->setPen(dashed);
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

// SPDX-License-Identifier: GPL-2.0-or-later
// The time line window offscreen: packets fed from a reader thread, pixels at known
// points of the drawing, lock/unlock/clear numbering, the host filter dialog and an
// export read back, the label header and following the newest arrow.

#include "common/pixels.h"
#include "packets/packetfixtures.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "views/common/viewprompts.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/newtimeline.h"
#include "views/timeline/timelinefilter.h"

#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>

namespace {
using pixels::hasInk, pixels::isBlank, pixels::isDark;
const QColor kNavy(0, 0, 128), kTeal(0, 128, 128), kGreen(5, 155, 0);

// Whether the pixel at (x, y) or one next to it is dark.
bool darkNear(const QImage& image, double x, double y)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (isDark(image.pixel(int(std::lround(x)) + dx, int(std::lround(y)) + dy)))
                return true;
    return false;
}

// Of the pixel columns a line crosses from a to b (a.x < b.x), the share in percent
// with a dark pixel on or next to the line.
int darkColumns(const QImage& image, QPoint a, QPoint b)
{
    int dark = 0;
    for (int x = a.x(); x <= b.x(); ++x) {
        const int y = int(std::lround(a.y() + double(x - a.x()) * (b.y() - a.y()) / (b.x() - a.x())));
        dark += isDark(image.pixel(x, y - 1)) || isDark(image.pixel(x, y)) || isDark(image.pixel(x, y + 1)) ? 1 : 0;
    }
    return dark * 100 / (b.x() - a.x() + 1);
}

using viewtest::menuEntry;

// Runs `answer` on the next modal dialog once it is shown.
void whenModal(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, [answer] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        answer(QApplication::activeModalWidget());
    });
}
}  // namespace

class TestTimeLineView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_trace = fixtures::readTrace(QStringLiteral(NUK_TEST_DATA "/timeline/conversation.pcap"));
        QCOMPARE(m_trace.size(), std::size_t(29));
        QApplication::setFont(QFont(QStringLiteral("helvetica"), 12, QFont::Normal, false));  // as nuk sets it
    }
    void drawingAtKnownPoints();
    void numberingAcrossLockUnlockClear();
    void hostFilterDialogAndExport();
    void headerFollowingAndWideNumbers();
    void ipv6LabelsStayApart();

private:
    void feed(NewTimeLine& view, std::size_t from, std::size_t count) { viewtest::feed(view, m_trace, from, from + count); }
    std::vector<fixtures::TracePacket> m_trace;
};

// The first arrow (a SYN) from line 0 to line 1, its labels in their colours, and
// further down a dashed UDP arrow; afterwards the view scrolls to the last record.
// No refresh step here: a drawing grows the contents by itself.
void TestTimeLineView::drawingAtKnownPoints()
{
    NewTimeLine w;
    w.InitiateView();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    feed(w, 0, 29);
    LineScrollView* view = w.drawing();
    QImage image = view->viewport()->grab().toImage();
    QTRY_COMPARE(view->verticalScrollBar()->maximum(), 2140 - view->viewport()->height());
    QCOMPARE(view->horizontalScrollBar()->maximum(), 2100 - view->viewport()->width());

    QVERIFY(hasInk(image, QRect(10, 5, 120, 16), kNavy));     // line 0's label
    QCOMPARE(image.pixelColor(50, 55), kNavy);                   // line 0 above the first arrow
    QCOMPARE(image.pixelColor(300, 52), kNavy);                  // line 1
    QVERIFY(hasInk(image, QRect(70, 83, 30, 14), kTeal));      // "TCP" at (70, 100)
    QVERIFY(hasInk(image, QRect(70, 98, 30, 14), kTeal));      // "SYN" at (70, 115)
    const TimeLineTextColumns c = TimeLineTextColumns::forFont(view->viewport()->fontMetrics());
    QVERIFY(hasInk(image, QRect(50 + c.tcpValues, 70, 90, 14), kGreen));  // the sequence number at y 85
    QVERIFY(isBlank(image, QRect(50 + c.tcpValues - 8, 72, 7, 14)));         // "Seqence No: " ends before it
    QCOMPARE(darkColumns(image, {50, 60}, {300, 130}), 100);      // solid
    // The head: from (300, 130) back along -74 degrees, strokes to (-5,-15) and (5,-15).
    for (const QPointF tip : {QPointF(-5, -15), QPointF(5, -15)}) {
        const double a = qDegreesToRadians(-74.0);
        const QPointF end(tip.x() * std::cos(a) - tip.y() * std::sin(a), tip.x() * std::sin(a) + tip.y() * std::cos(a));
        QVERIFY(darkNear(image, 300 + end.x() * 0.7, 130 + end.y() * 0.7));
    }

    // Packet 27 is the first UDP one: line 6 to line 7, from y 1880.
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    image = view->viewport()->grab().toImage();
    const QPoint o = view->contentsOrigin();
    QVERIFY(o.x() < 1550 && o.y() < 1880);
    const int dark = darkColumns(image, QPoint(1550, 1880) - o, QPoint(1800, 1950) - o);
    QVERIFY2(dark > 40 && dark < 90, qPrintable(QString::number(dark)));  // dashed
    QVERIFY(hasInk(image, QRect(QPoint(1555, 1920 - 13) - o, QSize(30, 14)), QColor(Qt::blue)));  // "UDP"
    QVERIFY(isBlank(image, QRect(QPoint(1550 + c.udpValues - 8, 1892) - o, QSize(7, 14))));  // "Packet Length: " before its value
    QCOMPARE(image.pixelColor(QPoint(1550, 2080) - o), kNavy);  // line 6 ends 50 above the bottom
    QCOMPARE(image.pixelColor(QPoint(1550, 2100) - o), QColor(Qt::white));
}

void TestTimeLineView::numberingAcrossLockUnlockClear()
{
    NewTimeLine w;
    w.InitiateView();
    TimeLineModel& model = w.drawing()->model();
    feed(w, 0, 3);
    QAction* lock = menuEntry(w, NewTimeLine::IdLock);
    lock->trigger();
    feed(w, 3, 4);  // never seen, never numbered
    menuEntry(w, NewTimeLine::IdUnlock)->trigger();
    feed(w, 7, 1);
    QCOMPARE(model.packetCount(), 4);
    QCOMPARE(model.record(3).number, 4);
    QCOMPARE(model.record(3).y1, 60 + 3 * 70);

    lock->trigger();
    menuEntry(w, NewTimeLine::IdClear)->trigger();  // also unlocks
    QVERIFY(!w.isLocked());
    QCOMPARE(model.recordCount(), std::size_t(0));
    feed(w, 0, 1);
    QCOMPARE(model.record(0).number, 1);

    // Repaint pacing: a strip exposed by scrolling does not show every change; a tick
    // repaints the whole while something is pending, and the flag goes 500 ms later.
    QCoreApplication::processEvents();
    feed(w, 1, 1);
    w.drawing()->viewport()->repaint(0, 0, 10, 10);
    QTest::qWait(600);
    QVERIFY(model.isPending());
    w.UpdateView();
    QTRY_VERIFY(!model.isPending());
}

// Ok applies the rows in the order typed and redraws the packets already taken; the
// dialog opens with that filter and Cancel leaves it in force; an export draws only
// the lines its arrows use; Clear View drops the filter.
void TestTimeLineView::hostFilterDialogAndExport()
{
    NewTimeLine w;
    w.InitiateView();
    feed(w, 0, 29);
    TimeLineModel& model = w.drawing()->model();
    const std::vector<std::pair<QString, QString>> rows{{"10.99.0.2", "80"}, {"10.99.0.10", "1"}, {"10.99.0.1", "40001"}};
    std::vector<HostTimeLine> expected;
    for (const auto& [address, port] : rows)
        expected.emplace_back(address, port);
    whenModal([&](QWidget* dialog) {
        auto* filter = qobject_cast<TimeLineFilter*>(dialog);
        QVERIFY(filter);
        QCOMPARE(filter->hostList()->topLevelItemCount(), 0);
        for (const auto& [address, port] : rows) {
            QTest::keyClicks(filter->addressEdit(), address);
            QTest::keyClicks(filter->portEdit(), port);
            QTest::mouseClick(filter->findChild<QPushButton*>(QStringLiteral("addOne")), Qt::LeftButton);
        }
        QTest::mouseClick(filter->findChild<QPushButton*>(QStringLiteral("commit")), Qt::LeftButton);
    });
    menuEntry(w, NewTimeLine::IdFilter)->trigger();
    QVERIFY(model.isFixed());
    QCOMPARE(model.lines(), expected);
    QCOMPARE(model.packetCount(), 29);
    QCOMPARE(model.recordCount(), std::size_t(12));  // packets 1-12, between lines 0 and 2

    whenModal([&](QWidget* dialog) {
        auto* filter = qobject_cast<TimeLineFilter*>(dialog);
        QCOMPARE(filter->GetHostAddr(), expected);
        QCOMPARE(filter->hostList()->topLevelItem(1)->text(0), QStringLiteral("10.99.0.10"));
        delete filter->hostList()->topLevelItem(0);
        QTest::mouseClick(filter->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
    });
    menuEntry(w, NewTimeLine::IdFilter)->trigger();
    QCOMPARE(model.lines(), expected);
    QCOMPARE(model.recordCount(), std::size_t(12));

    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("export.png"));
    viewui::setSaveFileHandler([&](QWidget*, const QString&, const QString&, const QString&, QString*) { return png; });
    menuEntry(w, NewTimeLine::IdExport)->trigger();
    viewui::setSaveFileHandler({});
    QCOMPARE(QImage(png).size(), QSize(2 * 250 + 100, 60 + 12 * 70 + 50));  // not the unused 10.99.0.10

    menuEntry(w, NewTimeLine::IdClear)->trigger();
    QVERIFY(!model.isFixed());
}

// The labels stay over the scrolled drawing; the view follows the newest arrow until
// the user scrolls away, and again once back at it; 8-digit numbers stay clear.
void TestTimeLineView::headerFollowingAndWideNumbers()
{
    NewTimeLine w;
    w.InitiateView();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    LineScrollView* view = w.drawing();
    QScrollBar* bar = view->verticalScrollBar();
    feed(w, 0, 29);
    w.UpdateView();
    const int bottom = 60 + 29 * 70 + 50;
    QCOMPARE(bar->value(), bottom - view->viewport()->height());
    // Sideways too, while the newest arrow would be wholly out of sight.
    QScrollBar* sideways = view->horizontalScrollBar();
    const auto newestInSight = [&] {
        const theTimeLines& r = view->model().record(view->model().recordCount() - 1);
        return std::max(r.x1, r.x2) >= sideways->value() && std::min(r.x1, r.x2) <= sideways->value() + view->viewport()->width();
    };
    QVERIFY(sideways->value() > 0 && newestInSight());
    sideways->setValue(0);
    QImage header = view->header()->grab().toImage();
    QVERIFY(hasInk(header, QRect(10, 5, 120, 16), kNavy));  // line 0's label, scrolled far down
    QCOMPARE(header.pixelColor(50, LineScrollView::kHeaderHeight - 3), kNavy);  // its line goes on through

    bar->setValue(0);  // away from the newest arrow: stays where the user put it
    QVERIFY(!view->isFollowing());
    feed(w, 0, 1);
    w.UpdateView();
    QCOMPARE(bar->value(), 0);
    bar->setValue(bar->maximum());
    QVERIFY(view->isFollowing());
    sideways->setValue(sideways->maximum());  // a look sideways is kept while following down
    feed(w, 0, 10);
    w.UpdateView();
    QCOMPARE(bar->value(), 60 + 40 * 70 + 50 - view->viewport()->height());
    QCOMPARE(sideways->value(), sideways->maximum());
    QVERIFY(!newestInSight());

    // A UDP record numbered 88888888: blank between the number and "Packet Length: ".
    QImage image(400, 140, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(view->viewport()->font());
    TimeLineFrame frame;
    frame.contents = image.size();
    theTimeLines r;
    r.x1 = 50, r.y1 = 20, r.x2 = 50, r.y2 = 90, r.number = 88888888, r.value1 = 99999999;  // straight down
    frame.records.push_back(r);
    LineScrollView::drawView(&painter, frame, image.rect(), QPoint(0, 0));
    const TimeLineTextColumns c = TimeLineTextColumns::forFont(painter.fontMetrics());
    const int numberEnd = 50 + c.number + painter.fontMetrics().horizontalAdvance(QStringLiteral("88888888"));
    painter.end();
    QVERIFY(numberEnd < 50 + c.udpLength);
    QVERIFY(isBlank(image, QRect(numberEnd + 1, 45 - 11, 50 + c.udpLength - numberEnd - 2, 13)));  // the row at y 45
}

// An IPv6 end point widens the lines, earlier arrows move with them, and a label
// with a 39-character address ends before the next line's label begins.
void TestTimeLineView::ipv6LabelsStayApart()
{
    NewTimeLine w;
    w.InitiateView();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    std::vector<std::unique_ptr<CPacket>> packets;
    packets.push_back(fixtures::build(fixtures::Fields{}));  // IPv4 first
    fixtures::Fields f;
    f.src6 = fixtures::v6("ffff0000111122223333444455556666");
    f.dst6 = fixtures::v6("fd00123456789abcdef0123456789abc");
    f.sport = 65535;
    packets.push_back(fixtures::build(f));
    viewtest::feed(w, packets, 0, 2);
    w.UpdateView();
    const TimeLineModel& model = w.drawing()->model();
    QCOMPARE(model.lineSpacing(), TimeLineModel::kWideLineSpacing);
    QCOMPARE(model.record(0).x2, TimeLineModel::lineX(1, TimeLineModel::kWideLineSpacing));
    QCOMPARE(model.line(2).getHost(), QStringLiteral("ffff:0:1111:2222:3333:4444:5555:6666  <65535> "));
    QCOMPARE(model.line(3).getHost(), QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc  <80> "));
    LineScrollView* view = w.drawing();
    view->horizontalScrollBar()->setValue(2 * TimeLineModel::kWideLineSpacing);
    const QImage header = view->header()->grab().toImage();
    const int left = 10 - (view->contentsOrigin().x() - 2 * TimeLineModel::kWideLineSpacing);
    const int width = view->viewport()->fontMetrics().horizontalAdvance(model.line(2).getHost());
    QVERIFY2(left + width + 4 < left + TimeLineModel::kWideLineSpacing, qPrintable(QString::number(width)));
    QVERIFY(hasInk(header, QRect(left, 5, width, 16), kNavy));
    QVERIFY(isBlank(header, QRect(left + width + 2, 5, TimeLineModel::kWideLineSpacing - width - 4, 16)));
    QVERIFY(hasInk(header, QRect(left + TimeLineModel::kWideLineSpacing, 5, 40, 16), kNavy));  // the next label
}

NUK_TEST_CLASS(TestTimeLineView)
#include "tst_timelineview.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// The connection views offscreen: filing from a reader thread, selection,
// Update/Clear/Lock, the payload panes starting each packet at its top, the wide
// pane's colours by each conversation's own ends, the Reconstruct box with Stop and
// with closing, a port pair used again.

#include "connectionfixtures.h"
#include "common/pixels.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/settings.h"
#include "views/common/viewprompts.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/payloadpanes.h"
#include "views/packets/testlistview.h"
#include "views/packets/wideasciiscrollview.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace fixtures;

namespace {
const QString kLossy = QStringLiteral(NUK_TEST_DATA "/connections/lossy.tr");

using viewtest::feed;
using viewtest::menuEntry;

void select(QTableView* list, int row)
{
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// The glyph area of the cell at `x` on `baseline` (viewport coordinates), clear of
// the neighbouring cells.
QRect glyph(int x, int baseline, int width = 9) { return QRect(x + 2, baseline - 9, width - 4, 10); }
using pixels::hasInk, pixels::isBlank;

QImage shot(QAbstractScrollArea* pane) { return pane->viewport()->grab().toImage(); }

// Answers the views' boxes and save dialogs for one test.
struct Prompts {
    QStringList asked;
    int answer = -1;
    QString fileName;
    Prompts()
    {
        viewui::setAskHandler([this](QWidget*, QMessageBox::Icon icon, const QString& title, const QString& text,
                                     const QStringList& buttons) {
            asked << QStringLiteral("%1|%2|%3|%4").arg(int(icon)).arg(title, text, buttons.join(QLatin1Char(',')));
            return answer;
        });
        viewui::setSaveFileHandler([this](QWidget*, const QString&, const QString&, const QString&, QString*) { return fileName; });
    }
    ~Prompts()
    {
        viewui::setAskHandler({});
        viewui::setSaveFileHandler({});
    }
};
}  // namespace

class TestConnectionViews : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void packetViewFilesSelectsUpdatesClears();
    void payloadPanesStartEachPacketAtItsTop();
    void widePaneColoursWrapsAndScrollsToTheEnd();
    void reconstructBoxWithClosingAndStop();

private:
    std::vector<TracePacket> m_lossy;
    QTemporaryDir m_tmp;
};

void TestConnectionViews::initTestCase()
{
    m_lossy = readTrace(kLossy);
    QVERIFY(m_lossy.size() > 100);
    // The controller's pipes without a launcher child: Start and Stop only write and drain them.
    QVERIFY(::pipe(nControlPipe) == 0);
    QVERIFY(::pipe(nDataPipe) == 0);
    ::fcntl(nDataPipe[1], F_SETFL, O_NONBLOCK);
    qputenv("NUK_TMPDIR", m_tmp.path().toLocal8Bit());
}

void TestConnectionViews::packetViewFilesSelectsUpdatesClears()
{
    ConnectionViews view;
    new QAbstractItemModelTester(view.feed()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, &view);
    new QAbstractItemModelTester(view.packetModel(), QAbstractItemModelTester::FailureReportingMode::QtTest, &view);
    ConnectionTable reference;  // what the view should hold
    fileAll(reference, m_lossy);
    const std::size_t half = m_lossy.size() / 2;
    feed(view, m_lossy, 0, half);
    QTRY_COMPARE(view.feed()->model()->rowCount(), 2);
    // The UDP conversation came first and its port also sorts first by End Point 1.
    const Connection& udp = *reference.connections()[0];
    const Connection& tcpReference = *reference.connections()[1];
    QCOMPARE(view.feed()->model()->data(view.feed()->model()->index(0, 0)).toString(),
             udp.EndPoint1() + QString(10, QLatin1Char(' ')));
    select(view.connectionList(), 1);
    Connection* tcp = view.currentConnection();
    QVERIFY(tcp && tcp->EndPoint2() == QStringLiteral("10.93.0.2    <5000> "));
    const int shown = view.packetModel()->rowCount();
    QCOMPARE(std::size_t(shown), tcp->packets().size());
    // Numbers run across the view's connections.
    QCOMPARE(view.packetModel()->data(view.packetModel()->index(0, 0)).toString(),
             packettext::number(tcpReference.packets()[0].number()) + QStringLiteral("   "));
    QCOMPARE(tcpReference.packets()[0].number(), std::uint32_t(udp.packets().size() + 1));

    // Later packets appear after Update View.
    feed(view, m_lossy, half, m_lossy.size());
    QCOMPARE(view.packetModel()->rowCount(), shown);
    menuEntry(view, ConnectionViews::IdUpdate)->trigger();
    QCOMPARE(std::size_t(view.packetModel()->rowCount()), tcpReference.packets().size());

    // A packet with payload fills both panes; one without shows nothing.
    int withData = -1, without = -1;
    for (int r = 0; r < view.packetModel()->rowCount() && (withData < 0 || without < 0); ++r)
        (view.packetModel()->item(r).packet()->payloadLength() > 0 ? withData : without) = r;
    select(view.packetList(), withData);
    QVERIFY(view.currentPacket());
    const CPacket* p = view.packetModel()->item(withData).packet();
    QCOMPARE(view.binaryPane()->shownBytes(), QByteArray(reinterpret_cast<const char*>(p->GetRealData()), p->payloadLength()));
    QCOMPARE(view.asciiPane()->shownBytes(), view.binaryPane()->shownBytes());
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.grab().save(QStringLiteral(NUK_BUILD_DIR "/connection-packet-view.png"));
    select(view.packetList(), without);
    QVERIFY(view.binaryPane()->shownBytes().isEmpty());
    const QImage blank = shot(view.binaryPane());
    QVERIFY(isBlank(blank, glyph(blank.width() / 2 - 40, 12, 80)));  // no title either

    // Locked: packets are lost to the view; Clear empties everything and unlocks.
    view.slotLockView();
    feed(view, m_lossy, 0, 3);
    QCOMPARE(view.feed()->packetCount(), std::uint32_t(m_lossy.size()));
    menuEntry(view, ConnectionViews::IdClear)->trigger();
    QVERIFY(!view.feed()->isLocked() && view.lockedLabel()->isHidden());
    QCOMPARE(view.feed()->model()->rowCount(), 0);
    QCOMPARE(view.packetModel()->rowCount(), 0);
    QVERIFY(!view.currentConnection() && !view.currentPacket());
    feed(view, m_lossy, 5, 6);
    QCOMPARE(view.feed()->packetCount(), 1u);
}

// A small packet after a big one scrolled to its end is shown from its start, in
// contents as small as at first.
void TestConnectionViews::payloadPanesStartEachPacketAtItsTop()
{
    Fields f;
    f.payload = 40;
    const auto small = build(f);
    f.payload = 1446;  // 91 rows
    const auto big = build(f);
    const Packet smallPacket(*small, 1, {}), bigPacket(*big, 2, {});
    BinaryScrollView binary;
    ASCIIScrollView ascii;
    for (PayloadPane* pane : {static_cast<PayloadPane*>(&binary), static_cast<PayloadPane*>(&ascii)}) {
        pane->resize(600, 300);
        pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(pane));
        pane->updateview(&smallPacket);
        const QSize first(pane->contentsWidth(), pane->contentsHeight());
        const QImage shown = shot(pane);
        pane->updateview(&bigPacket);
        QCOMPARE(pane->contentsHeight(), 15 * (91 + 6));
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
        pane->updateview(&smallPacket);
        QCOMPARE(pane->scrollTop(), 0);
        QCOMPARE(QSize(pane->contentsWidth(), pane->contentsHeight()), first);
        QCOMPARE(shot(pane), shown);
    }
}

void TestConnectionViews::widePaneColoursWrapsAndScrollsToTheEnd()
{
    // A conversation A -> B, B -> A, then a reply of 100 bytes: red, blue, blue.
    const std::uint32_t A = 0x0a000001, B = 0x0a000002;
    std::vector<std::unique_ptr<CPacket>> packets;
    Connection connection(QStringLiteral("a"), QStringLiteral("b"));
    for (auto [src, dst, n] : {std::tuple{A, B, 50}, std::tuple{B, A, 20}, std::tuple{B, A, 100}}) {
        Fields f;
        f.src = src;
        f.dst = dst;
        f.payload = n;
        f.payloadStart = 0x41;
        packets.push_back(build(f));
        connection.add_packet(packets.back().get(), std::uint32_t(packets.size()), {});
    }
    WideASCIIScrollView live(false, false);
    live.resize(600, 300);
    live.show();
    QVERIFY(QTest::qWaitForWindowExposed(&live));
    live.updateview(&connection);
    QCOMPARE(live.text().size(), 170u);
    QImage image = shot(&live);
    live.grab().save(QStringLiteral(NUK_BUILD_DIR "/wide-pane.png"));
    const auto at = [](std::uint64_t index) { return glyph(WideASCIIScrollView::cellOf(index).x(), WideASCIIScrollView::cellOf(index).y()); };
    QCOMPARE(WideASCIIScrollView::cellOf(58), QPoint(10, 50));  // 58 characters a row, across packets
    QVERIFY(hasInk(image, at(0), Qt::red) && hasInk(image, at(49), Qt::red));
    QVERIFY(hasInk(image, at(50), Qt::blue) && hasInk(image, at(58), Qt::blue) && hasInk(image, at(169), Qt::blue));
    QVERIFY(!hasInk(image, at(50), Qt::red));
    QVERIFY(isBlank(image, at(170)));
    QVERIFY(hasInk(image, glyph(30, 12, 60), Qt::black));  // "ASCII form "
    // Another conversation, on loopback: its own end point 1 (address and port) is red.
    std::vector<std::unique_ptr<CPacket>> loopPackets;
    Connection loop(QStringLiteral("l1"), QStringLiteral("l2"));
    for (std::uint16_t port : {5000, 6000}) {
        Fields f;
        f.src = f.dst = 0x7f000001;
        f.sport = port;
        f.dport = 11000 - port;
        f.payload = 10;
        f.payloadStart = 0x41;
        loopPackets.push_back(build(f));
        loop.add_packet(loopPackets.back().get(), std::uint32_t(loopPackets.size()), {});
    }
    live.updateview(&loop);
    image = shot(&live);
    QVERIFY(hasInk(image, at(0), Qt::red) && hasInk(image, at(10), Qt::blue) && !hasInk(image, at(10), Qt::red));
    live.updateview(&connection);
    image = shot(&live);
    QVERIFY(hasInk(image, at(0), Qt::red) && hasInk(image, at(50), Qt::blue));
}

// "&Reconstruct View" while capturing asks to stop; closing the box changes nothing;
// Stop stops the capture and adds the two panes.
void TestConnectionViews::reconstructBoxWithClosingAndStop()
{
    Prompts prompts;
    ControlPanel controller;
    nukOpMode = OpRealtime;
    controller.Start();
    QVERIFY(controller.isRunning());
    TestListView view(&controller);
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    const auto wrapped = readTrace(QStringLiteral(NUK_TEST_DATA "/connections/wrapped.tr"));
    feed(view, wrapped, 0, 10);
    QTRY_COMPARE(view.feed()->model()->rowCount(), 1);
    select(view.connectionList(), 0);
    QCOMPARE(view.livePane()->text().size(), 500u + 500 + 500 + 500 + 700 + 600);

    QTest::keyClick(view.connectionList(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(prompts.asked, QStringList{QStringLiteral("%1|NUK|You need to stop packet transfer before viewing details.|Stop")
                                            .arg(int(QMessageBox::Information))});
    QVERIFY(controller.isRunning());
    QVERIFY(!view.isReconstructionBuilt() && !view.backwardPane());

    prompts.answer = 0;
    menuEntry(view, TestListView::IdRecon)->trigger();
    QVERIFY(controller.isStopped());
    QVERIFY(view.isReconstructionBuilt());
    // Each pane shows a whole row of 58 characters without scrolling sideways.
    const int rowEnd = WideASCIIScrollView::cellOf(57).x() + 9;
    for (WideASCIIScrollView* pane : {view.backwardPane(), view.forwardPane()})
        QTRY_VERIFY(pane->viewport()->width() >= rowEnd && pane->horizontalScrollBar()->maximum() == 0);
    // Out-of-order segments in sequence order: the first 10 packets hold the
    // client's bytes 0-1500 and the server's ACK.
    const auto tshark = readFollow(QStringLiteral(NUK_TEST_DATA "/connections/wrapped.follow.tsv"));
    QCOMPARE(view.forwardPane()->text().bytes(), tshark[0].bytes0.left(1500));
    QCOMPARE(view.backwardPane()->text().bytes(), tshark[0].bytes1.left(700) + tshark[0].bytes1.mid(1400));  // a gap joins
    QCOMPARE(prompts.asked.size(), 2);
    menuEntry(view, TestListView::IdRecon)->trigger();  // stopped: no box
    QCOMPARE(prompts.asked.size(), 2);

    // Clear keeps the panes, empty.
    QTest::keyClick(view.connectionList(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(view.backwardPane() && view.backwardPane()->text().isEmpty() && view.forwardPane()->text().isEmpty());
    QVERIFY(view.livePane()->text().isEmpty() && view.isReconstructionBuilt());

    // A port pair used again: two rows, each reassembled as tshark's own stream.
    const auto reused = readTrace(QStringLiteral(NUK_TEST_DATA "/connections/reused.tr"));
    const auto streams = readFollow(QStringLiteral(NUK_TEST_DATA "/connections/reused.follow.tsv"));
    feed(view, reused, 0, reused.size());
    QTRY_COMPARE(view.feed()->model()->rowCount(), 2);
    menuEntry(view, TestListView::IdRecon)->trigger();
    for (int row : {1, 0}) {
        select(view.connectionList(), row);
        QCOMPARE(view.forwardPane()->text().bytes(), streams[row].bytes0);
        QCOMPARE(view.backwardPane()->text().bytes(), streams[row].bytes1);
    }
    view.grab().save(QStringLiteral(NUK_BUILD_DIR "/connection-reconstruction-reused.png"));
}

NUK_TEST_CLASS(TestConnectionViews)
#include "tst_connectionviews.moc"

// The connection views offscreen: filing from a reader thread, selection,
// Update/Clear/Lock, the panes' pixels at known cells, growth and scrolling past the
// widget size limit, the Reconstruct box with Stop and with closing, Save Bytes As.

#include "connectionfixtures.h"
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
#include <QMenuBar>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;

namespace {
const QString kLossy = QStringLiteral(NUK_TEST_DATA "/connections/lossy.tr");

QAction* menuItem(QMainWindow& w, int id)
{
    for (QAction* a : w.menuBar()->actions()[0]->menu()->actions())
        if (a->data().toInt() == id)
            return a;
    return nullptr;
}

void feed(CTimeBasedView& view, const std::vector<TracePacket>& packets, std::size_t from, std::size_t to)
{
    std::thread reader([&] {
        for (std::size_t i = from; i < to; ++i)
            view.AddPacket(packets[i].packet.get());
    });
    reader.join();
}

void select(QTableView* list, int row)
{
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// Pixels of a colour in the cell left of `x` over the glyph's height above `baseline`
// (viewport coordinates), kept clear of the neighbouring cells.
int pixels(const QImage& image, int x, int baseline, int width, bool (*colour)(QRgb))
{
    int n = 0;
    for (int y = baseline - 9; y <= baseline; ++y)
        for (int dx = 2; dx < width - 2; ++dx)
            if (image.valid(x + dx, y) && colour(image.pixel(x + dx, y)))
                ++n;
    return n;
}
bool isRed(QRgb c) { return qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110; }
bool isBlue(QRgb c) { return qBlue(c) > 150 && qRed(c) < 110 && qGreen(c) < 110; }
bool isBlack(QRgb c) { return qRed(c) < 90 && qGreen(c) < 90 && qBlue(c) < 90; }
bool isInk(QRgb c) { return qGray(c) < 200; }

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
    void payloadPanesDrawAtTheirCells();
    void widePaneColoursWrapsAndScrollsToTheEnd();
    void reconstructBoxWithClosingAndStop();
    void saveBytesAs();

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
    menuItem(view, ConnectionViews::IdUpdate)->trigger();
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
    QCOMPARE(pixels(blank, blank.width() / 2 - 40, 12, 80, isInk), 0);  // no title either

    // Locked: packets are lost to the view; Clear empties everything and unlocks.
    view.slotLockView();
    feed(view, m_lossy, 0, 3);
    QCOMPARE(view.feed()->packetCount(), std::uint32_t(m_lossy.size()));
    menuItem(view, ConnectionViews::IdClear)->trigger();
    QVERIFY(!view.feed()->isLocked() && view.lockedLabel()->isHidden());
    QCOMPARE(view.feed()->model()->rowCount(), 0);
    QCOMPARE(view.packetModel()->rowCount(), 0);
    QVERIFY(!view.currentConnection() && !view.currentPacket());
    feed(view, m_lossy, 5, 6);
    QCOMPARE(view.feed()->packetCount(), 1u);

    // Registration removes the rows; the connections stay and keep growing.
    QTRY_COMPARE(view.feed()->model()->rowCount(), 1);
    view.InitiateView();
    QCOMPARE(view.feed()->model()->rowCount(), 0);
    feed(view, m_lossy, 6, 9);
    QCOMPARE(view.feed()->packetCount(), 4u);
}

// Binary pane: offsets and digits in black at columns 1-4 and 7, 10, ..., 34, ...;
// character pane: 16 blue characters a row in two groups; both grow row by row.
void TestConnectionViews::payloadPanesDrawAtTheirCells()
{
    Fields f;
    f.payload = 40;
    f.payloadStart = 0x3c;  // printable: '<' to 'c'
    const auto small = build(f);
    f.payload = 1446;
    const auto big = build(f);
    const Packet smallPacket(*small, 1, {}), bigPacket(*big, 2, {});

    BinaryScrollView binary;
    ASCIIScrollView ascii;
    for (QAbstractScrollArea* pane : {static_cast<QAbstractScrollArea*>(&binary), static_cast<QAbstractScrollArea*>(&ascii)}) {
        pane->resize(600, 300);
        pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(pane));
    }
    QCOMPARE(binary.contentsHeight(), 900);
    QCOMPARE(binary.contentsWidth(), 500);
    binary.updateview(&smallPacket);
    ascii.updateview(&smallPacket);
    const QImage b = shot(&binary), a = shot(&ascii);
    binary.grab().save(QStringLiteral(NUK_BUILD_DIR "/binary-pane.png"));
    ascii.grab().save(QStringLiteral(NUK_BUILD_DIR "/ascii-pane.png"));
    QVERIFY(pixels(b, 8, 50, 8, isBlack) > 0);                   // offset 0010 of row 2
    // Byte i's two digits: 8 pixels a column, columns 7 + 3i, and from the 9th byte 34 + 3(i - 8).
    for (int i : {0, 7, 8, 15, 16, 39}) {
        const int x = 8 * (i % 16 < 8 ? 7 + 3 * (i % 16) : 34 + 3 * (i % 16 - 8)), y = 15 * (i / 16 + 1) + 20;
        QVERIFY2(pixels(b, x, y, 8, isBlack) > 0 && pixels(b, x + 8, y, 8, isBlack) > 0, qPrintable(QString::number(i)));
    }
    QCOMPARE(pixels(b, 8 * 30 + 2, 35, 8 * 4 - 2, isInk), 0);     // the gap between the groups
    QCOMPARE(pixels(b, 8 * 34, 65, 8, isInk), 0);                // after the last byte (the 41st)
    QVERIFY(pixels(b, 190, 12, 60, isBlack) > 0);                // "Binary Form"
    // Characters: 9 pixels a cell from x 10, a gap of two cells after 8.
    for (int i : {0, 7, 8, 15, 16, 30})
        QVERIFY2(pixels(a, 9 * (i % 16 + (i % 16 < 8 ? 0 : 2)) + 10, 15 * (i / 16 + 1) + 20, 9, isBlue) > 0, qPrintable(QString::number(i)));
    QCOMPARE(pixels(a, 9 * 8 + 10, 35, 18, isInk), 0);

    binary.updateview(&bigPacket);  // 91 rows
    ascii.updateview(&bigPacket);
    QCOMPARE(binary.contentsHeight(), 15 * (91 + 6));
    QCOMPARE(ascii.contentsHeight(), 15 * (91 + 6));  // the row after the last byte counts
    // Scrolled to the end of the big packet, the small one is shown from its start
    // in contents as small as at first.
    for (PayloadPane* pane : {static_cast<PayloadPane*>(&binary), static_cast<PayloadPane*>(&ascii)}) {
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
        pane->updateview(&smallPacket);
        QCOMPARE(pane->scrollTop(), 0);
    }
    QCOMPARE(binary.contentsHeight(), 900);
    QCOMPARE(binary.contentsWidth(), 500);
    QCOMPARE(ascii.contentsHeight(), 600);
    QCOMPARE(shot(&binary), b);
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
    auto at = [&](std::uint64_t index, bool (*colour)(QRgb)) {
        const QPoint c = WideASCIIScrollView::cellOf(index);
        return pixels(image, c.x(), c.y(), 9, colour);
    };
    QCOMPARE(WideASCIIScrollView::cellOf(58), QPoint(10, 50));  // 58 characters a row, across packets
    QVERIFY(at(0, isRed) > 0 && at(49, isRed) > 0);
    QVERIFY(at(50, isBlue) > 0 && at(58, isBlue) > 0 && at(169, isBlue) > 0);
    QCOMPARE(at(50, isRed), 0);
    QCOMPARE(at(170, isInk), 0);
    QVERIFY(pixels(image, 30, 12, 60, isBlack) > 0);  // "ASCII form "
    // Another conversation, on loopback: its own end point 1 (address and port) is red.
    std::vector<std::unique_ptr<CPacket>> loopPackets;
    Connection loop(QStringLiteral("l1"), QStringLiteral("l2"));
    for (std::uint16_t port : {5000, 6000}) {
        Fields f;
        f.src = f.dst = 0x7f000001;
        f.sport = port;
        f.dport = port == 5000 ? 6000 : 5000;
        f.payload = 10;
        f.payloadStart = 0x41;
        loopPackets.push_back(build(f));
        loop.add_packet(loopPackets.back().get(), std::uint32_t(loopPackets.size()), {});
    }
    live.updateview(&loop);
    image = shot(&live);
    QVERIFY(at(0, isRed) > 0 && at(10, isBlue) > 0 && at(10, isRed) == 0);
    live.updateview(&connection);
    image = shot(&live);
    QVERIFY(at(0, isRed) > 0 && at(50, isBlue) > 0);

    // 20 million pixels of contents (beyond the widget limit of 2^24 - 1): the
    // last row is reached and drawn.
    static const std::vector<unsigned char> block(64 * 1024, 'z');
    const std::vector<ByteRun> runs(1200, ByteRun{block.data(), std::uint32_t(block.size())});
    WideASCIIScrollView sorted(true, true);
    sorted.resize(600, 300);
    sorted.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sorted));
    sorted.showRuns(runs);
    const std::uint64_t size = 1200ull * 64 * 1024;
    QVERIFY(sorted.contentsHeight() > 16777215);
    QCOMPARE(sorted.contentsHeight(), qint64(15 * (size / 58 + 1 + 6)));
    sorted.verticalScrollBar()->setValue(sorted.verticalScrollBar()->maximum());
    QCOMPARE(sorted.scrollTop() + sorted.viewport()->height(), sorted.contentsHeight());
    image = shot(&sorted);
    const qint64 lastBaseline = 15 * qint64((size - 1) / 58 + 1) + 20 - sorted.scrollTop();
    const int lastX = WideASCIIScrollView::cellOf((size - 1) % 58).x();
    QVERIFY(pixels(image, lastX, int(lastBaseline), 9, isRed) > 0);
    QCOMPARE(pixels(image, lastX + 9, int(lastBaseline), 9, isInk), 0);
}

// "&Reconstruct View" while capturing asks to stop; closing the box changes nothing;
// Stop stops the capture and adds the two panes, which then follow the selection
// until a capture runs again.
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
    menuItem(view, TestListView::IdRecon)->trigger();
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
    menuItem(view, TestListView::IdRecon)->trigger();  // stopped: no box
    QCOMPARE(prompts.asked.size(), 2);

    // A capture runs again: the new packets reach the live pane on selection; the
    // reconstruction panes keep what they showed until the next reconstruction.
    controller.Start();
    feed(view, wrapped, 10, wrapped.size());
    select(view.connectionList(), -1);
    select(view.connectionList(), 0);
    QCOMPARE(view.forwardPane()->text().size(), 1500u);
    QVERIFY(view.livePane()->text().size() > 3000u + 2000);
    prompts.answer = 0;
    QTest::keyClick(view.connectionList(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(view.forwardPane()->text().bytes(), tshark[0].bytes0);
    QCOMPARE(view.backwardPane()->text().bytes(), tshark[0].bytes1);
    view.grab().save(QStringLiteral(NUK_BUILD_DIR "/connection-reconstruction-view.png"));

    // Clear keeps the panes, empty.
    QTest::keyClick(view.connectionList(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(view.backwardPane() && view.backwardPane()->text().isEmpty() && view.forwardPane()->text().isEmpty());
    QVERIFY(view.livePane()->text().isEmpty() && view.isReconstructionBuilt());

    // A port pair used again: two rows, each reassembled as tshark's own stream.
    const auto reused = readTrace(QStringLiteral(NUK_TEST_DATA "/connections/reused.tr"));
    const auto streams = readFollow(QStringLiteral(NUK_TEST_DATA "/connections/reused.follow.tsv"));
    feed(view, reused, 0, reused.size());
    QTRY_COMPARE(view.feed()->model()->rowCount(), 2);
    menuItem(view, TestListView::IdRecon)->trigger();
    for (int row : {1, 0}) {
        select(view.connectionList(), row);
        QCOMPARE(view.forwardPane()->text().bytes(), streams[row].bytes0);
        QCOMPARE(view.backwardPane()->text().bytes(), streams[row].bytes1);
    }
    view.grab().save(QStringLiteral(NUK_BUILD_DIR "/connection-reconstruction-reused.png"));
}

// The wide panes' context menu writes the bytes shown, raw; a failure is reported.
void TestConnectionViews::saveBytesAs()
{
    Prompts prompts;
    WideASCIIScrollView pane(true, false);
    QCOMPARE(pane.actions(), QList<QAction*>{pane.saveAction()});
    QVERIFY(!pane.saveAction()->isEnabled());
    const QByteArray bytes("GET / HTTP/1.0\r\n\r\n\x00\xff", 20);
    pane.showRuns({{reinterpret_cast<const unsigned char*>(bytes.constData()), 12},
                   {reinterpret_cast<const unsigned char*>(bytes.constData()) + 12, 8}});
    QVERIFY(pane.saveAction()->isEnabled());

    prompts.fileName = m_tmp.filePath(QStringLiteral("request.bin"));
    pane.saveAction()->trigger();
    QFile saved(prompts.fileName);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), bytes);
    QVERIFY(prompts.asked.isEmpty());

    // A refusal (here: a link) is reported.
    const QString link = m_tmp.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(m_tmp.filePath(QStringLiteral("target")), link));
    prompts.fileName = link;
    pane.saveAction()->trigger();
    QCOMPARE(prompts.asked.size(), 1);
    QVERIFY(prompts.asked[0].startsWith(QStringLiteral("%1|Warning|%2: ").arg(int(QMessageBox::Warning)).arg(link)));
}

QTEST_MAIN(TestConnectionViews)
#include "tst_connectionviews.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// The Packet List View offscreen: rows fed from a reader thread, lock/unlock/clear
// numbering, selection, the byte pane's pixels, sorting, following the newest row.

#include "packetfixtures.h"
#include "common/pixels.h"
#include "common/testmain.h"
#include "common/viewhelpers.h"
#include "views/packets/detailscrollview.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/viewfactory.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>


using namespace fixtures;

class TestListViews : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void numberingAcrossLockUnlockClear();
    void selectionFillsTreeAndMarksCells();
    void newestRowStaysInViewUntilTheUserLooksElsewhere();

private:
    std::unique_ptr<ListViews> newView();
    void feed(ListViews& view, int from, int count) { viewtest::feed(view, m_packets, from, from + count); }
    std::vector<std::unique_ptr<CPacket>> m_packets;
};

void TestListViews::initTestCase()
{
    for (int i = 0; i < 64; ++i) {
        Fields s;
        s.tcp = i % 3 != 2;
        s.sec = 2000 + i / 4;
        s.usec = (i % 4) * 250000;
        s.src = 0x0a000001 + std::uint32_t(i % 5);
        s.sport = std::uint16_t(1000 + (i * 37) % 200);
        s.payload = (i * 13) % 90;
        s.payloadStart = std::uint8_t(0x20 + i);
        s.flags = std::uint8_t(i % 2 ? 0x18 : 0x12);
        if (i == 63)  // the last one over IPv6, with a full-length address
            s.src6 = s.dst6 = v6("fd00123456789abcdef0123456789abc");
        m_packets.push_back(build(s));
    }
}

std::unique_ptr<ListViews> TestListViews::newView()
{
    auto view = std::make_unique<ListViews>(nullptr, "Packet List View");
    new QAbstractItemModelTester(view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, view.get());
    return view;
}

void TestListViews::numberingAcrossLockUnlockClear()
{
    auto view = newView();
    PacketListModel* m = view->model();
    auto shown = [m] {  // "No.|Time" of every row
        QStringList rows;
        for (int r = 0; r < m->rowCount(); ++r)
            rows << m->data(m->index(r, 0)).toString() + QLatin1Char('|') + m->data(m->index(r, 1)).toString();
        return rows;
    };
    // Packets 4 a second, from 2000 s on.
    const QStringList firstThree{"00000001   |0    ", "00000002   |0.25    ", "00000003   |0.5    "};
    feed(*view, 0, 5);
    QTRY_COMPARE(shown(), firstThree + QStringList({"00000004   |0.75    ", "00000005   |1    "}));

    view->slotLockView();
    QVERIFY(view->isLocked() && !view->lockedLabel()->isHidden());  // "Locked" in the status bar
    feed(*view, 5, 3);  // lost to this view, unnumbered
    view->slotUnlockView();
    QVERIFY(view->lockedLabel()->isHidden());
    feed(*view, 8, 2);  // timed against packet 0
    QTRY_COMPARE(shown().mid(5), (QStringList{"00000006   |2    ", "00000007   |2.25    "}));

    view->slotLockView();
    view->menuBar()->actions()[0]->menu()->actions()[0]->trigger();  // &Clear View also unlocks
    QVERIFY(!view->isLocked() && view->lockedLabel()->isHidden());
    QCOMPARE(m->rowCount(), 0);
    feed(*view, 10, 3);
    QTRY_COMPARE(shown(), firstThree);

    // Ctrl+C clears even with the focus in the list (whose own Ctrl+C copies).
    view->activateWindow();
    view->packetList()->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(view.get()));
    QTest::keyClick(view->packetList(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(m->rowCount(), 0);
    feed(*view, 10, 3);
    QTRY_COMPARE(shown(), firstThree);

    // Registration empties the list but keeps numbering and time base.
    view->InitiateView();
    QCOMPARE(m->rowCount(), 0);
    feed(*view, 13, 1);
    QTRY_COMPARE(shown(), QStringList({"00000004   |0.75    "}));
}

// Selecting a row fills the tree in order; a field marks its digits, and the pane
// draws red digits exactly at those cells, characters blue or red by byte.
void TestListViews::selectionFillsTreeAndMarksCells()
{
    auto view = newView();
    feed(*view, 0, 10);
    QTRY_COMPARE(view->model()->rowCount(), 10);
    view->packetList()->setCurrentIndex(view->model()->index(3, 0));
    QVERIFY(view->currentPacket());
    QCOMPARE(view->currentPacket()->No(), QStringLiteral("00000004"));
    QTreeWidget* tree = view->detailTree();
    QCOMPARE(tree->topLevelItemCount(), 5);
    QVERIFY(tree->topLevelItem(4)->isExpanded());
    QCOMPARE(tree->topLevelItem(4)->text(0), QStringLiteral("Data:   39 bytes"));
    QCOMPARE(view->bytePane()->shownText(), view->currentPacket()->text());
    QCOMPARE(view->bytePane()->selectionPos(), -1);

    QTreeWidgetItem* ip = tree->topLevelItem(2);
    tree->setCurrentItem(ip->child(6));  // Fragment Offset: 4 digits
    QCOMPARE(view->bytePane()->selectionPos(), 40);
    QCOMPARE(view->bytePane()->selectionLength(), 4);
    tree->setCurrentItem(tree->topLevelItem(3)->child(5)->child(1));  // a flag row marks nothing
    QCOMPARE(view->bytePane()->selectionPos(), -1);
    tree->setCurrentItem(tree->topLevelItem(3)->child(5));  // TCP flags: pos 93, length 3
    DetailScrollView* pane = view->bytePane();
    QCOMPARE(pane->selectionPos(), 93);
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));

    // Drawn at the widget's resolution, so glyphs are as large as on screen.
    QImage image(BytePaneLayout::ContentsWidth, pane->contentsHeight(), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(pane->logicalDpiX() / 0.0254));
    image.setDotsPerMeterY(qRound(pane->logicalDpiY() / 0.0254));
    {
        QPainter painter(&image);
        pane->drawContents(painter, image.rect());
    }
    view->grab().save(QStringLiteral(NUK_BUILD_DIR "/packet-list-view.png"));

    // Cells are 8 pixels wide, the characters from x 500; a cell's ink lies above its
    // baseline. The marked field's three digits are red, the other digits black; the
    // characters blue, but the two that hold the marked digits red.
    const BytePaneLayout layout = BytePaneLayout::of(pane->shownText(), 93, 3);
    int digit = 0, character = 0;
    for (const ByteCell& c : layout.cells) {
        const bool isChar = c.x >= 500, isDigit = !isChar && c.x >= 8 * 7;
        const bool red = isDigit ? digit >= 93 && digit < 96 : isChar && (character == 46 || character == 47);
        const QRect cell(c.x + 1, c.y - 9, 6, 10);
        if (c.ch != ' ' && (isDigit || isChar)) {
            const QColor ink = red ? QColor(Qt::red) : isChar ? QColor(Qt::blue) : QColor(Qt::black);
            QVERIFY2(pixels::hasInk(image, cell, ink), qPrintable(QStringLiteral("'%1' at %2,%3").arg(c.ch).arg(c.x).arg(c.y)));
            QVERIFY(red || !pixels::hasInk(image, cell, Qt::red));
        }
        digit += isDigit;
        character += isChar;
    }
    QCOMPARE(character, view->currentPacket()->text().size() / 2);

    // Deselecting the row empties the byte pane.
    view->packetList()->selectionModel()->select(view->model()->index(3, 0),
                                                 QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    QVERIFY(view->bytePane()->shownText().isEmpty());
}

void TestListViews::newestRowStaysInViewUntilTheUserLooksElsewhere()
{
    auto view = newView();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QScrollBar* bar = view->packetList()->verticalScrollBar();
    const auto fed = [&](int from, int count) {
        feed(*view, from, count);
        QTRY_COMPARE(view->model()->rowCount(), from + count);
        QCoreApplication::processEvents();
    };
    fed(0, 30);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(0);  // scrolled away: left there
    fed(30, 10);
    QCOMPARE(bar->value(), 0);
    bar->setValue(bar->maximum());  // back at the end: followed again
    fed(40, 10);
    QCOMPARE(bar->value(), bar->maximum());
    view->packetList()->setCurrentIndex(view->model()->index(45, 0));  // a row picked
    const int at = bar->value();
    fed(50, 10);
    QCOMPARE(bar->value(), at);
    QVERIFY(at < bar->maximum());
    // The first IPv6 row widens both address columns to hold its address whole.
    const int full = view->packetList()->fontMetrics().horizontalAdvance(QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc"));
    QVERIFY(view->packetList()->columnWidth(PacketListItem::ColSource) < full);
    fed(60, 4);
    for (const int c : {int(PacketListItem::ColSource), int(PacketListItem::ColDest)})
        QVERIFY(view->packetList()->columnWidth(c) > full + 8);
}

NUK_TEST_CLASS(TestListViews)
#include "tst_listviews.moc"

// The Packet List View offscreen: rows fed from a reader thread, lock/unlock/clear
// numbering, selection, the byte pane's pixels, sorting, following the newest row.

#include "packetfixtures.h"
#include "views/packets/detailscrollview.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/viewfactory.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include <thread>

using namespace fixtures;

class TestListViews : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listKeepsItsHeightWhenTheWindowGrows();
    void numberingAcrossLockUnlockClear();
    void selectionFillsTreeAndMarksCells();
    void sortByClickedColumnAndBack();
    void newestRowStaysInViewUntilTheUserLooksElsewhere();

private:
    std::unique_ptr<ListViews> newView();
    void feed(ListViews& view, int from, int count);  // on a thread of its own, like the reader
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
        m_packets.push_back(build(s));
    }
}

std::unique_ptr<ListViews> TestListViews::newView()
{
    auto view = std::make_unique<ListViews>(nullptr, "Packet List View");
    new QAbstractItemModelTester(view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, view.get());
    return view;
}

void TestListViews::feed(ListViews& view, int from, int count)
{
    std::thread reader([&] {
        for (int i = from; i < from + count; ++i)
            view.AddPacket(m_packets[std::size_t(i)].get());
    });
    reader.join();
}

void TestListViews::listKeepsItsHeightWhenTheWindowGrows()
{
    std::unique_ptr<ListViews> view(static_cast<ListViews*>(createView(ViewKind::PacketList, QStringLiteral("Packet List View"), nullptr)));
    QVERIFY(view && view->isVisible());
    const int listHeight = view->packetList()->height();
    view->resize(850, 700);
    QTRY_VERIFY(view->innerSplitter()->height() > 300);
    QCOMPARE(view->packetList()->height(), listHeight);
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

    const QFontMetrics fm(pane->paneFont(), &image);
    auto count = [&](const ByteCell& c, auto pred) {
        int n = 0;
        // Rows are 15 pixels apart: look only at the part of a cell above its baseline
        // that no glyph of the next row can reach.
        for (int y = c.y - std::min(fm.ascent(), 11); y <= c.y; ++y)
            for (int x = c.x + 1; x < c.x + BytePaneLayout::CellWidth - 1; ++x)
                if (pred(QColor(image.pixel(x, y))))
                    ++n;
        return n;
    };
    auto red = [](const QColor& c) { return c.red() > 150 && c.green() < 100 && c.blue() < 100; };
    auto blue = [](const QColor& c) { return c.blue() > 150 && c.red() < 100 && c.green() < 100; };
    const BytePaneLayout layout = BytePaneLayout::of(pane->shownText(), 93, 3);
    int i = 0, j = 0;
    for (const ByteCell& c : layout.cells) {
        const bool isChar = c.x >= BytePaneLayout::CharPartX;
        const bool isDigit = !isChar && c.x >= 8 * 7;
        const bool shouldBeRed = (isDigit && i >= 93 && i < 96) || (isChar && (j == 46 || j == 47));
        const QString where = QStringLiteral("cell '%1' at %2,%3").arg(QLatin1Char(c.ch)).arg(c.x).arg(c.y);
        if (c.ch != ' ' && c.ch != '.')
            QVERIFY2((count(c, red) > 0) == shouldBeRed, qPrintable(where));
        if (isChar && !shouldBeRed && c.ch != ' ')
            QVERIFY2(count(c, blue) > 0, qPrintable(where));
        i += isDigit;
        j += isChar;
    }
    QCOMPARE(j, view->currentPacket()->text().size() / 2);

    // Deselecting the row empties the byte pane.
    view->packetList()->selectionModel()->select(view->model()->index(3, 0),
                                                 QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    QVERIFY(view->bytePane()->shownText().isEmpty());
}

void TestListViews::sortByClickedColumnAndBack()
{
    auto view = newView();
    feed(*view, 0, 40);
    QTRY_COMPARE(view->model()->rowCount(), 40);
    QHeaderView* header = view->packetList()->horizontalHeader();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QVERIFY(header->isSortIndicatorShown());

    view->packetList()->setCurrentIndex(view->model()->index(10, 0));  // packet 11
    auto click = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + 10, header->height() / 2));
    };
    click(PacketListItem::ColInfo);
    QCOMPARE(view->model()->sortColumn(), int(PacketListItem::ColInfo));
    QCOMPARE(view->model()->sortOrder(), Qt::AscendingOrder);
    // The selected packet stays selected wherever it went.
    const QModelIndex current = view->packetList()->currentIndex();
    QCOMPARE(view->model()->item(current.row()).number(), 11u);
    QVERIFY(view->packetList()->selectionModel()->isRowSelected(current.row(), QModelIndex()));
    QCOMPARE(view->currentPacket()->No(), QStringLiteral("00000011"));

    click(PacketListItem::ColInfo);  // the same header again flips the order
    QCOMPARE(view->model()->sortOrder(), Qt::DescendingOrder);
    click(PacketListItem::ColNo);
    QCOMPARE(view->model()->sortOrder(), Qt::AscendingOrder);
    QCOMPARE(view->packetList()->currentIndex().row(), 10);
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
}

QTEST_MAIN(TestListViews)
#include "tst_listviews.moc"

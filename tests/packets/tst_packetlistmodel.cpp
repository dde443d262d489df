// SPDX-License-Identifier: GPL-2.0-or-later
// The packet list model (rows, texts, sorting by text through a permutation) and
// the byte pane's geometry.

#include "packetfixtures.h"
#include "common/testmain.h"
#include "views/packets/bytepanelayout.h"
#include "views/packets/packetlistmodel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

using namespace fixtures;

class TestPacketListModel : public QObject {
    Q_OBJECT
private slots:
    void rowsAndTexts();
    void sortingOrdersByColumnText_data();
    void sortingOrdersByColumnText();
    void byteLayoutColumnsAndRows();
};

namespace {
std::vector<std::unique_ptr<CPacket>> randomPackets(int n, quint32 seed)
{
    QRandomGenerator rng(seed);
    std::vector<std::unique_ptr<CPacket>> out;
    for (int i = 0; i < n; ++i) {
        Fields s;
        s.tcp = rng.bounded(4) != 0;
        // Few distinct values so that ties and shared prefixes are common.
        const quint32 hosts[] = {0x0a000001, 0x0a00000b, 0x0a000064, 0x01020304, 0xc0a80102, 0xc0a8010c};
        s.src = hosts[rng.bounded(6)];
        s.dst = hosts[rng.bounded(6)];
        const quint16 ports[] = {1, 8, 80, 8080, 443, 44, 65535, 53};
        s.sport = ports[rng.bounded(8)];
        s.dport = ports[rng.bounded(8)];
        s.seq = rng.bounded(3) == 0 ? rng.generate() : rng.bounded(200);
        s.ack = rng.bounded(3) == 0 ? rng.generate() : rng.bounded(200);
        s.flags = quint8(rng.bounded(64));
        s.window = rng.bounded(2) ? quint16(rng.bounded(65536)) : quint16(rng.bounded(300));
        s.sec = 1000 + int(rng.bounded(20));
        s.usec = int(rng.bounded(1000000));
        // A quarter over IPv6: texts with colons and letters among the dotted ones.
        const char* hosts6[] = {"00000000000000000000000000000001", "fd000000000000000000000000000001",
                                "fd00000000000000000000000000000a", "20010db8000000000000000000000001",
                                "fd00123456789abcdef0123456789abc", "00000000000000000000ffff0a000001"};
        if (rng.bounded(4) == 0) {
            s.src6 = v6(hosts6[rng.bounded(6)]);
            s.dst6 = v6(hosts6[rng.bounded(6)]);
        }
        out.push_back(build(s));
    }
    return out;
}

std::vector<PacketListItem> itemsOf(const std::vector<std::unique_ptr<CPacket>>& packets)
{
    std::vector<PacketListItem> rows;
    for (std::size_t i = 0; i < packets.size(); ++i)
        rows.emplace_back(packets[i].get(), std::uint32_t(i + 1));
    return rows;
}

// Microseconds since `base`: the order of the "Time" column.
std::int64_t timeSince(const PacketListItem& row, BaseTime base)
{
    const std::int32_t* ts = row.packet()->GetTimeStamp();
    return (std::int64_t(ts[0]) - base.sec) * 1000000 + (std::int64_t(ts[1]) - base.usec);
}
}  // namespace

void TestPacketListModel::rowsAndTexts()
{
    PacketListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Fields s;
    s.tcp = false;
    s.usec = 500000;
    const auto udp = build(s);
    udp->setCaptureNumber(41);  // its number in the whole capture, shown under a display filter
    const PacketListItem rows[] = {PacketListItem(udp.get(), 2)};
    model.appendRows(rows, 1, BaseTime{1000, 250000});
    QStringList row;
    for (int c = 0; c < model.columnCount(); ++c)
        row << model.data(model.index(0, c)).toString();
    QCOMPARE(row, (QStringList{"00000002   ", "0.25    ", "10.0.0.1   ", "192.168.1.2   ", "UDP   ", "1234 > 80     ",
                           "00000041   "}));
    // A later batch does not move the base of rows already shown.
    model.appendRows(rows, 1, BaseTime{5, 0});
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("0.25    "));
}

void TestPacketListModel::sortingOrdersByColumnText_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    for (int c = 0; c < PacketListItem::ColumnCount; ++c) {
        QTest::addRow("%s ascending", qPrintable(PacketListItem::columnTitle(c))) << c << int(Qt::AscendingOrder);
        QTest::addRow("%s descending", qPrintable(PacketListItem::columnTitle(c))) << c << int(Qt::DescendingOrder);
    }
}

// The list sorts by column text ("Time" by time); the model sorts by keys. Whatever
// the keys, the resulting column must read in that order, and ties keep arrival order.
void TestPacketListModel::sortingOrdersByColumnText()
{
    QFETCH(int, column);
    QFETCH(int, order);
    const auto packets = randomPackets(600, quint32(column * 7 + order + 1));
    for (std::size_t i = 0; i < packets.size(); ++i)
        packets[i]->setCaptureNumber(std::uint32_t(i + 1));  // as the controller numbers them
    const std::vector<PacketListItem> rows = itemsOf(packets);
    PacketListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const BaseTime base{1005, 0};
    model.appendRows(rows.data(), rows.size(), base);

    std::vector<std::pair<QVariant, std::uint32_t>> expected;  // text or time, number
    for (const auto& r : rows)
        expected.emplace_back(column == PacketListItem::ColTime ? QVariant(qint64(timeSince(r, base)))
                                                                : QVariant(r.text(column, base)),
                              r.number());
    const auto less = [](const QVariant& x, const QVariant& y) {
        return QVariant::compare(x, y) == QPartialOrdering::Less;
    };
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
        return order == Qt::AscendingOrder ? less(x.first, y.first) : less(y.first, x.first);
    });
    model.sort(column, Qt::SortOrder(order));
    for (int r = 0; r < model.rowCount(); ++r) {
        QCOMPARE(model.item(r).number(), expected[std::size_t(r)].second);
        QCOMPARE(model.rowOf(model.item(r).packet()), r);  // the current packet's row, found sorted
        QCOMPARE(model.data(model.index(r, column)).toString(), model.item(r).text(column, base));  // shown as sorted
    }
    model.sort(PacketListItem::ColNo, Qt::AscendingOrder);
    for (int r = 0; r < model.rowCount(); ++r)
        QCOMPARE(model.item(r).number(), std::uint32_t(r + 1));
}

namespace {
// One pane row as text, a character a cell, counted from `fromX`.
QString screenRow(const BytePaneLayout& l, int y, int fromX, int toX)
{
    QString s;
    for (const ByteCell& c : l.cells)
        if (c.y == y && c.x >= fromX && c.x < toX) {
            const int column = (c.x - fromX) / BytePaneLayout::CellWidth;
            s = s.leftJustified(column + 1, QLatin1Char(' '));
            s[column] = QLatin1Char(c.ch);
        }
    return s;
}
}  // namespace

// Byte b of a row: columns 7 + 3b for the first 8, 34 + 3(b - 8) for the rest;
// characters: 8, a gap of two cells, 8; non-printable as '.', all blue.
void TestPacketListModel::byteLayoutColumnsAndRows()
{
    QString hex = QStringLiteral("0a");  // a non-printable first byte, then 0x42..0x54
    for (int i = 1; i < 20; ++i)
        hex += QString::number(0x41 + i, 16);
    const BytePaneLayout l = BytePaneLayout::of(hex, -1, -1);
    QCOMPARE(l.rows, 2);
    const int chars = BytePaneLayout::CharPartX;
    QCOMPARE(screenRow(l, 15, 0, chars), QStringLiteral(" 0000  0a 42 43 44 45 46 47 48    49 4a 4b 4c 4d 4e 4f 50"));
    QCOMPARE(screenRow(l, 30, 0, chars), QStringLiteral(" 0010  51 52 53 54"));
    QCOMPARE(screenRow(l, 15, chars, 9999), QStringLiteral(".BCDEFGH  IJKLMNOP"));
    QCOMPARE(screenRow(l, 30, chars, 9999), QStringLiteral("QRST"));
    for (const ByteCell& c : l.cells)
        QCOMPARE(c.colour, c.x >= chars ? ByteCell::Blue : ByteCell::Black);
}

NUK_TEST_CLASS(TestPacketListModel)
#include "tst_packetlistmodel.moc"

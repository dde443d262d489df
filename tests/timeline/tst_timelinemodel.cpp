// SPDX-License-Identifier: GPL-2.0-or-later
// The time line's model on a real three-host trace, checked against tshark's reading
// of it.

#include "common/testmain.h"
#include "packets/packetfixtures.h"
#include "views/timeline/timelinemodel.h"

#include <QtTest>

namespace {
const QString kTrace = QStringLiteral(NUK_TEST_DATA "/timeline/conversation.pcap");

QString label(const QString& host, const QString& port) { return HostTimeLine(host, port).getHost(); }

// The lines in order of first appearance, as tshark names the end points.
const QStringList kLines{
    label("10.99.0.1", "40001"), label("10.99.0.2", "80"),    label("10.99.0.1", "5353"),
    label("10.99.0.3", "53"),    label("10.99.0.3", "40003"), label("10.99.0.2", "7000"),
    label("10.99.0.2", "6000"),  label("10.99.0.1", "6001"),
};

QStringList labelsOf(const TimeLineModel& model)
{
    QStringList out;
    for (const HostTimeLine& l : model.lines())
        out << l.getHost();
    return out;
}

std::vector<int> numbersOf(const TimeLineModel& model)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < model.recordCount(); ++i)
        out.push_back(model.record(i).number);
    return out;
}
}  // namespace

class TestTimeLineModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_trace = fixtures::readTrace(kTrace);
        QCOMPARE(m_trace.size(), std::size_t(29));
    }
    void recordsFollowTheTrace();
    void contentsGrowWithLinesAndRecords();
    void hostFilterLeavesGaps();

private:
    void addAll(TimeLineModel& model, std::size_t count = 29)
    {
        for (std::size_t i = 0; i < count; ++i)
            model.myAdd(*m_trace[i].packet);
    }
    std::vector<fixtures::TracePacket> m_trace;
};

// Every packet makes one arrow from its sender's line to its receiver's, one step
// lower each time, carrying what tshark reads from the same frame.
void TestTimeLineModel::recordsFollowTheTrace()
{
    TimeLineModel model;
    addAll(model);
    QCOMPARE(labelsOf(model), kLines);
    const auto rows = fixtures::readTsv(QStringLiteral(NUK_TEST_DATA "/timeline/conversation.tshark.tsv"));
    QCOMPARE(model.recordCount(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QStringList& t = rows[i];
        const theTimeLines r = model.record(i);
        const bool tcp = !t[2].isEmpty();
        const QString from = label(t[1], tcp ? t[2] : t[3]), to = label(t[4], tcp ? t[5] : t[6]);
        QCOMPARE(r.number, t[0].toInt());
        QCOMPARE(r.x1, 50 + 250 * int(kLines.indexOf(from)));
        QCOMPARE(r.x2, 50 + 250 * int(kLines.indexOf(to)));
        QCOMPARE(r.y1, 60 + 70 * int(i));
        QCOMPARE(r.y2, r.y1 + 70);
        QCOMPARE(r.tcp, tcp);
        if (tcp) {
            QCOMPARE(r.value1, t[8].toUInt());
            QCOMPARE(r.value2, t[9].toUInt());
            QCOMPARE(r.payloadSize, t[10].toInt());
            QCOMPARE(r.syn, t[11] == QLatin1String("1"));
            QCOMPARE(r.fin, t[12] == QLatin1String("1"));
        } else {
            QCOMPARE(r.payloadSize, t[13].toInt() - 8);
            QCOMPARE(r.value1, t[13].toUInt() + t[7].toUInt() + 14);  // the whole Ethernet frame
            QVERIFY(!r.syn && !r.fin && r.value2 == 0);
        }
    }
    // The first arrow goes right and down, its reply left and down.
    QCOMPARE(model.record(0).angle, std::atan2(70.0, 250.0) * 180 / 3.1415927 - 90);
    QCOMPARE(int(model.record(1).angle), 74);

    // An exported range keeps only the lines its arrows use, in their order (A:5353, C:53).
    const TimeLineFrame range = model.rangeFrame(13, 16);
    QCOMPARE(range.records.size(), std::size_t(4));
    QCOMPARE(QList<int>({range.records[0].number, range.records[0].y1, range.records[0].x1, range.records[0].x2}),
             QList<int>({13, 60, 50, 300}));
    QCOMPARE(range.records[0].angle, model.record(0).angle);  // one line to the right
    QCOMPARE(range.labels, (std::vector<QString>{kLines[2], kLines[3]}));
    QCOMPARE(range.contents, QSize(2 * 250 + 100, 60 + 4 * 70 + 50));
}

void TestTimeLineModel::contentsGrowWithLinesAndRecords()
{
    TimeLineModel model;
    QCOMPARE(model.grow(), QSize(1000, 2000));
    addAll(model, 16);  // four lines: 4 x 250 > 1000 - 100
    QCOMPARE(model.grow(), QSize(1100, 2000));
    model.myInitiate();
    addAll(model, 27);  // the 27th's y2 1950 reaches 2000 - 50: the height stays 1950 + 50
    QCOMPARE(model.grow(), QSize(8 * 250 + 100, 2000));
    model.myAdd(*m_trace[27].packet);  // 28th: y2 2020
    QCOMPARE(model.grow(), QSize(2100, 2070));
    // Clearing keeps the size; a fifth fixed line needs 1250 > 1000 - 100.
    model.myInitiate();
    QCOMPARE(model.grow(), QSize(2100, 2070));
    TimeLineModel fresh;
    fresh.setHostList(std::vector<HostTimeLine>(5, HostTimeLine("10.0.0.1", "1")));
    QCOMPARE(fresh.grow(), QSize(1350, 2000));
}

// With a host filter only packets between two listed end points are drawn, on the
// lines of the list in its order; the others leave a step and take a number. The
// model keeps every packet: a new filter redraws those already taken.
void TestTimeLineModel::hostFilterLeavesGaps()
{
    TimeLineModel model;
    const std::vector<HostTimeLine> first{HostTimeLine("10.99.0.2", "80"), HostTimeLine("10.99.0.1", "40001")};
    model.setHostList(first);
    QVERIFY(model.isFixed());
    QCOMPARE(model.hostList(), first);
    addAll(model);
    QCOMPARE(model.packetCount(), 29);
    QCOMPARE(numbersOf(model), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    QCOMPARE(labelsOf(model), QStringList({kLines[1], kLines[0]}));
    const theTimeLines r = model.record(0);
    QCOMPARE(QList<int>({r.x1, r.y1, r.x2}), QList<int>({300, 60, 50}));

    // Packets 13-16 (A:5353 <-> C:53) redrawn where they were taken, on the new lines.
    const std::uint64_t changes = model.changeCount();
    model.setHostList({HostTimeLine("10.99.0.3", "53"), HostTimeLine("10.0.0.9", "1"), HostTimeLine("10.99.0.1", "5353")});
    QVERIFY(model.isPending() && model.changeCount() > changes);
    QCOMPARE(model.packetCount(), 29);
    QCOMPARE(numbersOf(model), (std::vector<int>{13, 14, 15, 16}));
    QCOMPARE(model.record(0).y1, 60 + 70 * 12);
    QCOMPARE(model.record(0).x1, 550);
    QCOMPARE(model.record(0).x2, 50);
    addAll(model, 13);  // packet 42 is the 13th again
    QCOMPARE(numbersOf(model), (std::vector<int>{13, 14, 15, 16, 42}));

    // An empty list draws every packet again, as if there had never been a filter.
    model.setHostList({});
    QVERIFY(!model.isFixed() && model.hostList().empty());
    TimeLineModel unfiltered;
    addAll(unfiltered);
    addAll(unfiltered, 13);
    QCOMPARE(labelsOf(model), labelsOf(unfiltered));
    QCOMPARE(model.recordCount(), std::size_t(42));
    for (std::size_t i = 0; i < 42; ++i) {
        const theTimeLines a = model.record(i), b = unfiltered.record(i);
        QCOMPARE(QList<int>({a.number, a.x1, a.y1, a.x2, a.y2}), QList<int>({b.number, b.x1, b.y1, b.x2, b.y2}));
        QCOMPARE(QList<qint64>({a.value1, a.value2, a.payloadSize, a.syn, a.fin, a.tcp}),
                 QList<qint64>({b.value1, b.value2, b.payloadSize, b.syn, b.fin, b.tcp}));
        QCOMPARE(a.angle, b.angle);
    }

    // Clearing drops the packets and the filter.
    model.setHostList(first);
    model.myInitiate();
    QVERIFY(!model.isFixed());
    QCOMPARE(model.packetCount(), 0);
    QCOMPARE(model.recordCount(), std::size_t(0));
}

NUK_TEST_CLASS(TestTimeLineModel)
#include "tst_timelinemodel.moc"

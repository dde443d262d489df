// Connection tracking: filing by keys, the direction lists' ordering and folding,
// reassembly against tshark on real traces with loss, duplicates and reordering
// and on a crafted one whose sequence numbers wrap; the wide pane's text and
// colouring; the connection list's order; the streams JSON line.

#include "connectionfixtures.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/streamsjson.h"
#include "views/packets/widetext.h"

#include <QAbstractItemModelTester>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace fixtures;

namespace {
constexpr std::uint32_t A = 0x0a000001, B = 0x0a000002, C = 0x0a000003, L = 0x7f000001;

struct Seg {
    std::uint32_t src, dst;
    std::uint16_t sport, dport;
    std::uint32_t seq, ack;
    int payload;
    bool tcp = true;
};

std::unique_ptr<CPacket> make(const Seg& s)
{
    Fields f;
    f.src = s.src;
    f.dst = s.dst;
    f.sport = s.sport;
    f.dport = s.dport;
    f.seq = s.seq;
    f.ack = s.ack;
    f.payload = s.payload;
    f.payloadStart = std::uint8_t(s.seq);  // bytes count up with the sequence number
    f.tcp = s.tcp;
    return build(f);
}

// Sequence numbers of a direction list, in list order, with their acks where they matter.
QStringList listed(const Connection& c, bool forward)
{
    QStringList out;
    for (const DirectionList::Entry& e : (forward ? c.forward() : c.backward()).entries()) {
        const CPacket& p = *c.packets()[e.packet].packet();
        out << QStringLiteral("%1/%2/%3").arg(p.GetSequenceNo()).arg(p.GetAcknowlegetNo()).arg(e.length);
    }
    return out;
}

struct Conversation {
    std::vector<std::unique_ptr<CPacket>> packets;
    Connection connection{QStringLiteral("1"), QStringLiteral("2")};
    void add(const Seg& s)
    {
        packets.push_back(make(s));
        connection.add_packet(packets.back().get(), std::uint32_t(packets.size()), {});
    }
};
}  // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void filingByKeys();
    void orderingAndFolding();
    void sequenceNumbersThatWrap();
    void reassemblySkipsWhatWasShownAndJoinsGaps();
    void reassemblyAgreesWithTshark_data();
    void reassemblyAgreesWithTshark();
    void wideTextColoursByEndPoint1();
    void connectionListSortsAndMerges();
    void streamsJsonLine();
};

void TestConnection::filingByKeys()
{
    std::vector<std::unique_ptr<CPacket>> p;
    p.push_back(make({A, B, 1025, 80, 1, 0, 5}));
    p.push_back(make({B, A, 80, 1025, 1, 6, 0}));            // reverse key: same conversation
    p.push_back(make({C, B, 1025, 80, 1, 0, 0}));            // another host
    p.push_back(make({A, B, 1025, 80, 9, 0, 3, false}));     // UDP on the same ends: same key
    p.push_back(make({0x01020304, B, 80, 90, 1, 0, 0}));      // "1.2.3.4" "80" ...
    p.push_back(make({0x01020330, B, 0, 90, 1, 0, 0}));       // ... and "1.2.3.48" "0" are two
    ConnectionTable table;
    for (const auto& packet : p)
        table.file(packet.get());
    QCOMPARE(table.connections().size(), std::size_t(4));
    const Connection& first = *table.connections()[0];
    QCOMPARE(first.EndPoint1(), QStringLiteral("10.0.0.1    <1025> "));
    QCOMPARE(first.EndPoint2(), QStringLiteral("10.0.0.2    <80> "));
    QCOMPARE(first.packets().size(), std::size_t(3));
    QCOMPARE(first.packets()[2].number(), 4u);  // numbers run across the view's connections
    QCOMPARE(table.connections()[3]->EndPoint1(), QStringLiteral("1.2.3.48    <0> "));

    Connection& c = *table.connections()[0];
    c.SortLstPackets();
    QCOMPARE(listed(c, true), QStringList{"1/0/5"});
    QCOMPARE(listed(c, false), QStringList{"1/6/0"});  // UDP left out of both

    table.clear();
    QVERIFY(table.connections().empty());
    QCOMPARE(table.file(p[2].get())->packets()[0].number(), 1u);
}

// The list stays in sequence order; copies of a segment (same sequence and
// acknowledgement numbers) are kept once, in the longest copy, where the first was.
void TestConnection::orderingAndFolding()
{
    Conversation t;
    t.add({A, B, 1025, 80, 3000, 7, 100});
    t.add({A, B, 1025, 80, 2000, 7, 100});  // out of order
    t.add({A, B, 1025, 80, 2000, 7, 100});  // duplicate
    t.add({A, B, 1025, 80, 3000, 7, 150});  // longer resend replaces the first copy
    t.add({A, B, 1025, 80, 3000, 7, 120});  // shorter: already present
    t.add({A, B, 1025, 80, 1000, 9, 0});    // same sequence number, ordered by ack
    t.add({A, B, 1025, 80, 1000, 5, 0});
    t.add({A, B, 1025, 80, 1000, 8, 100});
    t.add({A, B, 1026, 80, 500, 0, 10});    // same host, other port: the other direction
    t.connection.SortLstPackets();
    QCOMPARE(listed(t.connection, true),
             (QStringList{"1000/5/0", "1000/8/100", "1000/9/0", "2000/7/100", "3000/7/150"}));
    QCOMPARE(t.connection.forward().entries()[4].packet, 3u);
    QCOMPARE(listed(t.connection, false), QStringList{"500/0/10"});

    // Later packets are ordered in by the next run; those placed stay as they are.
    t.add({A, B, 1025, 80, 2500, 7, 100});
    t.add({A, B, 1025, 80, 1000, 8, 100});
    t.connection.SortLstPackets();
    QCOMPARE(listed(t.connection, true),
             (QStringList{"1000/5/0", "1000/8/100", "1000/9/0", "2000/7/100", "2500/7/100", "3000/7/150"}));

    // With one packet listed, a second of the same sequence number goes after it.
    Conversation two;
    two.add({A, B, 1, 2, 5, 10, 0});
    two.add({A, B, 1, 2, 5, 3, 0});
    two.connection.SortLstPackets();
    QCOMPARE(listed(two.connection, true), (QStringList{"5/10/0", "5/3/0"}));
}

void TestConnection::sequenceNumbersThatWrap()
{
    Conversation t;
    t.add({A, B, 1, 2, 0xffffff00u, 0, 100});
    t.add({A, B, 1, 2, 0x0000002cu, 0, 100});  // past 2^32: after the others
    t.add({A, B, 1, 2, 0xffffff64u, 0, 100});
    t.add({A, B, 1, 2, 0xfffffe9cu, 0, 100});  // before the first one seen
    t.add({A, B, 1, 2, 0xffffffc8u, 0, 100});
    t.connection.SortLstPackets();
    QStringList expected;
    for (std::uint32_t seq : {0xfffffe9cu, 0xffffff00u, 0xffffff64u, 0xffffffc8u, 0x2cu})
        expected << QString::number(seq) + QStringLiteral("/0/100");
    QCOMPARE(listed(t.connection, true), expected);
    QByteArray stream;  // the payload bytes count up with the sequence number
    for (int i = 0; i < 500; ++i)
        stream += char(0x9c + i);
    QCOMPARE(joined(t.connection.reassembled(true)), stream);
}

void TestConnection::reassemblySkipsWhatWasShownAndJoinsGaps()
{
    Conversation t;
    t.add({A, B, 1, 2, 100, 1, 50});   // bytes 100..149
    t.add({A, B, 1, 2, 130, 2, 50});   // overlaps: 150..179 are new
    t.add({A, B, 1, 2, 120, 3, 10});   // inside: nothing new
    t.add({A, B, 1, 2, 300, 3, 20});   // after a gap
    t.connection.SortLstPackets();
    QByteArray expected;
    for (int s = 100; s < 180; ++s)
        expected += char(s);
    for (int s = 300; s < 320; ++s)
        expected += char(s);
    QCOMPARE(joined(t.connection.reassembled(true)), expected);
    QVERIFY(t.connection.reassembled(false).empty());
}

void TestConnection::reassemblyAgreesWithTshark_data()
{
    QTest::addColumn<QString>("trace");
    QTest::addColumn<QString>("follow");
    QTest::addColumn<int>("conversations");
    const QString dir = QStringLiteral(NUK_TEST_DATA "/connections/");
    QTest::newRow("loss, duplicates, reordering") << dir + "lossy.tr" << dir + "lossy.follow.tsv" << 2;
    QTest::newRow("sequence numbers wrap") << dir + "wrapped.tr" << dir + "wrapped.follow.tsv" << 1;
    QTest::newRow("within one host") << QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr") << dir + "loopback.follow.tsv" << 3;
}

// Each direction shows every byte once and in order, as tshark reassembles it; a
// UDP conversation has no directions but shows all its payload live.
void TestConnection::reassemblyAgreesWithTshark()
{
    QFETCH(QString, trace);
    QFETCH(QString, follow);
    QFETCH(int, conversations);
    const auto packets = readTrace(trace);
    ConnectionTable table;
    fileAll(table, packets);
    const auto expected = readFollow(follow);
    QCOMPARE(int(table.connections().size()), conversations);
    QCOMPARE(int(expected.size()), conversations);
    for (const Followed& f : expected) {
        Connection* c = nullptr;
        for (const auto& candidate : table.connections())
            if (candidate->EndPoint1() == endPoint(f.node0) && candidate->EndPoint2() == endPoint(f.node1))
                c = candidate.get();
        QVERIFY2(c, qPrintable(f.node0));
        c->SortLstPackets();
        QByteArray live;
        for (const PacketListItem& item : c->packets())
            live.append(reinterpret_cast<const char*>(item.packet()->GetRealData()), item.packet()->payloadLength());
        if (f.protocol == QLatin1String("udp")) {
            QVERIFY(c->forward().size() == 0 && c->backward().size() == 0);
            QCOMPARE(live.size(), f.bytes0.size() + f.bytes1.size());
            continue;
        }
        QVERIFY(live.size() > f.bytes0.size() + f.bytes1.size() || trace.endsWith("loopback.tr"));
        QCOMPARE(joined(c->reassembled(true)), f.bytes0);
        QCOMPARE(joined(c->reassembled(false)), f.bytes1);
    }
}

void TestConnection::wideTextColoursByEndPoint1()
{
    Conversation ab;
    ab.add({A, B, 1, 2, 0, 0, 40});
    ab.add({B, A, 2, 1, 0, 0, 0});   // no payload: coloured, nothing shown
    ab.add({B, A, 2, 1, 40, 0, 30});
    Conversation cb;
    cb.add({C, B, 3, 2, 0, 0, 10});
    using Colours = std::vector<ColoredText::Colour>;
    auto colours = [](const WideText& t) {
        Colours out;
        for (const ColoredText& r : t.runs())
            out.push_back(r.colour);
        return out;
    };
    WideText text;
    text.showLive(ab.connection);
    QCOMPARE(colours(text), (Colours{ColoredText::Red, ColoredText::Blue}));
    QCOMPARE(text.size(), 70u);
    std::vector<unsigned char> bytes;
    std::vector<int> kinds;
    text.forEach(38, 43, [&](unsigned char b, ColoredText::Colour c) {
        bytes.push_back(b);
        kinds.push_back(c);
    });
    QCOMPARE(bytes, (std::vector<unsigned char>{38, 39, 40, 41, 42}));
    QCOMPARE(kinds, (std::vector<int>{0, 0, 1, 1, 1}));

    // Each conversation by its own end point 1, each time it is shown; on loopback
    // the port tells the ends apart.
    Conversation loop;
    loop.add({L, L, 5, 6, 0, 0, 10});
    loop.add({L, L, 6, 5, 0, 0, 10});
    for (const Conversation* c : {&cb, &ab, &loop})
        text.showLive(c->connection);
    QCOMPARE(colours(text), (Colours{ColoredText::Red, ColoredText::Blue}));
    text.showLive(cb.connection);
    QCOMPARE(colours(text), Colours{ColoredText::Red});
    text.showLive(ab.connection);
    QCOMPARE(colours(text), (Colours{ColoredText::Red, ColoredText::Blue}));
}

void TestConnection::connectionListSortsAndMerges()
{
    std::vector<std::unique_ptr<Connection>> made;
    std::vector<Connection*> batch;
    for (const char* ends : {"10.0.0.9|b", "10.0.0.10|c", "10.0.0.1|d", "10.0.0.9|a"}) {
        const QStringList two = QString::fromLatin1(ends).split(QLatin1Char('|'));
        made.push_back(std::make_unique<Connection>(two[0], two[1]));
        batch.push_back(made.back().get());
    }
    ConnectionListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    auto column = [&](int c) {
        QStringList out;
        for (int r = 0; r < model.rowCount(); ++r)
            out << model.data(model.index(r, c)).toString().trimmed();
        return out;
    };
    model.appendConnections(batch.data(), 2);
    QCOMPARE(column(0), (QStringList{"10.0.0.10", "10.0.0.9"}));
    const QPersistentModelIndex selected = model.index(1, 0);  // 10.0.0.9 -> b
    model.appendConnections(batch.data() + 2, 2);
    QCOMPARE(column(0), (QStringList{"10.0.0.1", "10.0.0.10", "10.0.0.9", "10.0.0.9"}));
    QCOMPARE(column(1), (QStringList{"d", "c", "b", "a"}));  // equal texts keep their order
    QCOMPARE(model.connection(selected.row()), batch[0]);
    model.sort(1, Qt::DescendingOrder);
    QCOMPARE(column(1), (QStringList{"d", "c", "b", "a"}));
    model.sort(1, Qt::AscendingOrder);
    QCOMPARE(column(1), (QStringList{"a", "b", "c", "d"}));
    QCOMPARE(model.connection(selected.row()), batch[0]);
}

void TestConnection::streamsJsonLine()
{
    Conversation t;
    t.add({A, B, 1, 2, 0xfe, 0, 3});
    t.add({B, A, 2, 1, 0x10, 0, 1});
    t.add({A, B, 1, 2, 0xfe, 0, 3});
    t.add({A, B, 1, 2, 0xfe, 0, 0, false});
    const QByteArray line = streamsjson::line(t.connection);
    QCOMPARE(line, QByteArray(R"({"ep1":"1","ep2":"2","packets":4,"live":"feff00)" R"(10)" R"(feff00","forward":"feff00","backward":"10"})"));
    QVERIFY(QJsonDocument::fromJson(line).isObject());
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"

// Connection tracking: filing by keys, the direction lists' ordering and folding,
// reassembly against tshark on real traces with loss, duplicates and reordering
// and on a crafted one whose sequence numbers wrap; the wide pane's text and
// colouring; the connection list's order; the streams JSON line.

#include "connectionfixtures.h"
#include "common/testmain.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/streamsjson.h"
#include "views/packets/widetext.h"

#include <QAbstractItemModelTester>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace fixtures;

namespace {
constexpr std::uint32_t A = 0x0a000001, B = 0x0a000002, C = 0x0a000003;

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

NUK_TEST_CLASS(TestConnection)
#include "tst_connection.moc"

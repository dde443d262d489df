// SPDX-License-Identifier: GPL-2.0-or-later
// Connection tracking: filing by keys, a port pair used again, the direction lists'
// ordering and folding (against the walking placement), reassembly against tshark on
// real traces with loss, duplicates, reordering and reused ports and on a crafted one
// whose sequence numbers wrap.

#include "connectionfixtures.h"
#include "common/testmain.h"

#include <QtTest>

#include <random>
#include <set>

using namespace fixtures;

namespace {
constexpr std::uint32_t A = 0x0a000001, B = 0x0a000002, C = 0x0a000003;

struct Seg {
    std::uint32_t src, dst;
    std::uint16_t sport, dport;
    std::uint32_t seq, ack;
    int payload;
    bool tcp = true;
    std::uint8_t flags = 0x10;  // ACK
};
constexpr std::uint8_t SYN = 0x02, SYNACK = 0x12;

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
    f.flags = s.flags;
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
    void reusedPortsStartANewConversation();
    void orderingAndFolding();
    void placementAgreesWithWalkingTheList();
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

// A SYN without ACK from a side that has sent already, other than a copy of that
// side's opening SYN, opens a new conversation, which takes over the key.
void TestConnection::reusedPortsStartANewConversation()
{
    constexpr std::uint32_t D = 0x0a000004;
    const std::vector<Seg> segs = {
        {A, B, 1025, 80, 100, 0, 0, true, SYN},     // 1: opens conversation 0
        {A, B, 1025, 80, 100, 0, 0, true, SYN},     //    a resent SYN: the same
        {B, A, 80, 1025, 900, 101, 0, true, SYNACK},
        {A, B, 1025, 80, 101, 901, 6},
        {A, B, 1025, 80, 5000, 0, 0, true, SYN},    // 2: another ISN: conversation 1
        {B, A, 80, 1025, 7000, 5001, 0, true, SYNACK},
        {C, B, 2000, 80, 1, 0, 0, true, SYN},       // 3: conversation 2 ...
        {B, C, 80, 2000, 9, 0, 0, true, SYN},       //    ... opened from both sides at once
        {B, A, 80, 1025, 300, 0, 0, true, SYN},     // 4: the server side opens conversation 3
        {A, B, 1025, 80, 6000, 301, 0, true, SYNACK},
        {D, B, 3000, 80, 50, 1, 5},                 // 5: seen from the middle: conversation 4
        {D, B, 3000, 80, 40, 0, 0, true, SYN},      // 6: conversation 5
        {D, B, 3000, 80, 40, 0, 0, false},          //    UDP on the same ends: conversation 5
    };
    std::vector<std::unique_ptr<CPacket>> p;
    ConnectionTable table;
    std::vector<std::size_t> filedUnder;
    for (const Seg& s : segs) {
        p.push_back(make(s));
        const Connection* c = table.file(p.back().get());
        for (std::size_t i = 0; i < table.connections().size(); ++i)
            if (table.connections()[i].get() == c)
                filedUnder.push_back(i);
    }
    QCOMPARE(filedUnder, (std::vector<std::size_t>{0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 5, 5}));
    QCOMPARE(table.connections()[3]->EndPoint1(), QStringLiteral("10.0.0.2    <80> "));
    QCOMPARE(table.connections()[5]->packets()[0].number(), 12u);
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
    QCOMPARE(std::next(t.connection.forward().entries().begin(), 4)->packet, 3u);
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

namespace {
// Placement as the lists were first built: walking the entries of a sequence number.
// Kept as the reference for the ordering and folding rules.
struct WalkedList {
    struct Item {
        std::uint32_t seq, ack, packet, length;
    };
    std::vector<Item> items;
    void place(const Item& e)
    {
        bool replaced = false, present = false;
        for (std::size_t i = 0; i < items.size();) {
            if (items[i].seq != e.seq || items[i].ack != e.ack)
                ++i;
            else if (items[i].length >= e.length)
                present = true, ++i;
            else if (!replaced)
                items[i++] = e, replaced = true;
            else
                items.erase(items.begin() + std::ptrdiff_t(i));
        }
        if (replaced || present)
            return;
        std::size_t pos = 0;
        if (items.size() == 1) {
            pos = e.seq < items[0].seq ? 0 : 1;
        } else {
            while (pos < items.size() && items[pos].seq < e.seq)
                ++pos;
            while (pos < items.size() && items[pos].seq == e.seq && items[pos].ack < e.ack)
                ++pos;
        }
        items.insert(items.begin() + std::ptrdiff_t(pos), e);
    }
};
}  // namespace

// Random short conversations with few distinct sequence and acknowledgement numbers,
// sorted in one or more runs: the lists equal the walked reference's.
void TestConnection::placementAgreesWithWalkingTheList()
{
    std::mt19937 random(25);
    auto pick = [&](std::uint32_t n) { return std::uint32_t(random() % n); };
    for (int round = 0; round < 2000; ++round) {
        Conversation t;
        WalkedList reference[2];
        const std::uint32_t count = 1 + pick(14);
        const bool firstFromA = pick(2) == 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const bool fromA = i == 0 ? firstFromA : pick(4) != 0;
            const Seg s{fromA ? A : B, fromA ? B : A, 1, 1, 1000 + pick(4), 7 + pick(4), int(pick(4))};
            t.add(s);
            reference[fromA == firstFromA ? 0 : 1]  // the first packet's sender is forward
                .place({s.seq, s.ack, i, std::uint32_t(s.payload)});
            if (pick(5) == 0)
                t.connection.SortLstPackets();
        }
        t.connection.SortLstPackets();
        for (int d = 0; d < 2; ++d) {
            QStringList got, want;
            for (const DirectionList::Entry& e : (d == 0 ? t.connection.forward() : t.connection.backward()).entries()) {
                const CPacket& p = *t.connection.packets()[e.packet].packet();
                got << QStringLiteral("%1/%2/%3#%4").arg(p.GetSequenceNo()).arg(p.GetAcknowlegetNo()).arg(e.length).arg(e.packet);
            }
            for (const WalkedList::Item& e : reference[d].items)
                want << QStringLiteral("%1/%2/%3#%4").arg(e.seq).arg(e.ack).arg(e.length).arg(e.packet);
            QCOMPARE(got, want);
        }
    }
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
    QTest::newRow("port pair used again") << dir + "reused.tr" << dir + "reused.follow.tsv" << 2;
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
    std::set<Connection*> seen;  // the next conversation on the same ends is tshark's next stream
    for (const Followed& f : expected) {
        Connection* c = nullptr;
        for (const auto& candidate : table.connections())
            if (!c && !seen.count(candidate.get()) && candidate->EndPoint1() == endPoint(f.node0) &&
                candidate->EndPoint2() == endPoint(f.node1))
                c = candidate.get();
        seen.insert(c);
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
        QVERIFY(live.size() > f.bytes0.size() + f.bytes1.size() || trace.endsWith("loopback.tr") ||
                trace.endsWith("reused.tr"));
        QCOMPARE(joined(c->reassembled(true)), f.bytes0);
        QCOMPARE(joined(c->reassembled(false)), f.bytes1);
    }
}

NUK_TEST_CLASS(TestConnection)
#include "tst_connection.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// Following a TCP connection: packet sequences built by hand, and a real trace with
// connections ended in seven ways (its flags held against tshark).

#include "common/testmain.h"
#include "packets/packetfixtures.h"
#include "views/tcpstate/tcpstatejson.h"
#include "views/tcpstate/tcpstatetracker.h"

#include <QtTest>

using namespace fixtures;

namespace {

const QString kTrace = QStringLiteral(NUK_TEST_DATA "/tcpstate/closes.pcap");

// "c:SA" is a packet from the client (10.0.0.1:1234) to the server (192.168.1.2:80)
// with SYN and ACK; "s:" the other way. Letters: S A P R F U. "@n" sets the
// acknowledgement number (sequence numbers are 1).
std::unique_ptr<CPacket> packet(QString spec)
{
    Fields f;
    if (const int at = spec.indexOf(QLatin1Char('@')); at >= 0) {
        f.ack = spec.mid(at + 1).toUInt();
        spec.truncate(at);
    }
    const bool fromServer = spec.startsWith(QLatin1Char('s'));
    if (fromServer) {
        std::swap(f.src, f.dst);
        std::swap(f.sport, f.dport);
    }
    f.flags = 0;
    const char* letters = "FSRPAU";  // bit 0 upwards
    for (QChar c : spec.mid(2))
        f.flags |= std::uint8_t(1u << (std::strchr(letters, c.toLatin1()) - letters));
    return build(f);
}

// Feeds the packets; gives the step after each. "!" first: a connection the user
// chose, fixed by its first packet.
QList<int> steps(TcpStateTracker& t, const QString& sequence)
{
    QList<int> out;
    for (const QString& spec : sequence.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (spec == QLatin1String("!")) {
            t.chooseNext();
            continue;
        }
        t.addPacket(*packet(spec));
        out << t.step();
    }
    return out;
}

// The JSON list of sticky flags: "[...]".
QByteArray stickyOf(const TcpStateTracker& t)
{
    const QByteArray line = tcpstatejson::line(0, t);
    return line.mid(line.indexOf("\"sticky\":") + 9).chopped(1);
}

// tshark's tcp.flags (0x0012) as the tracker's flag text.
QByteArray flagsFromHex(const QString& hex)
{
    const unsigned b = hex.toUInt(nullptr, 16);
    return tcpstatejson::flagsText({bool(b & 2), bool(b & 16), bool(b & 8), bool(b & 4), bool(b & 1), bool(b & 32)});
}

}  // namespace

class TestTcpStateTracker : public QObject {
    Q_OBJECT
private slots:
    void stepSequences_data();
    void stepSequences();
    void membership();
    void realCloses();
};

// The real trace below covers the common closes; these are the paths it cannot show.
void TestTcpStateTracker::stepSequences_data()
{
    QTest::addColumn<QString>("packets");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QByteArray>("sticky");
    QTest::newRow("FIN answered by FIN, a new SYN after the close")
        << "c:S s:SA c:A c:F s:F c:A c:S" << QList<int>{1, 2, 5, 11, 15, 16, 1} << QByteArray("[\"simultaneous close\"]");
    // The client's FIN (sequence 1) takes sequence number 1: acknowledged from 2 on,
    // but not from 2^31 further on; a repeated first FIN answers nothing.
    QTest::newRow("FIN+ACK acknowledging the FIN") << "c:S s:SA c:A c:F c:FA s:FA@2" << QList<int>{1, 2, 5, 11, 11, 13}
                                                   << QByteArray("[\"FIN-ACK close\"]");
    QTest::newRow("FIN+ACK not acknowledging it") << "c:S s:SA c:A c:F s:FA@1 c:A" << QList<int>{1, 2, 5, 11, 15, 16}
                                                  << QByteArray("[\"simultaneous close\"]");
    QTest::newRow("FIN+ACK, 2^31 ahead is behind") << "c:S s:SA c:A c:F s:FA@2147483650" << QList<int>{1, 2, 5, 11, 15}
                                                      << QByteArray("[\"simultaneous close\"]");
    // RST+ACK: the RST rule comes before the ACK rule.
    QTest::newRow("RST in SYN_RCVD") << "c:S s:SA s:RA s:SA c:A" << QList<int>{1, 2, 3, 2, 5} << QByteArray("[\"RST seen\"]");
    QTest::newRow("simultaneous open") << "c:S s:S c:SA s:SA c:A" << QList<int>{1, 1, 2, 4, 5}
                                       << QByteArray("[\"simultaneous open\"]");
    QTest::newRow("repeated SYN+ACK establishes") << "c:S s:SA s:SA" << QList<int>{1, 2, 5} << QByteArray("[]");
    // A FIN in the packet that fixes a chosen connection cannot be attributed: the
    // server's FIN that follows is the first one.
    QTest::newRow("FIN fixes a chosen connection") << "! c:FA s:FA c:F" << QList<int>{0, 0, 0}
                                                   << QByteArray("[\"server closed first\"]");
    // Unchosen, packets from the middle of a connection fix nothing: the first SYN
    // without ACK (here the server's, opening another one) does.
    QTest::newRow("waits for a connection to open") << "c:A s:PA c:FA c:SA s:S c:SA s:A" << QList<int>{0, 0, 0, 0, 1, 2, 5}
                                                    << QByteArray("[]");
}

void TestTcpStateTracker::stepSequences()
{
    QFETCH(QString, packets);
    QFETCH(QList<int>, steps);
    QFETCH(QByteArray, sticky);
    TcpStateTracker t;
    QCOMPARE(::steps(t, packets), steps);
    QCOMPARE(stickyOf(t), sticky);
    QCOMPARE(t.awaitingReference(), steps.last() == 0 && !packets.startsWith(QLatin1Char('!')));
}

void TestTcpStateTracker::membership()
{
    TcpStateTracker t;
    QCOMPARE(t.addPacket(*packet("c:S")), TcpStateTracker::Verdict::Member);
    QCOMPARE(t.connectionText(), QStringLiteral("10.0.0.1:1234 \u2194 192.168.1.2:80"));
    QCOMPARE(tcpstatejson::line(7, t), QByteArray("{\"no\":7,\"step\":1,\"flags\":\"SYN\",\"sticky\":[]}"));

    // Addresses and ports each match in either direction on their own.
    Fields f;
    f.flags = 0x12;
    auto verdict = [&](std::uint32_t dst, std::uint16_t sport, std::uint16_t dport) {
        f.dst = dst;
        f.sport = sport;
        f.dport = dport;
        return t.addPacket(*build(f));
    };
    QCOMPARE(verdict(0xc0a80102, 80, 1234), TcpStateTracker::Verdict::Member);
    QCOMPARE(t.step(), 2);
    QCOMPARE(verdict(0xc0a80102, 1235, 80), TcpStateTracker::Verdict::OtherConnection);
    QCOMPARE(verdict(0xc0a80103, 1234, 80), TcpStateTracker::Verdict::OtherConnection);
    QCOMPARE(t.step(), 2);
}

// Each connection of the trace on its own tracker; the flags each packet recorded are
// the ones tshark reads.
void TestTcpStateTracker::realCloses()
{
    const auto frames = readTrace(kTrace);
    const auto tshark = readTsv(QStringLiteral(NUK_TEST_DATA "/tcpstate/closes.tshark.tsv"));
    QCOMPARE(frames.size(), tshark.size());
    struct Close {
        int port;
        QList<int> steps;
        QByteArray sticky;
    };
    const Close closes[] = {
        {7001, {1, 2, 5, 5, 5, 5, 5, 11, 12, 14, 14}, "[]"},
        {7002, {1, 2, 5, 5, 5, 5, 5, 11, 12, 14, 14}, "[\"server closed first\"]"},
        {7003, {1, 2, 5, 5, 5, 11, 13, 13}, "[\"FIN-ACK close\"]"},
        // Crossing FINs both carry ACK, but the server's does not acknowledge the
        // client's: a simultaneous close.
        {7004, {1, 2, 5, 5, 5, 11, 15, 16, 16, 16, 16, 16, 16}, "[\"simultaneous close\"]"},
        {7005, {1, 2, 5, 5, 5, 11, 12, 12, 12, 12, 12, 12, 12, 14, 14}, "[]"},
        {7006, {1, 2, 5, 5, 5, 5}, "[\"RST seen\"]"},
        {7007, {1, 1}, "[\"RST seen\"]"},
    };
    int seen = 0;
    for (const Close& c : closes) {
        TcpStateTracker t;
        QList<int> got;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const CPacket& p = *frames[i].packet;
            if (p.GetSrcPort() != c.port && p.GetDstPort() != c.port)
                continue;
            QCOMPARE(t.addPacket(p), TcpStateTracker::Verdict::Member);
            QCOMPARE(tcpstatejson::flagsText(t.packetFlags()), flagsFromHex(tshark[i][5]));
            got << t.step();
        }
        QCOMPARE(got, c.steps);
        QCOMPARE(stickyOf(t), c.sticky);
        seen += int(got.size());
    }
    QCOMPARE(seen, int(frames.size()));
}

NUK_TEST_CLASS(TestTcpStateTracker)
#include "tst_tcpstatetracker.moc"

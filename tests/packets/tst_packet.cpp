// Decoding: a real loopback trace against tshark's decoding of the same trace,
// and the edge cases of the field tree built by hand.

#include "packetfixtures.h"
#include "views/packets/packet.h"
#include "views/packets/packetjson.h"

#include <QtTest>

using namespace fixtures;

namespace {
// Folder lines and positions flattened in display order ("  " per level).
QStringList flatten(const Packet& p)
{
    QStringList out;
    std::function<void(const ItemFolder&, int)> walk = [&](const ItemFolder& f, int depth) {
        out << QString(2 * depth, QLatin1Char(' ')) + f.folderName() + QStringLiteral(" @%1/%2").arg(f.pos()).arg(f.length());
        for (const auto& c : f.children())
            walk(*c, depth + 1);
    };
    for (const auto& f : p.folders())
        walk(*f, 0);
    return out;
}

const ItemFolder* findFolder(const Packet& p, const QString& layer, const QString& prefix)
{
    for (const auto& f : p.folders()) {
        if (f->folderName() != layer)
            continue;
        for (const auto& c : f->children())
            if (c->folderName().startsWith(prefix))
                return c.get();
    }
    return nullptr;
}

QString hexOf(std::uint64_t v, int digits) { return QString::number(v, 16).rightJustified(digits, QLatin1Char('0')); }
QString hexOfAddress(const QString& dotted)
{
    QString out;
    for (const QString& part : dotted.split(QLatin1Char('.')))
        out += hexOf(part.toUInt(), 2);
    return out;
}

}  // namespace

class TestPacket : public QObject {
    Q_OBJECT
private slots:
    void traceAgreesWithTshark();
    void fullTreeOfTcpWithOptionsAndPayload();
    void flagTexts_data();
    void flagTexts();
    void numbersAndTimes();
    void nonIpEthernetType();
    void udpSummaryAndTree();
    void headerLengthsStayInsideTheRecord();
    void jsonQuoting();
};

// Every packet of a trace captured with tcpdump on loopback: the values, and the
// hex digits under every marked field, agree with tshark and with the frame bytes.
// Columns: see tests/data/packets/make_traces.sh.
void TestPacket::traceAgreesWithTshark()
{
    const auto trace = readTrace(QStringLiteral(NUK_TEST_DATA "/packets/loopback.tr"));
    const auto tsv = readTsv(QStringLiteral(NUK_TEST_DATA "/packets/loopback.tshark.tsv"));
    QCOMPARE(int(trace.size()), 15);
    QCOMPARE(trace.size(), tsv.size());
    const BaseTime base{trace[0].packet->GetTimeStamp()[0], trace[0].packet->GetTimeStamp()[1]};
    for (std::size_t n = 0; n < trace.size(); ++n) {
        const QStringList& t = tsv[n];
        const Packet p(*trace[n].packet, std::int64_t(n + 1), base);
        const bool tcp = t[10] == QLatin1String("6");
        const QString where = QStringLiteral("packet %1").arg(n + 1);
        // The image is the frame as captured (loopback frames carry no trailer).
        QCOMPARE(p.text(), QString::fromLatin1(trace[n].frame.toHex()));
        QCOMPARE(p.No(), t[0].rightJustified(8, QLatin1Char('0')));
        QVERIFY2(qAbs(p.time().toDouble() - t[1].toDouble()) <= 1e-6 + 1e-5 * t[1].toDouble(), qPrintable(where));
        QCOMPARE(QStringList({p.SourceIP(), p.DestIP(), p.protocol()}), QStringList({t[12], t[13], tcp ? "TCP" : "UDP"}));

        auto field = [&](const QString& layer, const QString& prefix) {
            const ItemFolder* f = findFolder(p, layer, prefix);
            if (!f)
                qFatal("%s: no field %s/%s", qPrintable(where), qPrintable(layer), qPrintable(prefix));
            return f;
        };
        const QString ipl = QStringLiteral("Internet Protocol");
        const QString l4 = tcp ? QStringLiteral("Transmission Control Protocol") : QStringLiteral("User Datagram Protocol");
        const int payload = tcp ? t[23].toInt() : t[28].toInt();
        // Field -> the digits tshark's value gives.
        std::vector<std::pair<const ItemFolder*, QString>> digits = {
            {field(QStringLiteral("EtherNet II"), QStringLiteral("Type")), t[5].mid(2)},
            {field(ipl, QStringLiteral("Header length")), hexOf(t[6].toUInt() / 4, 1)},
            {field(ipl, QStringLiteral("Total length")), hexOf(t[7].toUInt(), 4)},
            {field(ipl, QStringLiteral("Identification")), t[8].mid(2)},
            {field(ipl, QStringLiteral("Time to live")), hexOf(t[9].toUInt(), 2)},
            {field(ipl, QStringLiteral("Header checksum")), t[11].mid(2)},
            {field(ipl, QStringLiteral("Source")), hexOfAddress(t[12])},
            {field(ipl, QStringLiteral("Destination")), hexOfAddress(t[13])},
            {field(l4, QStringLiteral("Source port")), hexOf((tcp ? t[14] : t[24]).toUInt(), 4)},
            {field(l4, QStringLiteral("Destination port")), hexOf((tcp ? t[15] : t[25]).toUInt(), 4)},
        };
        const unsigned flags = t[19].toUInt(nullptr, 16);
        if (tcp) {
            digits.insert(digits.end(), {{field(l4, QStringLiteral("Sequence Number")), hexOf(t[16].toULongLong(), 8)},
                                         {field(l4, QStringLiteral("Acknowledge No")), hexOf(t[17].toULongLong(), 8)},
                                         {field(l4, QStringLiteral("Header length")), hexOf(t[18].toUInt() / 4, 1)},
                                         {field(l4, QStringLiteral("Flags")), hexOf(flags, 3)},
                                         {field(l4, QStringLiteral("Window Size")), hexOf(t[20].toUInt(), 4)},
                                         {field(l4, QStringLiteral("CheckSum")), t[21].mid(2)},
                                         {field(l4, QStringLiteral("Urgent pointer")), hexOf(t[22].toUInt(), 4)}});
        } else {
            digits.push_back({field(l4, QStringLiteral("Length")), hexOf(t[26].toUInt(), 4)});
        }
        if (const ItemFolder* ipOpt = findFolder(p, ipl, QStringLiteral("IP optional")))
            digits.push_back({ipOpt, QString::fromLatin1(trace[n].frame.mid(34, t[6].toInt() - 20).toHex())});
        if (payload > 0)
            digits.push_back({p.folders().back().get(), QString::fromLatin1(trace[n].frame.right(payload).toHex())});
        QCOMPARE(findFolder(p, ipl, QStringLiteral("IP optional")) != nullptr, t[6].toInt() > 20);
        QCOMPARE(findFolder(p, l4, QStringLiteral("TCP optional")) != nullptr, tcp && t[18].toInt() > 20);
        for (const auto& [f, want] : digits)
            QVERIFY2(p.text().mid(f->pos(), f->length()) == want, qPrintable(where + QLatin1Char(' ') + f->folderName()));

        // Texts that carry tshark's values.
        QCOMPARE(field(QStringLiteral("Frame"), QStringLiteral("Capture length"))->folderName(),
                 QStringLiteral("Capture length:  %1 bytes").arg(t[2]));
        QCOMPARE(field(ipl, QStringLiteral("Source"))->folderName(), QStringLiteral("Source:   %1  (%1)").arg(t[12]));
        if (tcp) {
            QCOMPARE(field(l4, QStringLiteral("Sequence Number"))->folderName(), QStringLiteral("Sequence Number:   ") + t[16]);
            QCOMPARE(p.getTCPSeqNo(), std::uint32_t(t[16].toULongLong()));
            QCOMPARE(p.getTCPAckNo(), std::uint32_t(t[17].toULongLong()));
            QCOMPARE(p.info(), QStringLiteral("%1 > %2     %3  Seq=%4  Ack=%5  Win=%6")
                                   .arg(t[14], t[15], packettext::flagSummary(std::uint8_t(flags)), t[16], t[17],
                                        QString::number(t[20].toUInt(), 16)));
        } else {
            QCOMPARE(field(l4, QStringLiteral("Checksum"))->folderName(), QStringLiteral("Checksum:   %1").arg(t[27].toUInt(nullptr, 16)));
            QCOMPARE(p.info(), QStringLiteral("%1 > %2     ").arg(t[24], t[25]));
        }
        QCOMPARE(p.folders().back()->folderName().startsWith(QLatin1String("Data")), payload > 0);
        QCOMPARE(p.data(), payload > 0 ? digits.back().second : QString());
    }
}

// Every line of one TCP packet with 4 bytes of IP options, 12 of TCP options and a
// payload, with its position and length.
void TestPacket::fullTreeOfTcpWithOptionsAndPayload()
{
    Fields s;
    s.ipOptions = 4;
    s.tcpOptions = 12;
    s.flags = 0x18;
    s.seq = 4294967295u;
    s.ack = 7;
    s.window = 0x01f5;
    s.payload = 5;
    s.payloadStart = 0x41;
    const auto cp = build(s);
    const Packet p(*cp, 3, BaseTime{999, 500000});
    const QStringList expected = {
        QStringLiteral("Frame @-1/-1"),
        QStringLiteral("  Capture length:  75 bytes @-1/-1"),
        QStringLiteral("  Packet length:  75 bytes @-1/-1"),
        QStringLiteral("EtherNet II @-1/-1"),
        QStringLiteral("  Destination:   00:0a:95:9d:68:16 @0/12"),
        QStringLiteral("  Source:  02:42:ac:11:00:02 @12/12"),
        QStringLiteral("  Type:   IP( 0x0800) @24/4"),
        QStringLiteral("Internet Protocol @-1/-1"),
        QStringLiteral("  Version:   4 @28/1"),
        QStringLiteral("  Header length:   24 @29/1"),
        QStringLiteral("  Differentiated Service Field:   0 @30/2"),
        QStringLiteral("  Total length:   61 @32/4"),
        QStringLiteral("  Identification:   0xbeef @36/4"),
        QStringLiteral("  Flags (3 bits):   010 @40/1"),
        QStringLiteral("  Fragment Offset (13 bits):   0x0000 @40/4"),
        QStringLiteral("  Time to live:   64 @44/2"),
        QStringLiteral("  Protocol:   TCP  (0x06) @46/2"),
        QStringLiteral("  Header checksum:   0x1234 @48/4"),
        QStringLiteral("  Source:   10.0.0.1  (10.0.0.1) @52/8"),
        QStringLiteral("  Destination:   192.168.1.2  (192.168.1.2) @60/8"),
        QStringLiteral("  IP optional:   4 bytes @68/8"),
        QStringLiteral("Transmission Control Protocol @-1/-1"),
        QStringLiteral("  Source port:   1234 @76/4"),
        QStringLiteral("  Destination port:   80 @80/4"),
        QStringLiteral("  Sequence Number:   4294967295 @84/8"),
        QStringLiteral("  Acknowledge No:   7 @92/8"),
        QStringLiteral("  Header length:   32 @100/1"),
        QStringLiteral("  Flags:   00011000 @101/3"),
        QStringLiteral("    0 . . . . .  =  Urgent:  not set @-1/-1"),
        QStringLiteral("    . 1 . . . .  =  Acknowledgement:  set @-1/-1"),
        QStringLiteral("    . . 1 . . .  =  Push:  set @-1/-1"),
        QStringLiteral("    . . .0 . .  =  Reset:  not set @-1/-1"),
        QStringLiteral("    . . . .0 .  =  SYN:  not set @-1/-1"),
        QStringLiteral("    . . . . .0   =  FIN:  not set @-1/-1"),
        QStringLiteral("  Window Size:   0x1f5 @104/4"),
        QStringLiteral("  CheckSum:   0xabcd @108/4"),
        QStringLiteral("  Urgent pointer:   1 @112/4"),
        QStringLiteral("  TCP optional:   12 bytes @116/24"),
        QStringLiteral("Data:   5 bytes @140/10"),
    };
    QCOMPARE(flatten(p), expected);
    QCOMPARE(p.time(), QStringLiteral("0.5"));
    QCOMPARE(p.text().mid(140), QStringLiteral("4142434445"));
    QCOMPARE(p.data(), p.text().mid(140));
    QCOMPARE(p.info(), QStringLiteral("1234 > 80     [ ACK PSH ]  Seq=4294967295  Ack=7  Win=1f5"));
}

void TestPacket::flagTexts_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("0x12") << 0x12 << QStringLiteral("[ ACK SYN ]")
                          << QStringList{"0 . . . . .  =  Urgent:  not set", ". 1 . . . .  =  Acknowledgement:  set",
                                         ". .0 . . .  =  Push:  not set", ". . .0 . .  =  Reset:  not set",
                                         ". . . . 1 .  =  SYN:   set", ". . . . .0   =  FIN:  not set"};
    QTest::newRow("all") << 0x3f << QStringLiteral("[ URG ACK PSH RST SYN FIN ]")
                         << QStringList{" 1 . . . . .  =  Urgent:  set", ". 1 . . . .  =  Acknowledgement:  set",
                                        ". . 1 . . .  =  Push:  set", ". . . 1 . .  =  Reset:  set",
                                        ". . . . 1 .  =  SYN:   set", ". . . . . 1   =  FIN:   set"};
    QTest::newRow("none") << 0 << QStringLiteral("[ ]")
                          << QStringList{"0 . . . . .  =  Urgent:  not set", ".0 . . . .  =  Acknowledgement:  not set",
                                         ". .0 . . .  =  Push:  not set", ". . .0 . .  =  Reset:  not set",
                                         ". . . .0 .  =  SYN:  not set", ". . . . .0   =  FIN:  not set"};
}

void TestPacket::flagTexts()
{
    QFETCH(int, flags);
    QFETCH(QString, summary);
    QFETCH(QStringList, rows);
    Fields s;
    s.flags = std::uint8_t(flags);
    const auto cp = build(s);
    const Packet p(*cp, 1, {});
    QCOMPARE(p.flags(), QString::number(flags, 2).rightJustified(8, QLatin1Char('0')));
    QCOMPARE(p.flagSummary(), summary);
    QVERIFY(p.info().contains(QStringLiteral("     %1  Seq=").arg(summary)));
    QStringList children;
    for (const auto& c : findFolder(p, QStringLiteral("Transmission Control Protocol"), QStringLiteral("Flags"))->children())
        children << c->folderName();
    QCOMPARE(children, rows);
}

void TestPacket::numbersAndTimes()
{
    Fields s;
    s.sec = 1000;
    s.usec = 13457;
    const auto cp = build(s);
    QCOMPARE(Packet(*cp, 1, {}).No(), QStringLiteral("00000001"));
    QCOMPARE(Packet(*cp, 99999999, {}).No(), QStringLiteral("99999999"));
    QCOMPARE(Packet(*cp, 123456789, {}).No(), QStringLiteral("123456789"));
    QCOMPARE(Packet(*cp, 1, BaseTime{1000, 0}).time(), QStringLiteral("0.013457"));
    QCOMPARE(Packet(*cp, 1, BaseTime{1000, 13457}).time(), QStringLiteral("0"));
    QCOMPARE(Packet(*cp, 1, BaseTime{987, 513457}).time(), QStringLiteral("12.5"));
    QCOMPARE(Packet(*cp, 1, BaseTime{999, 999990}).time(), QStringLiteral("0.013467"));
    QCOMPARE(Packet(*cp, 1, BaseTime{1000, 13467}).time(), QStringLiteral("-1e-05"));
    QCOMPARE(Packet(*cp, 1, BaseTime{0, 0}).time(), QStringLiteral("1000.01"));
    QCOMPARE(Packet(*cp, 1, BaseTime{-2000000, 0}).time(), QStringLiteral("2.001e+06"));
}

void TestPacket::nonIpEthernetType()
{
    Fields s;
    s.etherType = 0x86dd;
    const auto cp = build(s);
    const Packet p(*cp, 1, {});
    const ItemFolder* type = findFolder(p, QStringLiteral("EtherNet II"), QStringLiteral("Type"));
    QCOMPARE(type->folderName(), QStringLiteral("Type:   ( 0x86dd)"));
    QCOMPARE(p.text().mid(type->pos(), type->length()), QStringLiteral("86dd"));
}

void TestPacket::udpSummaryAndTree()
{
    Fields s;
    s.tcp = false;
    s.sport = 53;
    s.dport = 40000;
    s.payload = 20;
    const auto cp = build(s);
    const Packet p(*cp, 1, {});
    QCOMPARE(p.protocol(), QStringLiteral("UDP"));
    QCOMPARE(p.info(), QStringLiteral("53 > 40000     "));
    QVERIFY(p.flagSummary().isEmpty());
    QCOMPARE(p.SourcePort(), QStringLiteral("53"));
    QCOMPARE(p.text().size(), 2 * (42 + 20));
    QStringList udp;
    for (const auto& c : p.folders()[3]->children())
        udp << c->folderName() + QStringLiteral(" @%1/%2").arg(c->pos()).arg(c->length());
    QCOMPARE(udp, (QStringList{QStringLiteral("Source port:   53 @68/4"), QStringLiteral("Destination port:   40000 @72/4"),
                               QStringLiteral("Length(including data):   28 @76/4"), QStringLiteral("Checksum:   258 @80/4")}));
    QCOMPARE(p.folders()[4]->pos(), 84);
    QStringList names;
    for (ItemFolder* f = p.firstItemFolder(); f; f = p.nextItemFolder())
        names << f->folderName();
    QCOMPARE(names, (QStringList{"Frame", "EtherNet II", "Internet Protocol", "User Datagram Protocol", "Data:   20 bytes"}));
    QVERIFY(!p.nextItemFolder());
}

// Header length fields that disagree with what the record holds: the image and the
// positions follow the bytes actually copied, never past them. 15/15 is the largest
// true header, 40 bytes of options each.
void TestPacket::headerLengthsStayInsideTheRecord()
{
    for (int ihl : {0, 1, 4, 15}) {
        for (int off : {0, 3, 15}) {
            Fields s;
            s.ihlOverride = ihl;
            s.tcpOffsetOverride = off;
            s.ipOptions = s.tcpOptions = ihl == 15 && off == 15 ? 40 : 0;
            s.payload = 2;
            const auto cp = build(s);
            const Packet p(*cp, 1, {});
            const int ipOpt = std::max(0, ihl * 4 - 20);
            const int tcpOpt = std::max(0, off * 4 - 20);
            QCOMPARE(p.text().size(), 2 * (14 + 20 + ipOpt + 20 + tcpOpt + 2));
            for (const QString& line : flatten(p)) {
                const QStringList pl = line.section(QLatin1Char('@'), -1).split(QLatin1Char('/'));
                QVERIFY(pl[0].toInt() + pl[1].toInt() <= p.text().size());
            }
            QCOMPARE(p.folders().back()->pos(), p.text().size() - 4);
            if (s.ipOptions)
                QCOMPARE(findFolder(p, QStringLiteral("Transmission Control Protocol"), QStringLiteral("TCP optional"))->pos(),
                         2 * (14 + 60) + 40);
        }
    }
}

void TestPacket::jsonQuoting()
{
    QCOMPARE(packetjson::quoted(QStringLiteral("a\"b\\c\n\x01")), QByteArray("\"a\\\"b\\\\c\\n\\u0001\""));
}

QTEST_GUILESS_MAIN(TestPacket)
#include "tst_packet.moc"

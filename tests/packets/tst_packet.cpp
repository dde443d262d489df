// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding: a real loopback trace against tshark's decoding of the same trace, and
// the quoting of the JSON lines.

#include "packetfixtures.h"
#include "common/testmain.h"
#include "views/packets/packet.h"
#include "views/packets/packetjson.h"
#include "capture/ipaddress.h"

#include <QtTest>

using namespace fixtures;

namespace {
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
    void ipv6TracesAgreeWithTshark_data();
    void ipv6TracesAgreeWithTshark();
    void ipv6Layer_data();
    void ipv6Layer();
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
            {field(QStringLiteral("EtherNet II"), QStringLiteral("Destination")), QString(t[3]).remove(QLatin1Char(':'))},
            {field(QStringLiteral("EtherNet II"), QStringLiteral("Source")), QString(t[4]).remove(QLatin1Char(':'))},
            {field(QStringLiteral("EtherNet II"), QStringLiteral("Type")), t[5].mid(2)},
            {field(ipl, QStringLiteral("Version")), QStringLiteral("4")},
            {field(ipl, QStringLiteral("Protocol")), hexOf(t[10].toUInt(), 2)},
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

// Real IPv6 traces (tcpdump on lo and on a veth pair, and crafted extension headers)
// against tshark: values, texts and the hex digits under every IPv6 field.
// Columns: see tests/data/packets/make_ipv6_tsv.sh.
void TestPacket::ipv6TracesAgreeWithTshark_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"veth6-eth", "lo6-http", "crafted6"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestPacket::ipv6TracesAgreeWithTshark()
{
    QFETCH(QString, name);
    const auto trace = readTrace(QStringLiteral(NUK_TEST_DATA "/ipv6/") + name + QStringLiteral(".pcap"));
    const auto tsv = readTsv(QStringLiteral(NUK_TEST_DATA "/packets/") + name + QStringLiteral(".tshark.tsv"));
    // The capture helper's tshark reading: column 4 is the IPv6 header with its extension headers.
    const auto lengths = readTsv(QStringLiteral(NUK_TEST_DATA "/ipv6/") + name + QStringLiteral(".pcap.expected"));
    QCOMPARE(trace.size(), tsv.size());
    const QString ipl = QStringLiteral("Internet Protocol Version 6");
    for (std::size_t n = 0; n < trace.size(); ++n) {
        const QStringList& t = tsv[n];
        const Packet p(*trace[n].packet, std::int64_t(n + 1), BaseTime{});
        const bool tcp = !t[11].isEmpty();
        const QString where = QStringLiteral("%1 packet %2").arg(name).arg(n + 1);
        const int ext = lengths[n][4].toInt() - 40;
        const Bytes& f = trace[n].frame;
        QVERIFY2(p.text() == QString::fromLatin1((f.left(54) + f.mid(54 + ext)).toHex()).left(p.text().size()), qPrintable(where));
        QCOMPARE(QStringList({p.SourceIP(), p.DestIP(), p.protocol()}), QStringList({t[9], t[10], tcp ? "TCP" : "UDP"}));
        const auto field = [&](const QString& prefix) {
            const ItemFolder* found = findFolder(p, ipl, prefix);
            if (!found)
                qFatal("%s: no field %s", qPrintable(where), qPrintable(prefix));
            return found;
        };
        const auto addressHex = [](const QString& text) {
            return QString::fromStdString(IpAddress::fromText(text.toLatin1().constData()).text()) == text
                       ? QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(IpAddress::fromText(text.toLatin1().constData()).bytes().data()), 16).toHex())
                       : QString();
        };
        const std::vector<std::pair<const ItemFolder*, QString>> digits = {
            {findFolder(p, QStringLiteral("EtherNet II"), QStringLiteral("Type")), t[3].mid(2)},
            {field(QStringLiteral("Version")), QStringLiteral("6")},
            {field(QStringLiteral("Traffic Class")), hexOf(t[4].toUInt(nullptr, 16), 2)},
            {field(QStringLiteral("Flow Label")), hexOf(t[5].toUInt(nullptr, 16), 5)},
            {field(QStringLiteral("Payload Length")), hexOf(t[6].toUInt(), 4)},
            {field(QStringLiteral("Next Header")), hexOf(t[7].toUInt(), 2)},
            {field(QStringLiteral("Hop Limit")), hexOf(t[8].toUInt(), 2)},
            {field(QStringLiteral("Source")), addressHex(t[9])},
            {field(QStringLiteral("Destination")), addressHex(t[10])},
        };
        for (const auto& [folder, want] : digits)
            QVERIFY2(p.text().mid(folder->pos(), folder->length()) == want, qPrintable(where + QLatin1Char(' ') + folder->folderName()));
        QCOMPARE(field(QStringLiteral("Payload Length"))->folderName(), QStringLiteral("Payload Length:   ") + t[6]);
        QVERIFY(field(QStringLiteral("Next Header"))->folderName().endsWith(QStringLiteral("  (%1)").arg(t[7])));
        QCOMPARE(field(QStringLiteral("Source"))->folderName(), QStringLiteral("Source:   %1  (%1)").arg(t[9]));
        // One child a kept extension header; their lengths add up to tshark's unless
        // there were more than the record keeps.
        int extSum = 0;
        const auto& children = p.folders()[2]->children();
        const bool more = children.back()->folderName().startsWith(QLatin1String("Further"));
        for (std::size_t i = 8; i < children.size() - (more ? 1 : 0); ++i)
            extSum += children[i]->folderName().section(QLatin1Char(' '), -2, -2).toInt();
        QVERIFY2(more ? extSum < ext : extSum == ext, qPrintable(where));
        const std::uint16_t sport = (tcp ? t[11] : t[18]).toUShort(), dport = (tcp ? t[12] : t[19]).toUShort();
        QCOMPARE(p.info().left(p.info().indexOf(QLatin1String("     "))), QStringLiteral("%1 > %2").arg(sport).arg(dport));
        if (tcp) {
            QCOMPARE(p.getTCPSeqNo(), std::uint32_t(t[13].toULongLong()));
            QCOMPARE(p.payloadLength(), t[17].toInt());
        }
    }
}

// The IPv6 layer: every field marks its own bytes of the header, the transport
// follows the 40 bytes (the record keeps no extension header bytes), and each
// extension header is a child with its type and length.
void TestPacket::ipv6Layer_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("extensions");
    QTest::newRow("tcp") << true << 0;
    QTest::newRow("udp, hop-by-hop and fragment") << false << 2;
    QTest::newRow("tcp, more headers than kept") << true << 7;
}

void TestPacket::ipv6Layer()
{
    QFETCH(bool, tcp);
    QFETCH(int, extensions);
    Fields f;
    f.tcp = tcp;
    f.src6 = v6("fd00123456789abcdef0123456789abc");
    f.dst6 = v6("00000000000000000000000000000001");
    f.trafficClass = 0xb8;
    f.flowLabel = 0xabcde;
    f.payload = 5;
    const int types[] = {0, 44, 60, 43, 51, 60, 60};
    int extBytes = 0;
    for (int i = 0; i < extensions; ++i) {
        f.extensions.push_back({types[i], 8 * (i + 1)});
        extBytes += 8 * (i + 1);
    }
    const auto packet = build(f);
    const Packet p(*packet, 1, BaseTime{});
    const Bytes wire = frame(f);
    const QString ipl = QStringLiteral("Internet Protocol Version 6");
    QCOMPARE(p.SourceIP(), QStringLiteral("fd00:1234:5678:9abc:def0:1234:5678:9abc"));
    QCOMPARE(p.DestIP(), QStringLiteral("::1"));
    QCOMPARE(p.protocol(), tcp ? QStringLiteral("TCP") : QStringLiteral("UDP"));
    QCOMPARE(p.info().left(10), QStringLiteral("1234 > 80 "));
    // The image: the wire without the extension headers.
    QCOMPARE(p.text(), QString::fromLatin1((wire.left(54) + wire.mid(54 + extBytes)).toHex()));
    const QString header = QString::fromLatin1(wire.mid(14, 40).toHex());
    const QStringList want = {
        QStringLiteral("Version:   6"), QStringLiteral("Traffic Class:   0xb8"), QStringLiteral("Flow Label:   0xabcde"),
        QStringLiteral("Payload Length:   %1").arg(extBytes + (tcp ? 20 : 8) + 5),
        extensions ? QStringLiteral("Next Header:   IPv6 Hop-by-Hop Option  (0)")
                   : QStringLiteral("Next Header:   TCP  (6)"),
        QStringLiteral("Hop Limit:   64"),
        QStringLiteral("Source:   fd00:1234:5678:9abc:def0:1234:5678:9abc  (fd00:1234:5678:9abc:def0:1234:5678:9abc)"),
        QStringLiteral("Destination:   ::1  (::1)")};
    const int starts[] = {0, 1, 3, 8, 12, 14, 16, 48, 80};
    const ItemFolder* layer = p.folders()[2].get();
    QCOMPARE(layer->folderName(), ipl);
    for (int i = 0; i < want.size(); ++i) {
        const ItemFolder* c = layer->children()[std::size_t(i)].get();
        QCOMPARE(c->folderName(), want[i]);
        QCOMPARE(c->pos(), 28 + starts[i]);
        QCOMPARE(p.text().mid(c->pos(), c->length()), header.mid(starts[i], starts[i + 1] - starts[i]));
    }
    const int kept = std::min(extensions, 5);
    QCOMPARE(int(layer->children().size()), 8 + kept + (extensions > kept ? 1 : 0));
    if (extensions >= 2)
        QCOMPARE(layer->children()[9]->folderName(), QStringLiteral("Fragment Header for IPv6 (44):   16 bytes"));
    if (extensions > kept)
        QCOMPARE(layer->children().back()->folderName(), QStringLiteral("Further extension headers:   2"));
    // The transport layer starts right after the fixed header.
    QCOMPARE(p.folders()[3]->children().front()->pos(), 2 * 54);
    QCOMPARE(findFolder(p, QStringLiteral("EtherNet II"), QStringLiteral("Type"))->folderName(),
             QStringLiteral("Type:   IPv6( 0x86dd)"));
}

void TestPacket::jsonQuoting()
{
    QCOMPARE(packetjson::quoted(QStringLiteral("a\"b\\c\n\x01")), QByteArray("\"a\\\"b\\\\c\\n\\u0001\""));
}

NUK_TEST_CLASS(TestPacket)
#include "tst_packet.moc"

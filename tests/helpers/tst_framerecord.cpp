// SPDX-License-Identifier: GPL-2.0-or-later
// Frame -> record conversion on hand-built frames: the cases the committed traces
// do not hold (padding, tags, damaged headers, rarer link headers); each link type
// itself comes from a committed trace. Also the pcapng reader on hand-built blocks.

#include "../packets/packetfixtures.h"
#include "common/testmain.h"
#include "helpers/pcapngreader.h"

#include <QtTest>

using namespace fixtures;

namespace {
struct Converted {
    bool linkOk = false;
    FrameVerdict verdict = FrameVerdict::Malformed;
    FrameRecord rec;
    Bytes payload() const { return Bytes(reinterpret_cast<const char*>(rec.payload), int(rec.payloadLen)); }
    Bytes slot(std::size_t at, int n) const { return Bytes(reinterpret_cast<const char*>(rec.fixed + at), n); }
};

Converted convert(const Bytes& frame, LinkKind kind = LinkKind::Ethernet)
{
    static std::vector<unsigned char> scratch;
    Converted c;
    EthernetFrame eth;
    c.linkOk = toEthernet(kind, reinterpret_cast<const unsigned char*>(frame.constData()), std::size_t(frame.size()),
                          std::size_t(frame.size()), scratch, eth);
    if (c.linkOk)
        c.verdict = frameToRecord(eth, 1234, 5678, c.rec);
    return c;
}

Bytes word(quint32 v) { return Bytes(reinterpret_cast<const char*>(&v), 4); }

Fields withPayload(int n, bool tcp = true)
{
    Fields s;
    s.tcp = tcp;
    s.payload = n;
    s.payloadStart = 'a';
    return s;
}
// A pcapng file built block by block, in either byte order.
struct Pcapng {
    bool big = false;
    Bytes bytes;

    Bytes u16(quint16 v) const
    {
        const char b[2] = {char(big ? v >> 8 : v), char(big ? v : v >> 8)};
        return Bytes(b, 2);
    }
    Bytes u32(quint32 v) const { return big ? u16(quint16(v >> 16)) + u16(quint16(v)) : u16(quint16(v)) + u16(quint16(v >> 16)); }
    Bytes u64(quint64 v) const { return big ? u32(quint32(v >> 32)) + u32(quint32(v)) : u32(quint32(v)) + u32(quint32(v >> 32)); }
    static Bytes padded(Bytes b) { return b + Bytes((4 - b.size() % 4) % 4, '\0'); }
    Bytes option(quint16 code, const Bytes& value) const { return u16(code) + u16(quint16(value.size())) + padded(value); }
    Pcapng& block(quint32 type, const Bytes& body, int lengthDelta = 0)
    {
        const Bytes length = u32(quint32(12 + padded(body).size() + lengthDelta));
        bytes += u32(type) + length + padded(body) + length;
        return *this;
    }
    Pcapng& section(bool bigEndian, quint16 major = 1)
    {
        big = bigEndian;
        return block(0x0A0D0D0A, u32(0x1A2B3C4D) + u16(major) + u16(0) + Bytes(8, '\xff'));
    }
    Pcapng& interface(quint16 linkType, const Bytes& options = {}) { return block(1, u16(linkType) + u16(0) + u32(0) + options); }
    Pcapng& packet(quint32 id, quint64 stamp, const Bytes& data, quint32 capDelta = 0)
    {
        return block(6, u32(id) + u32(quint32(stamp >> 32)) + u32(quint32(stamp)) + u32(quint32(data.size()) + capDelta) +
                            u32(quint32(data.size())) + data);
    }
};

// "link sec.usec caplen/len data" per packet, then "end" or "damaged: why".
QStringList readPcapng(const Bytes& file)
{
    QStringList seen;
    FILE* in = fmemopen(const_cast<char*>(file.constData()), std::size_t(file.size()), "rb");
    PcapngReader reader(in);
    for (PcapngReader::Result r;;) {
        r = reader.next();
        if (r != PcapngReader::Result::Packet) {
            seen << (r == PcapngReader::Result::End ? QStringLiteral("end") : "damaged: " + QString::fromStdString(reader.error()));
            break;
        }
        const pcap_pkthdr& h = reader.header();
        seen << QStringLiteral("%1 %2.%3 %4/%5 %6")
                    .arg(PcapngReader::dltOf(reader.linkType()))
                    .arg(qlonglong(h.ts.tv_sec))
                    .arg(qlonglong(h.ts.tv_usec), 6, 10, QLatin1Char('0'))
                    .arg(h.caplen)
                    .arg(h.len)
                    .arg(QString::fromLatin1(Bytes(reinterpret_cast<const char*>(reader.data()), int(h.caplen))));
    }
    std::fclose(in);
    return seen;
}
}  // namespace

Q_DECLARE_METATYPE(Pcapng)

class TestFrameRecord : public QObject {
    Q_OBJECT
private slots:
    void payloadBounds_data();
    void payloadBounds();
    void verdicts_data();
    void verdicts();
    void taggedFramesLoseTheirTags();
    void pcapngBlocks_data();
    void pcapngBlocks();
};

void TestFrameRecord::payloadBounds_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<Bytes>("payload");
    // A 1-byte datagram is 43 bytes on the wire; Ethernet pads it to 60.
    QTest::newRow("padding") << frame(withPayload(1, false)) + Bytes(17, '\0') << Bytes("a");
    const Bytes cut = frame(withPayload(26));
    QTest::newRow("snap length") << cut.left(cut.size() - 6) << Bytes("abcdefghijklmnopqrst");
    // Segmentation offload leaves a total length of 0: take the captured bytes.
    Fields offload = withPayload(3);
    offload.totalOverride = 0;
    QTest::newRow("total length 0") << frame(offload) << Bytes("abc");
    // Nor does that let a frame carry more than an IPv4 packet can (a crafted trace may).
    offload.payload = 70000;
    QTest::newRow("huge") << frame(offload) << frame(offload).mid(54, 65535 - 40);
    QTest::newRow("none") << frame(withPayload(0)) << Bytes();
    Fields firstFragment = withPayload(5, false);
    firstFragment.fragWord = 0x2000;  // more fragments, offset 0
    QTest::newRow("first fragment") << frame(firstFragment) << Bytes("abcde");
}

void TestFrameRecord::payloadBounds()
{
    QFETCH(Bytes, frame);
    QFETCH(Bytes, payload);
    const Converted c = convert(frame);
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.payload(), payload);
    QCOMPARE(c.rec.payload == nullptr, payload.isEmpty());
    QCOMPARE(c.slot(record::Length, 4), word(quint32(160 + payload.size())));
}

void TestFrameRecord::verdicts_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<int>("verdict");
    const int bad = int(FrameVerdict::Malformed), other = int(FrameVerdict::NotTcpUdp);
    auto with = [](auto change) {
        Fields s = withPayload(1);
        change(s);
        return frame(s);
    };
    QTest::newRow("ethernet cut") << frame(Fields{}).left(10) << bad;
    QTest::newRow("ip cut") << frame(Fields{}).left(33) << bad;
    QTest::newRow("ip header length 4") << with([](Fields& s) { s.ihlOverride = 4; }) << bad;
    QTest::newRow("ip header beyond capture") << with([](Fields& s) { s.ihlOverride = 15; }) << bad;
    QTest::newRow("tcp header length 4") << with([](Fields& s) { s.tcpOffsetOverride = 4; }) << bad;
    QTest::newRow("tcp options beyond packet") << with([](Fields& s) { s.tcpOffsetOverride = 15; }) << bad;
    QTest::newRow("tcp cut") << frame(Fields{}).left(44) << bad;
    QTest::newRow("udp cut") << frame(withPayload(0, false)).left(38) << bad;
    QTest::newRow("total length below header") << with([](Fields& s) { s.totalOverride = 12; }) << bad;
    QTest::newRow("total length hides tcp") << with([](Fields& s) { s.totalOverride = 30; }) << bad;
    QTest::newRow("later fragment") << with([](Fields& s) { s.fragWord = 0x00b9; }) << int(FrameVerdict::Fragment);
    QTest::newRow("icmp") << with([](Fields& s) { s.protocol = 1; }) << other;
    QTest::newRow("arp") << with([](Fields& s) { s.etherType = 0x0806; }) << other;
    QTest::newRow("ipv6 type") << with([](Fields& s) { s.etherType = 0x86dd; }) << other;
}

void TestFrameRecord::verdicts()
{
    QFETCH(Bytes, frame);
    QFETCH(int, verdict);
    const Converted c = convert(frame);
    QCOMPARE(int(c.linkOk ? c.verdict : FrameVerdict::Malformed), verdict);
}

void TestFrameRecord::taggedFramesLoseTheirTags()
{
    const Bytes eth = frame(withPayload(7, false));
    for (const Bytes& tags : {be(0x8100000a, 4), Bytes::fromHex("88a800148100000a")}) {
        const Bytes tagged = eth.left(12) + tags + eth.mid(12);
        const Converted c = convert(tagged);
        QCOMPARE(c.verdict, FrameVerdict::Record);
        QCOMPARE(c.slot(record::Ethernet, 14), eth.left(14));
        QCOMPARE(c.payload(), Bytes("abcdefg"));
        const Converted cut = convert(tagged.left(15));  // the tag cut short
        QVERIFY(!cut.linkOk || cut.verdict == FrameVerdict::Malformed);
    }
}

void TestFrameRecord::pcapngBlocks_data()
{
    QTest::addColumn<Pcapng>("file");
    QTest::addColumn<QStringList>("seen");
    const Bytes nanoseconds = Pcapng().option(9, Bytes(1, 9));
    Pcapng two;
    two.section(false).interface(1).interface(101, nanoseconds + Pcapng().option(0, {}));
    two.packet(0, 1500000, "eth").packet(1, 2000000123, "raw").block(0xBAD, "custom, skipped");
    // Another section, big-endian: its own interfaces, 2^-20 s units, 100 s offset,
    // a simple packet cut to its original length and an obsolete packet block.
    two.section(true).interface(0, two.option(9, Bytes(1, char(0x80 | 20))) + two.option(14, two.u64(100)));
    two.packet(0, (3ull << 20) + (1ull << 19), "null").block(3, two.u32(2) + "spb").block(2, two.u16(0) + two.u16(0) + two.u32(0) + two.u32(1 << 20) + two.u32(3) + two.u32(9) + "opb");
    QTest::newRow("sections, byte orders, resolutions") << two << QStringList{
        "1 1.500000 3/3 eth", QStringLiteral("%1 2.000000 3/3 raw").arg(DLT_RAW), "0 103.500000 4/4 null",
        "0 100.000000 2/2 sp", "0 101.000000 3/9 opb", "end"};

    const auto damaged = [](const char* name, Pcapng file, const QString& why) {
        QTest::newRow(name) << file << QStringList("damaged: " + why);
    };
    Pcapng p;
    damaged("no section header", Pcapng().interface(1), "a block before the first section header");
    damaged("unknown byte order", Pcapng().block(0x0A0D0D0A, Bytes(24, 'x')), "a section header with an unknown byte order");
    damaged("version 2", Pcapng().section(false, 2), "a section of pcapng version 2.0, which is not supported");
    damaged("length not a multiple of 4", Pcapng().section(false).block(1, Bytes(8, '\0'), 1), "a block with an impossible length (21 bytes)");
    damaged("length past the limit", Pcapng().section(false).block(1, Bytes(8, '\0'), 1 << 24), "a block with an impossible length (16777236 bytes)");
    p = Pcapng().section(false).interface(1);
    p.bytes.chop(4);
    damaged("cut inside a block", p, "the file ends inside a block");
    p = Pcapng().section(false).interface(1);
    p.bytes[p.bytes.size() - 4] = 21;
    damaged("lengths differ", p, "a block whose two lengths differ");
    damaged("packet of no interface", Pcapng().section(false).interface(1).packet(1, 0, "x"), "a packet of interface 1, which is not described");
    damaged("packet longer than its block", Pcapng().section(false).interface(1).packet(0, 0, "abcd", 1), "a packet longer than its block");
    damaged("option past its block", Pcapng().section(false).block(1, p.u32(1) + p.u32(0) + p.u16(9) + p.u16(200)), "an interface option longer than its block");
    damaged("resolution too fine", Pcapng().section(false).interface(1, p.option(9, Bytes(1, 20))), "an interface with a time stamp resolution finer than can be counted");
    p = Pcapng().section(false).interface(1).packet(0, 0, "ok");
    p.bytes += Bytes("\x06\0\0", 3);
    QTest::newRow("cut inside a block header") << p << QStringList{"1 0.000000 2/2 ok", "damaged: the file ends inside a block header"};
}

void TestFrameRecord::pcapngBlocks()
{
    QFETCH(Pcapng, file);
    QFETCH(QStringList, seen);
    QCOMPARE(readPcapng(file.bytes), seen);
}

NUK_TEST_CLASS(TestFrameRecord)
#include "tst_framerecord.moc"

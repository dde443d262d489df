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
// IPv6: the fixed header (next header `first`, payload length `plen`, -1 for the true
// one) between fd00:1234:5678:9abc:def0:1234:5678:9abc and ::1, the extension
// headers `ext`, then `upper`.
Bytes ipv6(quint8 first, const Bytes& ext, const Bytes& upper, int plen = -1)
{
    const Bytes rest = ext + upper;
    return Bytes::fromHex("020000000b02020000000a0186dd") + be(0x60012345, 4) + be(plen < 0 ? rest.size() : plen, 2) +
           be(first, 1) + be(64, 1) + Bytes::fromHex("fd0012345678 9abcdef0123456789abc") + be(1, 16) + rest;
}
// Options-style extension header (hop-by-hop, routing, destination options) of `n` bytes.
Bytes ext(quint8 next, int n) { return be(next, 1) + be(n / 8 - 1, 1) + Bytes(n - 2, '\0'); }
Bytes ah(quint8 next, int n) { return be(next, 1) + be(n / 4 - 2, 1) + Bytes(n - 2, '\x5a'); }
Bytes fragment(quint8 next, quint16 offsetWord) { return be(next, 1) + be(0, 1) + be(offsetWord, 2) + be(0x4e756b21, 4); }
Bytes letters(int n)
{
    Bytes b;
    for (int i = 0; i < n; ++i)
        b += char('a' + i);
    return b;
}
Bytes tcp6(int payload) { return be(0x04d20050, 4) + be(1, 4) + be(0, 4) + be(0x5018ffff, 4) + be(0, 4) + letters(payload); }
Bytes udp6(int payload) { return be(0x17711389, 4) + be(8 + payload, 2) + be(0, 2) + letters(payload); }

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
    void ipv4Frames_data();
    void ipv4Frames();
    void ipv6Walk_data();
    void ipv6Walk();
    void pcapngBlocks_data();
    void pcapngBlocks();
};

void TestFrameRecord::ipv4Frames_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<Bytes>("payload");
    const int record = int(FrameVerdict::Record), bad = int(FrameVerdict::Malformed), other = int(FrameVerdict::NotTcpUdp);
    const auto row = [](const char* name, const Bytes& frame, int verdict, const Bytes& payload = {}) {
        QTest::newRow(name) << frame << verdict << payload;
    };
    auto with = [](auto change) {
        Fields s = withPayload(1);
        change(s);
        return frame(s);
    };
    // A 1-byte datagram is 43 bytes on the wire; Ethernet pads it to 60.
    row("padding", frame(withPayload(1, false)) + Bytes(17, '\0'), record, "a");
    const Bytes cut = frame(withPayload(26));
    row("snap length", cut.left(cut.size() - 6), record, "abcdefghijklmnopqrst");
    // Segmentation offload leaves a total length of 0: take the captured bytes.
    Fields offload = withPayload(3);
    offload.totalOverride = 0;
    row("total length 0", frame(offload), record, "abc");
    // Nor does that let a frame carry more than an IPv4 packet can (a crafted trace may).
    offload.payload = 70000;
    row("huge", frame(offload), record, frame(offload).mid(54, 65535 - 40));
    row("none", frame(withPayload(0)), record);
    Fields firstFragment = withPayload(5, false);
    firstFragment.fragWord = 0x2000;  // more fragments, offset 0
    row("first fragment", frame(firstFragment), record, "abcde");
    // Tagged frames lose their tags; a tag cut short is no frame.
    const Bytes eth = frame(withPayload(7, false)), tag = be(0x8100000a, 4), tags = Bytes::fromHex("88a800148100000a");
    row("802.1Q", eth.left(12) + tag + eth.mid(12), record, "abcdefg");
    row("802.1ad and 802.1Q", eth.left(12) + tags + eth.mid(12), record, "abcdefg");
    row("802.1Q cut", (eth.left(12) + tag + eth.mid(12)).left(15), bad);
    row("802.1ad cut", (eth.left(12) + tags + eth.mid(12)).left(15), bad);
    row("ethernet cut", frame(Fields{}).left(10), bad);
    row("ip cut", frame(Fields{}).left(33), bad);
    row("ip header length 4", with([](Fields& s) { s.ihlOverride = 4; }), bad);
    row("ip header beyond capture", with([](Fields& s) { s.ihlOverride = 15; }), bad);
    row("tcp header length 4", with([](Fields& s) { s.tcpOffsetOverride = 4; }), bad);
    row("tcp options beyond packet", with([](Fields& s) { s.tcpOffsetOverride = 15; }), bad);
    row("tcp cut", frame(Fields{}).left(44), bad);
    row("udp cut", frame(withPayload(0, false)).left(38), bad);
    row("total length below header", with([](Fields& s) { s.totalOverride = 12; }), bad);
    row("total length hides tcp", with([](Fields& s) { s.totalOverride = 30; }), bad);
    row("later fragment", with([](Fields& s) { s.fragWord = 0x00b9; }), int(FrameVerdict::Fragment));
    row("icmp", with([](Fields& s) { s.protocol = 1; }), other);
    row("arp", with([](Fields& s) { s.etherType = 0x0806; }), other);
    row("ipv6 type", with([](Fields& s) { s.etherType = 0x86dd; }), other);
}

// The verdict; for a record, its Ethernet header (untagged), the payload the frame
// carries and the record's length.
void TestFrameRecord::ipv4Frames()
{
    QFETCH(Bytes, frame);
    QFETCH(int, verdict);
    QFETCH(Bytes, payload);
    const Converted c = convert(frame);
    QCOMPARE(int(c.linkOk ? c.verdict : FrameVerdict::Malformed), verdict);
    if (verdict != int(FrameVerdict::Record))
        return;
    QCOMPARE(c.slot(record::Ethernet, 14), frame.left(12) + be(0x0800, 2));
    QCOMPARE(c.payload(), payload);
    QCOMPARE(c.rec.payload == nullptr, payload.isEmpty());
    QCOMPARE(c.slot(record::Length, 4), word(quint32(160 + payload.size())));
}

void TestFrameRecord::ipv6Walk_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<Bytes>("summary");  // the record's bytes 72..91 (hex)
    QTest::addColumn<Bytes>("payload");
    const int record = int(FrameVerdict::Record), bad = int(FrameVerdict::Malformed);
    const int other = int(FrameVerdict::NotTcpUdp), later = int(FrameVerdict::Fragment);
    const auto row = [](const char* name, const Bytes& frame, int verdict, const char* summary = "",
                        const Bytes& payload = {}) {
        QTest::newRow(name) << frame << verdict << Bytes::fromHex(summary).leftJustified(20, '\0') << payload;
    };
    row("tcp", ipv6(6, {}, tcp6(3)), record, "00060000", "abc");
    row("hop-by-hop, udp", ipv6(0, ext(17, 8), udp6(2)), record, "01110008 000008", "ab");
    row("routing, destination options", ipv6(43, ext(60, 24) + ext(6, 8), tcp6(0)), record,
        "02060020 2b0018 3c0008");
    row("authentication header", ipv6(51, ah(6, 24), tcp6(1)), record, "01060018 330018", "a");
    row("first fragment", ipv6(44, fragment(17, 0x0001), udp6(4)), record, "01110008 2c0008", "abcd");
    // Seven headers: all are counted and measured, five are listed.
    const Bytes seven = ext(60, 8) + ext(43, 16) + ext(44, 8) + fragment(51, 0) + ah(60, 16) + ext(60, 8) + ext(6, 8);
    row("seven headers", ipv6(0, seven, tcp6(2)), record, "0706 0048 000008 3c0010 2b0008 2c0008 330010", "ab");
    // A jumbo payload (length 0, the real one in a hop-by-hop option) is bounded by the capture.
    row("jumbo", ipv6(0, be(17, 1) + be(0, 1) + be(0xc204, 2) + be(70000, 4), udp6(5), 0), record, "01110008 000008",
        "abcde");
    row("padded", ipv6(6, {}, tcp6(1)) + Bytes(9, '\0'), record, "00060000", "a");
    row("payload length beyond capture", ipv6(17, {}, udp6(3), 400), record, "00110000", "abc");
    row("mapped address", ipv6(6, {}, tcp6(0)).replace(22, 16, Bytes::fromHex("00000000000000000000ffff0a010203")),
        record, "00060000");
    row("later fragment", ipv6(44, fragment(17, 0x05a8), letters(20)), later);
    row("later fragment behind options", ipv6(0, ext(44, 8) + fragment(60, 0x05a9), letters(20)), later);
    row("later fragment of icmpv6", ipv6(44, fragment(58, 0x05a8), letters(20)), other);
    row("esp", ipv6(50, be(0x1000, 4) + be(1, 4), letters(20)), other);
    row("hop-by-hop, esp", ipv6(0, ext(50, 8), letters(20)), other);
    row("icmpv6", ipv6(58, {}, letters(8)), other);
    row("no next header", ipv6(60, ext(59, 8), {}), other);
    row("unknown", ipv6(253, {}, letters(8)), other);
    row("version 4", ipv6(6, {}, tcp6(0)).replace(14, 1, "\x45"), other);
    row("header cut", ipv6(6, {}, tcp6(0)).left(14 + 39), bad);
    row("extension header cut", ipv6(0, ext(6, 16), tcp6(0)).left(14 + 40 + 12), bad);
    row("extension length byte cut", ipv6(0, ext(6, 8), {}).left(14 + 41), bad);
    row("extension header past payload length", ipv6(60, ext(6, 16), tcp6(0), 8), bad);
    row("payload length hides tcp", ipv6(6, {}, tcp6(4), 10), bad);
    row("udp cut", ipv6(17, {}, udp6(0)).left(14 + 40 + 6), bad);
    row("tcp header length beyond packet", ipv6(6, {}, tcp6(0)).replace(14 + 40 + 12, 1, "\xf0"), bad);
}

void TestFrameRecord::ipv6Walk()
{
    QFETCH(Bytes, frame);
    QFETCH(int, verdict);
    QFETCH(Bytes, summary);
    QFETCH(Bytes, payload);
    // Nothing is read past the captured bytes: the frame lives in a buffer of its own size.
    const Converted c = convert(frame);
    QVERIFY(c.linkOk);
    QCOMPARE(int(c.verdict), verdict);
    if (c.verdict != FrameVerdict::Record)
        return;
    QCOMPARE(c.slot(record::Ethernet, 14), frame.left(14));
    QCOMPARE(c.slot(record::Ip6, 40), frame.mid(14, 40));
    QCOMPARE(c.slot(record::Ip6Ext, 20).toHex(), summary.toHex());
    const bool tcp = summary[1] == 6;
    QCOMPARE(c.slot(record::PacketType, 4), word(tcp ? record::TypeTcp : record::TypeUdp));
    const int l4 = 14 + 40 + int(quint8(summary[2]) << 8 | quint8(summary[3]));
    QCOMPARE(c.slot(tcp ? record::Tcp : record::Udp, tcp ? 20 : 8), frame.mid(l4, tcp ? 20 : 8));
    QCOMPARE(c.payload(), payload);
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

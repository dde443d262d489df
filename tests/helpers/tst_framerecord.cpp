// Frame -> record conversion on hand-built frames: the cases real traces rarely
// hold (padding, tags, damaged headers).

#include "helpers/framerecord.h"

#include <QtTest>
#include <cstring>

namespace {
using Bytes = QByteArray;

Bytes ethernet(const char* type = "0800") { return Bytes::fromHex("aabbccddeeff112233445566") + Bytes::fromHex(type); }

// An IPv4 header (+ options) for `protocol` with `l4` following; total length = header + l4.
Bytes ipv4(int protocol, const Bytes& l4, const Bytes& options = {}, int fragWord = 0, int totalOverride = -1)
{
    Bytes ip(20, '\0');
    ip[0] = char(0x40 | ((20 + options.size()) / 4));
    const int total = totalOverride >= 0 ? totalOverride : 20 + int(options.size()) + int(l4.size());
    ip[2] = char(total >> 8);
    ip[3] = char(total);
    ip[6] = char(fragWord >> 8);
    ip[7] = char(fragWord);
    ip[8] = 64;
    ip[9] = char(protocol);
    ip.replace(12, 8, Bytes::fromHex("0a0000010a000002"));
    return ip + options + l4;
}

Bytes tcp(const Bytes& payload, const Bytes& options = {}, int headerWords = -1)
{
    Bytes t = Bytes::fromHex("1f90c350000000010000000050180200");
    t += Bytes(4, '\0');
    t[12] = char((headerWords >= 0 ? headerWords : 5 + options.size() / 4) << 4);
    return t + options + payload;
}

Bytes udp(const Bytes& payload)
{
    const int len = 8 + int(payload.size());
    return Bytes::fromHex("13881389") + Bytes(1, char(len >> 8)) + Bytes(1, char(len)) + Bytes(2, '\0') + payload;
}

struct Converted {
    Bytes frame;  // the payload points into it (or into the scratch buffer)
    bool linkOk = false;
    FrameVerdict verdict = FrameVerdict::Malformed;
    FrameRecord rec;
    Bytes payload() const { return Bytes(reinterpret_cast<const char*>(rec.payload), int(rec.payloadLen)); }
    Bytes slot(std::size_t at, int n) const { return Bytes(reinterpret_cast<const char*>(rec.fixed + at), n); }
    quint32 word(std::size_t at) const
    {
        quint32 v;
        std::memcpy(&v, rec.fixed + at, 4);
        return v;
    }
};

Converted convert(const Bytes& frame, LinkKind kind = LinkKind::Ethernet)
{
    static std::vector<unsigned char> scratch;
    Converted c;
    c.frame = frame;
    EthernetFrame eth;
    c.linkOk = toEthernet(kind, reinterpret_cast<const unsigned char*>(c.frame.constData()),
                          std::size_t(frame.size()), std::size_t(frame.size()), scratch, eth);
    if (c.linkOk)
        c.verdict = frameToRecord(eth, 1234, 5678, c.rec);
    return c;
}
}  // namespace

class TestFrameRecord : public QObject {
    Q_OBJECT
private slots:
    void headersAndOptionsLandInTheirSlots();
    void paddingIsNotPayload();
    void payloadBoundedByCaptureAndTotalLength();
    void fragments();
    void damagedFramesAreMalformed_data();
    void damagedFramesAreMalformed();
    void otherLinkLayersBecomeEthernet_data();
    void otherLinkLayersBecomeEthernet();
};

void TestFrameRecord::headersAndOptionsLandInTheirSlots()
{
    const Bytes ipOptions = Bytes::fromHex("01010100");
    const Bytes tcpOptions = Bytes::fromHex("020405b40101080a0000000100000002");
    const Converted c = convert(ethernet() + ipv4(6, tcp("data!", tcpOptions), ipOptions));
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.word(record::Seconds), 1234u);
    QCOMPARE(c.word(record::Microseconds), 5678u);
    QCOMPARE(c.word(record::PacketType), record::TypeTcp);
    QCOMPARE(c.word(record::Length), quint32(160 + 5));
    QCOMPARE(c.slot(record::Ethernet, 14), ethernet());
    QCOMPARE(c.slot(record::IpOptions, 4), ipOptions);
    QCOMPARE(c.slot(record::IpOptions + 4, 36), Bytes(36, '\0'));
    QCOMPARE(c.slot(record::Tcp, 4), Bytes::fromHex("1f90c350"));
    QCOMPARE(c.slot(record::TcpOptions, 16), tcpOptions);
    QCOMPARE(c.slot(record::Udp, 8), Bytes(8, '\0'));
    QCOMPARE(c.payload(), Bytes("data!"));

    const Converted u = convert(ethernet() + ipv4(17, udp("hi")));
    QCOMPARE(u.verdict, FrameVerdict::Record);
    QCOMPARE(u.word(record::PacketType), record::TypeUdp);
    QCOMPARE(u.slot(record::Udp, 4), Bytes::fromHex("13881389"));
    QCOMPARE(u.payload(), Bytes("hi"));
}

void TestFrameRecord::paddingIsNotPayload()
{
    // A 1-byte datagram is 43 bytes on the wire; Ethernet pads it to 60.
    const Converted c = convert(ethernet() + ipv4(17, udp("x")) + Bytes(17, '\0'));
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.payload(), Bytes("x"));
    QCOMPARE(c.word(record::Length), quint32(161));
}

void TestFrameRecord::payloadBoundedByCaptureAndTotalLength()
{
    // Snap length cut the frame: the payload is what was captured.
    const Bytes full = ethernet() + ipv4(6, tcp(Bytes(100, 'p')));
    Converted c = convert(full.left(full.size() - 60));
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.payload(), Bytes(40, 'p'));
    // Segmentation offload leaves a total length of 0: take the captured bytes.
    c = convert(ethernet() + ipv4(6, tcp("abc"), {}, 0, 0));
    QCOMPARE(c.payload(), Bytes("abc"));
    // Nor does it let a frame carry more than an IPv4 packet can (a crafted trace may).
    const Bytes huge = ethernet() + ipv4(6, tcp(Bytes(70000, 'h')), {}, 0, 0);
    c = convert(huge);
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.rec.payloadLen, std::size_t(65535 - 40));
    QVERIFY(c.rec.payloadLen <= kMaxRecordPayload);
    // No payload: a null pointer and L = 160.
    c = convert(ethernet() + ipv4(6, tcp({})));
    QVERIFY(c.rec.payload == nullptr);
    QCOMPARE(c.word(record::Length), 160u);
}

void TestFrameRecord::fragments()
{
    QCOMPARE(convert(ethernet() + ipv4(17, udp("first"), {}, 0x2000)).verdict, FrameVerdict::Record);  // MF, offset 0
    QCOMPARE(convert(ethernet() + ipv4(17, Bytes(16, 'z'), {}, 0x00b9)).verdict, FrameVerdict::Fragment);
}

void TestFrameRecord::damagedFramesAreMalformed_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<int>("verdict");
    const int bad = int(FrameVerdict::Malformed);
    Bytes ihl4 = ipv4(6, tcp("x"));
    ihl4[0] = 0x44;
    Bytes ihlBeyond = ipv4(6, tcp("x"));
    ihlBeyond[0] = 0x4f;  // 60-byte header in a 41-byte packet
    QTest::newRow("ethernet cut") << ethernet().left(10) << bad;
    QTest::newRow("ip cut") << ethernet() + ipv4(6, tcp("x")).left(19) << bad;
    QTest::newRow("ip header length 4") << ethernet() + ihl4 << bad;
    QTest::newRow("ip header beyond capture") << ethernet() + ihlBeyond << bad;
    QTest::newRow("tcp header length 4") << ethernet() + ipv4(6, tcp("x", {}, 4)) << bad;
    QTest::newRow("tcp options beyond packet") << ethernet() + ipv4(6, tcp("x", {}, 15)) << bad;
    QTest::newRow("tcp cut") << ethernet() + ipv4(6, tcp({})).left(30) << bad;
    QTest::newRow("udp cut") << ethernet() + ipv4(17, udp({})).left(24) << bad;
    QTest::newRow("total length below header") << ethernet() + ipv4(6, tcp("x"), {}, 0, 12) << bad;
    QTest::newRow("total length hides tcp") << ethernet() + ipv4(6, tcp("x"), {}, 0, 30) << bad;
    QTest::newRow("icmp") << ethernet() + ipv4(1, Bytes(8, '\0')) << int(FrameVerdict::NotTcpUdp);
    QTest::newRow("arp") << ethernet("0806") + Bytes(28, '\0') << int(FrameVerdict::NotTcpUdp);
    QTest::newRow("ipv6 type") << ethernet("86dd") + Bytes(60, '\0') << int(FrameVerdict::NotTcpUdp);
}

void TestFrameRecord::damagedFramesAreMalformed()
{
    QFETCH(Bytes, frame);
    QFETCH(int, verdict);
    const Converted c = convert(frame);
    QCOMPARE(int(c.linkOk ? c.verdict : FrameVerdict::Malformed), verdict);
}

void TestFrameRecord::otherLinkLayersBecomeEthernet_data()
{
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<int>("kind");
    QTest::addColumn<Bytes>("ethernetSlot");
    const Bytes packet = ipv4(17, udp("payload"));
    const Bytes zeroMacs = Bytes(12, '\0') + Bytes::fromHex("0800");
    QTest::newRow("802.1Q") << ethernet("8100") + Bytes::fromHex("000a0800") + packet << int(LinkKind::Ethernet)
                            << ethernet();
    QTest::newRow("802.1ad + 802.1Q") << ethernet("88a8") + Bytes::fromHex("00148100000a0800") + packet
                                      << int(LinkKind::Ethernet) << ethernet();
    QTest::newRow("cooked v1") << Bytes::fromHex("0000000100060a0b0c0d0e0f00000800") + packet
                               << int(LinkKind::LinuxSll) << zeroMacs;
    QTest::newRow("cooked v2") << Bytes::fromHex("080000000000000200010006aabbccddeeff0000") + packet
                               << int(LinkKind::LinuxSll2) << zeroMacs;
    QTest::newRow("raw ip") << packet << int(LinkKind::RawIp) << zeroMacs;
}

void TestFrameRecord::otherLinkLayersBecomeEthernet()
{
    QFETCH(Bytes, frame);
    QFETCH(int, kind);
    QFETCH(Bytes, ethernetSlot);
    const Converted c = convert(frame, LinkKind(kind));
    QCOMPARE(c.verdict, FrameVerdict::Record);
    QCOMPARE(c.slot(record::Ethernet, 14), ethernetSlot);
    QCOMPARE(c.payload(), Bytes("payload"));
    // A link header cut short is no frame at all.
    QVERIFY(!convert(frame.left(kind == int(LinkKind::RawIp) ? 0 : 15), LinkKind(kind)).linkOk ||
            convert(frame.left(15), LinkKind(kind)).verdict == FrameVerdict::Malformed);
}

QTEST_GUILESS_MAIN(TestFrameRecord)
#include "tst_framerecord.moc"

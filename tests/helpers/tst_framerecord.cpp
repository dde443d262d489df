// Frame -> record conversion on hand-built frames: the cases the committed traces
// do not hold (padding, tags, damaged headers, rarer link headers); each link type
// itself comes from a committed trace.

#include "../packets/packetfixtures.h"
#include "common/testmain.h"

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
}  // namespace

class TestFrameRecord : public QObject {
    Q_OBJECT
private slots:
    void payloadBounds_data();
    void payloadBounds();
    void verdicts_data();
    void verdicts();
    void taggedFramesLoseTheirTags();
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

namespace {
enum class Seen { Short, NoIpv4, Ipv4 };

Bytes wifiData(const char* control, const Bytes& llc, int qosBytes = 0, int fragment = 0)
{
    return Bytes::fromHex(control) + Bytes(20, '\2') + be(fragment, 1) + Bytes(1, '\0') + Bytes(qosBytes, '\0') + llc;
}
}  // namespace

NUK_TEST_CLASS(TestFrameRecord)
#include "tst_framerecord.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// CPacket accessors and copy rules, and the framing of the packet pipe's stream.
#include "capture/cpacket.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "capture/dnscache.h"
#include "capture/recordreader.h"
#include "recordbuilder.h"

#include <QDeadlineTimer>
#include <QTest>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// A TCP/IP frame with known bytes in every slot.
RecordBuilder knownTcpRecord()
{
    RecordBuilder r;
    r.header(1000, 250000, 1)
        .at(record::Ethernet, {0x00, 0x0a, 0x95, 0x9d, 0x68, 0x16, 0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x08, 0x00})
        .at(record::Ip, {0x45, 0xb8, 0x05, 0xdc, 0xab, 0xcd, 0x5f, 0xff, 0x40, 0x06, 0x12, 0x34, 10, 0, 0, 1, 192,
                         168, 200, 254})
        .at(record::Tcp, {0xc3, 0x50, 0x00, 0x50, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x02, 0x03, 0x04, 0x50, 0x12, 0xfa,
                          0xf0, 0xbe, 0xef, 0x00, 0x01})
        .at(record::Udp, {0x00, 0x35, 0x04, 0x00, 0x00, 0x1c, 0xab, 0xcd});
    return r;
}

CPacket packetOf(const QByteArray& bytes)
{
    RawPacket raw;
    std::memcpy(raw.fixed, bytes.constData(), record::FixedSize);
    raw.payload = bytes.size() > qsizetype(record::FixedSize)
                      ? reinterpret_cast<const unsigned char*>(bytes.constData()) + record::FixedSize
                      : nullptr;
    return CPacket(&raw);
}

}  // namespace

class CPacketTest : public QObject {
    Q_OBJECT
private slots:
    // The fields whose bits are packed or whose byte order is easily got wrong.
    void accessorsReadWireBytesInHostOrder()
    {
        const CPacket p = packetOf(knownTcpRecord().bytes());
        QCOMPARE(p.GetTimeStamp()[1], 250000);
        QCOMPARE(p.GetPacketLength(), 160u);
        QCOMPARE(p.GetRealData(), nullptr);
        QCOMPARE(p.GetIPHeaderLength(), 20);
        QCOMPARE(p.GetTotalLength(), 1500);
        QCOMPARE(p.GetFragmentFlags(), 2);    // 0x5f: 010 11111
        QCOMPARE(p.GetFragOffset(), 0x1fff);  // low 13 bits of 0x5fff
        QCOMPARE(p.GetSrcIPAddr(), 0x0a000001u);
        QCOMPARE(p.GetSrcPort(), 50000);
        QCOMPARE(p.GetSequenceNo(), 0x89abcdefu);
        QCOMPARE(p.GetTCPHeaderLength(), 20);
        QCOMPARE(p.IsSYNset() + p.IsACKset() + p.IsFINset() + p.IsRSTset() + p.IsPSHset() + p.IsURGset(), 2);
        QCOMPARE(p.GetWindownSize(), 0xfaf0);
        QCOMPARE(p.GetUDPLength(), 28);
    }

    // An IPv6 record (capture/rawpacket.h): the header at record::Ip, the summary of
    // the extension headers 40 bytes on; the IPv4 options area carries both.
    void ipv6HeaderAndExtensionSummary()
    {
        RecordBuilder r = knownTcpRecord();
        r.at(record::Ethernet + 12, {0x86, 0xdd})
            .at(record::Ip, {0x6a, 0xb1, 0x23, 0x45, 0x00, 0x40, 0x00, 0x3f, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                             0, 0, 0, 0, 0, 0, 0, 1, 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x42, 0xac, 0xff, 0xfe,
                             0x11, 0, 0x02})
            .at(record::Ip + 40, {6, 6, 0x00, 0x18, 0, 0x00, 0x08, 44, 0x00, 0x08, 60, 0x00, 0x08});
        const CPacket p = packetOf(r.bytes());
        QVERIFY(p.isIPv6());
        QCOMPARE(p.GetTrafficClass(), 0xab);
        QCOMPARE(p.GetFlowLabel(), 0x12345u);
        QCOMPARE(p.GetIp6PayloadLength(), 64);
        QCOMPARE(p.GetNextHeader(), 0);
        QCOMPARE(p.GetHopLimit(), 63);
        QCOMPARE(p.upperProtocol(), 6);
        QCOMPARE(p.ipHeaderBytes(), 40 + 24);
        QCOMPARE(p.ipTotalLength(), 104u);
        QCOMPARE(p.extensionHeaderCount(), 6);
        QCOMPARE(p.extensionHeadersKept(), 5);
        QCOMPARE(int(p.extensionHeader(1).type), 44);
        QCOMPARE(int(p.extensionHeader(2).length), 8);
        char text[IpAddress::TextSize];
        QCOMPARE(QString::fromLatin1(p.GetSrcIPAddr(0, text, sizeof text)), QStringLiteral("2001:db8::1"));
        QCOMPARE(QString::fromLatin1(p.GetDstIPAddr(1, text, sizeof text)), QStringLiteral("fe80::242:acff:fe11:2"));
        QVERIFY(g_dnsServer.find("fe80::242:acff:fe11:2"));
        QCOMPARE(CPacket(p).destAddress(), p.destAddress());  // a copy keeps the whole header
        QCOMPARE(p.GetSrcPort(), 50000);
        // The IPv4 view of the same slots is untouched: both families share the
        // slots, so a packet is 176 bytes plus its capture number (8 with alignment).
        QCOMPARE(packetOf(knownTcpRecord().bytes()).sourceAddress(), IpAddress::fromV4(0x0a000001));
        QVERIFY(sizeof(CPacket) <= 184);
    }

    // Canonical texts (RFC 5952) and the order and equality of the address type.
    void addressTextsAndOrder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("v4") << "192.168.1.20" << "192.168.1.20";
        QTest::newRow("loopback") << "0:0:0:0:0:0:0:1" << "::1";
        QTest::newRow("longest run") << "2001:db8:0:0:1:0:0:1" << "2001:db8::1:0:0:1";
        QTest::newRow("single zero") << "2001:db8:0:1:1:1:1:1" << "2001:db8:0:1:1:1:1:1";
        QTest::newRow("upper case") << "2001:DB8::0001" << "2001:db8::1";
        QTest::newRow("mapped") << "::ffff:10.0.0.1" << "::ffff:10.0.0.1";
        QTest::newRow("full") << "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff" << "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
        QTest::newRow("not an address") << "1.2.3" << "";
    }
    void addressTextsAndOrder()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        const IpAddress a = IpAddress::fromText(text.toLatin1().constData());
        QCOMPARE(QString::fromStdString(a.text()), canonical);
        QCOMPARE(IpAddress::fromText(a.text().c_str()), a);
        const IpAddress v4 = IpAddress::fromV4(0xffffffff), v6 = IpAddress::fromText("::");
        QVERIFY(v4 < v6 && !(v6 < v4) && !(v4 == v6));
        QVERIFY(IpAddress::fromV4(0x0a000001) < IpAddress::fromV4(0x0a000100));
        QVERIFY(IpAddress::fromText("::ffff:10.0.0.1") != IpAddress::fromV4(0x0a000001));  // families stay apart
    }

    void optionsAreCopiedByHeaderLength_data()
    {
        QTest::addColumn<int>("ipWords");
        QTest::addColumn<int>("tcpWords");
        QTest::newRow("no options") << 5 << 5;
        QTest::newRow("all options") << 15 << 15;
        QTest::newRow("some options") << 6 << 8;
    }
    void optionsAreCopiedByHeaderLength()
    {
        QFETCH(int, ipWords);
        QFETCH(int, tcpWords);
        RecordBuilder r = knownTcpRecord();
        r.fixed[record::Ip] = std::uint8_t(0x40 | ipWords);
        r.fixed[record::Tcp + 12] = std::uint8_t(tcpWords << 4);
        for (int i = 0; i < 40; ++i) {
            r.fixed[record::IpOptions + i] = std::uint8_t(0x80 + i);
            r.fixed[record::TcpOptions + i] = std::uint8_t(0xc0 + i);
        }
        const CPacket p = packetOf(r.bytes());
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(int(p.GetIpOptions()[i]), i < ipWords * 4 - 20 ? 0x80 + i : 0);
            QCOMPARE(int(p.GetTcpOptions()[i]), i < tcpWords * 4 - 20 ? 0xc0 + i : 0);
        }
    }

    void payloadFollowsTheRecordLengthAndCopiesOwnIt()
    {
        RecordBuilder r = knownTcpRecord();
        r.payload = QByteArray(1340, 'p');
        const CPacket big = packetOf(r.bytes());
        QCOMPARE(big.payloadLength(), 1340u);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(big.GetRealData()), 1340), r.payload);
        CPacket copy(big);
        CPacket assigned;
        assigned = big;
        assigned = assigned;  // self-assignment changes nothing
        QVERIFY(copy.GetRealData() != big.GetRealData() && assigned.GetRealData() != big.GetRealData());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(assigned.GetRealData()), 1340), r.payload);
        { CPacket gone(big); }
        QCOMPARE(big.GetRealData()[0], 'p');
        assigned = CPacket();
        QCOMPARE(assigned.GetRealData(), nullptr);
    }

    // Fed one byte at a time, records come out whole; lengths of 2 or less (taken as
    // signed) are the 16 header bytes alone; 65,535 payload bytes pass, 65,536 are corrupt.
    void framerCutsRecordsAtTheirBounds()
    {
        RecordFramer framer;
        RecordBuilder a = knownTcpRecord(), b = knownTcpRecord(), dropped = knownTcpRecord();
        b.payload = QByteArray(1340, 'b');
        const QByteArray stream = a.bytes() + dropped.bytes(2).left(16) + b.bytes() + dropped.bytes(-1).left(16) +
                                  a.bytes() + a.bytes(160).left(100);
        QList<QByteArray> payloads;
        int droppedCount = 0;
        RawPacket raw;
        for (char c : stream) {
            framer.feed(reinterpret_cast<const unsigned char*>(&c), 1);
            for (RecordFramer::Result result; (result = framer.next(raw)) != RecordFramer::Result::NeedMore;) {
                droppedCount += result == RecordFramer::Result::Dropped;
                if (result == RecordFramer::Result::Record) {
                    const CPacket p(&raw);
                    payloads << QByteArray(reinterpret_cast<const char*>(p.GetRealData()), int(p.payloadLength()));
                }
            }
        }
        QCOMPARE(payloads, (QList<QByteArray>{{}, b.payload, {}}));
        QCOMPARE(droppedCount, 2);
        QCOMPARE(framer.buffered(), std::size_t(100));  // the partial record waits

        RecordFramer bounded;
        RecordBuilder r = knownTcpRecord();
        r.payload = QByteArray(int(kMaxRecordPayload), 'm');
        for (const auto expected : {RecordFramer::Result::Record, RecordFramer::Result::Corrupt}) {
            bounded.feed(reinterpret_cast<const unsigned char*>(r.bytes().constData()), std::size_t(r.bytes().size()));
            QCOMPARE(bounded.next(raw), expected);
            if (expected == RecordFramer::Result::Record)
                QCOMPARE(CPacket(&raw).payloadLength(), kMaxRecordPayload);
            r.payload += 'm';
        }
        QCOMPARE(bounded.buffered(), std::size_t(0));
    }

    // Real pipe: a corrupt length is dropped with a message, nothing behind it in
    // the pipe reaches the reader (small reads leave part of it there), and reading
    // goes on with what comes later.
    void readerResynchronisesAfterACorruptRecord()
    {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        std::vector<RecordReader::Damage> reported;
        RecordReader reader(fds[0], [&](RecordReader::Damage d) { reported.push_back(d); }, 400);
        const auto forTwoSeconds = [t = QDeadlineTimer(2000)] { return !t.hasExpired(); };
        RecordBuilder good = knownTcpRecord(), tainted = knownTcpRecord(), later = knownTcpRecord();
        tainted.header(7, 7, 1);
        later.header(42, 0, 2);
        QVERIFY(testproc::writeAll(fds[1], good.bytes() + good.bytes(160 + 70000).left(160) + tainted.bytes()));
        RawPacket raw;
        QCOMPARE(reader.next(raw, forTwoSeconds, 10), RecordReader::Status::Record);
        QCOMPARE(CPacket(&raw).GetTimeStamp()[0], 1000);
        std::thread writer([&] {
            QTest::qSleep(100);
            testproc::writeAll(fds[1], later.bytes());  // checked by the record that arrives
        });
        const auto status = reader.next(raw, forTwoSeconds, 10);
        writer.join();
        QCOMPARE(status, RecordReader::Status::Record);
        QCOMPARE(CPacket(&raw).GetTimeStamp()[0], 42);  // the tainted record never arrived
        QCOMPARE(reader.corruptRecords(), 1ul);
        QCOMPARE(reported, std::vector<RecordReader::Damage>{RecordReader::Damage::Corrupt});

        // A partial record at the end of the stream is dropped and reported.
        QVERIFY(testproc::writeAll(fds[1], later.bytes() + later.bytes().left(100)));
        close(fds[1]);
        QCOMPARE(reader.next(raw), RecordReader::Status::Record);
        QCOMPARE(reader.next(raw), RecordReader::Status::Eof);
        QCOMPARE(reader.truncatedBytes(), std::size_t(100));
        QCOMPARE(reported.back(), RecordReader::Damage::Truncated);
        close(fds[0]);
    }

};

NUK_TEST_CLASS(CPacketTest)
#include "test_cpacket.moc"

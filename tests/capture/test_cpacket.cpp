// CPacket accessors and copy rules, and the framing of the packet pipe's stream.
#include "capture/cpacket.h"
#include "capture/dnscache.h"
#include "capture/recordreader.h"
#include "recordbuilder.h"

#include <QTest>

#include <fcntl.h>
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

void writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        QVERIFY(n > 0);
        done += n;
    }
}
}  // namespace

class CPacketTest : public QObject {
    Q_OBJECT
private slots:
    void accessorsReadWireBytesInHostOrder()
    {
        const CPacket p = packetOf(knownTcpRecord().bytes());
        QCOMPARE(p.GetTimeStamp()[0], 1000);
        QCOMPARE(p.GetTimeStamp()[1], 250000);
        QCOMPARE(p.GetPacketType(), 1u);
        QCOMPARE(p.GetPacketLength(), 160u);
        QCOMPARE(p.GetRealData(), nullptr);
        QCOMPARE(p.GetEthernetType(), 0x0800);
        QCOMPARE(p.GetIPHeaderVersion(), 4);
        QCOMPARE(p.GetIPHeaderLength(), 20);
        QCOMPARE(p.GetTypeOfService(), 0xb8);
        QCOMPARE(p.GetTotalLength(), 1500);
        QCOMPARE(p.GetId(), 0xabcd);
        QCOMPARE(p.GetFragmentFlags(), 2);       // 0x5f: 010 11111
        QCOMPARE(p.GetFragOffset(), 0x1fff);     // low 13 bits of 0x5fff
        RecordBuilder first = knownTcpRecord();  // a first fragment: MF set, offset 0
        first.at(record::Ip + 6, {0x20, 0x00});
        QCOMPARE(packetOf(first.bytes()).GetFragmentFlags(), 1);
        QCOMPARE(packetOf(first.bytes()).GetFragOffset(), 0);
        QCOMPARE(p.GetTTL(), 64);
        QCOMPARE(p.GetProtocolType(), 6);
        QCOMPARE(p.GetIPHeaderChecksum(), 0x1234);
        QCOMPARE(p.GetSrcIPAddr(), 0x0a000001u);
        QCOMPARE(p.GetDstIPAddr(), 0xc0a8c8feu);
        QCOMPARE(p.GetSrcPort(), 50000);
        QCOMPARE(p.GetDstPort(), 80);
        QCOMPARE(p.GetSequenceNo(), 0x89abcdefu);
        QCOMPARE(p.GetAcknowlegetNo(), 0x01020304u);
        QCOMPARE(p.GetTCPHeaderLength(), 20);
        QCOMPARE(p.GetTCPFlags(), 0x12);
        QCOMPARE(p.IsSYNset() + p.IsACKset(), 2);
        QCOMPARE(p.IsFINset() + p.IsRSTset() + p.IsPSHset() + p.IsURGset(), 0);
        QCOMPARE(p.GetWindownSize(), 0xfaf0);
        QCOMPARE(p.GetTCPChecksum(), 0xbeef);
        QCOMPARE(p.GetUrgentPointer(), 1);
        QCOMPARE(p.GetUDPSrcPort(), 53);
        QCOMPARE(p.GetUDPDstPort(), 1024);
        QCOMPARE(p.GetUDPLength(), 28);
        QCOMPARE(p.GetUDPChecksum(), 0xabcd);
    }

    void addressTexts()
    {
        const CPacket p = packetOf(knownTcpRecord().bytes());
        char small[15];
        std::memset(small, 'x', sizeof small);
        QCOMPARE(p.GetHwSrcAddr(small, sizeof small), nullptr);
        QCOMPARE(QByteArray(small, sizeof small), QByteArray(15, '\0'));
        char mac[18];
        QCOMPARE(QByteArray(p.GetHwDstAddr(mac, sizeof mac)), QByteArray("00:0a:95:9d:68:16"));
        QCOMPARE(QByteArray(p.GetHwSrcAddr(mac, sizeof mac)), QByteArray("de:ad:be:ef:00:01"));

        char buf[30];
        QCOMPARE(QByteArray(p.GetSrcIPAddr(0, buf, sizeof buf)), QByteArray("10.0.0.1"));
        QVERIFY(!g_dnsServer.find("192.168.200.254"));
        const char* cached = p.GetDstIPAddr(1, buf, sizeof buf);
        QCOMPARE(QByteArray(cached), QByteArray("192.168.200.254"));
        QCOMPARE(g_dnsServer.find("192.168.200.254"), cached);
        QCOMPARE(p.GetDstIPAddr(1, buf, sizeof buf), cached);  // the entry, not a new one
        char tiny[4];
        QCOMPARE(QByteArray(p.GetSrcIPAddr(0, tiny, sizeof tiny), 4), QByteArray("10.0"));
    }

    void nameCacheIsSafeFromManyThreads()
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([] {
                for (int i = 0; i < 2000; ++i) {
                    const QByteArray name = "172.16.0." + QByteArray::number(i % 300);
                    QCOMPARE(QByteArray(g_dnsServer.lookupOrAdd(name.constData())), name);
                }
            });
        for (auto& t : threads)
            t.join();
        QVERIFY(g_dnsServer.find("172.16.0.299"));
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
        const int ipCopied = ipWords * 4 - 20;
        const int tcpCopied = tcpWords * 4 - 20;
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(int(p.GetIpOptions()[i]), i < ipCopied ? 0x80 + i : 0);
            QCOMPARE(int(p.GetTcpOptions()[i]), i < tcpCopied ? 0xc0 + i : 0);
        }
    }

    void payloadFollowsTheRecordLength()
    {
        RecordBuilder r = knownTcpRecord();
        r.payload = QByteArray(1340, 'p');
        const CPacket big = packetOf(r.bytes());
        QCOMPARE(big.GetPacketLength(), 1500u);
        QCOMPARE(big.payloadLength(), 1340u);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(big.GetRealData()), 1340), r.payload);

        // A copy and an assignment own their payloads.
        CPacket copy(big);
        CPacket assigned;
        assigned = big;
        assigned = assigned;  // self-assignment changes nothing
        QVERIFY(copy.GetRealData() != big.GetRealData());
        QVERIFY(assigned.GetRealData() != big.GetRealData());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(assigned.GetRealData()), 1340), r.payload);
        QCOMPARE(std::memcmp(copy.GetTcpHeader(), big.GetTcpHeader(), 20), 0);
        { CPacket gone(big); }
        QCOMPARE(big.GetRealData()[0], 'p');
        assigned = CPacket();
        QCOMPARE(assigned.GetRealData(), nullptr);
        QCOMPARE(assigned.GetPacketLength(), 0u);
    }

    void udpRecordStillAnswersFromItsTcpSlot()
    {
        RecordBuilder r = knownTcpRecord();
        r.header(5, 6, 2);
        const CPacket p = packetOf(r.bytes());
        QVERIFY(!p.isTcp());
        QCOMPARE(p.GetSrcPort(), 50000);
        QCOMPARE(p.GetUDPSrcPort(), 53);
    }

    void framerCutsRecordsBackToBack()
    {
        RecordFramer framer;
        RecordBuilder a = knownTcpRecord();
        RecordBuilder b = knownTcpRecord();
        b.payload = QByteArray(1340, 'b');
        RecordBuilder dropped = knownTcpRecord();
        // Lengths of 2 or less, taken as signed, are the 16 header bytes alone.
        const QByteArray stream = a.bytes() + dropped.bytes(2).left(16) + b.bytes() + dropped.bytes(-1).left(16) +
                                  a.bytes() + a.bytes(160).left(100);
        // Fed one byte at a time, the records still come out whole.
        std::vector<QByteArray> payloads;
        int records = 0, droppedCount = 0;
        RawPacket raw;
        for (char c : stream) {
            framer.feed(reinterpret_cast<const unsigned char*>(&c), 1);
            for (;;) {
                const auto result = framer.next(raw);
                if (result == RecordFramer::Result::NeedMore)
                    break;
                if (result == RecordFramer::Result::Dropped)
                    ++droppedCount;
                if (result == RecordFramer::Result::Record) {
                    ++records;
                    const CPacket p(&raw);
                    payloads.push_back(p.GetRealData() ? QByteArray(reinterpret_cast<const char*>(p.GetRealData()),
                                                                    int(p.payloadLength()))
                                                       : QByteArray());
                }
            }
        }
        QCOMPARE(records, 3);
        QCOMPARE(droppedCount, 2);
        QCOMPARE(payloads[1], b.payload);
        QCOMPARE(framer.buffered(), std::size_t(100));  // the partial record waits
    }

    // Real pipe: a corrupt length is dropped with a message, nothing behind it in
    // the pipe reaches the reader, and reading goes on with what comes later.
    void readerResynchronisesAfterACorruptRecord()
    {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        std::vector<RecordReader::Damage> reported;
        RecordReader reader(fds[0], [&](RecordReader::Damage d) { reported.push_back(d); });
        RecordBuilder good = knownTcpRecord();
        RecordBuilder tainted = knownTcpRecord();
        tainted.header(7, 7, 1);
        writeAll(fds[1], good.bytes() + good.bytes(160 + 70000).left(160) + tainted.bytes());
        RawPacket raw;
        QCOMPARE(reader.next(raw, [] { return true; }, 10), RecordReader::Status::Record);
        QCOMPARE(CPacket(&raw).GetTimeStamp()[0], 1000);
        RecordBuilder later = knownTcpRecord();
        later.header(42, 0, 2);
        later.payload = "after";
        std::thread writer([&] {
            QTest::qSleep(100);
            writeAll(fds[1], later.bytes());
        });
        QCOMPARE(reader.next(raw, [] { return true; }, 10), RecordReader::Status::Record);
        writer.join();
        const CPacket after(&raw);
        QCOMPARE(after.GetTimeStamp()[0], 42);  // the tainted record never arrived
        QCOMPARE(reader.corruptRecords(), 1ul);
        QCOMPARE(reported, std::vector<RecordReader::Damage>{RecordReader::Damage::Corrupt});
        close(fds[1]);
        QCOMPARE(reader.next(raw), RecordReader::Status::Eof);
        close(fds[0]);
    }

    // The largest payload a record may carry is 65,535 bytes; one more is corrupt.
    void payloadBoundIsInclusive()
    {
        RecordFramer framer;
        RecordBuilder r = knownTcpRecord();
        r.payload = QByteArray(int(kMaxRecordPayload), 'm');
        framer.feed(reinterpret_cast<const unsigned char*>(r.bytes().constData()), std::size_t(r.bytes().size()));
        RawPacket raw;
        QCOMPARE(framer.next(raw), RecordFramer::Result::Record);
        QCOMPARE(CPacket(&raw).payloadLength(), kMaxRecordPayload);
        r.payload += 'm';
        framer.feed(reinterpret_cast<const unsigned char*>(r.bytes().constData()), std::size_t(r.bytes().size()));
        QCOMPARE(framer.next(raw), RecordFramer::Result::Corrupt);
        QCOMPARE(framer.buffered(), std::size_t(0));
    }

    void readerDropsAPartialRecordAtTheEnd()
    {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        std::vector<RecordReader::Damage> reported;
        RecordReader reader(fds[0], [&](RecordReader::Damage d) { reported.push_back(d); });
        RecordBuilder r = knownTcpRecord();
        r.payload = QByteArray(500, 'x');
        writeAll(fds[1], r.bytes() + r.bytes().left(300));
        close(fds[1]);
        RawPacket raw;
        QCOMPARE(reader.next(raw), RecordReader::Status::Record);
        QCOMPARE(reader.next(raw), RecordReader::Status::Eof);
        QCOMPARE(reader.truncatedBytes(), std::size_t(300));
        QCOMPARE(reported, std::vector<RecordReader::Damage>{RecordReader::Damage::Truncated});
        close(fds[0]);
    }

    void readerWaitCanBeCancelled()
    {
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        RecordReader reader(fds[0]);
        writeAll(fds[1], knownTcpRecord().bytes().left(50));  // half a record, then silence
        std::atomic<bool> keep{true};
        std::thread stopper([&] {
            QTest::qSleep(50);
            keep = false;
        });
        RawPacket raw;
        QCOMPARE(reader.next(raw, [&] { return keep.load(); }, 5), RecordReader::Status::Cancelled);
        stopper.join();
        reader.discardBuffered();
        writeAll(fds[1], knownTcpRecord().bytes());
        QCOMPARE(reader.next(raw, [] { return true; }, 5), RecordReader::Status::Record);
        QCOMPARE(CPacket(&raw).GetTimeStamp()[0], 1000);
        close(fds[0]);
        close(fds[1]);
    }
};

QTEST_GUILESS_MAIN(CPacketTest)
#include "test_cpacket.moc"

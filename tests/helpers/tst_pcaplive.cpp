// SPDX-License-Identifier: GPL-2.0-or-later
// Live capture on the loopback device through the real helper (needs root or
// capture rights): UDP and TCP traffic this test makes must arrive as records.

#include "helperrunner.h"
#include "common/processes.h"
#include "common/testmain.h"

#include "capture/recordreader.h"

#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void sendDatagrams(int from, quint16 port, const QList<QByteArray>& messages)
{
    QVERIFY(connectLoopback(from, port));
    for (const QByteArray& m : messages)
        QCOMPARE(::send(from, m.constData(), size_t(m.size()), 0), ssize_t(m.size()));
}

QStringList liveArgs(int mode, const QString& filter)
{
    return pcapArgs(QStringLiteral("NULL"), filter, mode, QStringLiteral("lo"));
}

// The helper's closing lines: packets captured, received by the filter, dropped by
// the kernel (-1 when missing) and taken but not delivered because the capture
// stopped (0 when not said).
struct ClosingCounts {
    qint64 captured = -1, received = -1, dropped = -1, undelivered = 0;
};

ClosingCounts closingCounts(const QByteArray& stderrText)
{
    static const QRegularExpression line(QStringLiteral(
        "^pcap: (\\d+) packets? captured, (\\d+) received by the filter, (\\d+) dropped by the kernel, "
        "\\d+ dropped by the interface$"),
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression undelivered(QStringLiteral("^pcap: (\\d+) packets? not delivered"),
                                                QRegularExpression::MultilineOption);
    const QString text = QString::fromLocal8Bit(stderrText);
    ClosingCounts c;
    for (QRegularExpressionMatchIterator it = line.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        c.captured = m.captured(1).toLongLong();
        c.received = m.captured(2).toLongLong();
        c.dropped = m.captured(3).toLongLong();
    }
    if (const QRegularExpressionMatch m = undelivered.match(text); m.hasMatch())
        c.undelivered = m.captured(1).toLongLong();
    return c;
}

// Sends `count` datagrams of 1000 bytes to `port` as fast as the socket takes them.
void sendBurst(quint16 port, int count)
{
    quint16 senderPort = 0;
    const int sender = boundSocket(SOCK_DGRAM, senderPort);
    sendDatagrams(sender, port, QList<QByteArray>(count, QByteArray(1000, 'b')));
    ::close(sender);
}

// Reads records until none has come for `quietMs`.
int readUntilQuiet(int fd, int quietMs)
{
    RecordReader reader(fd);
    RawPacket raw;
    int n = 0;
    QElapsedTimer quiet;
    quiet.start();
    const auto waiting = [&] { return quiet.elapsed() < quietMs; };
    while (reader.next(raw, waiting) == RecordReader::Status::Record) {
        ++n;
        quiet.restart();
    }
    return n;
}
}  // namespace

class TestPcapLive : public QObject {
    Q_OBJECT
private slots:
    void init();
    void loopbackTrafficArrives();
    void burstBeyondTheRingIsCounted_data();
    void burstBeyondTheRingIsCounted();
};

void TestPcapLive::init()
{
    if (geteuid() != 0)
        QSKIP("live capture needs root (or capture rights on nuk/pcap): run the tests as root to cover it");
}

void TestPcapLive::loopbackTrafficArrives()
{
    QTemporaryDir dir;
    quint16 udpPort = 0, senderPort = 0, tcpPort = 0;
    const int udp = boundSocket(SOCK_DGRAM, udpPort);
    const int sender = boundSocket(SOCK_DGRAM, senderPort);
    const int listener = boundSocket(SOCK_STREAM, tcpPort);
    QVERIFY(udp >= 0 && sender >= 0 && listener >= 0 && ::listen(listener, 4) == 0);
    const QString filter = QStringLiteral("host 127.0.0.1 and (udp port %1 or tcp port %2)").arg(udpPort).arg(tcpPort);

    HelperRunner helper(QStringLiteral("pcap"), liveArgs(1, filter), dir.path());
    QVERIFY(helper.start());
    QVERIFY2(helper.waitForStderr("capturing on", 10000), helper.stderrText().constData());

    const QList<QByteArray> datagrams{QByteArray("one"), QByteArray(""), QByteArray(1000, 'x')};
    sendDatagrams(sender, udpPort, datagrams);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(connectLoopback(client, tcpPort));
    const int server = ::accept(listener, nullptr, nullptr);
    char buf[16];
    QVERIFY(::write(client, "hello", 5) == 5 && ::read(server, buf, sizeof buf) == 5);
    QVERIFY(::write(server, "world", 5) == 5 && ::read(client, buf, sizeof buf) == 5);
    ::close(client);
    ::close(server);
    QThread::msleep(300);
    QCOMPARE(::kill(helper.pid(), SIGTERM), 0);
    const std::vector<CPacket> records = helper.readRecords();
    QCOMPARE(helper.wait(), 0);

    // The datagrams whole (an empty one too), then the handshake, the data both
    // ways and both FINs.
    QByteArrayList udpPayloads, tcpPayloads;
    int syns = 0, fins = 0;
    for (const CPacket& p : records) {
        if (!p.isTcp()) {
            QCOMPARE(p.GetUDPDstPort(), udpPort);
            udpPayloads << payloadOf(p);
        } else if (p.payloadLength()) {
            tcpPayloads << payloadOf(p);
        }
        syns += p.isTcp() && p.IsSYNset();
        fins += p.isTcp() && p.IsFINset();
    }
    QCOMPARE(udpPayloads, datagrams);
    QCOMPARE(tcpPayloads, (QByteArrayList{"hello", "world"}));
    QCOMPARE(syns, 2);
    QCOMPARE(fins, 2);
    for (int fd : {udp, sender, listener})
        ::close(fd);
}

// Nobody reads the packet pipe while a burst arrives: the helper waits on the full
// pipe and the burst has only the kernel's ring to wait in. A ring too small loses
// packets and says how many, in the helper's closing line and in nukdump's; the
// default ring keeps them all. The helper itself never loses a record it took, and
// a stop right after the burst still takes what the ring holds (into the trace
// file, counted as not delivered): every packet sent is counted somewhere.
void TestPcapLive::burstBeyondTheRingIsCounted_data()
{
    QTest::addColumn<QByteArray>("bufferMb");
    QTest::addColumn<bool>("nukdump");
    QTest::addColumn<bool>("stopAtOnce");
    QTest::newRow("1 MiB ring, helper") << QByteArray("1") << false << false;
    QTest::newRow("1 MiB ring, nukdump") << QByteArray("1") << true << false;
    QTest::newRow("default ring, helper") << QByteArray() << false << false;
    QTest::newRow("default ring, helper stopped at once") << QByteArray() << false << true;
}

void TestPcapLive::burstBeyondTheRingIsCounted()
{
    QFETCH(QByteArray, bufferMb);
    QFETCH(bool, nukdump);
    QFETCH(bool, stopAtOnce);
    constexpr int kBurst = 6000;
    QTemporaryDir dir;
    quint16 port = 0;
    const int udp = boundSocket(SOCK_DGRAM, port);
    QVERIFY(udp >= 0);
    const QString filter = QStringLiteral("udp port %1").arg(port);
    if (!bufferMb.isEmpty())
        qputenv("NUK_BUFFER_MB", bufferMb);
    const auto unset = qScopeGuard([] { qunsetenv("NUK_BUFFER_MB"); });

    QByteArray stderrText;
    qint64 records = 0;
    if (!nukdump) {
        HelperRunner helper(QStringLiteral("pcap"), liveArgs(1, filter), dir.path());
        QVERIFY(helper.start());
        QVERIFY2(helper.waitForStderr("capturing on", 10000), helper.stderrText().constData());
        sendBurst(port, kBurst);
        // The helper's own batch and the pipe hold some; the ring, the rest or less.
        if (!stopAtOnce)
            records = readUntilQuiet(helper.readFd(), 1000);
        QCOMPARE(::kill(helper.pid(), SIGTERM), 0);
        records += qint64(helper.readRecords().size());
        QCOMPARE(helper.wait(), 0);
        stderrText = helper.stderrText();
    } else {
        // nukdump's JSON lines stay unread in its standard output until the burst is over.
        QProcess dump;
        dump.setProgram(QStringLiteral(NUK_BUILD_DIR "/nuk/nukdump"));
        dump.setArguments({QStringLiteral("--filter"), filter, QStringLiteral("--live"), QStringLiteral("--loopback")});
        dump.setProcessEnvironment(testproc::nukEnvironment());
        dump.start();
        QVERIFY(dump.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (!stderrText.contains("capturing on") && waited.elapsed() < 10000) {
            dump.waitForReadyRead(100);
            stderrText += dump.readAllStandardError();
        }
        QVERIFY2(stderrText.contains("capturing on"), stderrText.constData());
        sendBurst(port, kBurst);
        QThread::msleep(500);  // lets the helper take what its ring still holds
        QCOMPARE(::kill(pid_t(dump.processId()), SIGINT), 0);
        QVERIFY(dump.waitForFinished(20000));
        QCOMPARE(dump.exitStatus(), QProcess::NormalExit);
        QCOMPARE(dump.exitCode(), 0);
        records = dump.readAllStandardOutput().count('\n');
        stderrText += dump.readAllStandardError();
    }
    const auto [captured, received, dropped, undelivered] = closingCounts(stderrText);
    QCOMPARE(received, qint64(kBurst));  // on lo, each packet once (not its outgoing copy too)
    QVERIFY2(captured >= 0, stderrText.constData());
    // The filter passes only the burst; a stop may leave some of it unsent, and says so.
    QVERIFY2(records + undelivered == captured, qPrintable(QStringLiteral("%1 records; ").arg(records) + stderrText));
    QVERIFY2(captured + dropped == kBurst, stderrText.constData());
    if (bufferMb.isEmpty()) {
        QCOMPARE(dropped, qint64(0));
        if (!stopAtOnce)
            QCOMPARE(records, qint64(kBurst));
    } else {
        QVERIFY2(dropped > 0, stderrText.constData());
    }
    ::close(udp);
}

NUK_TEST_CLASS(TestPcapLive)
#include "tst_pcaplive.moc"

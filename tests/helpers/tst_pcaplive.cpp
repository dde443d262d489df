// SPDX-License-Identifier: GPL-2.0-or-later
// Live capture on the loopback device through the real helper (needs root or
// capture rights): UDP and TCP traffic this test makes must arrive as records.

#include "helperrunner.h"
#include "common/processes.h"
#include "common/testmain.h"

#include "capture/capturecounts.h"
#include "capture/recordreader.h"

#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
void sendDatagrams(int from, quint16 port, const QList<QByteArray>& messages, int family = AF_INET)
{
    QVERIFY(connectLoopback(from, port, family));
    for (const QByteArray& m : messages)
        QCOMPARE(::send(from, m.constData(), size_t(m.size()), 0), ssize_t(m.size()));
}

QStringList liveArgs(int mode, const QString& filter)
{
    return pcapArgs(QStringLiteral("NULL"), filter, mode, QStringLiteral("lo"));
}

// The helper's closing lines: the counts of its total line, and the packets it took
// but did not deliver because the capture stopped (0 when not said).
std::pair<CaptureCounts, qint64> closingCounts(const QByteArray& stderrText)
{
    static const QRegularExpression undelivered(QStringLiteral("^pcap: (\\d+) packets? not delivered"),
                                                QRegularExpression::MultilineOption);
    CaptureCounts counts;
    for (const QByteArray& line : stderrText.split('\n'))
        counts.take(line.toStdString());
    const QRegularExpressionMatch m = undelivered.match(QString::fromLocal8Bit(stderrText));
    return {counts, m.hasMatch() ? m.captured(1).toLongLong() : 0};
}

// Sends `count` datagrams of 1000 bytes to `port` as fast as the socket takes them.
// 1000-byte datagrams in groups of 250, 20 ms apart: over a megabyte for a pipe that
// nobody reads, but less than a small ring for a helper that empties it at once.
void sendBurst(quint16 port, int count)
{
    quint16 senderPort = 0;
    const int sender = boundSocket(SOCK_DGRAM, senderPort);
    for (int sent = 0; sent < count; sent += 250) {
        sendDatagrams(sender, port, QList<QByteArray>(std::min(250, count - sent), QByteArray(1000, 'b')));
        QThread::msleep(20);
    }
    ::close(sender);
}

// The calling thread in a network namespace of its own, with lo up, until destroyed:
// no other program's traffic reaches a capture (children started meanwhile stay there).
class PrivateNetwork {
public:
    PrivateNetwork() : m_home(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC))
    {
        if (m_home < 0 || ::unshare(CLONE_NEWNET) != 0)
            return;
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq lo{};
        std::strcpy(lo.ifr_name, "lo");
        m_ok = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &lo) == 0);
        if (s >= 0)
            ::close(s);
    }
    ~PrivateNetwork()
    {
        if (m_home >= 0) {
            ::setns(m_home, CLONE_NEWNET);
            ::close(m_home);
        }
    }
    bool ok() const { return m_ok; }

private:
    int m_home;
    bool m_ok = false;
};

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
    void loopbackTrafficArrives_data();
    void loopbackTrafficArrives();
    void applicationFollowedAcrossFamilies();
    void burstBeyondTheRingIsCounted_data();
    void burstBeyondTheRingIsCounted();
};

void TestPcapLive::init()
{
    if (geteuid() != 0)
        QSKIP("live capture needs root (or capture rights on nuk/pcap): run the tests as root to cover it");
}

void TestPcapLive::loopbackTrafficArrives_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("filter");  // %1: the UDP port, %2: the TCP port
    QTest::newRow("IPv4") << int(AF_INET) << 1 << QStringLiteral("host 127.0.0.1 and (udp port %1 or tcp port %2)");
    // ::1 on lo: the kernel filter's "inbound" keeps one copy of each IPv6 packet too.
    QTest::newRow("IPv6") << int(AF_INET6) << 1 << QStringLiteral("host ::1 and (udp port %1 or tcp port %2)");
    // "Current Active Sockets": the expression the socket dialog builds for the
    // sockets [::1]:U and [::1]:T (config/sockettext).
    QTest::newRow("IPv6 sockets chosen") << int(AF_INET6) << 2
                                         << QStringLiteral(" ( host ::1 and port %1) or ( host ::1 and port %2)");
}

void TestPcapLive::loopbackTrafficArrives()
{
    QFETCH(int, family);
    QFETCH(int, mode);
    QFETCH(QString, filter);
    QTemporaryDir dir;
    quint16 udpPort = 0, senderPort = 0, tcpPort = 0;
    const int udp = boundSocket(SOCK_DGRAM, udpPort, family);
    const int sender = boundSocket(SOCK_DGRAM, senderPort, family);
    const int listener = boundSocket(SOCK_STREAM, tcpPort, family);
    QVERIFY(udp >= 0 && sender >= 0 && listener >= 0 && ::listen(listener, 4) == 0);

    HelperRunner helper(QStringLiteral("pcap"), liveArgs(mode, filter.arg(udpPort).arg(tcpPort)), dir.path());
    QVERIFY(helper.start());
    QVERIFY2(helper.waitForStderr("capturing on", 10000), helper.stderrText().constData());

    const QList<QByteArray> datagrams{QByteArray("one"), QByteArray(""), QByteArray(1000, 'x')};
    sendDatagrams(sender, udpPort, datagrams, family);
    const int client = ::socket(family, SOCK_STREAM, 0);
    QVERIFY(connectLoopback(client, tcpPort, family));
    const int server = ::accept(listener, nullptr, nullptr);
    char buf[16];
    QVERIFY(::write(client, "hello", 5) == 5 && ::read(server, buf, sizeof buf) == 5);
    QVERIFY(::write(server, "world", 5) == 5 && ::read(client, buf, sizeof buf) == 5);
    ::close(client);
    ::close(server);
    QThread::msleep(300);
    QCOMPARE(::kill(helper.pid(), SIGTERM), 0);
    std::vector<QByteArray> fixed;
    const std::vector<CPacket> records = helper.readRecords(&fixed);
    QCOMPARE(helper.wait(), 0);
    const quint16 etherType = family == AF_INET6 ? record::EtherTypeIpv6 : record::EtherTypeIpv4;
    for (const QByteArray& f : fixed)
        QCOMPARE(quint16(quint8(f[record::Ethernet + 12]) << 8 | quint8(f[record::Ethernet + 13])), etherType);

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

// "Specific Application": a program whose first connection goes over IPv6 is
// followed, and so is the IPv4 socket it opens later; the test's own traffic is not.
void TestPcapLive::applicationFollowedAcrossFamilies()
{
    // Mode 3 follows whichever program connects first: only this test's may.
    const PrivateNetwork network;
    QVERIFY(network.ok());
    QTemporaryDir dir;
    quint16 tcpPort = 0, udpPort = 0, otherPort = 0;
    const int listener = boundSocket(SOCK_STREAM, tcpPort, AF_INET6);
    const int udp = boundSocket(SOCK_DGRAM, udpPort);
    const int other = boundSocket(SOCK_DGRAM, otherPort);
    QVERIFY(listener >= 0 && udp >= 0 && other >= 0 && ::listen(listener, 4) == 0);
    HelperRunner helper(QStringLiteral("pcap"), liveArgs(3, QString()), dir.path());
    QVERIFY(helper.start());
    QVERIFY2(helper.waitForStderr("capturing on", 10000), helper.stderrText().constData());

    // The program stays until the helper has stopped: the helper looks its sockets up while it runs.
    int release[2];
    QCOMPARE(::pipe(release), 0);
    const pid_t program = fork();
    if (program == 0) {  // the program to follow: nothing of the test's sockets
        for (int fd : {listener, udp, other, release[1]})
            ::close(fd);
        const int c = ::socket(AF_INET6, SOCK_STREAM, 0);
        if (!connectLoopback(c, tcpPort, AF_INET6) || ::write(c, "over IPv6", 9) != 9)
            _exit(1);
        usleep(100000);
        quint16 port;
        const int u = boundSocket(SOCK_DGRAM, port);
        if (!connectLoopback(u, udpPort) || ::send(u, "over IPv4", 9, 0) != 9)
            _exit(1);
        char end;
        _exit(::read(release[0], &end, 1) == 0 ? 0 : 1);
    }
    QVERIFY(program > 0);
    ::close(release[0]);
    const int server = ::accept(listener, nullptr, nullptr);
    char buf[16];
    QCOMPARE(::read(server, buf, sizeof buf), ssize_t(9));
    QCOMPARE(::recv(udp, buf, sizeof buf, 0), ssize_t(9));
    QVERIFY(connectLoopback(other, udpPort) && ::send(other, "not followed", 12, 0) == 12);
    QThread::msleep(300);
    QCOMPARE(::kill(helper.pid(), SIGTERM), 0);
    const std::vector<CPacket> records = helper.readRecords();
    QCOMPARE(helper.wait(), 0);
    ::close(release[1]);
    int status = -1;
    QCOMPARE(::waitpid(program, &status, 0), program);
    QCOMPARE(status, 0);
    ::close(server);
    QVERIFY2(helper.stderrText().contains("pcap: following " + QByteArray::number(program) + '/'),
             helper.stderrText().constData());
    QByteArrayList payloads;
    for (const CPacket& p : records)
        if (p.payloadLength())
            payloads << payloadOf(p);
    QVERIFY2(payloads == (QByteArrayList{"over IPv6", "over IPv4"}), payloads.join('|') + "\n" + helper.stderrText());
    for (int fd : {listener, udp, other})
        ::close(fd);
}

// Nobody reads the packet pipe while a burst arrives. Without a spool the helper
// waits on the full pipe and the burst has only the kernel's ring to wait in: a ring
// too small loses packets and says how many, in the helper's closing line and in
// nukdump's. The default ring keeps them all, and so does the default spool behind
// a small ring. The helper itself never loses a record it took, and a stop right
// after the burst still takes what the ring holds (into the trace file, counted as
// not delivered): every packet sent is counted somewhere.
void TestPcapLive::burstBeyondTheRingIsCounted_data()
{
    QTest::addColumn<QByteArray>("bufferMb");
    QTest::addColumn<QByteArray>("spoolMb");
    QTest::addColumn<bool>("nukdump");
    QTest::addColumn<bool>("stopAtOnce");
    QTest::newRow("1 MiB ring, no spool, helper") << QByteArray("1") << QByteArray("0") << false << false;
    QTest::newRow("1 MiB ring, no spool, nukdump") << QByteArray("1") << QByteArray("0") << true << false;
    QTest::newRow("1 MiB ring, spool, helper") << QByteArray("1") << QByteArray() << false << false;
    QTest::newRow("default settings, helper") << QByteArray() << QByteArray() << false << false;
    QTest::newRow("default settings, helper stopped at once") << QByteArray() << QByteArray() << false << true;
}

void TestPcapLive::burstBeyondTheRingIsCounted()
{
    QFETCH(QByteArray, bufferMb);
    QFETCH(QByteArray, spoolMb);
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
    if (!spoolMb.isEmpty())
        qputenv("NUK_SPOOL_MB", spoolMb);
    const auto unset = qScopeGuard([] {
        qunsetenv("NUK_BUFFER_MB");
        qunsetenv("NUK_SPOOL_MB");
    });

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
    const auto [counts, undelivered] = closingCounts(stderrText);
    const qint64 captured = qint64(counts.captured()), dropped = qint64(counts.kernelDrops());
    QVERIFY2(counts.known(), stderrText.constData());
    QCOMPARE(counts.received(), std::uint64_t(kBurst));  // on lo, each packet once (not its outgoing copy too)
    // The filter passes only the burst; a stop may leave some of it unsent, and says so.
    QVERIFY2(records + undelivered == captured, qPrintable(QStringLiteral("%1 records; ").arg(records) + stderrText));
    QVERIFY2(captured + dropped == kBurst, stderrText.constData());
    if (spoolMb == "0") {
        QVERIFY2(dropped > 0, stderrText.constData());
    } else {
        QCOMPARE(dropped, qint64(0));
        if (!stopAtOnce)
            QCOMPARE(records, qint64(kBurst));
    }
    ::close(udp);
}

NUK_TEST_CLASS(TestPcapLive)
#include "tst_pcaplive.moc"

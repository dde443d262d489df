// Live capture on the loopback device through the real helper (needs root or
// capture rights): UDP and TCP traffic this test makes must arrive as records.

#include "helperrunner.h"

#include "capture/recordreader.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// A server in a process of its own: listens on a free loopback port (returned),
// answers one connection's "hello" with "world" and ends when the client closes.
pid_t forkWorldServer(quint16& port)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int listener = boundSocket(SOCK_STREAM, port);
        if (listener < 0 || ::listen(listener, 1) != 0 || ::write(ready[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        const int peer = ::accept(listener, nullptr, nullptr);
        char buf[16];
        if (peer < 0 || ::read(peer, buf, sizeof buf) != 5 || ::write(peer, "world", 5) != 5)
            ::_exit(1);
        while (::read(peer, buf, sizeof buf) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    if (pid < 0 || ::read(ready[0], &port, sizeof port) != sizeof port)
        port = 0;
    ::close(ready[0]);
    return pid;
}

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
    QVERIFY(sender >= 0 && connectLoopback(sender, port));
    const QByteArray datagram(1000, 'b');
    for (int i = 0; i < count; ++i)
        QCOMPARE(::send(sender, datagram.constData(), size_t(datagram.size()), 0), ssize_t(datagram.size()));
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
    void specificApplicationFollowsTheFirstConnector();
    void burstBeyondTheRingIsCounted_data();
    void burstBeyondTheRingIsCounted();
    void noCaptureRightsIsOneClearLine();
    void captureRightsForOneGroupEndWithTheDevices();
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

    // What the helper left in the default trace file replays to the same records.
    const QString saved = dir.path() + QStringLiteral("/%1_NukDefaultTraceFile").arg(getuid());
    QVERIFY(QFile::rename(saved, dir.path() + QStringLiteral("/saved.tr")));
    const ReplayResult replay = replayTrace(dir.path() + QStringLiteral("/saved.tr"), filter, dir.path());
    QCOMPARE(replay.status, 0);
    QCOMPARE(replay.records.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i)
        QCOMPARE(recordBytes(replay.records[i]), recordBytes(records[i]));
    for (int fd : {udp, sender, listener})
        ::close(fd);
}

// Nobody reads the packet pipe while a burst arrives: the helper waits on the full
// pipe and the burst has only the kernel's ring to wait in. A ring too small loses
// packets and says how many, in the helper's closing line and in nukdump's; the
// default ring keeps them all. The helper itself never loses a record it took.
void TestPcapLive::burstBeyondTheRingIsCounted_data()
{
    QTest::addColumn<QByteArray>("bufferMb");
    QTest::addColumn<bool>("nukdump");
    QTest::newRow("1 MiB ring, helper") << QByteArray("1") << false;
    QTest::newRow("1 MiB ring, nukdump") << QByteArray("1") << true;
    QTest::newRow("default ring, helper") << QByteArray() << false;
}

void TestPcapLive::burstBeyondTheRingIsCounted()
{
    QFETCH(QByteArray, bufferMb);
    QFETCH(bool, nukdump);
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NUKPATH"), QStringLiteral(NUK_BUILD_DIR));
        dump.setProcessEnvironment(env);
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
    if (bufferMb.isEmpty()) {
        QCOMPARE(records, qint64(kBurst));
        QCOMPARE(dropped, qint64(0));
    } else {
        QVERIFY2(dropped > 0, stderrText.constData());
        // nukdump is stopped while still behind: the rest of the burst stays in the ring.
        QVERIFY(nukdump ? captured + dropped <= kBurst : captured + dropped == kBurst);
    }
    ::close(udp);
}

void TestPcapLive::specificApplicationFollowsTheFirstConnector()
{
    QTemporaryDir dir;
    quint16 tcpPort = 0, udpPort = 0, otherPort = 0, otherSenderPort = 0;
    // The peer is another program: what it sends back is the followed program's
    // incoming traffic, and must be delivered too.
    const pid_t server = forkWorldServer(tcpPort);
    QVERIFY(server > 0 && tcpPort != 0);
    const int udp = boundSocket(SOCK_DGRAM, udpPort);
    QVERIFY(udp >= 0);
    // Ports of another program's traffic, chosen now so the filter can name them.
    const int p1 = boundSocket(SOCK_DGRAM, otherPort);
    const int p2 = boundSocket(SOCK_DGRAM, otherSenderPort);
    ::close(p1);
    ::close(p2);
    // The filter keeps other programs' connections on this shared machine out of the race.
    const QString filter = QStringLiteral("port %1 or port %2 or port %3 or port %4")
                               .arg(tcpPort).arg(udpPort).arg(otherPort).arg(otherSenderPort);
    HelperRunner helper(QStringLiteral("pcap"), liveArgs(3, filter), dir.path());
    QVERIFY(helper.start());
    QVERIFY2(helper.waitForStderr("capturing on", 10000), helper.stderrText().constData());

    // Another program sends first: nothing is followed yet, and it is never followed.
    const pid_t other = ::fork();
    if (other == 0) {
        sockaddr_in a{}, b{};
        a.sin_family = b.sin_family = AF_INET;
        a.sin_addr.s_addr = b.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(otherPort);
        b.sin_port = htons(otherSenderPort);
        const int rx = ::socket(AF_INET, SOCK_DGRAM, 0), tx = ::socket(AF_INET, SOCK_DGRAM, 0);
        ::bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::bind(tx, reinterpret_cast<sockaddr*>(&b), sizeof b);
        for (int i = 0; i < 10; ++i) {
            ::sendto(tx, "other", 5, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
            ::usleep(100 * 1000);
        }
        ::_exit(0);
    }
    QThread::msleep(200);
    // This test's first connection: it is followed from here. The owner of a SYN is
    // looked up while its socket still exists, so the connection stays open a moment.
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(connectLoopback(client, tcpPort));
    QThread::msleep(300);
    QCOMPARE(::write(client, "hello", 5), ssize_t(5));
    char answer[16];
    QCOMPARE(::read(client, answer, sizeof answer), ssize_t(5));
    ::close(client);
    int serverStatus = -1;
    QCOMPARE(::waitpid(server, &serverStatus, 0), server);
    QCOMPARE(serverStatus, 0);
    quint16 mySender = 0;
    const int sender = boundSocket(SOCK_DGRAM, mySender);
    sendDatagrams(sender, udpPort, {QByteArray("mine")});
    ::waitpid(other, nullptr, 0);
    QThread::msleep(300);
    ::kill(helper.pid(), SIGTERM);
    const std::vector<CPacket> records = helper.readRecords();
    QCOMPARE(helper.wait(), 0);
    QVERIFY2(helper.stderrText().contains(QByteArray("following ") + QByteArray::number(getpid()) + '/'),
             helper.stderrText().constData());

    QVERIFY(!records.empty());
    QCOMPARE(int(records.front().GetTCPFlags()), 0x02);  // the SYN that chose the program
    QByteArrayList payloads;
    for (const CPacket& p : records)
        if (p.payloadLength())
            payloads << payloadOf(p);
    QCOMPARE(payloads, (QByteArrayList{"hello", "world", "mine"}));

    QFile sockets(dir.path() + QStringLiteral("/%1_NukAppSockFile").arg(getuid()));
    QVERIFY(sockets.open(QIODevice::ReadOnly));
    const QByteArray listed = sockets.readAll();
    QVERIFY2(listed.contains(":" + QByteArray::number(tcpPort)), listed.constData());
    QVERIFY2(listed.contains(QByteArray::number(getpid()) + '/'), listed.constData());
    QFile syns(dir.path() + QStringLiteral("/%1_Nuk_Syn_Packets").arg(getuid()));
    QVERIFY(syns.open(QIODevice::ReadOnly));
    QVERIFY(syns.size() > 24);  // the pcap file header and at least the SYN
    ::close(udp);
    ::close(sender);
}

void TestPcapLive::noCaptureRightsIsOneClearLine()
{
    QTemporaryDir dir;
    HelperRunner helper(QStringLiteral("pcap"), liveArgs(1, QStringLiteral("tcp")), dir.path());
    helper.runAs(65534, 65534);  // nobody: no capture rights
    QVERIFY(helper.start());
    QCOMPARE(helper.wait(), 1);
    QVERIFY(helper.readRecords().empty());
    QVERIFY2(helper.stderrText().contains("no permission to capture on "), helper.stderrText().constData());
    QVERIFY(helper.stderrText().contains("grant-capture"));
}

// A copy of the helper granted to one group the way scripts/run does it: only
// members may run it; a member captures on lo, holds no capability once the
// devices are open, and cannot steer the temporary files through NUK_TMPDIR.
void TestPcapLive::captureRightsForOneGroupEndWithTheDevices()
{
    QTemporaryDir dir;
    const QString helper = dir.filePath(QStringLiteral("pcap"));
    QVERIFY(QFile::copy(QStringLiteral(NUK_BUILD_DIR "/nuk/pcap"), helper));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const gid_t group = 4242;  // a group nobody is not in
    QCOMPARE(QProcess::execute(QStringLiteral(NUK_SOURCE_DIR "/scripts/grant-capture"), {helper, QString::number(group)}), 0);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(helper).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0750);
    QCOMPARE(st.st_gid, group);
    QProcess getcap;
    getcap.start(QStringLiteral("getcap"), {helper});
    QVERIFY(getcap.waitForFinished());
    QVERIFY2(getcap.readAllStandardOutput().trimmed().endsWith(" cap_net_raw=ep"), "only cap_net_raw");

    HelperRunner outsider(helper, liveArgs(1, QStringLiteral("tcp")), dir.path());
    outsider.runAs(65534, 65534);
    QVERIFY(!outsider.start() || outsider.wait() != 0);  // not allowed to execute it

    const QString userTrace = QStringLiteral("/tmp/65534_NukDefaultTraceFile");
    QFile::remove(userTrace);
    quint16 port = 0, senderPort = 0;
    const int udp = boundSocket(SOCK_DGRAM, port);
    const int sender = boundSocket(SOCK_DGRAM, senderPort);
    const QString offered = dir.filePath(QStringLiteral("tmp"));  // writable for nobody, yet not to be used
    QVERIFY(QDir().mkdir(offered) && ::chmod(QFile::encodeName(offered).constData(), 01777) == 0);
    HelperRunner member(helper, liveArgs(1, QStringLiteral("udp port %1").arg(port)), offered);
    member.runAs(65534, 65534, group);
    QVERIFY(member.start());
    QVERIFY2(member.waitForStderr("capturing on", 10000), member.stderrText().constData());
    QFile status(QStringLiteral("/proc/%1/status").arg(member.pid()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QByteArray caps = status.readAll();
    for (const char* set : {"CapInh:", "CapPrm:", "CapEff:", "CapAmb:"})
        QVERIFY2(caps.contains(QByteArray(set) + "\t0000000000000000"), set);
    sendDatagrams(sender, port, {QByteArray("granted")});
    QThread::msleep(300);
    ::kill(member.pid(), SIGTERM);
    const std::vector<CPacket> records = member.readRecords();
    QCOMPARE(member.wait(), 0);
    QCOMPARE(records.size(), std::size_t(1));
    QCOMPARE(payloadOf(records[0]), QByteArray("granted"));
    QVERIFY2(QFile::exists(userTrace), "NUK_TMPDIR was honoured with raised rights");
    QVERIFY(QDir(offered).isEmpty());
    QFile::remove(userTrace);
    ::close(udp);
    ::close(sender);
}

QTEST_GUILESS_MAIN(TestPcapLive)
#include "tst_pcaplive.moc"

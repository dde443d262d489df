// Live capture on the loopback device through the real helper (needs root or
// capture rights): UDP and TCP traffic this test makes must arrive as records.

#include "helperrunner.h"
#include "common/testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
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
}  // namespace

class TestPcapLive : public QObject {
    Q_OBJECT
private slots:
    void init();
    void loopbackTrafficArrives();
    void specificApplicationFollowsTheFirstConnector();
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

NUK_TEST_CLASS(TestPcapLive)
#include "tst_pcaplive.moc"

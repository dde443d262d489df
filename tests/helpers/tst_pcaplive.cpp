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

NUK_TEST_CLASS(TestPcapLive)
#include "tst_pcaplive.moc"

// The socket-listing helper, run as a real child: it must report sockets this
// test opened, with their ports, states and this process as owner.

#include "capture/sockinfo.h"
#include "helperrunner.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::vector<SockInfo> listSockets(const QString& tmpDir)
{
    HelperRunner helper(QStringLiteral("getSock"), {QStringLiteral("%fd")}, tmpDir);
    std::vector<SockInfo> out;
    if (!helper.start())
        return out;
    const QByteArray bytes = helper.readAll();
    if (helper.wait() != 0 || bytes.size() % 68 != 0)
        return out;
    for (int at = 0; at + int(sizeof(SockInfo)) <= bytes.size(); at += int(sizeof(SockInfo))) {
        SockInfo s;
        std::memcpy(&s, bytes.constData() + at, sizeof s);
        out.push_back(s);
    }
    return out;
}

const SockInfo* find(const std::vector<SockInfo>& list, bool tcp, quint16 localPort, quint16 foreignPort = 0)
{
    for (const SockInfo& s : list)
        if ((s.protocol != 0) == tcp && s.local.sin_port == localPort && s.foreign.sin_port == foreignPort)
            return &s;
    return nullptr;
}
}  // namespace

class TestGetSock : public QObject {
    Q_OBJECT
private slots:
    void listsTheTestsOwnSockets();
    void rejectsABadDescriptor();
};

void TestGetSock::listsTheTestsOwnSockets()
{
    QTemporaryDir dir;
    quint16 tcpPort = 0, udpPort = 0, peerPort = 0, clientPort = 0;
    const int listener = boundSocket(SOCK_STREAM, tcpPort);
    QVERIFY(listener >= 0 && ::listen(listener, 4) == 0);
    const int udp = boundSocket(SOCK_DGRAM, udpPort);
    const int connectedUdp = boundSocket(SOCK_DGRAM, peerPort);
    QVERIFY(udp >= 0 && connectedUdp >= 0);
    QVERIFY(connectLoopback(connectedUdp, udpPort));
    const int client = boundSocket(SOCK_STREAM, clientPort);
    QVERIFY(connectLoopback(client, tcpPort));

    const std::vector<SockInfo> list = listSockets(dir.path());
    QVERIFY(list.size() >= 4);

    QFile commFile(QStringLiteral("/proc/self/comm"));
    QVERIFY(commFile.open(QIODevice::ReadOnly));
    const QByteArray me = (QByteArray::number(getpid()) + '/' + commFile.readAll().trimmed()).left(19);

    const SockInfo* l = find(list, true, tcpPort);
    QVERIFY2(l, "listening TCP socket missing");
    QCOMPARE(QByteArray(l->state), QByteArray("LISTEN"));
    QCOMPARE(QByteArray(l->program), me);
    QCOMPARE(l->local.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    const SockInfo* u = find(list, false, udpPort);
    QVERIFY2(u, "bound UDP socket missing");
    QCOMPARE(QByteArray(u->state), QByteArray(""));  // unconnected UDP: no state, as netstat
    QCOMPARE(QByteArray(u->program), me);
    QCOMPARE(u->foreign.sin_addr.s_addr, in_addr_t(0));

    const SockInfo* cu = find(list, false, peerPort, udpPort);
    QVERIFY2(cu, "connected UDP socket missing");
    QCOMPARE(QByteArray(cu->state), QByteArray("ESTABLISHED"));

    const SockInfo* c = find(list, true, clientPort, tcpPort);
    QVERIFY2(c, "connected TCP socket missing");
    QCOMPARE(QByteArray(c->state), QByteArray("ESTABLISHED"));
    QCOMPARE(c->foreign.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

    for (const SockInfo& s : list)  // every text ends inside its field
        QVERIFY(std::memchr(s.state, 0, sizeof s.state) && std::memchr(s.program, 0, sizeof s.program));
    for (int fd : {listener, udp, connectedUdp, client})
        ::close(fd);
}

void TestGetSock::rejectsABadDescriptor()
{
    QTemporaryDir dir;
    for (const QString& arg : {QStringLiteral("999"), QStringLiteral("x"), QStringLiteral("")}) {
        HelperRunner helper(QStringLiteral("getSock"), {arg}, dir.path());
        QVERIFY(helper.start());
        QCOMPARE(helper.wait(), 1);
        QVERIFY(helper.stderrText().contains("usage"));
    }
}

QTEST_GUILESS_MAIN(TestGetSock)
#include "tst_getsock.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// The socket-listing helper, run as a real child: it must report sockets this
// test opened, with their ports, states and this process as owner.

#include "capture/sockinfo.h"
#include "common/processes.h"
#include "common/testmain.h"
#include "helperrunner.h"

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
    if (helper.wait() != 0 || bytes.size() % int(sizeof(SockInfo)) != 0)
        return out;
    for (int at = 0; at + int(sizeof(SockInfo)) <= bytes.size(); at += int(sizeof(SockInfo))) {
        SockInfo s;
        std::memcpy(&s, bytes.constData() + at, sizeof s);
        out.push_back(s);
    }
    return out;
}

}  // namespace

class TestGetSock : public QObject {
    Q_OBJECT
private slots:
    void listsTheTestsOwnSockets();
    void listsIpv6Sockets();
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

    const QByteArray me =
        (QByteArray::number(getpid()) + '/' + testproc::readFile(QStringLiteral("/proc/self/comm")).trimmed()).left(19);

    const struct {
        const char* what;
        bool tcp;
        quint16 local, foreign;
        const char* state;
    } expected[] = {
        {"listening TCP", true, tcpPort, 0, "LISTEN"},
        {"bound UDP", false, udpPort, 0, ""},  // unconnected UDP: no state, as netstat
        {"connected UDP", false, peerPort, udpPort, "ESTABLISHED"},
        {"connected TCP", true, clientPort, tcpPort, "ESTABLISHED"},
    };
    for (const auto& e : expected) {
        const auto s = std::find_if(list.begin(), list.end(), [&](const SockInfo& s) {
            return (s.protocol != 0) == e.tcp && s.local.sin_port == e.local && s.foreign.sin_port == e.foreign;
        });
        QVERIFY2(s != list.end(), e.what);
        QCOMPARE(QByteArray(s->state), QByteArray(e.state));
        QCOMPARE(QByteArray(s->program), me);
        QCOMPARE(s->local.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        QCOMPARE(s->foreign.sin_addr.s_addr, e.foreign ? htonl(INADDR_LOOPBACK) : 0);
    }
    for (const SockInfo& s : list)  // every text ends inside its field
        QVERIFY(std::memchr(s.state, 0, sizeof s.state) && std::memchr(s.program, 0, sizeof s.program));
    for (int fd : {listener, udp, connectedUdp, client})
        ::close(fd);
}

// A socket of both families: ::1 as IPv6, an IPv4-mapped address as the IPv4 socket it is.
void TestGetSock::listsIpv6Sockets()
{
    QTemporaryDir dir;
    quint16 port6 = 0, portMapped = 0;
    const int listener6 = boundSocket(SOCK_STREAM, port6, AF_INET6);
    QVERIFY(listener6 >= 0 && ::listen(listener6, 4) == 0);
    const int mapped = ::socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    QCOMPARE(inet_pton(AF_INET6, "::ffff:127.0.0.1", &a.sin6_addr), 1);
    socklen_t len = sizeof a;
    QVERIFY(::bind(mapped, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(mapped, reinterpret_cast<sockaddr*>(&a), &len) == 0);
    portMapped = ntohs(a.sin6_port);

    const std::vector<SockInfo> list = listSockets(dir.path());
    const auto find = [&](bool tcp, quint16 port) {
        return std::find_if(list.begin(), list.end(), [&](const SockInfo& s) {
            return (s.protocol != 0) == tcp && s.local.sin_port == port;
        });
    };
    const auto v6 = find(true, port6);
    QVERIFY(v6 != list.end());
    QCOMPARE(v6->local.sin_family, sa_family_t(AF_INET6));
    QCOMPARE(v6->foreign.sin_family, sa_family_t(AF_INET6));
    QVERIFY(IN6_IS_ADDR_LOOPBACK(&v6->local6) && IN6_IS_ADDR_UNSPECIFIED(&v6->foreign6));
    QCOMPARE(v6->local.sin_addr.s_addr, 0u);
    QCOMPARE(QByteArray(v6->state), QByteArray("LISTEN"));
    const auto v4 = find(false, portMapped);
    QVERIFY(v4 != list.end());
    QCOMPARE(v4->local.sin_family, sa_family_t(AF_INET));
    QCOMPARE(v4->local.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    QVERIFY(IN6_IS_ADDR_UNSPECIFIED(&v4->local6));
    for (int fd : {listener6, mapped})
        ::close(fd);
}

NUK_TEST_CLASS(TestGetSock)
#include "tst_getsock.moc"

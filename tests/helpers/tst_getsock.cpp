// SPDX-License-Identifier: GPL-2.0-or-later
// The socket-listing helper, run as a real child: it must report sockets this
// test opened, with their ports, states and this process as owner.

#include "capture/sockinfo.h"
#include "common/processes.h"
#include "helpers/procsockets.h"
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

// "4 127.0.0.1:631 0.0.0.0:0" or "6 [::1]:8080 [::]:0": the family the record gets, both ends.
QString describe(const KernelSocket& s)
{
    const bool v4 = isIpv4Socket(s);
    const auto end = [v4](const SocketAddress& a, quint16 port) {
        char text[INET6_ADDRSTRLEN];
        const std::uint32_t a4 = ipv4Of(a);
        if (v4)
            return QStringLiteral("%1:%2").arg(QLatin1String(inet_ntop(AF_INET, &a4, text, sizeof text))).arg(port);
        return QStringLiteral("[%1]:%2").arg(QLatin1String(inet_ntop(AF_INET6, a.data(), text, sizeof text))).arg(port);
    };
    return QStringLiteral("%1 %2 %3").arg(v4 ? 4 : 6).arg(end(s.localAddr, s.localPort), end(s.remoteAddr, s.remotePort));
}
}  // namespace

class TestGetSock : public QObject {
    Q_OBJECT
private slots:
    void listsTheTestsOwnSockets();
    void parsesProcLines_data();
    void parsesProcLines();
};

// Also a socket of both families: ::1 as IPv6, an IPv4-mapped address as the IPv4
// socket it is.
void TestGetSock::listsTheTestsOwnSockets()
{
    QTemporaryDir dir;
    quint16 tcpPort = 0, udpPort = 0, peerPort = 0, clientPort = 0, port6 = 0;
    const int listener = boundSocket(SOCK_STREAM, tcpPort);
    QVERIFY(listener >= 0 && ::listen(listener, 4) == 0);
    const int udp = boundSocket(SOCK_DGRAM, udpPort);
    const int connectedUdp = boundSocket(SOCK_DGRAM, peerPort);
    QVERIFY(udp >= 0 && connectedUdp >= 0);
    QVERIFY(connectLoopback(connectedUdp, udpPort));
    const int client = boundSocket(SOCK_STREAM, clientPort);
    QVERIFY(connectLoopback(client, tcpPort));
    const int listener6 = boundSocket(SOCK_STREAM, port6, AF_INET6);
    QVERIFY(listener6 >= 0 && ::listen(listener6, 4) == 0);
    const int mapped = ::socket(AF_INET6, SOCK_DGRAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    QCOMPARE(inet_pton(AF_INET6, "::ffff:127.0.0.1", &a.sin6_addr), 1);
    socklen_t len = sizeof a;
    QVERIFY(::bind(mapped, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(mapped, reinterpret_cast<sockaddr*>(&a), &len) == 0);

    const std::vector<SockInfo> list = listSockets(dir.path());
    QVERIFY(list.size() >= 6);
    const auto find = [&](bool tcp, quint16 local, quint16 foreign) {
        return std::find_if(list.begin(), list.end(), [&](const SockInfo& s) {
            return (s.protocol != 0) == tcp && s.local.sin_port == local && s.foreign.sin_port == foreign;
        });
    };

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
        {"IPv4-mapped UDP", false, ntohs(a.sin6_port), 0, ""},
    };
    for (const auto& e : expected) {
        const auto s = find(e.tcp, e.local, e.foreign);
        QVERIFY2(s != list.end(), e.what);
        QCOMPARE(QByteArray(s->state), QByteArray(e.state));
        QCOMPARE(QByteArray(s->program), me);
        QCOMPARE(s->local.sin_family, sa_family_t(AF_INET));
        QCOMPARE(s->local.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        QCOMPARE(s->foreign.sin_addr.s_addr, e.foreign ? htonl(INADDR_LOOPBACK) : 0);
        QVERIFY(IN6_IS_ADDR_UNSPECIFIED(&s->local6));
    }
    const auto v6 = find(true, port6, 0);
    QVERIFY(v6 != list.end());
    QCOMPARE(v6->local.sin_family, sa_family_t(AF_INET6));
    QCOMPARE(v6->foreign.sin_family, sa_family_t(AF_INET6));
    QVERIFY(IN6_IS_ADDR_LOOPBACK(&v6->local6) && IN6_IS_ADDR_UNSPECIFIED(&v6->foreign6));
    QCOMPARE(v6->local.sin_addr.s_addr, 0u);
    QCOMPARE(QByteArray(v6->state), QByteArray("LISTEN"));
    for (const SockInfo& s : list)  // every text ends inside its field
        QVERIFY(std::memchr(s.state, 0, sizeof s.state) && std::memchr(s.program, 0, sizeof s.program));
    for (int fd : {listener, udp, connectedUdp, client, listener6, mapped})
        ::close(fd);
}

// Lines of /proc/net/tcp and tcp6 (untrusted text): what they give, or nothing.
void TestGetSock::parsesProcLines_data()
{
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QByteArray>("ends");  // local and remote address fields
    QTest::addColumn<QString>("seen");     // empty: the line is refused
    const QByteArray zero6(32, '0');
    QTest::newRow("IPv4") << false << QByteArray("0100007F:0277 00000000:0000") << "4 127.0.0.1:631 0.0.0.0:0";
    QTest::newRow("::1") << true << "00000000000000000000000001000000:1F90 " + zero6 + ":0000" << "6 [::1]:8080 [::]:0";
    QTest::newRow("long address") << true << "341200FDBC9A7856341200FFBC9A7856:9C41 " + zero6 + ":0000"
                                  << "6 [fd00:1234:5678:9abc:ff00:1234:5678:9abc]:40001 [::]:0";
    QTest::newRow("mapped") << true << QByteArray("0000000000000000FFFF00000100007F:0050 0000000000000000FFFF00000100007F:D000")
                            << "4 127.0.0.1:80 127.0.0.1:53248";
    QTest::newRow("mapped, unconnected") << true << "0000000000000000FFFF00000100007F:0035 " + zero6 + ":0000"
                                         << "4 127.0.0.1:53 0.0.0.0:0";
    QTest::newRow("31 digits") << true << "0000000000000000000000000100000:1F90 " + zero6 + ":0000" << QString();
    QTest::newRow("33 digits") << true << "000000000000000000000000010000000:1F90 " + zero6 + ":0000" << QString();
    QTest::newRow("not hexadecimal") << true << "0000000000000000000000000100000G:1F90 " + zero6 + ":0000" << QString();
    QTest::newRow("IPv4 in the IPv6 table") << true << QByteArray("0100007F:0277 00000000:0000") << QString();
    QTest::newRow("IPv6 in the IPv4 table") << false << "00000000000000000000000001000000:1F90 " + zero6 + ":0000"
                                            << QString();
}

void TestGetSock::parsesProcLines()
{
    QFETCH(bool, ipv6);
    QFETCH(QByteArray, ends);
    QFETCH(QString, seen);
    const std::string line = "   0: " + ends.toStdString() + " 0A 00000000:00000000 00:00000000 00000000  0  0 4242 1";
    KernelSocket s;
    const bool parsed = parseSocketLine(line, true, ipv6, s);
    QCOMPARE(parsed ? describe(s) : QString(), seen);
    if (parsed)
        QCOMPARE(s.inode, 4242ul);
}

NUK_TEST_CLASS(TestGetSock)
#include "tst_getsock.moc"

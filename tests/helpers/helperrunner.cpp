// SPDX-License-Identifier: GPL-2.0-or-later
#include "helperrunner.h"

#include "capture/recordreader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

HelperRunner::HelperRunner(const QString& program, const QStringList& args, const QString& tmpDir) : m_args(args)
{
    m_process.setProgram(program.startsWith(QLatin1Char('/')) ? program : QStringLiteral(NUK_BUILD_DIR "/nuk/") + program);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NUK_TMPDIR"), tmpDir);
    m_process.setProcessEnvironment(env);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setReadChannel(QProcess::StandardError);
}

HelperRunner::~HelperRunner()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
    closeReadEnd();
}

bool HelperRunner::start()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, 0) != 0)  // only the write end is inherited
        return false;
    QStringList args = m_args;
    args.replaceInStrings(QRegularExpression(QStringLiteral("^%fd$")), QString::number(fds[1]));
    m_process.setArguments(args);
    m_process.start();
    ::close(fds[1]);
    m_readFd = fds[0];
    return m_process.waitForStarted();
}

void HelperRunner::closeReadEnd()
{
    if (m_readFd >= 0)
        ::close(m_readFd);
    m_readFd = -1;
}

std::vector<CPacket> HelperRunner::readRecords(std::vector<QByteArray>* fixed)
{
    std::vector<CPacket> records;
    RecordReader reader(m_readFd);
    RawPacket raw;
    while (reader.next(raw) == RecordReader::Status::Record) {
        records.emplace_back(&raw);
        if (fixed)
            fixed->emplace_back(reinterpret_cast<const char*>(raw.fixed), int(record::FixedSize));
    }
    return records;
}

QByteArray HelperRunner::readAll()
{
    QByteArray all;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(m_readFd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        all.append(buf, std::max<ssize_t>(n, 0));
    return all;
}

bool HelperRunner::waitForStderr(const QByteArray& text, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!stderrText().contains(text))
        if (timer.elapsed() > ms || (!m_process.waitForReadyRead(50) && m_process.state() == QProcess::NotRunning))
            return stderrText().contains(text);
    return true;
}

bool HelperRunner::waitForOutput(int ms)
{
    pollfd pfd{m_readFd, POLLIN, 0};
    return ::poll(&pfd, 1, ms) == 1 && (pfd.revents & POLLIN);
}

int HelperRunner::wait(int ms)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(ms))
        return -1;
    stderrText();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : 128;
}

QByteArray HelperRunner::stderrText()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}

QStringList pcapArgs(const QString& trace, const QString& filter, int mode, const QString& device)
{
    return {trace, QStringLiteral("%fd"), QString::number(mode), device, filter};
}

ReplayResult replayTrace(const QString& trace, const QString& filter, const QString& tmpDir)
{
    ReplayResult result;
    HelperRunner helper(QStringLiteral("pcap"), pcapArgs(trace, filter), tmpDir);
    if (!helper.start())
        return result;
    result.records = helper.readRecords(&result.fixed);
    result.status = helper.wait();
    result.stderrText = helper.stderrText();
    return result;
}

QByteArray payloadOf(const CPacket& p)
{
    return QByteArray(reinterpret_cast<const char*>(p.GetRealData()), int(p.payloadLength()));
}

QByteArray recordBytes(const CPacket& p, bool withTimeAndLink)
{
    auto bytes = [](const void* at, int n) { return QByteArray(static_cast<const char*>(at), n); };
    QByteArray b = withTimeAndLink ? bytes(p.GetTimeStamp(), 8) + bytes(p.GetEthernetHeader(), 14) : QByteArray();
    b += bytes(p.GetIpHeader(), 20) + bytes(p.GetIpOptions(), 40) + bytes(p.GetTcpHeader(), 20) +
         bytes(p.GetUdpHeader(), 8) + bytes(p.GetTcpOptions(), 40);
    return b + QByteArray::number(p.GetPacketType()) + ' ' + QByteArray::number(p.GetPacketLength()) + payloadOf(p);
}

// Columns: time, src, dst, ip.proto, ip.hdr_len, ip.len, tcp ports, seq, ack, flags,
// tcp.hdr_len, udp ports, tcp payload, udp payload (tests/data/ipv6/tshark-expected6.py:
// for IPv6 the upper protocol, the header length up to TCP/UDP and 40 + payload length).
QString compareWithExpected(const ReplayResult& replay, const QString& expectedPath)
{
    const std::vector<CPacket>& records = replay.records;
    QFile f(expectedPath);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read ") + expectedPath;
    std::size_t n = 0;
    for (; !f.atEnd(); ++n) {
        const QList<QByteArray> c = f.readLine().chopped(1).split('\t');
        if (c.size() < 16)
            return QStringLiteral("line %1 of %2 is short").arg(n + 1).arg(expectedPath);
        if (n >= records.size())
            return QStringLiteral("only %1 records").arg(records.size());
        const CPacket& r = records[n];
        const bool tcp = c[3] == "6";
        const bool v6 = c[1].contains(':');
        const QList<QByteArray> time = c[0].split('.');
        const QByteArray payload = QByteArray::fromHex(tcp ? c[14] : c[15]);
        // IPv6: the fixed header and the extension header summary, as the record holds them.
        const QByteArray& fixed = replay.fixed[n];
        const char* ip = fixed.constData() + record::Ip6;
        const auto u8 = [&](std::size_t at) { return qint64(quint8(fixed[int(at)])); };
        const auto u16 = [&](std::size_t at) { return u8(at) << 8 | u8(at + 1); };
        const struct {
            const char* what;
            qint64 got, want;
        } fields[] = {
            {"seconds", r.GetTimeStamp()[0], time[0].toLongLong()},
            {"microseconds", r.GetTimeStamp()[1], time.value(1).left(6).toLongLong()},
            {"type", r.GetPacketType(), tcp ? 1 : 2},
            {"record length", r.GetPacketLength(), 160 + payload.size()},
            {"ethernet type", r.GetEthernetType(), v6 ? 0x86dd : 0x0800},
            {"ip header length", v6 ? 40 + u16(record::Ip6ExtLength) : r.GetIPHeaderLength(), c[4].toInt()},
            {"ip total length", v6 ? 40 + u16(record::Ip6 + 4) : r.GetTotalLength(), c[5].toInt()},
            {"protocol", v6 ? u8(record::Ip6ExtUpper) : r.GetProtocolType(), c[3].toInt()},
            {"src port", tcp ? r.GetSrcPort() : r.GetUDPSrcPort(), (tcp ? c[6] : c[12]).toInt()},
            {"dst port", tcp ? r.GetDstPort() : r.GetUDPDstPort(), (tcp ? c[7] : c[13]).toInt()},
            {"seq", tcp ? r.GetSequenceNo() : 0, tcp ? c[8].toLongLong() : 0},
            {"ack", tcp ? r.GetAcknowlegetNo() : 0, tcp ? c[9].toLongLong() : 0},
            {"tcp flags", tcp ? r.GetTCPFlags() : 0, tcp ? c[10].toInt(nullptr, 16) : 0},
            {"tcp header length", tcp ? r.GetTCPHeaderLength() : 0, tcp ? c[11].toInt() : 0},
        };
        const QString where = QStringLiteral("record %1: ").arg(n);
        for (const auto& x : fields)
            if (x.got != x.want)
                return where + QStringLiteral("%1: got %2, want %3").arg(QLatin1String(x.what)).arg(x.got).arg(x.want);
        char src[INET6_ADDRSTRLEN], dst[INET6_ADDRSTRLEN];
        if (v6) {
            inet_ntop(AF_INET6, ip + 8, src, sizeof src);
            inet_ntop(AF_INET6, ip + 24, dst, sizeof dst);
        } else {
            r.GetSrcIPAddr(0, src, sizeof src);
            r.GetDstIPAddr(0, dst, sizeof dst);
        }
        if (QByteArray(src) != c[1] || QByteArray(dst) != c[2])
            return where + QStringLiteral("addresses %1 -> %2").arg(QLatin1String(src), QLatin1String(dst));
        if (payloadOf(r) != payload)
            return where + QStringLiteral("payload differs");
    }
    return n == records.size() ? QString() : QStringLiteral("%1 records, %2 expected").arg(records.size()).arg(n);
}

namespace {
// 127.0.0.1 or ::1 with `port`.
socklen_t loopbackAddress(int family, quint16 port, sockaddr_storage& a)
{
    std::memset(&a, 0, sizeof a);
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(port);
        return sizeof *in6;
    }
    auto* in = reinterpret_cast<sockaddr_in*>(&a);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    in->sin_port = htons(port);
    return sizeof *in;
}
}  // namespace

int boundSocket(int type, quint16& port, int family)
{
    const int s = ::socket(family, type, 0);
    sockaddr_storage a;
    socklen_t len = loopbackAddress(family, 0, a);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                    : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return s;
}

bool connectLoopback(int socket, quint16 port, int family)
{
    sockaddr_storage a;
    const socklen_t len = loopbackAddress(family, port, a);
    return ::connect(socket, reinterpret_cast<sockaddr*>(&a), len) == 0;
}

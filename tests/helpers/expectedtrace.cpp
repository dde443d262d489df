#include "expectedtrace.h"

#include <QFile>
#include <QList>

std::vector<ExpectedPacket> loadExpected(const QString& path)
{
    std::vector<ExpectedPacket> packets;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return packets;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().chopped(1);
        const QList<QByteArray> c = line.split('\t');
        if (c.size() < 16)
            continue;
        ExpectedPacket e;
        const QList<QByteArray> time = c[0].split('.');
        e.seconds = time[0].toLongLong();
        e.microseconds = time.value(1).left(6).toLongLong();
        e.src = QString::fromLatin1(c[1]);
        e.dst = QString::fromLatin1(c[2]);
        e.protocol = c[3].toInt();
        e.ipHeaderLength = c[4].toInt();
        e.ipTotalLength = c[5].toInt();
        if (e.protocol == 6) {
            e.srcPort = c[6].toUShort();
            e.dstPort = c[7].toUShort();
            e.seq = c[8].toUInt();
            e.ack = c[9].toUInt();
            e.tcpFlags = c[10].toInt(nullptr, 16);
            e.tcpHeaderLength = c[11].toInt();
            e.payload = QByteArray::fromHex(c[14]);
        } else {
            e.srcPort = c[12].toUShort();
            e.dstPort = c[13].toUShort();
            e.payload = QByteArray::fromHex(c[15]);
        }
        packets.push_back(e);
    }
    return packets;
}

QString compareRecord(const CPacket& r, const ExpectedPacket& e)
{
    char src[20], dst[20];
    const QByteArray payload(reinterpret_cast<const char*>(r.GetRealData()), int(r.payloadLength()));
    const bool tcp = e.protocol == 6;
    const struct {
        const char* what;
        qint64 got, want;
    } fields[] = {
        {"seconds", r.GetTimeStamp()[0], e.seconds},
        {"microseconds", r.GetTimeStamp()[1], e.microseconds},
        {"type", r.GetPacketType(), tcp ? 1 : 2},
        {"record length", r.GetPacketLength(), 160 + e.payload.size()},
        {"ethernet type", r.GetEthernetType(), 0x0800},
        {"ip header length", r.GetIPHeaderLength(), e.ipHeaderLength},
        {"ip total length", r.GetTotalLength(), e.ipTotalLength},
        {"protocol", r.GetProtocolType(), e.protocol},
        {"src port", tcp ? r.GetSrcPort() : r.GetUDPSrcPort(), e.srcPort},
        {"dst port", tcp ? r.GetDstPort() : r.GetUDPDstPort(), e.dstPort},
        {"seq", tcp ? r.GetSequenceNo() : 0, e.seq},
        {"ack", tcp ? r.GetAcknowlegetNo() : 0, e.ack},
        {"tcp flags", tcp ? r.GetTCPFlags() : 0, e.tcpFlags},
        {"tcp header length", tcp ? r.GetTCPHeaderLength() : 0, e.tcpHeaderLength},
    };
    for (const auto& f : fields)
        if (f.got != f.want)
            return QStringLiteral("%1: got %2, want %3").arg(QLatin1String(f.what)).arg(f.got).arg(f.want);
    if (QString::fromLatin1(r.GetSrcIPAddr(0, src, sizeof src)) != e.src ||
        QString::fromLatin1(r.GetDstIPAddr(0, dst, sizeof dst)) != e.dst)
        return QStringLiteral("addresses %1 -> %2, want %3 -> %4")
            .arg(QLatin1String(src), QLatin1String(dst), e.src, e.dst);
    if (payload != e.payload)
        return QStringLiteral("payload differs (%1 bytes, want %2)").arg(payload.size()).arg(e.payload.size());
    return {};
}

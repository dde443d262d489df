#pragma once
// Packets for the tests: records cut from a tcpdump trace (read with libpcap, laid
// out the way the capture helper lays them out) and hand-built records.

#include "capture/cpacket.h"
#include "capture/rawpacket.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <pcap/pcap.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace fixtures {

inline void put32(unsigned char* p, std::int32_t v) { std::memcpy(p, &v, 4); }

// A record of the helper's layout from one Ethernet/IPv4/TCP-or-UDP frame.
inline std::unique_ptr<CPacket> packetFromFrame(const unsigned char* frame, int len, std::int32_t sec,
                                                std::int32_t usec)
{
    RawPacket raw{};
    std::memset(raw.fixed, 0, sizeof raw.fixed);
    const int ihl = (frame[14] & 0x0f) * 4;
    const bool tcp = frame[14 + 9] == 6;
    const int t = 14 + ihl;
    std::memcpy(raw.fixed + record::Ethernet, frame, 14);
    std::memcpy(raw.fixed + record::Ip, frame + 14, 20);
    if (ihl > 20)
        std::memcpy(raw.fixed + record::IpOptions, frame + 34, std::size_t(ihl - 20));
    int payloadAt;
    if (tcp) {
        const int thl = (frame[t + 12] >> 4) * 4;
        std::memcpy(raw.fixed + record::Tcp, frame + t, 20);
        if (thl > 20)
            std::memcpy(raw.fixed + record::TcpOptions, frame + t + 20, std::size_t(thl - 20));
        payloadAt = t + thl;
    } else {
        std::memcpy(raw.fixed + record::Udp, frame + t, 8);
        payloadAt = t + 8;
    }
    const int ipEnd = 14 + ((frame[16] << 8) | frame[17]);
    const int payload = std::max(0, std::min(len, ipEnd) - payloadAt);
    put32(raw.fixed + record::Seconds, sec);
    put32(raw.fixed + record::Microseconds, usec);
    put32(raw.fixed + record::PacketType, tcp ? 1 : 2);
    put32(raw.fixed + record::Length, packetlen + payload);
    raw.payload = payload ? frame + payloadAt : nullptr;
    return std::make_unique<CPacket>(&raw);
}

struct TracePacket {
    std::unique_ptr<CPacket> packet;
    QByteArray frame;  // the bytes as the trace holds them
};

inline std::vector<TracePacket> readTrace(const QString& path)
{
    std::vector<TracePacket> out;
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* pc = pcap_open_offline(path.toLocal8Bit().constData(), err);
    if (!pc)
        return out;
    pcap_pkthdr* hdr;
    const u_char* data;
    while (pcap_next_ex(pc, &hdr, &data) == 1) {
        TracePacket tp;
        tp.frame = QByteArray(reinterpret_cast<const char*>(data), int(hdr->caplen));
        tp.packet = packetFromFrame(data, int(hdr->caplen), std::int32_t(hdr->ts.tv_sec), std::int32_t(hdr->ts.tv_usec));
        out.push_back(std::move(tp));
    }
    pcap_close(pc);
    return out;
}

// tshark's tab-separated fields, one row a packet.
inline std::vector<QStringList> readTsv(const QString& path)
{
    std::vector<QStringList> rows;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).chopped(1);
        if (!line.isEmpty())
            rows.push_back(line.split(QLatin1Char('\t')));
    }
    return rows;
}

// Hand-built packets: fields given as they would be on the wire.
struct Fields {
    bool tcp = true;
    std::int32_t sec = 1000, usec = 0;
    std::uint16_t etherType = 0x0800;
    int ipOptions = 0;   // bytes; header length field = 5 + ipOptions / 4
    int ihlOverride = -1;
    int tcpOptions = 0;  // bytes
    int tcpOffsetOverride = -1;
    std::uint32_t src = 0x0a000001, dst = 0xc0a80102;
    std::uint16_t sport = 1234, dport = 80;
    std::uint32_t seq = 1, ack = 0;
    std::uint8_t flags = 0x10;
    std::uint16_t window = 0xffff;
    int payload = 0;
    std::uint8_t payloadStart = 0;  // payload bytes count up from here
};

inline std::unique_ptr<CPacket> build(const Fields& s)
{
    std::vector<unsigned char> frame(14 + 20 + std::size_t(s.ipOptions) + 60 + std::size_t(s.payload), 0);
    unsigned char* f = frame.data();
    const unsigned char dmac[6] = {0x00, 0x0a, 0x95, 0x9d, 0x68, 0x16};
    const unsigned char smac[6] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};
    std::memcpy(f, dmac, 6);
    std::memcpy(f + 6, smac, 6);
    f[12] = std::uint8_t(s.etherType >> 8);
    f[13] = std::uint8_t(s.etherType);
    unsigned char* ip = f + 14;
    const int ihl = s.ihlOverride >= 0 ? s.ihlOverride : 5 + s.ipOptions / 4;
    const int thl = s.tcp ? 20 + s.tcpOptions : 8;
    const int total = 20 + s.ipOptions + thl + s.payload;
    ip[0] = std::uint8_t(0x40 | ihl);
    ip[2] = std::uint8_t(total >> 8);
    ip[3] = std::uint8_t(total);
    ip[4] = 0xbe;
    ip[5] = 0xef;
    ip[6] = 0x40;  // don't fragment
    ip[8] = 64;
    ip[9] = s.tcp ? 6 : 17;
    ip[10] = 0x12;
    ip[11] = 0x34;
    for (int i = 0; i < 4; ++i) {
        ip[12 + i] = std::uint8_t(s.src >> (24 - 8 * i));
        ip[16 + i] = std::uint8_t(s.dst >> (24 - 8 * i));
    }
    for (int i = 0; i < s.ipOptions; ++i)
        ip[20 + i] = 0x01;
    unsigned char* t = ip + 20 + s.ipOptions;
    t[0] = std::uint8_t(s.sport >> 8);
    t[1] = std::uint8_t(s.sport);
    t[2] = std::uint8_t(s.dport >> 8);
    t[3] = std::uint8_t(s.dport);
    if (s.tcp) {
        for (int i = 0; i < 4; ++i) {
            t[4 + i] = std::uint8_t(s.seq >> (24 - 8 * i));
            t[8 + i] = std::uint8_t(s.ack >> (24 - 8 * i));
        }
        const int off = s.tcpOffsetOverride >= 0 ? s.tcpOffsetOverride : thl / 4;
        t[12] = std::uint8_t(off << 4);
        t[13] = s.flags;
        t[14] = std::uint8_t(s.window >> 8);
        t[15] = std::uint8_t(s.window);
        t[16] = 0xab;
        t[17] = 0xcd;
        t[19] = 1;
        for (int i = 0; i < s.tcpOptions; ++i)
            t[20 + i] = 0x01;
    } else {
        const int ulen = 8 + s.payload;
        t[4] = std::uint8_t(ulen >> 8);
        t[5] = std::uint8_t(ulen);
        t[6] = 0x01;
        t[7] = 0x02;
    }
    unsigned char* pl = t + thl;
    for (int i = 0; i < s.payload; ++i)
        pl[i] = std::uint8_t(s.payloadStart + i);

    // The record is cut by hand (not by packetFromFrame) so corrupt lengths stay corrupt.
    RawPacket raw{};
    std::memcpy(raw.fixed + record::Ethernet, f, 14);
    std::memcpy(raw.fixed + record::Ip, ip, 20);
    std::memcpy(raw.fixed + record::IpOptions, ip + 20, std::size_t(std::min(s.ipOptions, 40)));
    if (s.tcp) {
        std::memcpy(raw.fixed + record::Tcp, t, 20);
        std::memcpy(raw.fixed + record::TcpOptions, t + 20, std::size_t(std::min(s.tcpOptions, 40)));
    } else {
        std::memcpy(raw.fixed + record::Udp, t, 8);
    }
    put32(raw.fixed + record::Seconds, s.sec);
    put32(raw.fixed + record::Microseconds, s.usec);
    put32(raw.fixed + record::PacketType, s.tcp ? 1 : 2);
    put32(raw.fixed + record::Length, packetlen + s.payload);
    raw.payload = s.payload ? pl : nullptr;
    return std::make_unique<CPacket>(&raw);
}

}  // namespace fixtures

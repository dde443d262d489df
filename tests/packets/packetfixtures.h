// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Packets for the tests: frames built from wire fields, records cut from them by
// hand (so corrupt lengths stay corrupt), and records made from a tcpdump trace
// by the capture helper's own conversion.

#include "capture/cpacket.h"
#include "helpers/framerecord.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <cstring>
#include <memory>
#include <pcap/pcap.h>
#include <vector>

namespace fixtures {

using Bytes = QByteArray;

inline Bytes be(std::uint64_t v, int n)
{
    Bytes b(n, '\0');
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        b[i] = char(v);
    return b;
}

struct Fields {
    bool tcp = true;
    std::int32_t sec = 1000, usec = 0;
    std::uint16_t etherType = 0x0800;
    int protocol = -1;      // IP protocol field; -1: 6 or 17 by `tcp`
    int ipOptions = 0;      // bytes of 0x01; header length field = 5 + ipOptions / 4
    int ihlOverride = -1;
    int tcpOptions = 0;     // bytes of 0x01
    int tcpOffsetOverride = -1;
    int fragWord = 0x4000;  // don't fragment
    int totalOverride = -1;
    std::uint32_t src = 0x0a000001, dst = 0xc0a80102;
    std::uint16_t sport = 1234, dport = 80;
    std::uint32_t seq = 1, ack = 0;
    std::uint8_t flags = 0x10;
    std::uint16_t window = 0xffff;
    int payload = 0;
    std::uint8_t payloadStart = 0;  // payload bytes count up from here
    // IPv6 instead of IPv4 when the source is set (16 bytes); extension headers
    // as (type, length in bytes, a multiple of 8).
    Bytes src6, dst6;
    std::uint8_t trafficClass = 0;
    std::uint32_t flowLabel = 0;
    std::vector<std::pair<int, int>> extensions;
};

inline Bytes v6(const char* hex) { return Bytes::fromHex(hex); }

inline Bytes frame(const Fields& s)
{
    Bytes payload;
    for (int i = 0; i < s.payload; ++i)
        payload += char(s.payloadStart + i);
    const Bytes l4 = s.tcp ? be(s.sport, 2) + be(s.dport, 2) + be(s.seq, 4) + be(s.ack, 4) +
                                 be((s.tcpOffsetOverride >= 0 ? s.tcpOffsetOverride : 5 + s.tcpOptions / 4) << 4, 1) +
                                 be(s.flags, 1) + be(s.window, 2) + be(0xabcd0001, 4) + Bytes(s.tcpOptions, '\1')
                           : be(s.sport, 2) + be(s.dport, 2) + be(8 + s.payload, 2) + be(0x0102, 2);
    if (!s.src6.isEmpty()) {
        Bytes ext;
        for (std::size_t i = 0; i < s.extensions.size(); ++i) {
            const int next = i + 1 < s.extensions.size() ? s.extensions[i + 1].first : s.tcp ? 6 : 17;
            ext += be(next, 1) + be(s.extensions[i].second / 8 - 1, 1) + Bytes(s.extensions[i].second - 2, '\0');
        }
        const int first = s.extensions.empty() ? (s.tcp ? 6 : 17) : s.extensions.front().first;
        const Bytes ip6 = be((6u << 28) | (std::uint32_t(s.trafficClass) << 20) | s.flowLabel, 4) +
                          be(s.totalOverride >= 0 ? s.totalOverride : int(ext.size() + l4.size()) + s.payload, 2) +
                          be(first, 1) + be(64, 1) + s.src6 + s.dst6;
        return Bytes::fromHex("000a959d6816" "0242ac110002") + be(0x86dd, 2) + ip6 + ext + l4 + payload;
    }
    const int ihl = s.ihlOverride >= 0 ? s.ihlOverride : 5 + s.ipOptions / 4;
    const int total = s.totalOverride >= 0 ? s.totalOverride : 20 + s.ipOptions + int(l4.size()) + s.payload;
    const Bytes ip = be(0x40 | ihl, 1) + be(0, 1) + be(total, 2) + be(0xbeef, 2) + be(s.fragWord, 2) + be(64, 1) +
                     be(s.protocol >= 0 ? s.protocol : s.tcp ? 6 : 17, 1) + be(0x1234, 2) + be(s.src, 4) +
                     be(s.dst, 4) + Bytes(s.ipOptions, '\1');
    return Bytes::fromHex("000a959d6816" "0242ac110002") + be(s.etherType, 2) + ip + l4 + payload;
}

inline void put32(unsigned char* p, std::int32_t v) { std::memcpy(p, &v, 4); }

inline std::unique_ptr<CPacket> build(const Fields& s)
{
    const Bytes f = frame(s);
    const auto* ip = reinterpret_cast<const unsigned char*>(f.constData()) + 14;
    const unsigned char* t = ip + 20 + s.ipOptions;
    RawPacket raw{};
    std::memcpy(raw.fixed + record::Ethernet, f.constData(), 14);
    if (!s.src6.isEmpty()) {
        // The IPv6 header at record::Ip, the extension summary 40 bytes on.
        unsigned char* summary = raw.fixed + record::Ip + 40;
        std::memcpy(raw.fixed + record::Ip, ip, 40);
        int total = 0;
        for (std::size_t i = 0; i < s.extensions.size(); ++i) {
            if (i < 5) {
                summary[4 + 3 * i] = std::uint8_t(s.extensions[i].first);
                summary[5 + 3 * i] = std::uint8_t(s.extensions[i].second >> 8);
                summary[6 + 3 * i] = std::uint8_t(s.extensions[i].second);
            }
            total += s.extensions[i].second;
        }
        summary[0] = std::uint8_t(s.extensions.size());
        summary[1] = s.tcp ? 6 : 17;
        summary[2] = std::uint8_t(total >> 8);
        summary[3] = std::uint8_t(total);
        t = ip + 40 + total;
    } else {
        std::memcpy(raw.fixed + record::Ip, ip, 20);
        std::memcpy(raw.fixed + record::IpOptions, ip + 20, std::size_t(std::min(s.ipOptions, 40)));
    }
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
    raw.payload = s.payload ? reinterpret_cast<const unsigned char*>(f.constData()) + f.size() - s.payload : nullptr;
    return std::make_unique<CPacket>(&raw);  // copies the payload
}

struct TracePacket {
    std::unique_ptr<CPacket> packet;
    Bytes frame;  // the bytes as the trace holds them
};

// An Ethernet trace, each frame turned into a record the way the capture helper does.
inline std::vector<TracePacket> readTrace(const QString& path)
{
    std::vector<TracePacket> out;
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* pc = pcap_open_offline(path.toLocal8Bit().constData(), err);
    pcap_pkthdr* hdr;
    const u_char* data;
    std::vector<unsigned char> scratch;
    while (pc && pcap_next_ex(pc, &hdr, &data) == 1) {
        EthernetFrame eth;
        FrameRecord rec;
        if (!toEthernet(LinkKind::Ethernet, data, hdr->caplen, hdr->len, scratch, eth) ||
            frameToRecord(eth, std::uint32_t(hdr->ts.tv_sec), std::uint32_t(hdr->ts.tv_usec), rec) != FrameVerdict::Record)
            continue;
        RawPacket raw{};
        std::memcpy(raw.fixed, rec.fixed, sizeof raw.fixed);
        raw.payload = rec.payload;
        out.push_back({std::make_unique<CPacket>(&raw), Bytes(reinterpret_cast<const char*>(data), int(hdr->caplen))});
    }
    if (pc)
        pcap_close(pc);
    return out;
}

// tshark's tab-separated fields, one row a packet.
inline std::vector<QStringList> readTsv(const QString& path)
{
    std::vector<QStringList> rows;
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    while (!f.atEnd())
        if (const QString line = QString::fromUtf8(f.readLine()).chopped(1); !line.isEmpty())
            rows.push_back(line.split(QLatin1Char('\t')));
    return rows;
}

}  // namespace fixtures

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Frames of a trace (or of a live capture) decoded just enough for a filter check,
// and which of them libpcap's filter for an expression selects.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <functional>

// One frame of a trace, and what the filters look at in it.
struct TracePacket {
    pcap_pkthdr header;
    QByteArray frame;
    int protocol = 0;
    QString src, dst;
    int sport = -1, dport = -1;
};
using PacketTest = std::function<bool(const TracePacket&)>;

inline TracePacket decode(const pcap_pkthdr* header, const u_char* data)
{
    TracePacket p;
    p.header = *header;
    p.frame = QByteArray(reinterpret_cast<const char*>(data), int(header->caplen));
    if (header->caplen >= 34 && data[12] == 0x08 && data[13] == 0x00) {
        const u_char* ip = data + 14;
        const unsigned ihl = (ip[0] & 0x0f) * 4u;
        p.protocol = ip[9];
        char text[INET_ADDRSTRLEN];
        p.src = QString::fromLatin1(inet_ntop(AF_INET, ip + 12, text, sizeof text));
        p.dst = QString::fromLatin1(inet_ntop(AF_INET, ip + 16, text, sizeof text));
        if ((p.protocol == 6 || p.protocol == 17) && header->caplen >= 14 + ihl + 4) {
            p.sport = (ip[ihl] << 8) | ip[ihl + 1];
            p.dport = (ip[ihl + 2] << 8) | ip[ihl + 3];
        }
    } else if (header->caplen >= 58 && data[12] == 0x86 && data[13] == 0xdd) {  // IPv6, no extension headers
        const u_char* ip = data + 14;
        p.protocol = ip[6];
        char text[INET6_ADDRSTRLEN];
        p.src = QString::fromLatin1(inet_ntop(AF_INET6, ip + 8, text, sizeof text));
        p.dst = QString::fromLatin1(inet_ntop(AF_INET6, ip + 24, text, sizeof text));
        if (p.protocol == 6 || p.protocol == 17) {
            p.sport = (ip[40] << 8) | ip[41];
            p.dport = (ip[42] << 8) | ip[43];
        }
    }
    return p;
}

inline QVector<TracePacket> readTrace(const char* path)
{
    QVector<TracePacket> packets;
    char error[PCAP_ERRBUF_SIZE];
    if (pcap_t* handle = pcap_open_offline(path, error)) {
        pcap_pkthdr* header;
        const u_char* data;
        while (pcap_next_ex(handle, &header, &data) == 1)
            packets << decode(header, data);
        pcap_close(handle);
    }
    return packets;
}

// Indices of the packets that libpcap's filter for `expression` (or `test`) accepts.
inline QVector<int> selected(const QVector<TracePacket>& packets, const QString& expression, PacketTest test = {})
{
    QVector<int> indices;
    pcap_t* handle = pcap_open_dead(DLT_EN10MB, 65535);
    bpf_program program{};
    const bool compiled =
        !test && pcap_compile(handle, &program, expression.toUtf8().constData(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    for (int i = 0; i < packets.size(); ++i) {
        const auto* data = reinterpret_cast<const u_char*>(packets[i].frame.constData());
        if (test ? test(packets[i]) : compiled && pcap_offline_filter(&program, &packets[i].header, data) != 0)
            indices << i;
    }
    if (compiled)
        pcap_freecode(&program);
    pcap_close(handle);
    return indices;
}

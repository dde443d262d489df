// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/packet.h"

#include "capture/cpacket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

QString padded(QString text, int width) { return text.rightJustified(width, QLatin1Char('0')); }
QString dec(std::uint64_t v) { return QString::number(v); }
QString hex(std::uint64_t v) { return QString::number(v, 16); }
QString bin(std::uint64_t v, int width) { return padded(QString::number(v, 2), width); }

QString hexImage(const unsigned char* bytes, int n)
{
    static const char digits[] = "0123456789abcdef";
    QString out(2 * n, Qt::Uninitialized);
    QChar* d = out.data();
    for (int i = 0; i < n; ++i) {
        d[2 * i] = QLatin1Char(digits[bytes[i] >> 4]);
        d[2 * i + 1] = QLatin1Char(digits[bytes[i] & 0x0f]);
    }
    return out;
}

QString dotted(std::uint32_t a)
{
    char buf[20];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (a >> 24) & 0xff, (a >> 16) & 0xff, (a >> 8) & 0xff,
                  a & 0xff);
    return QString::fromLatin1(buf);
}

// Wireshark's names of the IPv6 next header values the capture walks or reaches.
QString nextHeaderName(std::uint8_t type)
{
    switch (type) {
    case 0: return QStringLiteral("IPv6 Hop-by-Hop Option");
    case 6: return QStringLiteral("TCP");
    case 17: return QStringLiteral("UDP");
    case 43: return QStringLiteral("Routing Header for IPv6");
    case 44: return QStringLiteral("Fragment Header for IPv6");
    case 51: return QStringLiteral("Authentication Header");
    case 60: return QStringLiteral("Destination Options for IPv6");
    default: return QStringLiteral("Unknown");
    }
}

std::uint16_t sourcePort(const CPacket& p) { return p.isTcp() ? p.GetSrcPort() : p.GetUDPSrcPort(); }
std::uint16_t destPort(const CPacket& p) { return p.isTcp() ? p.GetDstPort() : p.GetUDPDstPort(); }

}  // namespace

namespace packettext {

QString number(std::int64_t n) { return padded(QString::number(n), 8); }

void relativeTime(const CPacket& p, BaseTime base, char* buf, std::size_t size)
{
    const std::int32_t* ts = p.GetTimeStamp();
    const double seconds = double(std::int64_t(ts[0]) - base.sec) + double(std::int64_t(ts[1]) - base.usec) / 1000000.0;
    std::snprintf(buf, size, "%.6g", seconds);
}

QString relativeTime(const CPacket& p, BaseTime base)
{
    char buf[40];
    relativeTime(p, base, buf, sizeof buf);
    return QString::fromLatin1(buf);
}

QString sourceAddress(const CPacket& p)
{
    char buf[IpAddress::TextSize];
    return QString::fromLatin1(p.GetSrcIPAddr(1, buf, sizeof buf));
}

QString destAddress(const CPacket& p)
{
    char buf[IpAddress::TextSize];
    return QString::fromLatin1(p.GetDstIPAddr(1, buf, sizeof buf));
}

QString protocol(const CPacket& p) { return p.upperProtocol() == 6 ? QStringLiteral("TCP") : QStringLiteral("UDP"); }

QString flagSummary(std::uint8_t flags)
{
    QString s = QStringLiteral("[ ");
    if (flags & 0x20) s += QLatin1String("URG ");
    if (flags & 0x10) s += QLatin1String("ACK ");
    if (flags & 0x08) s += QLatin1String("PSH ");
    if (flags & 0x04) s += QLatin1String("RST ");
    if (flags & 0x02) s += QLatin1String("SYN ");
    if (flags & 0x01) s += QLatin1String("FIN ");
    s += QLatin1Char(']');
    return s;
}

QString info(const CPacket& p)
{
    QString s = dec(sourcePort(p)) + QLatin1String(" > ") + dec(destPort(p)) + QLatin1String("     ");
    if (p.isTcp())
        s += flagSummary(p.GetTCPFlags()) + QLatin1String("  Seq=") + dec(p.GetSequenceNo()) +
             QLatin1String("  Ack=") + dec(p.GetAcknowlegetNo()) + QLatin1String("  Win=") + hex(p.GetWindownSize());
    return s;
}

}  // namespace packettext

FrameLayout FrameLayout::of(const CPacket& p)
{
    FrameLayout l;
    // An IPv6 record keeps the fixed header alone, not the extension headers.
    l.ipOptions = p.isIPv6() ? 0 : std::clamp(p.GetIPHeaderLength() - 20, 0, 40);
    l.transport = 14 + (p.isIPv6() ? 40 : 20) + l.ipOptions;
    l.tcpOptions = p.isTcp() ? std::clamp(p.GetTCPHeaderLength() - 20, 0, 40) : 0;
    l.payload = int(p.payloadLength());
    l.imageLength = l.transport + (p.isTcp() ? 20 + l.tcpOptions : 8) + l.payload;
    return l;
}

Packet::Packet(const CPacket& p, std::int64_t number, BaseTime base)
{
    const FrameLayout layout = FrameLayout::of(p);
    m_type = int(p.GetPacketType());
    m_payloadLength = layout.payload;
    m_number = packettext::number(number);
    m_time = packettext::relativeTime(p, base);
    m_srcIp = packettext::sourceAddress(p);
    m_dstIp = packettext::destAddress(p);
    m_protocol = packettext::protocol(p);
    m_info = packettext::info(p);
    m_srcPort = dec(sourcePort(p));
    m_dstPort = dec(destPort(p));
    if (p.isTcp()) {
        m_tcpHeaderLength = p.GetTCPHeaderLength();
        m_seq = dec(p.GetSequenceNo());
        m_ack = dec(p.GetAcknowlegetNo());
        m_flags = bin(p.GetTCPFlags(), 8);
        m_summary = packettext::flagSummary(p.GetTCPFlags());
    }

    // The working buffer is at least 54 bytes and zeroed, as the widest fixed headers need.
    std::vector<unsigned char> image(std::size_t(std::max(layout.imageLength, 54)), 0);
    unsigned char* out = image.data();
    auto put = [&out](const unsigned char* src, int n) {
        std::copy(src, src + n, out);
        out += n;
    };
    put(p.GetEthernetHeader(), 14);
    put(p.GetIpHeader(), p.isIPv6() ? 40 : 20);
    put(p.GetIpOptions(), layout.ipOptions);
    if (p.isTcp()) {
        put(p.GetTcpHeader(), 20);
        put(p.GetTcpOptions(), layout.tcpOptions);
    } else {
        put(p.GetUdpHeader(), 8);
    }
    if (layout.payload > 0)
        put(p.GetRealData(), layout.payload);
    m_hex = hexImage(image.data(), layout.imageLength);
    m_data = m_hex.mid(2 * (layout.imageLength - layout.payload));

    buildTree(p, layout);
}

std::uint32_t Packet::getTCPSeqNo() const { return std::uint32_t(m_seq.toULongLong()); }
std::uint32_t Packet::getTCPAckNo() const { return std::uint32_t(m_ack.toULongLong()); }

ItemFolder* Packet::firstItemFolder() const
{
    m_iter = 0;
    return m_folders.empty() ? nullptr : m_folders.front().get();
}

ItemFolder* Packet::nextItemFolder() const
{
    if (m_iter + 1 >= m_folders.size())
        return nullptr;
    return m_folders[++m_iter].get();
}

ItemFolder* Packet::addFolder(const QString& name, int pos, int length)
{
    m_folders.push_back(std::make_unique<ItemFolder>(nullptr, name, pos, length));
    return m_folders.back().get();
}

void Packet::buildTree(const CPacket& p, const FrameLayout& layout)
{
    ItemFolder* frame = addFolder(QStringLiteral("Frame"));
    new ItemFolder(frame, QLatin1String("Capture length:  ") + dec(layout.imageLength) + QLatin1String(" bytes"));
    new ItemFolder(frame, QLatin1String("Packet length:  ") + dec(p.ipTotalLength() + 14u) + QLatin1String(" bytes"));

    char mac[18];
    ItemFolder* eth = addFolder(QStringLiteral("EtherNet II"));
    new ItemFolder(eth, QLatin1String("Destination:   ") + QString::fromLatin1(p.GetHwDstAddr(mac, sizeof mac)), 0, 12);
    new ItemFolder(eth, QLatin1String("Source:  ") + QString::fromLatin1(p.GetHwSrcAddr(mac, sizeof mac)), 12, 12);
    const std::uint16_t etherType = p.GetEthernetType();
    new ItemFolder(eth,
                   QLatin1String("Type:   ") + QLatin1String(etherType == 0x0800 ? "IP" : etherType == 0x86dd ? "IPv6" : "") +
                       QLatin1String("( 0x") + padded(hex(etherType), 4) + QLatin1String(")"),
                   24, 4);

    if (p.isIPv6())
        buildIp6Layer(p);
    else
        buildIp4Layer(p, layout);

    // Hex-digit position where the transport header begins in the image.
    const int e = 2 * layout.transport;
    if (p.isTcp()) {
        ItemFolder* tcp = addFolder(QStringLiteral("Transmission Control Protocol"));
        new ItemFolder(tcp, QLatin1String("Source port:   ") + m_srcPort, e, 4);
        new ItemFolder(tcp, QLatin1String("Destination port:   ") + m_dstPort, e + 4, 4);
        new ItemFolder(tcp, QLatin1String("Sequence Number:   ") + m_seq, e + 8, 8);
        new ItemFolder(tcp, QLatin1String("Acknowledge No:   ") + m_ack, e + 16, 8);
        new ItemFolder(tcp, QLatin1String("Header length:   ") + dec(std::uint64_t(m_tcpHeaderLength)), e + 24, 1);
        ItemFolder* flags = new ItemFolder(tcp, QLatin1String("Flags:   ") + m_flags, e + 25, 3);
        struct FlagText {
            int digit;
            const char* setBefore;
            const char* setAfter;
            const char* clearBefore;
            const char* clearAfter;
        };
        static const FlagText texts[] = {
            {2, " ", " . . . . .  =  Urgent:  set", "", " . . . . .  =  Urgent:  not set"},
            {3, ". ", " . . . .  =  Acknowledgement:  set", ".", " . . . .  =  Acknowledgement:  not set"},
            {4, ". . ", " . . .  =  Push:  set", ". .", " . . .  =  Push:  not set"},
            {5, ". . . ", " . .  =  Reset:  set", ". . .", " . .  =  Reset:  not set"},
            {6, ". . . . ", " .  =  SYN:   set", ". . . .", " .  =  SYN:  not set"},
            {7, ". . . . . ", "   =  FIN:   set", ". . . . .", "   =  FIN:  not set"},
        };
        for (const FlagText& t : texts) {
            const QChar d = m_flags.at(t.digit);
            const bool set = d == QLatin1Char('1');
            new ItemFolder(flags, QLatin1String(set ? t.setBefore : t.clearBefore) + d +
                                      QLatin1String(set ? t.setAfter : t.clearAfter));
        }
        new ItemFolder(tcp, QLatin1String("Window Size:   0x") + hex(p.GetWindownSize()), e + 28, 4);
        new ItemFolder(tcp, QLatin1String("CheckSum:   0x") + hex(p.GetTCPChecksum()), e + 32, 4);
        new ItemFolder(tcp, QLatin1String("Urgent pointer:   ") + dec(p.GetUrgentPointer()), e + 36, 4);
        if (layout.tcpOptions > 0)
            new ItemFolder(tcp, QLatin1String("TCP optional:   ") + dec(std::uint64_t(layout.tcpOptions)) + QLatin1String(" bytes"),
                           e + 40, 2 * layout.tcpOptions);
    } else {
        ItemFolder* udp = addFolder(QStringLiteral("User Datagram Protocol"));
        new ItemFolder(udp, QLatin1String("Source port:   ") + m_srcPort, e, 4);
        new ItemFolder(udp, QLatin1String("Destination port:   ") + m_dstPort, e + 4, 4);
        new ItemFolder(udp, QLatin1String("Length(including data):   ") + dec(p.GetUDPLength()), e + 8, 4);
        new ItemFolder(udp, QLatin1String("Checksum:   ") + dec(p.GetUDPChecksum()), e + 12, 4);
    }

    if (layout.payload > 0)
        addFolder(QLatin1String("Data:   ") + dec(std::uint64_t(layout.payload)) + QLatin1String(" bytes"),
                  2 * (layout.imageLength - layout.payload), 2 * layout.payload);
}

void Packet::buildIp4Layer(const CPacket& p, const FrameLayout& layout)
{
    ItemFolder* ip = addFolder(QStringLiteral("Internet Protocol"));
    new ItemFolder(ip, QLatin1String("Version:   ") + dec(p.GetIPHeaderVersion()), 28, 1);
    new ItemFolder(ip, QLatin1String("Header length:   ") + dec(std::uint64_t(p.GetIPHeaderLength())), 29, 1);
    new ItemFolder(ip, QLatin1String("Differentiated Service Field:   ") + dec(p.GetTypeOfService()), 30, 2);
    new ItemFolder(ip, QLatin1String("Total length:   ") + dec(p.GetTotalLength()), 32, 4);
    new ItemFolder(ip, QLatin1String("Identification:   0x") + hex(p.GetId()), 36, 4);
    new ItemFolder(ip, QLatin1String("Flags (3 bits):   ") + bin(p.GetFragmentFlags(), 3), 40, 1);
    new ItemFolder(ip, QLatin1String("Fragment Offset (13 bits):   0x") + padded(hex(p.GetFragOffset()), 4), 40, 4);
    new ItemFolder(ip, QLatin1String("Time to live:   ") + dec(p.GetTTL()), 44, 2);
    new ItemFolder(ip,
                   QLatin1String("Protocol:   ") + m_protocol + QLatin1String("  (0x") +
                       padded(hex(p.GetProtocolType()), 2) + QLatin1String(")"),
                   46, 2);
    new ItemFolder(ip, QLatin1String("Header checksum:   0x") + hex(p.GetIPHeaderChecksum()), 48, 4);
    new ItemFolder(ip, QLatin1String("Source:   ") + m_srcIp + QLatin1String("  (") + dotted(p.GetSrcIPAddr()) + QLatin1String(")"), 52, 8);
    new ItemFolder(ip, QLatin1String("Destination:   ") + m_dstIp + QLatin1String("  (") + dotted(p.GetDstIPAddr()) + QLatin1String(")"), 60, 8);
    if (layout.ipOptions > 0)
        new ItemFolder(ip, QLatin1String("IP optional:   ") + dec(std::uint64_t(layout.ipOptions)) + QLatin1String(" bytes"),
                       68, 2 * layout.ipOptions);
}

// The IPv6 header as on the wire from hex digit 28; the extension headers are
// known by their type and length only (the record keeps no bytes of them).
void Packet::buildIp6Layer(const CPacket& p)
{
    ItemFolder* ip = addFolder(QStringLiteral("Internet Protocol Version 6"));
    char text[IpAddress::TextSize];
    new ItemFolder(ip, QLatin1String("Version:   ") + dec(p.GetIPHeaderVersion()), 28, 1);
    new ItemFolder(ip, QLatin1String("Traffic Class:   0x") + padded(hex(p.GetTrafficClass()), 2), 29, 2);
    new ItemFolder(ip, QLatin1String("Flow Label:   0x") + padded(hex(p.GetFlowLabel()), 5), 31, 5);
    new ItemFolder(ip, QLatin1String("Payload Length:   ") + dec(p.GetIp6PayloadLength()), 36, 4);
    new ItemFolder(ip,
                   QLatin1String("Next Header:   ") + nextHeaderName(p.GetNextHeader()) + QLatin1String("  (") +
                       dec(p.GetNextHeader()) + QLatin1String(")"),
                   40, 2);
    new ItemFolder(ip, QLatin1String("Hop Limit:   ") + dec(p.GetHopLimit()), 42, 2);
    new ItemFolder(ip, QLatin1String("Source:   ") + m_srcIp + QLatin1String("  (") +
                           QString::fromLatin1(p.sourceAddress().text(text)) + QLatin1String(")"), 44, 32);
    new ItemFolder(ip, QLatin1String("Destination:   ") + m_dstIp + QLatin1String("  (") +
                           QString::fromLatin1(p.destAddress().text(text)) + QLatin1String(")"), 76, 32);
    for (int i = 0; i < p.extensionHeadersKept(); ++i) {
        const CPacket::ExtensionHeader h = p.extensionHeader(i);
        new ItemFolder(ip, nextHeaderName(h.type) + QLatin1String(" (") + dec(h.type) + QLatin1String("):   ") +
                               dec(h.length) + QLatin1String(" bytes"));
    }
    if (p.extensionHeaderCount() > p.extensionHeadersKept())
        new ItemFolder(ip, QLatin1String("Further extension headers:   ") +
                               dec(std::uint64_t(p.extensionHeaderCount() - p.extensionHeadersKept())));
}

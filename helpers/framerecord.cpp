// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/framerecord.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint16_t kTypeNone = 0;  // the link frame holds no network packet
constexpr std::uint16_t kTypeIpv4 = record::EtherTypeIpv4;
constexpr std::uint16_t kTypeIpv6 = record::EtherTypeIpv6;
constexpr std::uint16_t kTypeVlan = 0x8100;
constexpr std::uint16_t kTypeQinQ = 0x88a8;
constexpr std::size_t kSllHeader = 16;
constexpr std::size_t kSll2Header = 20;
constexpr std::size_t kVlanTag = 4;
constexpr std::size_t kMaxTags = 2;
constexpr std::size_t kMaxIpPacket = 65535;

std::uint16_t load16(const unsigned char* p) { return std::uint16_t(p[0] << 8 | p[1]); }
std::uint16_t load16le(const unsigned char* p) { return std::uint16_t(p[1] << 8 | p[0]); }
std::uint32_t load32(const unsigned char* p) { return std::uint32_t(load16(p)) << 16 | load16(p + 2); }
std::uint32_t load32le(const unsigned char* p) { return std::uint32_t(load16le(p + 2)) << 16 | load16le(p); }

void store32(unsigned char* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }

// Builds "zero addresses + type" followed by the frame's bytes from `l3`.
void withSyntheticHeader(std::uint16_t type, const unsigned char* l3, std::size_t l3caplen,
                         std::size_t l3wirelen, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    scratch.resize(kEthernetHeader + l3caplen);
    std::memset(scratch.data(), 0, 12);
    scratch[12] = std::uint8_t(type >> 8);
    scratch[13] = std::uint8_t(type);
    if (l3caplen)
        std::memcpy(scratch.data() + kEthernetHeader, l3, l3caplen);
    out.data = scratch.data();
    out.caplen = scratch.size();
    out.wirelen = kEthernetHeader + l3wirelen;
}

std::size_t wireRest(std::size_t wirelen, std::size_t header, std::size_t l3caplen)
{
    // A trace may claim a wire length below what it captured; never report less than we hold.
    return std::max(wirelen > header ? wirelen - header : 0, l3caplen);
}

// The bytes of one link frame, or of what follows one of its headers.
struct LinkBytes {
    const unsigned char* data;
    std::size_t caplen;
    std::size_t wirelen;
    LinkBytes after(std::size_t header) const
    {
        return {data + header, caplen - header, wirelen > header ? wirelen - header : 0};
    }
};

// The network packet of type `type` starts `header` bytes into the frame.
bool behindHeader(std::uint16_t type, const LinkBytes& f, std::size_t header, std::vector<unsigned char>& scratch,
                  EthernetFrame& out)
{
    if (f.caplen < header)
        return false;
    const std::size_t l3caplen = f.caplen - header;
    withSyntheticHeader(type, f.data + header, l3caplen, wireRest(f.wirelen, header, l3caplen), scratch, out);
    return true;
}

// A well-formed link frame without a network packet (link control, 802.11 management).
bool noPacket(std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    withSyntheticHeader(kTypeNone, nullptr, 0, 0, scratch, out);
    return true;
}

// BSD address families: AF_INET is 2 everywhere, AF_INET6 is 24 (NetBSD, OpenBSD),
// 28 (FreeBSD) or 30 (Darwin).
std::uint16_t familyType(std::uint32_t family)
{
    switch (family) {
    case 2: return kTypeIpv4;
    case 24: case 28: case 30: return kTypeIpv6;
    default: return kTypeNone;
    }
}

bool fromBsdLoopback(bool networkOrder, const LinkBytes& f, std::vector<unsigned char>& scratch,
                     EthernetFrame& out)
{
    if (f.caplen < 4)
        return false;
    std::uint32_t family = load32(f.data);
    // DLT_NULL holds the family in the byte order of the machine that wrote it.
    if (!networkOrder && (load32le(f.data) & 0xffff0000u) == 0)
        family = load32le(f.data);
    return behindHeader(familyType(family), f, 4, scratch, out);
}

bool fromPpp(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    std::size_t at = f.caplen >= 2 && f.data[0] == 0xff && f.data[1] == 0x03 ? 2 : 0;  // HDLC-like framing
    if (f.caplen < at + 1)
        return false;
    std::uint16_t protocol = f.data[at];
    if (protocol & 1) {
        at += 1;  // the protocol field compressed to one byte
    } else {
        if (f.caplen < at + 2)
            return false;
        protocol = load16(f.data + at);
        at += 2;
    }
    const std::uint16_t type = protocol == 0x0021 ? kTypeIpv4 : protocol == 0x0057 ? kTypeIpv6 : kTypeNone;
    return behindHeader(type, f, at, scratch, out);
}

bool fromCiscoHdlc(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    return f.caplen >= 4 && behindHeader(load16(f.data + 2), f, 4, scratch, out);
}

// 802.11: IP travels in data frames behind LLC/SNAP. `padded`: the radio header
// says the 802.11 header is padded to a multiple of four bytes; `fcs`: the frame
// ends with its 4-byte checksum.
bool fromWifi(LinkBytes f, bool padded, bool fcs, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    if (fcs) {
        f.wirelen = std::max(f.wirelen, f.caplen);
        f.wirelen = f.wirelen >= 4 ? f.wirelen - 4 : 0;
        f.caplen = std::min(f.caplen, f.wirelen);
    }
    if (f.caplen < 2)
        return false;
    const unsigned char control = f.data[0];
    const unsigned char flags = f.data[1];
    const bool dataFrame = (control & 0x0f) == 0x08;  // protocol version 0, type data
    const bool hasBody = !(control & 0x40);           // not one of the "null" subtypes
    const bool encrypted = flags & 0x40;
    if (!dataFrame || !hasBody || encrypted)
        return noPacket(scratch, out);
    std::size_t header = 24;
    if ((flags & 0x03) == 0x03)
        header += 6;  // to and from the distribution system: a fourth address
    const std::size_t qosAt = header;
    const bool qos = control & 0x80;
    if (qos)
        header += 2 + (flags & 0x80 ? 4 : 0);  // QoS control, then HT control when ordered
    if (f.caplen < header)
        return false;
    const bool laterFragment = (f.data[22] & 0x0f) != 0;
    const bool aggregate = qos && (f.data[qosAt] & 0x80);  // A-MSDU: subframes of their own
    if (laterFragment || aggregate)
        return noPacket(scratch, out);
    if (padded)
        header = (header + 3) & ~std::size_t(3);
    // LLC/SNAP: AA AA 03, then the RFC 1042 or the bridge-tunnel OUI, then the Ethernet type.
    const unsigned char* llc = f.data + header;
    const bool snap = f.caplen >= header + 8 && llc[0] == 0xaa && llc[1] == 0xaa && llc[2] == 0x03 &&
                      llc[3] == 0 && llc[4] == 0 && (llc[5] == 0 || llc[5] == 0xf8);
    if (!snap)
        return noPacket(scratch, out);
    return behindHeader(load16(llc + 6), f, header + 8, scratch, out);
}

bool fromRadiotap(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    if (f.caplen < 8)
        return false;
    const std::size_t length = load16le(f.data + 2);
    if (f.data[0] != 0 || length < 8 || length > f.caplen)
        return false;
    const std::uint32_t present = load32le(f.data + 4);
    std::size_t at = 8;  // the fields follow the chain of presence words
    for (std::uint32_t word = present; word & 0x80000000u; at += 4) {
        if (at + 4 > length)
            return false;
        word = load32le(f.data + at);
    }
    unsigned char flags = 0;
    if (present & 0x1)
        at = ((at + 7) & ~std::size_t(7)) + 8;  // TSFT: 8 bytes, 8-aligned
    if (present & 0x2) {
        if (at >= length)
            return false;
        flags = f.data[at];
    }
    return fromWifi(f.after(length), flags & 0x20, flags & 0x10, scratch, out);
}

bool fromAvs(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    if (f.caplen < 8)
        return false;
    const std::uint32_t length = load32(f.data + 4);
    if (length < 8 || length > f.caplen)
        return false;
    return fromWifi(f.after(length), false, false, scratch, out);
}

bool fromPrism(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    constexpr std::size_t kPrismHeader = 144;
    // Drivers that offer Prism headers may write AVS ones instead; the magic tells.
    if (f.caplen >= 4 && (load32(f.data) == 0x80211001u || load32(f.data) == 0x80211002u))
        return fromAvs(f, scratch, out);
    if (f.caplen < kPrismHeader)
        return false;
    return fromWifi(f.after(kPrismHeader), false, false, scratch, out);
}

// PKTAP names each frame's link type by the DLT numbers of Darwin.
bool darwinLinkKind(std::uint32_t dlt, LinkKind& kind)
{
    switch (dlt) {
    case 0: kind = LinkKind::BsdNull; return true;
    case 1: kind = LinkKind::Ethernet; return true;
    case 9: kind = LinkKind::Ppp; return true;
    case 12: kind = LinkKind::RawIp; return true;
    case 50: kind = LinkKind::PppSerial; return true;
    case 104: kind = LinkKind::CiscoHdlc; return true;
    case 105: kind = LinkKind::Wifi; return true;
    case 108: kind = LinkKind::BsdLoop; return true;
    case 119: kind = LinkKind::Prism; return true;
    case 127: kind = LinkKind::Radiotap; return true;
    case 163: kind = LinkKind::Avs; return true;
    default: return false;
    }
}

bool fromPktap(const LinkBytes& f, std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    constexpr std::size_t kPktapHeader = 108;  // little endian, its own length first
    constexpr std::uint32_t kRecordPacket = 1;
    if (f.caplen < kPktapHeader)
        return false;
    const std::size_t length = load32le(f.data);
    if (length < kPktapHeader || length > f.caplen)
        return false;
    LinkKind inner;
    if (load32le(f.data + 4) != kRecordPacket || !darwinLinkKind(load32le(f.data + 8), inner))
        return noPacket(scratch, out);
    const LinkBytes rest = f.after(length);
    return toEthernet(inner, rest.data, rest.caplen, rest.wirelen, scratch, out);
}
}  // namespace

bool toEthernet(LinkKind kind, const unsigned char* frame, std::size_t caplen, std::size_t wirelen,
                std::vector<unsigned char>& scratch, EthernetFrame& out)
{
    switch (kind) {
    case LinkKind::Ethernet: {
        if (caplen < kEthernetHeader)
            return false;
        std::size_t typeAt = 12;
        std::size_t tags = 0;
        while (tags < kMaxTags) {
            const std::uint16_t type = load16(frame + typeAt);
            if (type != kTypeVlan && type != kTypeQinQ)
                break;
            if (caplen < typeAt + kVlanTag + 2)
                return false;
            typeAt += kVlanTag;
            ++tags;
        }
        if (tags == 0) {
            out.data = frame;
            out.caplen = caplen;
            out.wirelen = std::max(wirelen, caplen);
            return true;
        }
        const std::size_t header = typeAt + 2;
        const std::size_t l3caplen = caplen - header;
        withSyntheticHeader(load16(frame + typeAt), frame + header, l3caplen,
                            wireRest(wirelen, header, l3caplen), scratch, out);
        std::memcpy(scratch.data(), frame, 12);  // keep the real addresses
        return true;
    }
    case LinkKind::LinuxSll:
    case LinkKind::LinuxSll2: {
        const bool v2 = kind == LinkKind::LinuxSll2;
        const std::size_t header = v2 ? kSll2Header : kSllHeader;
        if (caplen < header)
            return false;
        const std::uint16_t protocol = load16(frame + (v2 ? 0 : 14));
        const std::size_t l3caplen = caplen - header;
        withSyntheticHeader(protocol, frame + header, l3caplen, wireRest(wirelen, header, l3caplen),
                            scratch, out);
        return true;
    }
    case LinkKind::RawIp: {
        if (caplen < 1)
            return false;
        const std::uint16_t type = (frame[0] >> 4) == 6 ? kTypeIpv6 : kTypeIpv4;
        withSyntheticHeader(type, frame, caplen, std::max(wirelen, caplen), scratch, out);
        return true;
    }
    case LinkKind::BsdNull:
    case LinkKind::BsdLoop:
        return fromBsdLoopback(kind == LinkKind::BsdLoop, {frame, caplen, wirelen}, scratch, out);
    case LinkKind::Ppp:
        return fromPpp({frame, caplen, wirelen}, scratch, out);
    case LinkKind::PppSerial:
        if (caplen >= 1 && (frame[0] == 0x0f || frame[0] == 0x8f))  // Cisco HDLC's addresses
            return fromCiscoHdlc({frame, caplen, wirelen}, scratch, out);
        return fromPpp({frame, caplen, wirelen}, scratch, out);
    case LinkKind::CiscoHdlc:
        return fromCiscoHdlc({frame, caplen, wirelen}, scratch, out);
    case LinkKind::Pktap:
        return fromPktap({frame, caplen, wirelen}, scratch, out);
    case LinkKind::Wifi:
        return fromWifi({frame, caplen, wirelen}, false, false, scratch, out);
    case LinkKind::Radiotap:
        return fromRadiotap({frame, caplen, wirelen}, scratch, out);
    case LinkKind::Prism:
        return fromPrism({frame, caplen, wirelen}, scratch, out);
    case LinkKind::Avs:
        return fromAvs({frame, caplen, wirelen}, scratch, out);
    }
    return false;
}

bool holdsIp(const EthernetFrame& frame)
{
    if (frame.caplen < kEthernetHeader)
        return false;
    const std::uint16_t type = load16(frame.data + 12);
    return type == kTypeIpv4 || type == kTypeIpv6;
}

FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           FrameRecord& out)
{
    return frameToRecord(frame, sec, usec, out.fixed, out.payload, out.payloadLen);
}

namespace {
// Fills the TCP or UDP slots from the transport header `l4` bytes into `ip`, which
// holds `ipEnd` bytes; `transportEnd` tells where the payload starts.
FrameVerdict transportToRecord(const unsigned char* ip, std::size_t l4, std::size_t ipEnd, bool tcp,
                               unsigned char* fixed, std::size_t& transportEnd)
{
    if (tcp) {
        if (ipEnd < l4 + 20)
            return FrameVerdict::Malformed;
        const unsigned char* header = ip + l4;
        const std::size_t tcpHeader = std::size_t(header[12] >> 4) * 4;
        if (tcpHeader < 20 || l4 + tcpHeader > ipEnd)
            return FrameVerdict::Malformed;
        std::memcpy(fixed + record::Tcp, header, 20);
        std::memcpy(fixed + record::TcpOptions, header + 20, tcpHeader - 20);
        transportEnd = l4 + tcpHeader;
    } else {
        if (ipEnd < l4 + 8)
            return FrameVerdict::Malformed;
        std::memcpy(fixed + record::Udp, ip + l4, 8);
        transportEnd = l4 + 8;
    }
    return FrameVerdict::Record;
}

// The parts every record shares: time, type, length, link header, payload span.
void finishRecord(const unsigned char* eth, const unsigned char* ip, std::size_t transportEnd, std::size_t ipEnd,
                  bool tcp, std::uint32_t sec, std::uint32_t usec, unsigned char* fixed,
                  const unsigned char*& payload, std::size_t& payloadLen)
{
    payloadLen = ipEnd - transportEnd;
    payload = payloadLen ? ip + transportEnd : nullptr;
    store32(fixed + record::Seconds, sec);
    store32(fixed + record::Microseconds, usec);
    store32(fixed + record::PacketType, tcp ? record::TypeTcp : record::TypeUdp);
    store32(fixed + record::Length, std::uint32_t(record::FixedSize + payloadLen));
    std::memcpy(fixed + record::Ethernet, eth, kEthernetHeader);
}

// Walks the IPv6 extension headers of `ip` (`ipEnd` bytes) up to TCP or UDP, noting
// each in the record's summary; `l4` is where the transport header starts.
FrameVerdict walkIpv6(const unsigned char* ip, std::size_t ipEnd, unsigned char* fixed, std::size_t& l4,
                      std::uint8_t& upper)
{
    std::uint8_t next = ip[6];
    std::size_t at = record::Ip6Size;
    unsigned walked = 0;
    while (next != 6 && next != 17) {
        const bool walkable = next == 0 || next == 43 || next == 60 || next == 51 || next == 44;
        if (walkable && at + 8 > ipEnd)  // each is at least 8 bytes long
            return FrameVerdict::Malformed;
        std::size_t length = 8;
        switch (next) {
        case 0:    // hop-by-hop options
        case 43:   // routing
        case 60:   // destination options: 8-byte units beyond the first 8
            length = (std::size_t(ip[at + 1]) + 1) * 8;
            break;
        case 51:   // authentication header: 4-byte units beyond the first 8
            length = (std::size_t(ip[at + 1]) + 2) * 4;
            break;
        case 44:   // fragment
            if ((load16(ip + at + 2) & 0xfff8) != 0) {
                // A later fragment: no transport header, whatever the first one held.
                const std::uint8_t inner = ip[at];
                const bool mayBeTcpUdp = inner == 6 || inner == 17 || inner == 0 || inner == 43 || inner == 60 ||
                                         inner == 51;
                return mayBeTcpUdp ? FrameVerdict::Fragment : FrameVerdict::NotTcpUdp;
            }
            break;
        default:   // ESP, ICMPv6, no next header, anything unknown: the walk ends
            return FrameVerdict::NotTcpUdp;
        }
        if (at + length > ipEnd)
            return FrameVerdict::Malformed;
        if (walked < record::Ip6ExtMaxEntries) {
            unsigned char* entry = fixed + record::Ip6ExtEntries + walked * record::Ip6ExtEntrySize;
            entry[0] = next;
            entry[1] = std::uint8_t(length >> 8);
            entry[2] = std::uint8_t(length);
        }
        walked = std::min(walked + 1, 255u);
        next = ip[at];
        at += length;
    }
    const std::size_t extLength = at - record::Ip6Size;  // below 65,536: ipEnd bounds it
    fixed[record::Ip6ExtCount] = std::uint8_t(walked);
    fixed[record::Ip6ExtUpper] = next;
    fixed[record::Ip6ExtLength] = std::uint8_t(extLength >> 8);
    fixed[record::Ip6ExtLength + 1] = std::uint8_t(extLength);
    l4 = at;
    upper = next;
    return FrameVerdict::Record;
}

FrameVerdict ipv6ToRecord(const unsigned char* eth, std::size_t ipCaptured, std::uint32_t sec, std::uint32_t usec,
                          unsigned char* fixed, const unsigned char*& payload, std::size_t& payloadLen)
{
    const unsigned char* ip = eth + kEthernetHeader;
    if (ipCaptured < record::Ip6Size)
        return FrameVerdict::Malformed;
    if ((ip[0] >> 4) != 6)
        return FrameVerdict::NotTcpUdp;
    // The payload length bounds the packet (Ethernet pads short frames). A length of
    // 0 is a jumbo payload's or what segmentation offload leaves on outgoing frames:
    // the captured bytes bound it then, and a record holds at most 65,535 of them.
    const std::size_t payloadLength = load16(ip + 4);
    const std::size_t captured = std::min(ipCaptured, record::Ip6Size + kMaxIpPacket);
    const std::size_t ipEnd = payloadLength == 0 ? captured : std::min(record::Ip6Size + payloadLength, captured);

    std::memset(fixed, 0, record::FixedSize);
    std::size_t l4 = 0;
    std::uint8_t upper = 0;
    const FrameVerdict walk = walkIpv6(ip, ipEnd, fixed, l4, upper);
    if (walk != FrameVerdict::Record)
        return walk;
    std::size_t transportEnd;
    const bool tcp = upper == 6;
    const FrameVerdict transport = transportToRecord(ip, l4, ipEnd, tcp, fixed, transportEnd);
    if (transport != FrameVerdict::Record)
        return transport;
    finishRecord(eth, ip, transportEnd, ipEnd, tcp, sec, usec, fixed, payload, payloadLen);
    std::memcpy(fixed + record::Ip6, ip, record::Ip6Size);
    return FrameVerdict::Record;
}
}  // namespace

FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           unsigned char* fixed, const unsigned char*& payload, std::size_t& payloadLen)
{
    if (frame.caplen < kEthernetHeader)
        return FrameVerdict::Malformed;
    const unsigned char* eth = frame.data;
    if (load16(eth + 12) == kTypeIpv6)
        return ipv6ToRecord(eth, frame.caplen - kEthernetHeader, sec, usec, fixed, payload, payloadLen);
    if (load16(eth + 12) != kTypeIpv4)
        return FrameVerdict::NotTcpUdp;

    const unsigned char* ip = eth + kEthernetHeader;
    const std::size_t ipCaptured = frame.caplen - kEthernetHeader;
    if (ipCaptured < 20)
        return FrameVerdict::Malformed;
    if ((ip[0] >> 4) != 4)
        return FrameVerdict::NotTcpUdp;
    const std::size_t ipHeader = std::size_t(ip[0] & 0x0f) * 4;
    if (ipHeader < 20 || ipHeader > ipCaptured)
        return FrameVerdict::Malformed;
    const std::uint8_t protocol = ip[9];
    if (protocol != 6 && protocol != 17)
        return FrameVerdict::NotTcpUdp;
    if ((load16(ip + 6) & 0x1fff) != 0)
        return FrameVerdict::Fragment;

    // The IP total length bounds the packet: Ethernet pads short frames. A total
    // length of 0 is what segmentation offload leaves on outgoing frames.
    const std::size_t totalLength = load16(ip + 2);
    if (totalLength != 0 && totalLength < ipHeader)
        return FrameVerdict::Malformed;
    // An IPv4 packet holds at most 65,535 bytes, however many a (crafted) trace captured.
    const std::size_t ipEnd = std::min({totalLength == 0 ? ipCaptured : totalLength, ipCaptured, kMaxIpPacket});

    std::memset(fixed, 0, record::FixedSize);
    std::size_t transportEnd;
    const bool tcp = protocol == 6;
    const FrameVerdict transport = transportToRecord(ip, ipHeader, ipEnd, tcp, fixed, transportEnd);
    if (transport != FrameVerdict::Record)
        return transport;
    finishRecord(eth, ip, transportEnd, ipEnd, tcp, sec, usec, fixed, payload, payloadLen);
    std::memcpy(fixed + record::Ip, ip, 20);
    std::memcpy(fixed + record::IpOptions, ip + 20, ipHeader - 20);
    return FrameVerdict::Record;
}

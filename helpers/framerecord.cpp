#include "helpers/framerecord.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint16_t kTypeIpv4 = 0x0800;
constexpr std::uint16_t kTypeIpv6 = 0x86dd;
constexpr std::uint16_t kTypeVlan = 0x8100;
constexpr std::uint16_t kTypeQinQ = 0x88a8;
constexpr std::size_t kSllHeader = 16;
constexpr std::size_t kSll2Header = 20;
constexpr std::size_t kVlanTag = 4;
constexpr std::size_t kMaxTags = 2;
constexpr std::size_t kMaxIpPacket = 65535;

std::uint16_t load16(const unsigned char* p) { return std::uint16_t(p[0] << 8 | p[1]); }

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
    }
    return false;
}

FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           FrameRecord& out)
{
    return frameToRecord(frame, sec, usec, out.fixed, out.payload, out.payloadLen);
}

FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           unsigned char* fixed, const unsigned char*& payload, std::size_t& payloadLen)
{
    if (frame.caplen < kEthernetHeader)
        return FrameVerdict::Malformed;
    const unsigned char* eth = frame.data;
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
    if (protocol == 6) {
        if (ipEnd < ipHeader + 20)
            return FrameVerdict::Malformed;
        const unsigned char* tcp = ip + ipHeader;
        const std::size_t tcpHeader = std::size_t(tcp[12] >> 4) * 4;
        if (tcpHeader < 20 || ipHeader + tcpHeader > ipEnd)
            return FrameVerdict::Malformed;
        std::memcpy(fixed + record::Tcp, tcp, 20);
        std::memcpy(fixed + record::TcpOptions, tcp + 20, tcpHeader - 20);
        transportEnd = ipHeader + tcpHeader;
    } else {
        if (ipEnd < ipHeader + 8)
            return FrameVerdict::Malformed;
        std::memcpy(fixed + record::Udp, ip + ipHeader, 8);
        transportEnd = ipHeader + 8;
    }

    payloadLen = ipEnd - transportEnd;
    payload = payloadLen ? ip + transportEnd : nullptr;
    store32(fixed + record::Seconds, sec);
    store32(fixed + record::Microseconds, usec);
    store32(fixed + record::PacketType, protocol == 6 ? record::TypeTcp : record::TypeUdp);
    store32(fixed + record::Length, std::uint32_t(record::FixedSize + payloadLen));
    std::memcpy(fixed + record::Ethernet, eth, kEthernetHeader);
    std::memcpy(fixed + record::Ip, ip, 20);
    std::memcpy(fixed + record::IpOptions, ip + 20, ipHeader - 20);
    return FrameVerdict::Record;
}

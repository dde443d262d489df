// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/cpacket.h"

#include "capture/dnscache.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace {
// Where the IPv6 parts sit in m_ip (the record from record::Ip on).
constexpr int kIp6Source = 8;
constexpr int kIp6Destination = 24;
constexpr int kIp6Ext = int(record::Ip6Ext - record::Ip);
constexpr int kIp6ExtEntries = int(record::Ip6ExtMaxEntries);
static_assert(record::Ip6 == record::Ip && record::Ip6Ext + 20 == record::Tcp, "m_ip holds the IPv6 header and summary");

bool isIPv6Header(const unsigned char* ip) { return (ip[0] >> 4) == 6; }
std::uint16_t be16(const unsigned char* p) { return std::uint16_t((p[0] << 8) | p[1]); }
std::uint32_t be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
}  // namespace

CPacket::CPacket()
{
    std::memset(m_header, 0, sizeof m_header);
    std::memset(m_eth, 0, sizeof m_eth);
    std::memset(m_ip, 0, sizeof m_ip);
    std::memset(m_udp, 0, sizeof m_udp);
    std::memset(m_tcp, 0, sizeof m_tcp);
    std::memset(m_tcpOptions, 0, sizeof m_tcpOptions);
}

CPacket::CPacket(const RawPacket* raw) : CPacket()
{
    const unsigned char* f = raw->fixed;
    copyFrom(f, f + record::Ethernet, f + record::Ip, f + record::Tcp, f + record::TcpOptions, f + record::Udp,
             raw->payload);
}

CPacket::CPacket(const RawPacket* raw, unsigned char* payloadSpace) : CPacket()
{
    const unsigned char* f = raw->fixed;
    copyFrom(f, f + record::Ethernet, f + record::Ip, f + record::Tcp, f + record::TcpOptions, f + record::Udp,
             raw->payload, payloadSpace);
}

CPacket::CPacket(const CPacket& other) : CPacket()
{
    copyFrom(reinterpret_cast<const unsigned char*>(other.m_header), other.m_eth, other.m_ip, other.m_tcp,
             other.m_tcpOptions, other.m_udp, other.m_payload);
}

CPacket& CPacket::operator=(const CPacket& other)
{
    if (this == &other)
        return *this;
    CPacket copy(other);
    std::memcpy(m_header, copy.m_header, sizeof m_header);
    std::memcpy(m_eth, copy.m_eth, sizeof m_eth);
    std::memcpy(m_ip, copy.m_ip, sizeof m_ip);
    std::memcpy(m_udp, copy.m_udp, sizeof m_udp);
    std::memcpy(m_tcp, copy.m_tcp, sizeof m_tcp);
    std::memcpy(m_tcpOptions, copy.m_tcpOptions, sizeof m_tcpOptions);
    m_ownedPayload = std::move(copy.m_ownedPayload);
    m_payload = m_ownedPayload.get();
    return *this;
}

// The copy rules: fixed slots whole, options by the header lengths (an IPv6 header
// and its extension summary whole), payload by L.
void CPacket::copyFrom(const unsigned char* header, const unsigned char* eth, const unsigned char* ip,
                       const unsigned char* tcp,
                       const unsigned char* tcpOptions, const unsigned char* udp,
                       const unsigned char* payload, unsigned char* payloadSpace)
{
    std::memcpy(m_header, header, sizeof m_header);
    std::memcpy(m_eth, eth, sizeof m_eth);
    const int ipHeader = isIPv6Header(ip) ? int(sizeof m_ip) : (ip[0] & 0x0f) * 4;
    std::memcpy(m_ip, ip, std::size_t(std::max(ipHeader, 20)));
    std::memcpy(m_tcp, tcp, sizeof m_tcp);
    const int tcpHeader = ((m_tcp[12] >> 4) & 0x0f) * 4;
    if (tcpHeader > 20)
        std::memcpy(m_tcpOptions, tcpOptions, std::size_t(tcpHeader - 20));
    std::memcpy(m_udp, udp, sizeof m_udp);
    const std::uint32_t length = GetPacketLength();
    if (length > std::uint32_t(packetlen) && payload) {
        const std::uint32_t size = length - packetlen;
        if (!payloadSpace) {
            m_ownedPayload.reset(new unsigned char[size]);
            payloadSpace = m_ownedPayload.get();
        }
        std::memcpy(payloadSpace, payload, size);
        m_payload = payloadSpace;
    }
}

const std::int32_t* CPacket::GetTimeStamp() const { return m_header; }
std::uint32_t CPacket::GetPacketType() const { return std::uint32_t(m_header[2]); }
std::uint32_t CPacket::GetPacketLength() const { return std::uint32_t(m_header[3]); }
std::uint32_t CPacket::payloadSize(const RawPacket& raw)
{
    std::uint32_t length;
    std::memcpy(&length, raw.fixed + record::Length, sizeof length);
    return length > std::uint32_t(packetlen) && raw.payload ? length - packetlen : 0;
}

std::uint32_t CPacket::payloadLength() const
{
    return m_payload && GetPacketLength() > std::uint32_t(packetlen) ? GetPacketLength() - packetlen : 0;
}

std::uint16_t CPacket::GetEthernetType() const { return be16(m_eth + 12); }

static char* macText(const unsigned char* mac, char* buf, int len)
{
    std::memset(buf, 0, std::size_t(len > 0 ? len : 0));
    if (len < 18)
        return nullptr;
    std::snprintf(buf, std::size_t(len), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

char* CPacket::GetHwSrcAddr(char* buf, int len) const { return macText(m_eth + 6, buf, len); }
char* CPacket::GetHwDstAddr(char* buf, int len) const { return macText(m_eth, buf, len); }

std::uint8_t CPacket::GetIPHeaderVersion() const { return m_ip[0] >> 4; }
int CPacket::GetIPHeaderLength() const { return (m_ip[0] & 0x0f) * 4; }
std::uint8_t CPacket::GetTypeOfService() const { return m_ip[1]; }
std::uint16_t CPacket::GetTotalLength() const { return be16(m_ip + 2); }
std::uint16_t CPacket::GetId() const { return be16(m_ip + 4); }
std::uint8_t CPacket::GetFragmentFlags() const { return m_ip[6] >> 5; }
std::uint16_t CPacket::GetFragOffset() const { return be16(m_ip + 6) & 0x1fff; }
std::uint8_t CPacket::GetTTL() const { return m_ip[8]; }
std::uint8_t CPacket::GetProtocolType() const { return m_ip[9]; }
std::uint16_t CPacket::GetIPHeaderChecksum() const { return be16(m_ip + 10); }
std::uint32_t CPacket::GetSrcIPAddr() const { return be32(m_ip + 12); }
std::uint32_t CPacket::GetDstIPAddr() const { return be32(m_ip + 16); }

// The text of `address` in `buf` (cut to `len`), or the name cache's text for it.
const char* CPacket::addressText(const IpAddress& address, int resolve, char* buf, int len)
{
    if (len <= 0)
        return buf;
    std::memset(buf, 0, std::size_t(len));
    char text[IpAddress::TextSize];
    address.text(text);
    std::strncpy(buf, text, std::size_t(len));
    if (!resolve)
        return buf;
    return g_dnsServer.lookupOrAdd(text);
}

const char* CPacket::GetSrcIPAddr(int resolve, char* buf, int len) const
{
    return addressText(sourceAddress(), resolve, buf, len);
}
const char* CPacket::GetDstIPAddr(int resolve, char* buf, int len) const
{
    return addressText(destAddress(), resolve, buf, len);
}

IpAddress CPacket::sourceAddress() const
{
    return isIPv6() ? IpAddress::fromV6(m_ip + kIp6Source) : IpAddress::fromV4(GetSrcIPAddr());
}

IpAddress CPacket::destAddress() const
{
    return isIPv6() ? IpAddress::fromV6(m_ip + kIp6Destination) : IpAddress::fromV4(GetDstIPAddr());
}

std::uint8_t CPacket::upperProtocol() const { return isIPv6() ? m_ip[kIp6Ext + 1] : m_ip[9]; }
int CPacket::ipHeaderBytes() const { return isIPv6() ? 40 + extensionHeadersLength() : GetIPHeaderLength(); }
std::uint32_t CPacket::ipTotalLength() const { return isIPv6() ? 40u + GetIp6PayloadLength() : GetTotalLength(); }

std::uint8_t CPacket::GetTrafficClass() const { return std::uint8_t((m_ip[0] << 4) | (m_ip[1] >> 4)); }
std::uint32_t CPacket::GetFlowLabel() const { return (std::uint32_t(m_ip[1] & 0x0f) << 16) | be16(m_ip + 2); }
std::uint16_t CPacket::GetIp6PayloadLength() const { return be16(m_ip + 4); }
std::uint8_t CPacket::GetNextHeader() const { return m_ip[6]; }
std::uint8_t CPacket::GetHopLimit() const { return m_ip[7]; }
int CPacket::extensionHeaderCount() const { return isIPv6() ? m_ip[kIp6Ext] : 0; }
int CPacket::extensionHeadersKept() const { return std::min(extensionHeaderCount(), kIp6ExtEntries); }
int CPacket::extensionHeadersLength() const { return isIPv6() ? be16(m_ip + kIp6Ext + 2) : 0; }

CPacket::ExtensionHeader CPacket::extensionHeader(int index) const
{
    const unsigned char* e = m_ip + (record::Ip6ExtEntries - record::Ip) + record::Ip6ExtEntrySize * std::size_t(index);
    return {e[0], be16(e + 1)};
}

std::uint16_t CPacket::GetSrcPort() const { return be16(m_tcp); }
std::uint16_t CPacket::GetDstPort() const { return be16(m_tcp + 2); }
std::uint32_t CPacket::GetSequenceNo() const { return be32(m_tcp + 4); }
std::uint32_t CPacket::GetAcknowlegetNo() const { return be32(m_tcp + 8); }
int CPacket::GetTCPHeaderLength() const { return ((m_tcp[12] >> 4) & 0x0f) * 4; }
std::uint8_t CPacket::GetTCPFlags() const { return m_tcp[13]; }
int CPacket::IsFINset() const { return m_tcp[13] & 0x01 ? 1 : 0; }
int CPacket::IsSYNset() const { return m_tcp[13] & 0x02 ? 1 : 0; }
int CPacket::IsRSTset() const { return m_tcp[13] & 0x04 ? 1 : 0; }
int CPacket::IsPSHset() const { return m_tcp[13] & 0x08 ? 1 : 0; }
int CPacket::IsACKset() const { return m_tcp[13] & 0x10 ? 1 : 0; }
int CPacket::IsURGset() const { return m_tcp[13] & 0x20 ? 1 : 0; }
std::uint16_t CPacket::GetWindownSize() const { return be16(m_tcp + 14); }
std::uint16_t CPacket::GetTCPChecksum() const { return be16(m_tcp + 16); }
std::uint16_t CPacket::GetUrgentPointer() const { return be16(m_tcp + 18); }

std::uint16_t CPacket::GetUDPSrcPort() const { return be16(m_udp); }
std::uint16_t CPacket::GetUDPDstPort() const { return be16(m_udp + 2); }
std::uint16_t CPacket::GetUDPLength() const { return be16(m_udp + 4); }
std::uint16_t CPacket::GetUDPChecksum() const { return be16(m_udp + 6); }

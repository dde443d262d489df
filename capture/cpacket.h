// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One packet as received from the capture helper. Immutable once built;
// accessors return host byte order.

#include "capture/ipaddress.h"
#include "capture/rawpacket.h"

#include <cstdint>
#include <memory>
#include <sys/time.h>

class CPacket {
public:
    CPacket();
    explicit CPacket(const RawPacket* raw);
    // The payload copied into `payloadSpace` (payloadSize(*raw) bytes, or null when
    // that is 0), which outlives the packet and stays its owner's (see PacketStore).
    CPacket(const RawPacket* raw, unsigned char* payloadSpace);
    CPacket(const CPacket& other);
    CPacket& operator=(const CPacket& other);
    ~CPacket() = default;

    // Capture header.
    const std::int32_t* GetTimeStamp() const;  // seconds, then microseconds
    std::uint32_t GetPacketType() const;
    std::uint32_t GetPacketLength() const;
    bool isTcp() const { return GetPacketType() == record::TypeTcp; }
    std::uint32_t payloadLength() const;
    // The packet's number in the whole capture, from 1 in arrival order; 0 for a
    // packet no capture controller has numbered. Set once, before any view sees it.
    std::uint32_t captureNumber() const { return m_captureNumber; }
    void setCaptureNumber(std::uint32_t number) { m_captureNumber = number; }
    // The payload bytes a packet built from `raw` keeps.
    static std::uint32_t payloadSize(const RawPacket& raw);

    // Ethernet.
    std::uint16_t GetEthernetType() const;
    char* GetHwSrcAddr(char* buf, int len) const;
    char* GetHwDstAddr(char* buf, int len) const;

    // IP: the IPv4 accessors read an IPv4 header; the family-neutral ones below
    // read either family.
    std::uint8_t GetIPHeaderVersion() const;
    int GetIPHeaderLength() const;
    std::uint8_t GetTypeOfService() const;
    std::uint16_t GetTotalLength() const;
    std::uint16_t GetId() const;
    std::uint8_t GetFragmentFlags() const;
    std::uint16_t GetFragOffset() const;
    std::uint8_t GetTTL() const;
    std::uint8_t GetProtocolType() const;
    std::uint16_t GetIPHeaderChecksum() const;
    std::uint32_t GetSrcIPAddr() const;
    std::uint32_t GetDstIPAddr() const;
    // Either family: the address text, or with `resolve` the name cache's text.
    const char* GetSrcIPAddr(int resolve, char* buf, int len) const;
    const char* GetDstIPAddr(int resolve, char* buf, int len) const;

    // Either family. The texts need IpAddress::TextSize bytes to hold any address.
    bool isIPv6() const { return (m_ip[0] >> 4) == 6; }
    IpAddress sourceAddress() const;
    IpAddress destAddress() const;
    std::uint8_t upperProtocol() const;     // 6 TCP, 17 UDP
    int ipHeaderBytes() const;              // IPv4 header with options; IPv6 header with its extension headers
    std::uint32_t ipTotalLength() const;    // IPv4 total length; IPv6 40 + payload length

    // IPv6 (record::Ip6 and record::Ip6Ext).
    std::uint8_t GetTrafficClass() const;
    std::uint32_t GetFlowLabel() const;
    std::uint16_t GetIp6PayloadLength() const;
    std::uint8_t GetNextHeader() const;
    std::uint8_t GetHopLimit() const;
    struct ExtensionHeader {
        std::uint8_t type;     // its Next Header value
        std::uint16_t length;  // bytes
    };
    int extensionHeaderCount() const;      // headers walked, possibly more than kept
    int extensionHeadersKept() const;      // entries extensionHeader() gives (0..5)
    ExtensionHeader extensionHeader(int index) const;
    int extensionHeadersLength() const;    // bytes of all of them

    // TCP.
    std::uint16_t GetSrcPort() const;
    std::uint16_t GetDstPort() const;
    std::uint32_t GetSequenceNo() const;
    std::uint32_t GetAcknowlegetNo() const;
    int GetTCPHeaderLength() const;
    std::uint8_t GetTCPFlags() const;
    int IsFINset() const;
    int IsSYNset() const;
    int IsRSTset() const;
    int IsPSHset() const;
    int IsACKset() const;
    int IsURGset() const;
    std::uint16_t GetWindownSize() const;
    std::uint16_t GetTCPChecksum() const;
    std::uint16_t GetUrgentPointer() const;

    // UDP.
    std::uint16_t GetUDPSrcPort() const;
    std::uint16_t GetUDPDstPort() const;
    std::uint16_t GetUDPLength() const;
    std::uint16_t GetUDPChecksum() const;

    // Raw slots.
    const unsigned char* GetRealData() const { return m_payload; }
    const unsigned char* GetEthernetHeader() const { return m_eth; }
    const unsigned char* GetIpHeader() const { return m_ip; }
    const unsigned char* GetIpOptions() const { return m_ip + 20; }
    const unsigned char* GetUdpHeader() const { return m_udp; }
    const unsigned char* GetTcpHeader() const { return m_tcp; }
    const unsigned char* GetTcpOptions() const { return m_tcpOptions; }

private:
    void copyFrom(const unsigned char* header, const unsigned char* eth, const unsigned char* ip, const unsigned char* tcp,
                  const unsigned char* tcpOptions, const unsigned char* udp,
                  const unsigned char* payload, unsigned char* payloadSpace = nullptr);
    static const char* addressText(const IpAddress& address, int resolve, char* buf, int len);

    std::int32_t m_header[4];  // seconds, microseconds, type, length (host order)
    std::uint32_t m_captureNumber = 0;
    unsigned char m_eth[14];
    // The IPv4 header and its options; or the IPv6 header and the summary of its
    // extension headers (record::Ip up to record::Tcp, as in the record).
    unsigned char m_ip[60];
    unsigned char m_udp[8];
    unsigned char m_tcp[20];
    unsigned char m_tcpOptions[40];
    const unsigned char* m_payload = nullptr;
    std::unique_ptr<unsigned char[]> m_ownedPayload;  // unless the payload lives elsewhere
};

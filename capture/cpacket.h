// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One packet as received from the capture helper. Immutable once built;
// accessors return host byte order.

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

    // IP.
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
    const char* GetSrcIPAddr(int resolve, char* buf, int len) const;
    const char* GetDstIPAddr(int resolve, char* buf, int len) const;

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
    const unsigned char* GetIpOptions() const { return m_ipOptions; }
    const unsigned char* GetUdpHeader() const { return m_udp; }
    const unsigned char* GetTcpHeader() const { return m_tcp; }
    const unsigned char* GetTcpOptions() const { return m_tcpOptions; }

private:
    void copyFrom(const unsigned char* header, const unsigned char* eth, const unsigned char* ip,
                  const unsigned char* ipOptions, const unsigned char* tcp,
                  const unsigned char* tcpOptions, const unsigned char* udp,
                  const unsigned char* payload, unsigned char* payloadSpace = nullptr);
    const char* addressText(std::uint32_t networkOrder, int resolve, char* buf, int len) const;

    std::int32_t m_header[4];  // seconds, microseconds, type, length (host order)
    std::uint32_t m_captureNumber = 0;
    unsigned char m_eth[14];
    unsigned char m_ip[20];
    unsigned char m_ipOptions[40];
    unsigned char m_udp[8];
    unsigned char m_tcp[20];
    unsigned char m_tcpOptions[40];
    const unsigned char* m_payload = nullptr;
    std::unique_ptr<unsigned char[]> m_ownedPayload;  // unless the payload lives elsewhere
};

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A packet decoded into display texts, a lower-case hexadecimal image of the frame
// and a tree of named fields whose positions count hex digits of that image.
// Built once from a CPacket (only read) and immutable afterwards.
//
// The frame image is Ethernet header, fixed IP header, IP options (IPv6: the 40-byte
// header alone, as the record keeps no extension header bytes), then either the
// fixed TCP header and TCP options or the UDP header, then the payload. Option
// lengths come from the packet's header length fields but are bounded by the 40
// bytes the record slots hold, so a corrupt length never reads outside the packet.

#include "views/packets/itemfolder.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class CPacket;

// Capture time of the packet that starts a view's numbering.
struct BaseTime {
    std::int32_t sec = 0;
    std::int32_t usec = 0;
};

// The row texts, computed straight from a CPacket, so that a list can show a
// packet without keeping a decoded Packet for it. Packet uses the same functions.
namespace packettext {
QString number(std::int64_t number);                 // zero-padded to 8 digits
QString relativeTime(const CPacket& p, BaseTime base);  // general notation, 6 significant digits
void relativeTime(const CPacket& p, BaseTime base, char* buf, std::size_t size);  // the same, no allocation
QString sourceAddress(const CPacket& p);              // through the name cache
QString destAddress(const CPacket& p);
QString protocol(const CPacket& p);                   // "TCP" for IP protocol 6, else "UDP"
QString info(const CPacket& p);
QString flagSummary(std::uint8_t flags);             // "[ ACK SYN ]"
}  // namespace packettext

// Where the image's parts start, in bytes; shared by the decoder and the row texts.
struct FrameLayout {
    int ipOptions = 0;    // option bytes copied into the image (0..40)
    int tcpOptions = 0;   // TCP option bytes (0..40), 0 for UDP
    int transport = 0;    // byte offset of the TCP/UDP header
    int payload = 0;      // payload bytes
    int imageLength = 0;  // whole image in bytes

    static FrameLayout of(const CPacket& p);
};

class Packet {
public:
    Packet(const CPacket& source, std::int64_t number, BaseTime base);
    Packet(const CPacket& source, std::int64_t number, std::int32_t baseSec, std::int32_t baseUsec)
        : Packet(source, number, BaseTime{baseSec, baseUsec})
    {
    }
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;

    const QString& No() const { return m_number; }
    const QString& time() const { return m_time; }
    const QString& SourceIP() const { return m_srcIp; }
    const QString& DestIP() const { return m_dstIp; }
    const QString& protocol() const { return m_protocol; }
    const QString& info() const { return m_info; }
    const QString& text() const { return m_hex; }   // frame image, two hex digits a byte
    const QString& data() const { return m_data; }  // payload alone, same form
    const QString& SourcePort() const { return m_srcPort; }
    const QString& DestPort() const { return m_dstPort; }
    const QString& flags() const { return m_flags; }        // 8 binary digits (TCP)
    const QString& flagSummary() const { return m_summary; }  // empty for UDP
    std::uint32_t getTCPSeqNo() const;
    std::uint32_t getTCPAckNo() const;
    int packetType() const { return m_type; }
    int payloadLength() const { return m_payloadLength; }
    int tcpHeaderLength() const { return m_tcpHeaderLength; }

    // Top-level folders in display order: Frame, EtherNet II, Internet Protocol,
    // the transport layer, and Data when there is a payload.
    const std::vector<std::unique_ptr<ItemFolder>>& folders() const { return m_folders; }
    ItemFolder* firstItemFolder() const;
    ItemFolder* nextItemFolder() const;  // null after the last

private:
    ItemFolder* addFolder(const QString& name, int pos = -1, int length = -1);
    void buildTree(const CPacket& p, const FrameLayout& layout);
    void buildIp4Layer(const CPacket& p, const FrameLayout& layout);
    void buildIp6Layer(const CPacket& p);

    QString m_number, m_time, m_srcIp, m_dstIp, m_protocol, m_info, m_hex, m_data;
    QString m_srcPort, m_dstPort, m_seq, m_ack, m_flags, m_summary;
    int m_type = 0;
    int m_payloadLength = 0;
    int m_tcpHeaderLength = 0;
    std::vector<std::unique_ptr<ItemFolder>> m_folders;
    mutable std::size_t m_iter = 0;
};

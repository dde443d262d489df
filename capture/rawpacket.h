// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The packet record as it travels in the packet pipe: a 16-byte header
// (seconds, microseconds, packet type, record length L, host byte order),
// the rest of a 160-byte fixed part holding the protocol headers as wire bytes,
// then L - 160 payload bytes.
//
// The fixed part at offset 16 holds the Ethernet header (14 bytes; frames of
// other links get zero addresses), whose type says which layout follows:
//   0x0800 IPv4:  the IP header at 32 (20 bytes) and its options at 52 (up to 40)
//   0x86DD IPv6:  the fixed 40-byte header at 32, as on the wire; at 72 a summary
//                 of the extension headers walked to reach TCP or UDP:
//                   72     how many were walked (saturating at 255; may exceed
//                          the entries kept)
//                   73     the upper-layer protocol reached (6 TCP, 17 UDP)
//                   74..75 their total length in bytes (network byte order)
//                   76..90 up to 5 entries of 3 bytes, in the order walked: the
//                          header's type (its Next Header value: 0 hop-by-hop,
//                          43 routing, 44 fragment, 51 AH, 60 destination
//                          options), then its length in bytes (network byte order)
//                   91     0
// For both, the TCP header at 92, the UDP header at 112, the TCP options at 120
// and the payload after the fixed part; the unused slots are zero.

#include <cstddef>
#include <cstdint>

// Size of a record's fixed part; a packet's payload size is GetPacketLength() - packetlen.
constexpr int packetlen = 160;

// Largest payload a record may announce; a longer one means the stream is corrupt.
constexpr std::uint32_t kMaxRecordPayload = 65535;

namespace record {
constexpr std::size_t Seconds = 0;
constexpr std::size_t Microseconds = 4;
constexpr std::size_t PacketType = 8;
constexpr std::size_t Length = 12;
constexpr std::size_t HeaderSize = 16;
constexpr std::size_t Ethernet = 16;     // 14 bytes
constexpr std::size_t Filler = 30;       // 2 bytes, not read
constexpr std::size_t Ip = 32;           // 20 bytes
constexpr std::size_t IpOptions = 52;    // 40 bytes
constexpr std::size_t Tcp = 92;          // 20 bytes
constexpr std::size_t Udp = 112;         // 8 bytes
constexpr std::size_t TcpOptions = 120;  // 40 bytes
constexpr std::size_t FixedSize = 160;
// The IPv6 layout of the IP areas (Ip and IpOptions).
constexpr std::size_t Ip6 = 32;          // 40 bytes
constexpr std::size_t Ip6Size = 40;
constexpr std::size_t Ip6Ext = 72;       // 20 bytes: the extension header summary
constexpr std::size_t Ip6ExtCount = 72;
constexpr std::size_t Ip6ExtUpper = 73;
constexpr std::size_t Ip6ExtLength = 74;
constexpr std::size_t Ip6ExtEntries = 76;
constexpr std::size_t Ip6ExtEntrySize = 3;
constexpr std::size_t Ip6ExtMaxEntries = 5;
constexpr std::uint16_t EtherTypeIpv4 = 0x0800;
constexpr std::uint16_t EtherTypeIpv6 = 0x86dd;
constexpr std::uint32_t TypeTcp = 1;
constexpr std::uint32_t TypeUdp = 2;     // any value but 1 means UDP
}  // namespace record

// A record held in memory: the fixed part and the payload (null when L <= 160).
// The payload pointer is not owned by RawPacket.
struct RawPacket {
    unsigned char fixed[record::FixedSize];
    const unsigned char* payload;
};

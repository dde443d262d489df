// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The packet record as it travels in the packet pipe: a 16-byte header
// (seconds, microseconds, packet type, record length L, host byte order),
// the rest of a 160-byte fixed part holding the protocol headers as wire bytes,
// then L - 160 payload bytes.

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
constexpr std::uint32_t TypeTcp = 1;
constexpr std::uint32_t TypeUdp = 2;     // any value but 1 means UDP
}  // namespace record

// A record held in memory: the fixed part and the payload (null when L <= 160).
// The payload pointer is not owned by RawPacket.
struct RawPacket {
    unsigned char fixed[record::FixedSize];
    const unsigned char* payload;
};

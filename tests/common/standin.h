// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the stand-in helpers and the tests that play a helper write. Plain C++.

#include "capture/fdio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

// A TCP record as the capture helper writes it (160 fixed bytes and 4 of payload),
// from 127.0.0.1 to 127.0.0.2, marked: `number` in the sequence number, `tag` in
// the acknowledgement and in the payload.

constexpr int kTaggedRecordSize = 164;

inline void fillTaggedRecord(unsigned char* r, std::uint32_t number, std::uint32_t tag, std::int32_t seconds,
                             std::int32_t micros)
{
    std::memset(r, 0, kTaggedRecordSize);
    const std::int32_t header[4] = {seconds, micros, 1, kTaggedRecordSize};
    std::memcpy(r, header, sizeof header);
    r[16 + 12] = 0x08;  // IPv4
    r[32] = 0x45;
    r[32 + 9] = 6;
    const std::uint32_t src = htonl(0x7f000001), dst = htonl(0x7f000002), seq = htonl(number), ack = htonl(tag);
    std::memcpy(r + 32 + 12, &src, 4);
    std::memcpy(r + 32 + 16, &dst, 4);
    std::memcpy(r + 92 + 4, &seq, 4);
    std::memcpy(r + 92 + 8, &ack, 4);
    r[92 + 12] = 0x50;
    r[92 + 13] = 0x18;
    std::memcpy(r + 160, &tag, 4);
}

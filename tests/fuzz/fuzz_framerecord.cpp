// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: the helper's frame -> record conversion on arbitrary frames.
// Byte 0 picks the link layer (low seven bits) and whether the frame is stretched past
// 64 KiB (high bit, as a crafted trace may be); the rest is the captured frame. Every record built
// must be framed back unchanged by the reader's RecordFramer; an IPv6 record's
// extension header summary must describe headers inside the captured bytes.

#include "capture/recordreader.h"
#include "helpers/framerecord.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const LinkKind kind = LinkKind((data[0] & 0x7f) % kLinkKinds);
    // Copy so that a read past the frame hits the allocation's end.
    std::vector<unsigned char> frame(data + 1, data + size);
    if ((data[0] & 0x80) && !frame.empty()) {
        const std::size_t original = frame.size();
        frame.resize(70000);
        for (std::size_t i = original; i < frame.size(); ++i)
            frame[i] = frame[i % original];
    }
    static std::vector<unsigned char> scratch;
    EthernetFrame eth;
    if (!toEthernet(kind, frame.data(), frame.size(), frame.size(), scratch, eth))
        return 0;
    FrameRecord rec;
    if (frameToRecord(eth, 1, 2, rec) != FrameVerdict::Record)
        return 0;

    const unsigned char* lo = eth.data;
    const unsigned char* hi = eth.data + eth.caplen;
    if (rec.payloadLen && (rec.payload < lo || rec.payload + rec.payloadLen > hi))
        std::abort();
    std::uint32_t length;
    std::memcpy(&length, rec.fixed + record::Length, 4);
    if (length != record::FixedSize + rec.payloadLen || rec.payloadLen > kMaxRecordPayload)
        std::abort();

    // An IPv6 record: the walk reached TCP or UDP inside the captured bytes.
    if (rec.fixed[record::Ethernet + 12] == 0x86 && rec.fixed[record::Ethernet + 13] == 0xdd) {
        const unsigned upper = rec.fixed[record::Ip6ExtUpper];
        const std::size_t extLength = std::size_t(rec.fixed[record::Ip6ExtLength]) << 8 | rec.fixed[record::Ip6ExtLength + 1];
        std::uint32_t type;
        std::memcpy(&type, rec.fixed + record::PacketType, 4);
        if ((upper != 6 && upper != 17) || (upper == 6) != (type == record::TypeTcp) ||
            kEthernetHeader + record::Ip6Size + extLength + (upper == 6 ? 20 : 8) > eth.caplen ||
            (rec.fixed[record::Ip6ExtCount] == 0) != (extLength == 0))
            std::abort();
    }

    RecordFramer framer;
    framer.feed(rec.fixed, sizeof rec.fixed);
    if (rec.payloadLen)
        framer.feed(rec.payload, rec.payloadLen);
    RawPacket raw;
    if (framer.next(raw) != RecordFramer::Result::Record || std::memcmp(raw.fixed, rec.fixed, sizeof rec.fixed) != 0 ||
        (rec.payloadLen && std::memcmp(raw.payload, rec.payload, rec.payloadLen) != 0) ||
        framer.buffered() != 0)
        std::abort();
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/pcapngreader.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kObsoletePacket = 2;
constexpr std::uint32_t kSimplePacket = 3;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionTsResol = 9;
constexpr std::uint16_t kOptionTsOffset = 14;
constexpr int kLinkTypeRaw = 101;

bool readFully(FILE* in, void* to, std::size_t size) { return size == 0 || std::fread(to, 1, size, in) == size; }
}  // namespace

bool PcapngReader::isPcapng(const unsigned char first[4])
{
    std::uint32_t type;
    std::memcpy(&type, first, 4);
    return type == kSectionHeader;  // the same in either byte order
}

int PcapngReader::dltOf(int linkType)
{
    // The other link types the helper converts have the same number in both lists.
    return linkType == kLinkTypeRaw ? DLT_RAW : linkType;
}

std::uint32_t PcapngReader::u32(std::size_t at) const
{
    std::uint32_t v;
    std::memcpy(&v, m_block.data() + at, 4);
    return m_swapped ? __builtin_bswap32(v) : v;
}

std::uint16_t PcapngReader::u16(std::size_t at) const
{
    std::uint16_t v;
    std::memcpy(&v, m_block.data() + at, 2);
    return m_swapped ? __builtin_bswap16(v) : v;
}

PcapngReader::Result PcapngReader::damaged(const std::string& why)
{
    m_error = why;
    return Result::Damaged;
}

PcapngReader::Result PcapngReader::next()
{
    for (;;) {
        unsigned char head[8];
        const std::size_t got = std::fread(head, 1, sizeof head, m_in);
        if (got == 0 && !std::ferror(m_in))
            return Result::End;
        if (got < sizeof head)
            return damaged("the file ends inside a block header");
        std::uint32_t type, rawLength;
        std::memcpy(&type, head, 4);
        std::memcpy(&rawLength, head + 4, 4);
        Result failure = Result::Damaged;
        if (!readBlock(type, rawLength, failure))
            return failure;
        if (type == kSectionHeader) {
            if (!startSection(failure))
                return failure;
            continue;
        }
        type = m_swapped ? __builtin_bswap32(type) : type;
        const std::size_t body = m_block.size();
        if (type == kInterfaceDescription) {
            if (!addInterface(failure))
                return failure;
        } else if (type == kEnhancedPacket || type == kObsoletePacket) {
            if (body < 20)
                return damaged("a packet block too short for its fields");
            const std::uint32_t id = type == kEnhancedPacket ? u32(0) : u16(0);
            const std::uint64_t stamp = std::uint64_t(u32(4)) << 32 | u32(8);
            if (!packet(id, stamp, 20, u32(12), u32(16), failure))
                return failure;
            return Result::Packet;
        } else if (type == kSimplePacket) {
            if (body < 4)
                return damaged("a simple packet block too short for its fields");
            if (m_interfaces.empty())
                return damaged("a simple packet block without an interface description");
            const std::uint32_t origLen = u32(0);
            std::uint32_t capLen = std::min<std::uint32_t>(origLen, std::uint32_t(body - 4));
            if (m_interfaces[0].snapLen != 0)
                capLen = std::min(capLen, m_interfaces[0].snapLen);
            if (!packet(0, 0, 4, capLen, origLen, failure))
                return failure;
            return Result::Packet;
        }
        // Statistics, name resolution, custom and unknown blocks hold no packets.
    }
}

bool PcapngReader::readBlock(std::uint32_t type, std::uint32_t rawLength, Result& failure)
{
    std::size_t have = 0;
    unsigned char order[4];
    if (type == kSectionHeader) {
        if (!readFully(m_in, order, sizeof order)) {
            failure = damaged("the file ends inside a section header");
            return false;
        }
        std::uint32_t magic;
        std::memcpy(&magic, order, 4);
        if (magic != kByteOrderMagic && magic != __builtin_bswap32(kByteOrderMagic)) {
            failure = damaged("a section header with an unknown byte order");
            return false;
        }
        m_swapped = magic != kByteOrderMagic;
        have = sizeof order;
    } else if (!m_inSection) {
        failure = damaged("a block before the first section header");
        return false;
    }
    const std::uint32_t length = m_swapped ? __builtin_bswap32(rawLength) : rawLength;
    const std::uint32_t least = type == kSectionHeader ? 28 : 12;
    if (length < least || length % 4 != 0 || length > kMaxBlock) {
        failure = damaged("a block with an impossible length (" + std::to_string(length) + " bytes)");
        return false;
    }
    m_block.resize(length - 12);
    std::memcpy(m_block.data(), order, have);
    std::uint32_t trailer = 0;
    if (!readFully(m_in, m_block.data() + have, m_block.size() - have) || !readFully(m_in, &trailer, 4)) {
        failure = damaged("the file ends inside a block");
        return false;
    }
    if ((m_swapped ? __builtin_bswap32(trailer) : trailer) != length) {
        failure = damaged("a block whose two lengths differ");
        return false;
    }
    return true;
}

bool PcapngReader::startSection(Result& failure)
{
    if (u16(4) != 1) {
        failure = damaged("a section of pcapng version " + std::to_string(u16(4)) + "." + std::to_string(u16(6)) +
                          ", which is not supported");
        return false;
    }
    m_inSection = true;
    m_interfaces.clear();
    return true;
}

bool PcapngReader::addInterface(Result& failure)
{
    const std::size_t body = m_block.size();
    if (body < 8) {
        failure = damaged("an interface description too short for its fields");
        return false;
    }
    if (m_interfaces.size() >= kMaxInterfaces) {
        failure = damaged("more than " + std::to_string(kMaxInterfaces) + " interfaces in one section");
        return false;
    }
    Interface itf;
    itf.linkType = u16(0);
    itf.snapLen = u32(4);
    for (std::size_t at = 8; at + 4 <= body;) {
        const std::uint16_t code = u16(at);
        const std::size_t length = u16(at + 2);
        at += 4;
        if (length > body - at) {
            failure = damaged("an interface option longer than its block");
            return false;
        }
        if (code == kOptionEnd)
            break;
        if (code == kOptionTsResol && length >= 1) {
            const unsigned resolution = m_block[at];
            const unsigned power = resolution & 0x7f;
            if ((resolution & 0x80) ? power > 63 : power > 19) {
                failure = damaged("an interface with a time stamp resolution finer than can be counted");
                return false;
            }
            std::uint64_t units = 1;
            for (unsigned i = 0; i < power; ++i)
                units *= (resolution & 0x80) ? 2 : 10;
            itf.unitsPerSecond = units;
        } else if (code == kOptionTsOffset && length >= 8) {
            std::uint64_t offset;  // one 64-bit number in the section's byte order
            std::memcpy(&offset, m_block.data() + at, 8);
            itf.offsetSeconds = std::int64_t(m_swapped ? __builtin_bswap64(offset) : offset);
        }
        at += (length + 3) & ~std::size_t(3);
    }
    m_interfaces.push_back(itf);
    return true;
}

bool PcapngReader::packet(std::uint32_t interfaceId, std::uint64_t stamp, std::size_t dataAt, std::uint32_t capLen,
                          std::uint32_t origLen, Result& failure)
{
    if (interfaceId >= m_interfaces.size()) {
        failure = damaged("a packet of interface " + std::to_string(interfaceId) + ", which is not described");
        return false;
    }
    if (capLen > m_block.size() - dataAt) {
        failure = damaged("a packet longer than its block");
        return false;
    }
    const Interface& itf = m_interfaces[interfaceId];
    const std::uint64_t fraction = stamp % itf.unitsPerSecond;
    m_header.ts.tv_sec = time_t(stamp / itf.unitsPerSecond + std::uint64_t(itf.offsetSeconds));  // wraps, never overflows
    m_header.ts.tv_usec = suseconds_t((unsigned __int128)fraction * 1000000 / itf.unitsPerSecond);
    m_header.caplen = capLen;
    m_header.len = std::max(origLen, capLen);
    m_data = m_block.data() + dataAt;
    m_linkType = itf.linkType;
    return true;
}

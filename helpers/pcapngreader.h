// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A reader of pcapng files that keeps each interface's own link type (libpcap's
// reader stops at the first interface whose link type differs from the first one's).
// It understands section headers, interface descriptions (link type, time stamp
// resolution and offset) and packets (enhanced, simple and the obsolete packet
// block) and skips every other block. A new section starts a new set of interfaces,
// in its own byte order. The file is untrusted: every length is checked against
// its block, and a block may not exceed kMaxBlock bytes.

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class PcapngReader {
public:
    enum class Result { Packet, End, Damaged };

    static constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
    static constexpr std::uint32_t kMaxBlock = 16u << 20;
    static constexpr std::size_t kMaxInterfaces = 1u << 16;

    // True when the four bytes start a pcapng file.
    static bool isPcapng(const unsigned char first[4]);
    // The libpcap DLT_ value of a pcapng (LINKTYPE_) link type.
    static int dltOf(int linkType);

    explicit PcapngReader(FILE* in) : m_in(in) {}

    // The next packet (header(), data(), linkType()), the end of the file, or the
    // damage that ends it (error() says what).
    Result next();
    const pcap_pkthdr& header() const { return m_header; }
    const unsigned char* data() const { return m_data; }
    int linkType() const { return m_linkType; }  // LINKTYPE_ value
    const std::string& error() const { return m_error; }

private:
    struct Interface {
        int linkType = 0;
        std::uint32_t snapLen = 0;
        std::uint64_t unitsPerSecond = 1000000;
        std::int64_t offsetSeconds = 0;
    };

    Result damaged(const std::string& why);
    bool readBlock(std::uint32_t type, std::uint32_t rawLength, Result& failure);
    std::uint32_t u32(std::size_t at) const;
    std::uint16_t u16(std::size_t at) const;
    bool startSection(Result& failure);
    bool addInterface(Result& failure);
    bool packet(std::uint32_t interfaceId, std::uint64_t stamp, std::size_t dataAt, std::uint32_t capLen,
                std::uint32_t origLen, Result& failure);

    FILE* m_in;
    bool m_inSection = false;
    bool m_swapped = false;
    std::vector<Interface> m_interfaces;
    std::vector<unsigned char> m_block;  // the current block's body, without type, lengths
    pcap_pkthdr m_header{};
    const unsigned char* m_data = nullptr;
    int m_linkType = 0;
    std::string m_error;
};

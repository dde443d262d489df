// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: the helper's pcapng reader on arbitrary files. Every packet it
// gives must lie inside the block it read, and reading ends (End or Damaged) within
// as many steps as the input has bytes.

#include "helpers/pcapngreader.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!in)
        return 0;
    PcapngReader reader(in);
    unsigned sum = 0;
    std::size_t packets = 0;
    for (PcapngReader::Result r; (r = reader.next()) == PcapngReader::Result::Packet;) {
        const pcap_pkthdr& h = reader.header();
        if (h.caplen > size || h.len < h.caplen || h.ts.tv_usec < 0 || h.ts.tv_usec >= 1000000)
            std::abort();
        for (std::uint32_t i = 0; i < h.caplen; ++i)  // the address sanitizer checks each byte
            sum += reader.data()[i];
        if (++packets > size)
            std::abort();
        (void)PcapngReader::dltOf(reader.linkType());
    }
    std::fclose(in);
    return int(sum & 0);
}

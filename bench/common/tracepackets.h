// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared by the benchmarks that build views' input without the capture helper.

#include "capture/cpacket.h"
#include "helpers/framerecord.h"

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <vector>

// The first `count` packets of an Ethernet trace, made into records as the helper does.
inline std::vector<std::unique_ptr<CPacket>> readTracePackets(const std::string& path,
                                                               std::size_t count = std::numeric_limits<std::size_t>::max())
{
    std::vector<std::unique_ptr<CPacket>> out;
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* pc = pcap_open_offline(path.c_str(), err);
    if (!pc) {
        std::fprintf(stderr, "%s\n", err);
        return out;
    }
    pcap_pkthdr* h;
    const u_char* data;
    std::vector<unsigned char> scratch;
    while (out.size() < count && pcap_next_ex(pc, &h, &data) == 1) {
        EthernetFrame eth;
        FrameRecord rec;
        if (!toEthernet(LinkKind::Ethernet, data, h->caplen, h->len, scratch, eth) ||
            frameToRecord(eth, std::uint32_t(h->ts.tv_sec), std::uint32_t(h->ts.tv_usec), rec) != FrameVerdict::Record)
            continue;
        RawPacket raw{};
        std::memcpy(raw.fixed, rec.fixed, sizeof raw.fixed);
        raw.payload = rec.payload;
        out.push_back(std::make_unique<CPacket>(&raw));
    }
    pcap_close(pc);
    return out;
}

// This thread's processor time in milliseconds: on a machine shared with other work
// the wall clock mostly measures the others.
inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One captured frame's way out of the helper: Ethernet view, optional filter on
// that view, record into the packet pipe, frame into the default trace file.

#include "helpers/framerecord.h"
#include "helpers/recordsink.h"
#include "helpers/tracefile.h"

#include <pcap/pcap.h>
#include <vector>

class AppFollower;

struct SkipCounts {
    unsigned long long malformed = 0;  // damaged, or shorter than its headers
    unsigned long long fragments = 0;  // non-first IPv4 and IPv6 fragments
    unsigned long long notTcpUdp = 0;  // ARP, ICMP, ESP, link control, 802.11 management...
};

class PacketPipeline {
public:
    PacketPipeline(RecordSink& sink, TraceFileWriter& trace) : m_sink(sink), m_trace(trace) {}

    // A program compiled for Ethernet, run on each frame's Ethernet view (replay, mode 3).
    void setEthernetFilter(const bpf_program* program) { m_filter = program; }
    // Instead of a filter program: only this transport protocol (6 or 17) passes.
    void setProtocolOnly(int protocol) { m_protocolOnly = protocol; }
    void setFollower(AppFollower* follower) { m_follower = follower; }

    // False when the output has ended (reader gone, write error or stop).
    bool handle(LinkKind kind, const pcap_pkthdr& header, const u_char* data);
    void countDamaged() { ++m_skips.malformed; }
    const SkipCounts& skips() const { return m_skips; }
    // Records made so far (some may still wait in the output batch).
    unsigned long long records() const { return m_records; }

private:
    RecordSink& m_sink;
    TraceFileWriter& m_trace;
    const bpf_program* m_filter = nullptr;
    int m_protocolOnly = 0;
    AppFollower* m_follower = nullptr;
    std::vector<unsigned char> m_scratch;
    SkipCounts m_skips;
    unsigned long long m_records = 0;
};

// Maps a libpcap link type to one we convert; false when unsupported.
bool linkKindOf(int dlt, LinkKind& kind);

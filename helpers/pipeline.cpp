// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/pipeline.h"

#include "helpers/appfollower.h"

#include <cstring>

bool linkKindOf(int dlt, LinkKind& kind)
{
    switch (dlt) {
    case DLT_EN10MB:
        kind = LinkKind::Ethernet;
        return true;
    case DLT_LINUX_SLL:
        kind = LinkKind::LinuxSll;
        return true;
    case DLT_LINUX_SLL2:
        kind = LinkKind::LinuxSll2;
        return true;
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        kind = LinkKind::RawIp;
        return true;
    case DLT_NULL: kind = LinkKind::BsdNull; return true;
    case DLT_LOOP: kind = LinkKind::BsdLoop; return true;
    case DLT_PPP: kind = LinkKind::Ppp; return true;
    case DLT_PPP_SERIAL: kind = LinkKind::PppSerial; return true;
    case DLT_C_HDLC: kind = LinkKind::CiscoHdlc; return true;
    case DLT_PKTAP: kind = LinkKind::Pktap; return true;
    case DLT_IEEE802_11: kind = LinkKind::Wifi; return true;
    case DLT_IEEE802_11_RADIO: kind = LinkKind::Radiotap; return true;
    case DLT_PRISM_HEADER: kind = LinkKind::Prism; return true;
    case DLT_IEEE802_11_RADIO_AVS: kind = LinkKind::Avs; return true;
    default:
        return false;
    }
}

namespace {
bool isTcpRecord(const unsigned char* fixed)
{
    std::uint32_t type;
    std::memcpy(&type, fixed + record::PacketType, sizeof type);
    return type == record::TypeTcp;
}
}  // namespace

bool PacketPipeline::handle(LinkKind kind, const pcap_pkthdr& header, const u_char* data)
{
    EthernetFrame frame;
    if (!toEthernet(kind, data, header.caplen, header.len, m_scratch, frame)) {
        ++m_skips.malformed;
        return true;
    }
    if (!holdsIp(frame)) {
        ++m_skips.notTcpUdp;
        return true;
    }
    if (m_filter) {
        pcap_pkthdr ethHeader = header;
        ethHeader.caplen = bpf_u_int32(frame.caplen);
        ethHeader.len = bpf_u_int32(frame.wirelen);
        if (!pcap_offline_filter(m_filter, &ethHeader, frame.data))
            return true;
    }
    // The record is built in place at the end of the output batch.
    unsigned char* out = m_sink.space();
    const unsigned char* payload = nullptr;
    std::size_t payloadLen = 0;
    switch (frameToRecord(frame, std::uint32_t(header.ts.tv_sec), std::uint32_t(header.ts.tv_usec), out, payload,
                          payloadLen)) {
    case FrameVerdict::Record:
        if (m_protocolOnly && isTcpRecord(out) != (m_protocolOnly == 6))
            return true;
        break;
    case FrameVerdict::NotTcpUdp:
        ++m_skips.notTcpUdp;
        return true;
    case FrameVerdict::Fragment:
        ++m_skips.fragments;
        return true;
    case FrameVerdict::Malformed:
        ++m_skips.malformed;
        return true;
    }
    if (m_follower && !m_follower->accept(header.ts, frame, out))
        return true;
    if (payloadLen)
        std::memcpy(out + record::FixedSize, payload, payloadLen);
    m_sink.commit(record::FixedSize + payloadLen);
    ++m_records;
    m_trace.write(header.ts, frame);
    if (!m_sink.wantsFlush())
        return true;
    // The pipe write may block for long (a paced replay): the trace file gets its frames first.
    m_trace.flush();
    return m_sink.flushWithoutWaiting();
}

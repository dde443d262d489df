#include "helpers/pipeline.h"

#include "helpers/appfollower.h"

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
        kind = LinkKind::RawIp;
        return true;
    default:
        return false;
    }
}

bool PacketPipeline::handle(LinkKind kind, const pcap_pkthdr& header, const u_char* data)
{
    EthernetFrame frame;
    if (!toEthernet(kind, data, header.caplen, header.len, m_scratch, frame)) {
        ++m_skips.malformed;
        return true;
    }
    if (m_filter) {
        pcap_pkthdr ethHeader = header;
        ethHeader.caplen = bpf_u_int32(frame.caplen);
        ethHeader.len = bpf_u_int32(frame.wirelen);
        if (!pcap_offline_filter(m_filter, &ethHeader, frame.data))
            return true;
    }
    switch (frameToRecord(frame, std::uint32_t(header.ts.tv_sec), std::uint32_t(header.ts.tv_usec), m_record)) {
    case FrameVerdict::Record:
        break;
    case FrameVerdict::NotTcpUdp:
        return true;
    case FrameVerdict::Fragment:
        ++m_skips.fragments;
        return true;
    case FrameVerdict::Malformed:
        ++m_skips.malformed;
        return true;
    }
    if (m_follower && !m_follower->accept(header.ts, frame, m_record))
        return true;
    m_sink.add(m_record.fixed, sizeof m_record.fixed, m_record.payload, m_record.payloadLen);
    m_trace.write(header.ts, frame);
    return !m_sink.wantsFlush() || m_sink.flush();
}

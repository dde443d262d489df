#include "views/packets/connection.h"

#include "capture/cpacket.h"

#include <algorithm>

namespace {
std::uint16_t sourcePort(const CPacket& p) { return p.isTcp() ? p.GetSrcPort() : p.GetUDPSrcPort(); }
std::uint16_t destPort(const CPacket& p) { return p.isTcp() ? p.GetDstPort() : p.GetUDPDstPort(); }
bool isTcpSegment(const CPacket& p) { return p.GetProtocolType() == 6 && p.isTcp(); }
}  // namespace

// Each value is taken as the nearest to the previous one: a step of less than 2^31
// either way, so wrapping past 2^32 moves on instead of jumping back.
std::int64_t DirectionList::Unwrapper::operator()(std::uint32_t value)
{
    if (!started) {
        started = true;
        last = value;
        return key = 0;
    }
    key += std::int32_t(value - last);
    last = value;
    return key;
}

bool DirectionList::foldIntoCopy(const Entry& e, std::size_t first, std::size_t end)
{
    bool replaced = false, present = false;
    for (std::size_t i = first; i < end;) {
        Entry& q = m_entries[i];
        if (q.ack != e.ack) {
            ++i;
        } else if (q.length >= e.length) {
            present = true;
            ++i;
        } else if (!replaced) {
            q = e;  // the longer copy takes the shorter one's place
            replaced = true;
            ++i;
        } else {
            m_entries.erase(m_entries.begin() + std::ptrdiff_t(i));
            --end;
        }
    }
    return replaced || present;
}

void DirectionList::place(std::uint32_t index, const CPacket& packet)
{
    const Entry e{m_seq(packet.GetSequenceNo()), m_ack(packet.GetAcknowlegetNo()), index, packet.payloadLength()};
    const auto bySeq = [](const Entry& x, std::int64_t seq) { return x.seq < seq; };
    const auto first = std::size_t(std::lower_bound(m_entries.begin(), m_entries.end(), e.seq, bySeq) - m_entries.begin());
    std::size_t end = first;
    while (end < m_entries.size() && m_entries[end].seq == e.seq)
        ++end;

    const auto max = m_maxAck.find(e.seq);
    const bool acksMore = max == m_maxAck.end() || e.ack > max->second;
    if (!acksMore && foldIntoCopy(e, first, end))
        return;

    std::size_t pos;
    if (m_entries.size() == 1) {
        pos = e.seq < m_entries[0].seq ? 0 : 1;
    } else if (acksMore) {
        pos = end;  // after every entry of this sequence number
    } else {
        pos = first;
        while (pos < m_entries.size() && m_entries[pos].seq == e.seq && m_entries[pos].ack < e.ack)
            ++pos;
    }
    m_entries.insert(m_entries.begin() + std::ptrdiff_t(pos), e);
    if (acksMore)
        m_maxAck[e.seq] = e.ack;
}

Connection::Connection(QString endPoint1, QString endPoint2)
    : m_endPoint1(std::move(endPoint1)), m_endPoint2(std::move(endPoint2))
{
}

QString Connection::endPointText(const CPacket& packet, bool source)
{
    char host[30];
    const char* text = source ? packet.GetSrcIPAddr(1, host, sizeof host) : packet.GetDstIPAddr(1, host, sizeof host);
    return QString::fromLatin1(text) + QLatin1String("    <") +
           QString::number(source ? sourcePort(packet) : destPort(packet)) + QLatin1String("> ");
}

void Connection::add_packet(const CPacket* packet, std::uint32_t number, BaseTime base)
{
    // The base is the view's and changes only when the view drops its connections;
    // taking it once keeps it a value the GUI thread may read without the lock.
    if (m_packets.empty())
        m_base = base;
    m_packets.emplace_back(packet, number);
}

void Connection::SortLstPackets()
{
    if (m_packets.empty())
        return;
    const CPacket& reference = *m_packets.front().packet();
    for (; m_sorted < m_packets.size(); ++m_sorted) {
        const CPacket& p = *m_packets[m_sorted].packet();
        if (!isTcpSegment(p))
            continue;
        // Within one host both ends share the address: the port tells them apart.
        const bool forward = p.GetSrcIPAddr() == reference.GetSrcIPAddr() && sourcePort(p) == sourcePort(reference);
        (forward ? m_forward : m_backward).place(std::uint32_t(m_sorted), p);
    }
}

std::vector<ByteRun> Connection::reassembled(bool forward) const
{
    std::vector<ByteRun> runs;
    bool expecting = false;
    std::int64_t next = 0;  // sequence number of the next byte not yet shown
    for (const DirectionList::Entry& e : (forward ? m_forward : m_backward).entries()) {
        if (e.length == 0)
            continue;
        const CPacket& p = *m_packets[e.packet].packet();
        const std::int64_t start = e.seq + (p.IsSYNset() ? 1 : 0);  // data on a SYN follows it
        const std::int64_t end = start + e.length;
        std::int64_t skip = 0;
        if (expecting) {
            if (end <= next)
                continue;
            skip = std::max<std::int64_t>(0, next - start);
        }
        runs.push_back({p.GetRealData() + skip, std::uint32_t(e.length - skip)});
        next = expecting ? std::max(next, end) : end;
        expecting = true;
    }
    return runs;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connection.h"

#include "capture/cpacket.h"

#include <algorithm>

namespace {
std::uint16_t sourcePort(const CPacket& p) { return p.isTcp() ? p.GetSrcPort() : p.GetUDPSrcPort(); }
std::uint16_t destPort(const CPacket& p) { return p.isTcp() ? p.GetDstPort() : p.GetUDPDstPort(); }
bool isTcpSegment(const CPacket& p) { return p.upperProtocol() == 6 && p.isTcp(); }
bool isOpeningSyn(const CPacket& p) { return isTcpSegment(p) && p.IsSYNset() && !p.IsACKset(); }
// Within one host both ends share the address: the port tells them apart.
bool sentBy(const CPacket& p, const CPacket& reference)
{
    return p.sourceAddress() == reference.sourceAddress() && sourcePort(p) == sourcePort(reference);
}
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

DirectionList::Band DirectionList::bandOf(std::int64_t seq, std::int64_t ack) const
{
    if (!m_paired || seq != m_pairSeq)
        return Ordered;
    if (ack == m_pairSecondAck)
        return Second;
    return ack > m_pairFirstAck ? After : Ordered;
}

void DirectionList::place(std::uint32_t index, const CPacket& packet)
{
    const std::int64_t seq = m_seq(packet.GetSequenceNo()), ack = m_ack(packet.GetAcknowlegetNo());
    const Entry e{seq, ack, index, packet.payloadLength(), bandOf(seq, ack)};
    const auto at = m_entries.lower_bound(e);
    if (at != m_entries.end() && at->seq == seq && at->ack == ack) {
        if (at->length < e.length) {  // the longer copy takes the shorter one's place
            at->packet = e.packet;
            at->length = e.length;
        }
        return;
    }
    if (m_entries.size() == 1 && at != m_entries.end() && at->seq == seq) {
        // `at` is not a copy, so it acknowledges more: the one packet listed and this
        // one become the pair.
        m_paired = true;
        m_pairSeq = seq;
        m_pairFirstAck = at->ack;
        m_pairSecondAck = ack;
        m_entries.insert(m_entries.end(), Entry{seq, ack, index, e.length, Second});
        return;
    }
    m_entries.insert(at, e);
}

Connection::Connection(QString endPoint1, QString endPoint2)
    : m_endPoint1(std::move(endPoint1)), m_endPoint2(std::move(endPoint2))
{
}

QString Connection::endPointText(const CPacket& packet, bool source)
{
    char host[IpAddress::TextSize];
    const char* text = source ? packet.GetSrcIPAddr(1, host, sizeof host) : packet.GetDstIPAddr(1, host, sizeof host);
    return QString::fromLatin1(text) + QLatin1String("    <") +
           QString::number(source ? sourcePort(packet) : destPort(packet)) + QLatin1String("> ");
}

std::ptrdiff_t Connection::indexOf(const CPacket* packet) const
{
    const std::uint32_t number = packet->captureNumber();
    const auto at = std::lower_bound(m_packets.begin(), m_packets.end(), number, [](const PacketListItem& row, std::uint32_t n) {
        return row.packet()->captureNumber() < n;
    });
    return number != 0 && at != m_packets.end() && at->packet() == packet ? at - m_packets.begin() : -1;
}

void Connection::add_packet(const CPacket* packet, std::uint32_t number, BaseTime base)
{
    // The base is the view's and changes only when the view drops its connections;
    // taking it once keeps it a value the GUI thread may read without the lock.
    if (m_packets.empty())
        m_base = base;
    m_packets.emplace_back(packet, number);
    if (!isTcpSegment(*packet) || (m_senders[0].sent && m_senders[1].sent))
        return;
    Sender& sender = senderOf(*packet);
    if (!sender.sent && isOpeningSyn(*packet)) {
        sender.opened = true;
        sender.isn = packet->GetSequenceNo();
    }
    sender.sent = true;
}

Connection::Sender& Connection::senderOf(const CPacket& packet)
{
    return m_senders[sentBy(packet, *m_packets.front().packet()) ? 0 : 1];
}

const Connection::Sender& Connection::senderOf(const CPacket& packet) const
{
    return const_cast<Connection*>(this)->senderOf(packet);
}

bool Connection::startsNewConversation(const CPacket& packet) const
{
    if (m_packets.empty() || !isOpeningSyn(packet))
        return false;
    const Sender& sender = senderOf(packet);
    return sender.sent && !(sender.opened && sender.isn == packet.GetSequenceNo());
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
        (sentBy(p, reference) ? m_forward : m_backward).place(std::uint32_t(m_sorted), p);
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

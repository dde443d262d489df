// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/tcpstate/tcpstatetracker.h"

#include "capture/cpacket.h"

#include <cstring>

namespace {

void fillBlanks(char* text)
{
    std::memset(text, ' ', TcpStateTracker::kAddressWidth);
    text[TcpStateTracker::kAddressWidth] = '\0';
}

bool oneOf(int step, std::initializer_list<int> steps)
{
    for (int s : steps)
        if (s == step)
            return true;
    return false;
}

}  // namespace

void TcpStateTracker::initiate()
{
    restartFlags();
    resetFlags();
    m_refSport = 0;
    m_refDport = 0;
    m_step = StepClosed;
    m_dirty = false;
    m_locked = false;
}

void TcpStateTracker::chooseNext()
{
    initiate();
    m_anyPacketFixes = true;
}

void TcpStateTracker::restartFlags()
{
    m_awaitingReference = true;
    m_anyPacketFixes = false;
    m_awaitingFirstFin = true;
    m_sticky = TcpStickyFlags();
    fillBlanks(m_refSrc);
    fillBlanks(m_refDst);
}

void TcpStateTracker::reset()
{
    m_step = StepReset;
    restartFlags();
    resetFlags();
}

void TcpStateTracker::fixView(std::uint64_t packetsTakenWhenPainted)
{
    if (m_packetsTaken == packetsTakenWhenPainted)
        m_dirty = false;
}

TcpStateTracker::Verdict TcpStateTracker::addPacket(const CPacket& packet)
{
    if (m_locked)
        return Verdict::Ignored;
    resetFlags();
    if (!packet.isTcp())
        return Verdict::NotTcp;
    ++m_packetsTaken;
    m_dirty = true;

    bool member = false;
    bool fixedHere = false;
    // Addresses compare as values: their texts here are the plain forms, equal
    // exactly when the values are, and making two for every packet is costly.
    const IpAddress src = packet.sourceAddress();
    const IpAddress dst = packet.destAddress();
    const std::uint16_t sport = packet.GetSrcPort();
    const std::uint16_t dport = packet.GetDstPort();
    if (m_awaitingReference) {
        if (!m_anyPacketFixes && !(packet.IsSYNset() && !packet.IsACKset()))
            return Verdict::OtherConnection;
        packet.GetSrcIPAddr(0, m_refSrc, kAddressWidth);
        packet.GetDstIPAddr(0, m_refDst, kAddressWidth);
        m_refSrcAddress = src;
        m_refDstAddress = dst;
        m_refSport = sport;
        m_refDport = dport;
        m_awaitingReference = false;
        member = true;
        fixedHere = true;
    } else {
        member = belongs(src, dst, sport, dport);
    }
    if (!member)
        return Verdict::OtherConnection;

    m_packetFlags.syn = packet.IsSYNset();
    m_packetFlags.ack = packet.IsACKset();
    m_packetFlags.rst = packet.IsRSTset();
    m_packetFlags.psh = packet.IsPSHset();
    m_packetFlags.urg = packet.IsURGset();
    m_packetFlags.fin = packet.IsFINset();
    if (m_packetFlags.rst)
        m_sticky.rstSeen = true;
    // Who sent the first FIN and whether the client answered a SYN are read from the
    // packet's own end points, which the packet that fixed the connection never had
    // compared: for that one neither can be told.
    if (!fixedHere) {
        if (m_packetFlags.fin && m_awaitingFirstFin)
            noteFirstFin(src, sport);
        if (m_packetFlags.syn && m_packetFlags.ack && dst == m_refDstAddress && m_refSrcAddress != m_refDstAddress)
            m_sticky.simultaneousOpen = true;
    }
    Segment segment{src, sport, packet.GetSequenceNo(), packet.GetAcknowlegetNo(), 0};
    // The TCP payload by the headers' lengths: a capture may keep fewer bytes.
    const std::int64_t headers = packet.ipHeaderBytes() + packet.GetTCPHeaderLength();
    if (packet.ipTotalLength() > headers)
        segment.length = std::uint32_t(packet.ipTotalLength() - headers);
    applyStepRules(segment);
    return Verdict::Member;
}

// Addresses and ports are matched each on their own, in either direction.
bool TcpStateTracker::belongs(const IpAddress& src, const IpAddress& dst, std::uint16_t sport, std::uint16_t dport) const
{
    bool addressMatch = false;
    if (src == m_refSrcAddress)
        addressMatch = dst == m_refDstAddress;
    else if (dst == m_refSrcAddress)
        addressMatch = src == m_refDstAddress;
    bool portMatch = false;
    if (sport == m_refSport)
        portMatch = dport == m_refDport;
    else if (dport == m_refSport)
        portMatch = sport == m_refDport;
    return addressMatch && portMatch;
}

void TcpStateTracker::noteFirstFin(const IpAddress& src, std::uint16_t sport)
{
    if (src == m_refSrcAddress && sport == m_refSport) {
        m_sticky.serverClosedFirst = false;
        m_awaitingFirstFin = false;
    } else if (src == m_refDstAddress && sport == m_refDport) {
        m_sticky.serverClosedFirst = true;
        m_awaitingFirstFin = false;
    }
}

// The first rule that fits moves the step; the order matters (an RST+ACK in step 2
// goes back to LISTEN, not on to ESTABLISHED).
// A FIN from the other end answers the first FIN with a FIN-ACK close only when its
// acknowledgement covers that FIN (in serial arithmetic: sequence numbers wrap).
// Every stack sets ACK on a FIN, so the flag alone cannot tell crossing FINs apart.
bool TcpStateTracker::answersFirstFin(const Segment& segment) const
{
    return segment.ack - m_firstFinAcked < 0x80000000u;
}

void TcpStateTracker::applyStepRules(const Segment& segment)
{
    const TcpPacketFlags& f = m_packetFlags;
    const int s = m_step;
    if (f.syn && !f.ack && oneOf(s, {StepClosed, StepFinAck, StepTimeWait, StepClosingAcked, StepReset}))
        m_step = StepSynSent;
    else if (f.syn && f.ack && oneOf(s, {StepSynSent, StepBackToListen}))
        m_step = StepSynReceived;
    else if (f.rst && s == StepSynReceived)
        m_step = StepBackToListen;
    else if (f.syn && f.ack && m_sticky.simultaneousOpen && s == StepSynReceived)
        m_step = StepSimultaneousOpen;
    else if (f.ack && oneOf(s, {StepSynReceived, StepSimultaneousOpen}))
        m_step = StepEstablished;
    else if (f.fin && s == StepEstablished) {
        m_step = StepFinWait1;
        m_firstFinSrc = segment.src;
        m_firstFinSport = segment.sport;
        m_firstFinAcked = segment.seq + segment.length + 1;
    } else if (f.ack && !f.fin && s == StepFinWait1)
        m_step = StepFinWait2;
    else if (f.fin && s == StepFinWait1 && segment.src == m_firstFinSrc && segment.sport == m_firstFinSport)
        ;  // the first FIN again: no answer yet
    else if (f.fin && (!f.ack || !answersFirstFin(segment)) && s == StepFinWait1) {
        m_step = StepClosing;
        m_sticky.simultaneousClose = true;
    } else if (f.fin && f.ack && s == StepFinWait1) {
        m_step = StepFinAck;
        m_sticky.finAckClose = true;
    } else if (f.fin && s == StepFinWait2)
        m_step = StepTimeWait;
    else if (f.ack && !f.fin && s == StepClosing)
        m_step = StepClosingAcked;
}

QString TcpStateTracker::connectionText() const
{
    if (m_awaitingReference)
        return QString();
    // An IPv6 address in brackets, so that its colons stand apart from the port's.
    const auto host = [](const char* text, const IpAddress& address) {
        const QString trimmed = QString::fromLatin1(text).trimmed();
        return address.isV6() ? QLatin1Char('[') + trimmed + QLatin1Char(']') : trimmed;
    };
    return QStringLiteral("%1:%2 \u2194 %3:%4")
        .arg(host(m_refSrc, m_refSrcAddress))
        .arg(m_refSport)
        .arg(host(m_refDst, m_refDstAddress))
        .arg(m_refDport);
}

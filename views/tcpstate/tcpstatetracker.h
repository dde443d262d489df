// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Follows one TCP connection through the TCP state machine by the flags of its
// packets. After creation or Reset the tracker waits for a connection to open: the
// first SYN without ACK fixes the connection (its sender is the client), since a
// packet from the middle of a connection would leave the diagram at CLOSED for
// good. A connection chosen by the user (chooseNext) is fixed by its first packet,
// whatever its flags. From then on only packets between the same two end points
// count. The position is a step code that the diagram turns into lit states and
// transitions.
//
// Not thread-safe: the view guards it with its own mutex.

#include "capture/ipaddress.h"

#include <QString>

#include <cstdint>

class CPacket;

// The TCP flags of the packet being looked at.
struct TcpPacketFlags {
    bool syn = false, ack = false, psh = false, rst = false, fin = false, urg = false;
};

// Flags that stay set until Reset.
struct TcpStickyFlags {
    bool rstSeen = false;
    bool simultaneousOpen = false;   // a SYN+ACK of the client's side
    bool simultaneousClose = false;  // the answer to the first FIN did not acknowledge it
    bool finAckClose = false;        // the first FIN was answered by one FIN+ACK acknowledging it
    bool serverClosedFirst = false;  // the first FIN came from the server
};

class TcpStateTracker {
public:
    // Step codes; 6 to 10 are not used.
    enum Step {
        StepClosed = 0,
        StepSynSent = 1,
        StepSynReceived = 2,
        StepBackToListen = 3,
        StepSimultaneousOpen = 4,
        StepEstablished = 5,
        StepFinWait1 = 11,
        StepFinWait2 = 12,
        StepFinAck = 13,
        StepTimeWait = 14,
        StepClosing = 15,
        StepClosingAcked = 16,
        StepReset = 17,
    };
    // What a packet was to the tracker.
    enum class Verdict { Ignored, NotTcp, OtherConnection, Member };

    static constexpr int kAddressWidth = int(IpAddress::TextSize) - 1;

    TcpStateTracker() { initiate(); }

    // Back to the state of creation: step 0, no reference, nothing sticky, unlocked.
    void initiate();
    Verdict addPacket(const CPacket& packet);
    // The Reset command: step 17 and waiting for a new reference; lock untouched.
    void reset();
    // Back to the state of creation, then the next TCP packet fixes the connection
    // whatever its flags: the caller hands in the chosen connection's packets.
    void chooseNext();
    // Waiting for a reference and a first FIN again, sticky flags and addresses cleared.
    void restartFlags();
    void resetFlags() { m_packetFlags = TcpPacketFlags(); }

    int step() const { return m_step; }
    const TcpStickyFlags& sticky() const { return m_sticky; }
    const TcpPacketFlags& packetFlags() const { return m_packetFlags; }
    bool awaitingReference() const { return m_awaitingReference; }
    bool awaitingFirstFin() const { return m_awaitingFirstFin; }

    bool isLocked() const { return m_locked; }
    void setLocked(bool locked) { m_locked = locked; }

    // Set by every TCP packet that is not ignored.
    bool isDirty() const { return m_dirty; }
    // TCP packets taken since creation; a paint remembers it so that fixView() can
    // tell whether a packet came after that paint.
    std::uint64_t packetsTaken() const { return m_packetsTaken; }
    // Clears dirty, unless a packet came after the paint that saw `packetsTaken`:
    // that one still has to be painted.
    void fixView(std::uint64_t packetsTakenWhenPainted);

    // "address:port ↔ address:port" (client first), empty while awaiting a reference.
    QString connectionText() const;

private:
    bool belongs(const IpAddress& src, const IpAddress& dst, std::uint16_t sport, std::uint16_t dport) const;
    void noteFirstFin(const IpAddress& src, std::uint16_t sport);
    // The packet's own end point and sequence numbers, for telling closes apart.
    struct Segment {
        IpAddress src;
        std::uint16_t sport = 0;
        std::uint32_t seq = 0, ack = 0, length = 0;
    };
    void applyStepRules(const Segment& segment);
    bool answersFirstFin(const Segment& segment) const;

    int m_step = StepClosed;
    char m_refSrc[kAddressWidth + 1];
    char m_refDst[kAddressWidth + 1];
    IpAddress m_refSrcAddress;
    IpAddress m_refDstAddress;
    std::uint16_t m_refSport = 0;
    std::uint16_t m_refDport = 0;
    bool m_awaitingReference = true;
    bool m_anyPacketFixes = false;  // chooseNext: not only an opening SYN
    bool m_awaitingFirstFin = true;
    TcpStickyFlags m_sticky;
    // The FIN that moved the connection to FIN_WAIT_1: its sender, and the
    // acknowledgement number that acknowledges it.
    IpAddress m_firstFinSrc;
    std::uint16_t m_firstFinSport = 0;
    std::uint32_t m_firstFinAcked = 0;
    TcpPacketFlags m_packetFlags;
    bool m_dirty = false;
    bool m_locked = false;
    std::uint64_t m_packetsTaken = 0;
};

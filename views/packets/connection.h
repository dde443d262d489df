// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One conversation between two end points, as one connection view sees it: its
// packets in arrival order and, once sorted, its TCP packets per direction in
// sequence order with copies of a segment folded together.
//
// The packets stay owned by the capture controller; a connection keeps a pointer
// and the view's number for each (16 bytes), and decodes a packet only when asked.
//
// Sequence numbers are compared as offsets from the direction's first one,
// unwrapped past 2^32, so that a conversation whose numbers wrap keeps its order.

#include "views/packets/packetlistitem.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <set>
#include <vector>

class CPacket;

// A stretch of payload bytes inside a packet (owned by the capture controller).
struct ByteRun {
    const unsigned char* data = nullptr;
    std::uint32_t length = 0;
};

// The TCP packets of one direction, ordered by sequence number; packets with the
// same sequence number and the same acknowledgement number are one segment, kept
// once in its longest copy. Packets of one sequence number are ordered by
// acknowledgement number, except that a second packet placed while the list holds
// only one, of the same sequence number and a smaller acknowledgement number, goes
// after it; that pair keeps later packets of their sequence number from moving
// before the second unless they acknowledge less than the first.
//
// Placing a packet costs O(log n) whatever the shape of the conversation (a long
// run of pure acknowledgements shares one sequence number).
class DirectionList {
public:
    struct Entry {
        std::int64_t seq;              // offset from the direction's first sequence number
        std::int64_t ack;              // acknowledgement number, unwrapped the same way
        mutable std::uint32_t packet;  // index in the connection's packet list
        mutable std::uint32_t length;  // payload bytes
        std::uint8_t band;             // place among the packets of its sequence number, before ack
    };
    struct Before {
        bool operator()(const Entry& a, const Entry& b) const
        {
            return a.seq != b.seq ? a.seq < b.seq : a.band != b.band ? a.band < b.band : a.ack < b.ack;
        }
    };
    using Entries = std::set<Entry, Before>;

    // Places the packet (given in arrival order) unless a copy at least as long is
    // already there.
    void place(std::uint32_t index, const CPacket& packet);
    // In list order.
    const Entries& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }

private:
    struct Unwrapper {
        bool started = false;
        std::uint32_t last = 0;
        std::int64_t key = 0;
        std::int64_t operator()(std::uint32_t value);
    };
    enum Band : std::uint8_t { Ordered, Second, After };
    Band bandOf(std::int64_t seq, std::int64_t ack) const;

    Entries m_entries;
    // The pair described above, if there is one: its sequence number and the
    // acknowledgement numbers of its first and second packet.
    bool m_paired = false;
    std::int64_t m_pairSeq = 0, m_pairFirstAck = 0, m_pairSecondAck = 0;
    Unwrapper m_seq, m_ack;
};

class Connection {
public:
    Connection(QString endPoint1, QString endPoint2);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // host + "    <" + port + "> " of the packet's source or destination.
    static QString endPointText(const CPacket& packet, bool source);

    const QString& EndPoint1() const { return m_endPoint1; }
    const QString& EndPoint2() const { return m_endPoint2; }

    // Appends the packet with its number; `base` is the view's time base.
    void add_packet(const CPacket* packet, std::uint32_t number, BaseTime base);
    // True when the packet, a SYN without ACK, opens another conversation on the same
    // end points: its sender has sent in this one already, and not this same SYN
    // (the same initial sequence number). A first SYN from each side, as in a
    // simultaneous open, belongs here.
    bool startsNewConversation(const CPacket& packet) const;
    // In chunks: a busy connection grows without copying, or touching fresh memory for, all it holds.
    const std::deque<PacketListItem>& packets() const { return m_packets; }
    // Where `packet` is in packets(), or -1 (by its capture number: O(log n)).
    std::ptrdiff_t indexOf(const CPacket* packet) const;
    BaseTime baseTime() const { return m_base; }  // set by the first packet

    // Places the packets that arrived since the last call in the direction lists.
    void SortLstPackets();
    // End point 1's direction (forward) or the other one, in sequence order.
    const DirectionList& forward() const { return m_forward; }
    const DirectionList& backward() const { return m_backward; }

    // The payload of a direction reassembled: each byte once, in sequence order.
    // Bytes before the next expected sequence number (retransmitted or overlapping)
    // are skipped; a gap in the capture just joins what follows.
    std::vector<ByteRun> reassembled(bool forward) const;

private:
    // What one side has sent: anything, and whether it began with a SYN without ACK.
    struct Sender {
        bool sent = false;
        bool opened = false;
        std::uint32_t isn = 0;
    };
    Sender& senderOf(const CPacket& packet);
    const Sender& senderOf(const CPacket& packet) const;

    QString m_endPoint1, m_endPoint2;
    std::deque<PacketListItem> m_packets;
    BaseTime m_base;
    DirectionList m_forward, m_backward;
    std::size_t m_sorted = 0;  // packets already placed
    Sender m_senders[2];       // end point 1's side, the other side
};

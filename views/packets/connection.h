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
#include <unordered_map>
#include <vector>

class CPacket;

// A stretch of payload bytes inside a packet (owned by the capture controller).
struct ByteRun {
    const unsigned char* data = nullptr;
    std::uint32_t length = 0;
};

// The TCP packets of one direction, ordered by sequence number; packets with the
// same sequence number and the same acknowledgement number are one segment, kept
// once in its longest copy.
class DirectionList {
public:
    struct Entry {
        std::int64_t seq;      // offset from the direction's first sequence number
        std::int64_t ack;      // acknowledgement number, unwrapped the same way
        std::uint32_t packet;  // index in the connection's packet list
        std::uint32_t length;  // payload bytes
    };

    // Places the packet (given in arrival order) unless a copy at least as long is
    // already there.
    void place(std::uint32_t index, const CPacket& packet);
    const std::vector<Entry>& entries() const { return m_entries; }
    std::size_t size() const { return m_entries.size(); }

private:
    struct Unwrapper {
        bool started = false;
        std::uint32_t last = 0;
        std::int64_t key = 0;
        std::int64_t operator()(std::uint32_t value);
    };
    // True when `e` was folded into a copy of its segment already in the list.
    bool foldIntoCopy(const Entry& e, std::size_t first, std::size_t end);

    std::vector<Entry> m_entries;
    // Highest acknowledgement number among the entries of each sequence number, so
    // that a packet acknowledging more than all of them (the usual case, e.g. a
    // run of pure acknowledgements) is placed without walking them.
    std::unordered_map<std::int64_t, std::int64_t> m_maxAck;
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
    const std::vector<PacketListItem>& packets() const { return m_packets; }
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
    QString m_endPoint1, m_endPoint2;
    std::vector<PacketListItem> m_packets;
    BaseTime m_base;
    DirectionList m_forward, m_backward;
    std::size_t m_sorted = 0;  // packets already placed
};

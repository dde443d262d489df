// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The connections of one view and the dictionary that files each packet under its
// conversation: a packet belongs to the connection keyed by its source and
// destination end points, or else by the reverse; a new conversation is keyed by
// its first packet's direction only. A SYN that opens another conversation on the
// same end points (Connection::startsNewConversation) starts a new connection,
// which takes over the key. Numbers and the time base run across all
// connections of the view.
//
// Not thread-safe: the view serialises filing and reading.

#include "capture/ipaddress.h"
#include "views/packets/connection.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class CPacket;

class ConnectionTable {
public:
    // Numbers the packet and appends it to its connection. Gives the connection it
    // was filed under; `created` tells whether that connection is new.
    Connection* file(const CPacket* packet, bool* created = nullptr);
    // The connection that holds `packet`, null when none does; `index` is its place
    // in that connection's packets.
    Connection* holding(const CPacket* packet, std::size_t* index) const;
    // Deletes every connection; numbering starts again at 1.
    void clear();

    // In creation order.
    const std::vector<std::unique_ptr<Connection>>& connections() const { return m_connections; }
    std::uint32_t count() const { return m_count; }
    BaseTime baseTime() const { return m_base; }

private:
    // Host and port of both ends as carried by the packet. The ends are compared
    // as values: joined into one text, "1.2.3.4" port 80 and "1.2.3.48" port 0
    // would name the same conversation.
    struct Key {
        IpAddress host1, host2;
        std::uint16_t port1, port2;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const;
    };

    using Dictionary = std::unordered_map<Key, Connection*, KeyHash>;
    // The entry for the packet's two end points, either way round; `forward` gets
    // the key in the packet's own direction.
    Dictionary::const_iterator lookUp(const CPacket& packet, Key& forward) const;

    std::vector<std::unique_ptr<Connection>> m_connections;
    Dictionary m_dictionary;
    std::uint32_t m_count = 0;
    BaseTime m_base;
};

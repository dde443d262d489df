// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectiontable.h"

#include "capture/cpacket.h"
#include "capture/disposal.h"

std::size_t ConnectionTable::KeyHash::operator()(const Key& k) const
{
    const std::uint64_t a = (k.host1.hash() * 31 + k.host2.hash()) * 0x9e3779b97f4a7c15ull;
    const std::uint64_t b = (std::uint64_t(k.port1) << 16 | k.port2) * 0xc2b2ae3d27d4eb4full;
    return std::size_t(a ^ (b >> 7) ^ b);
}

ConnectionTable::Dictionary::const_iterator ConnectionTable::lookUp(const CPacket& packet, Key& forward) const
{
    const bool tcp = packet.isTcp();
    forward = Key{packet.sourceAddress(), packet.destAddress(), tcp ? packet.GetSrcPort() : packet.GetUDPSrcPort(),
                  tcp ? packet.GetDstPort() : packet.GetUDPDstPort()};
    const auto found = m_dictionary.find(forward);
    if (found != m_dictionary.end())
        return found;
    return m_dictionary.find(Key{forward.host2, forward.host1, forward.port2, forward.port1});
}

Connection* ConnectionTable::holding(const CPacket* packet, std::size_t* index) const
{
    Key forward;
    const auto found = lookUp(*packet, forward);
    // The dictionary names the newest conversation on these end points; an older
    // one (the ports used again) is looked for among all.
    if (found != m_dictionary.end())
        if (const std::ptrdiff_t at = found->second->indexOf(packet); at >= 0) {
            *index = std::size_t(at);
            return found->second;
        }
    for (const auto& connection : m_connections)
        if (const std::ptrdiff_t at = connection->indexOf(packet); at >= 0) {
            *index = std::size_t(at);
            return connection.get();
        }
    return nullptr;
}

Connection* ConnectionTable::file(const CPacket* packet, bool* created)
{
    Key forward;
    const auto found = lookUp(*packet, forward);
    Connection* connection = found != m_dictionary.end() ? found->second : nullptr;
    if (connection && connection->startsNewConversation(*packet)) {
        // The ports are used again: this packet and the later ones belong to a new
        // conversation, keyed by this packet's direction like any other.
        m_dictionary.erase(found);
        connection = nullptr;
    }
    if (created)
        *created = !connection;
    if (!connection) {
        m_connections.push_back(std::make_unique<Connection>(Connection::endPointText(*packet, true),
                                                             Connection::endPointText(*packet, false)));
        connection = m_connections.back().get();
        m_dictionary.emplace(forward, connection);
    }
    if (++m_count == 1) {
        const std::int32_t* ts = packet->GetTimeStamp();
        m_base = BaseTime{ts[0], ts[1]};
    }
    connection->add_packet(packet, m_count, m_base);
    return connection;
}

void ConnectionTable::clear()
{
    m_dictionary.clear();
    disposeInBackground(std::move(m_connections));
    m_connections.clear();
    m_count = 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/connectionfeed.h"

#include "views/packets/connectionlistmodel.h"

ConnectionFeed::ConnectionFeed(QObject* parent) : QObject(parent)
{
    m_model = new ConnectionListModel(this);
    m_handoff = new HandoffQueue<Connection*>(
        [this](std::vector<Connection*>& batch) { m_model->appendConnections(batch.data(), batch.size()); }, this);
}

void ConnectionFeed::addPacket(const CPacket* packet)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_locked)
        return;
    bool created = false;
    Connection* connection = m_table.file(packet, &created);
    if (created)
        m_handoff->push(connection);
}

void ConnectionFeed::listHandedConnections() { m_handoff->drainAll(); }

void ConnectionFeed::removeRows() { m_model->clear(); }

void ConnectionFeed::clear()
{
    m_model->clear();  // before the connections its rows point to go
    std::lock_guard<std::mutex> guard(m_mutex);
    m_handoff->discard();
    m_table.clear();
    m_locked = false;
}

void ConnectionFeed::setLocked(bool locked)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_locked = locked;
}

bool ConnectionFeed::isLocked() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_locked;
}

std::uint32_t ConnectionFeed::packetCount() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_table.count();
}

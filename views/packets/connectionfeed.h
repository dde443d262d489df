// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What both connection views share below their widgets: the connections filed from
// the packets the reader thread hands in, the locked flag, and the connection list
// model, to which new connections are handed on the GUI thread in batches.
//
// One mutex guards the connections and the flag. The reader holds it while it
// files a packet; the GUI thread holds it (lock()) while it reads connections,
// since filing appends to their packet lists.

#include "capture/handoff.h"
#include "views/packets/connectiontable.h"

#include <QObject>

#include <mutex>

class CPacket;
class ConnectionListModel;

class ConnectionFeed : public QObject {
public:
    explicit ConnectionFeed(QObject* parent = nullptr);

    // Reader thread: ignored while locked, otherwise filed.
    void addPacket(const CPacket* packet);

    // GUI thread.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock<std::mutex>(m_mutex); }
    // The connections; read them only while holding lock().
    ConnectionTable& table() { return m_table; }
    ConnectionListModel* model() const { return m_model; }
    HandoffBase* handoff() const { return m_handoff; }
    // Lists the new connections handed over and not listed yet (GUI thread).
    void listHandedConnections();
    // Removes the rows; the connections stay and keep receiving packets.
    void removeRows();
    // Removes the rows and deletes the connections; numbering restarts; unlocks.
    void clear();
    void setLocked(bool locked);
    bool isLocked() const;
    std::uint32_t packetCount() const;

private:
    mutable std::mutex m_mutex;
    ConnectionTable m_table;  // guarded by m_mutex
    bool m_locked = false;    // guarded by m_mutex
    ConnectionListModel* m_model;
    HandoffQueue<Connection*>* m_handoff;
};

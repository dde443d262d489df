// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the two connection views share as windows: the feed that files the packets
// handed in on the reader thread, the connection list over its model, the locked
// flag with its "Locked" label, registration and closing.

#include "capture/timebasedview.h"

#include <QMainWindow>

class Connection;
class ConnectionFeed;
class QLabel;
class QTableView;

class ConnectionWindow : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    // Removes the connection rows; the connections stay and keep receiving packets.
    void InitiateView() override;
    void UpdateView() override {}
    void AddPacket(CPacket* packet) override;  // reader thread

    ConnectionFeed* feed() const { return m_feed; }
    QTableView* connectionList() const { return m_connections; }
    QLabel* lockedLabel() const { return m_locked; }
    Connection* currentConnection() const { return m_current; }
    QAction* followEntry() const { return m_follow; }

public slots:
    virtual void slotConnectionChanged() = 0;
    // Shows the program's current packet, if this view holds it.
    virtual void showLinkedPacket(const CPacket* packet, const QObject* source) = 0;
    void slotLockView();
    void slotUnlockView();

protected:
    ConnectionWindow(QWidget* parent, const char* name, const QString& caption);
    // The connection list, in `parent`, sorted by End Point 1; selecting a row runs
    // slotConnectionChanged().
    QTableView* makeConnectionList(QWidget* parent);
    // The connection of the list's current row, or null; with `selected`, only when
    // that row is also selected.
    Connection* currentRowConnection(bool selected) const;
    // Selects the conversation that holds `packet`; null when this view holds none
    // (cleared, locked, opened later). `index` is the packet's place in it.
    Connection* selectConnectionOf(const CPacket* packet, std::size_t* index);
    // Deletes the connections (the rows first), numbering restarts, unlocks.
    void clearConnections();
    void closeEvent(QCloseEvent* event) override;

    ConnectionFeed* m_feed;
    QTableView* m_connections = nullptr;
    Connection* m_current = nullptr;
    QAction* m_follow = nullptr;
    bool m_linking = false;  // selecting the current packet: not a choice of the user's

private:
    void setLocked(bool locked);
    QLabel* m_locked;
};

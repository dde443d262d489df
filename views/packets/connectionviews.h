#pragma once
// The Connection Packet View: the conversations in the traffic, the packets of the
// selected one, and the selected packet's payload in hexadecimal and as characters.
//
// AddPacket runs on the reader thread and files the packet under the view's mutex
// (ConnectionFeed); new connections become rows on the GUI thread in batches. The
// packet rows point at the packets; a packet is decoded only when selected.

#include "capture/timebasedview.h"

#include <QMainWindow>

#include <memory>

class ASCIIScrollView;
class BinaryScrollView;
class Connection;
class ConnectionFeed;
class Packet;
class PacketListModel;
class QLabel;
class QSplitter;
class QTableView;

class ConnectionViews : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    enum MenuId { IdLock = 10000, IdClear = 10003, IdUnlock = 10004, IdUpdate = 10005 };

    explicit ConnectionViews(QWidget* parent = nullptr, const char* name = nullptr);
    ~ConnectionViews() override;

    void InitiateView() override;
    void UpdateView() override {}
    void AddPacket(CPacket* packet) override;  // reader thread

    ConnectionFeed* feed() const { return m_feed; }
    QTableView* connectionList() const { return m_connections; }
    QTableView* packetList() const { return m_packets; }
    PacketListModel* packetModel() const { return m_packetModel; }
    BinaryScrollView* binaryPane() const { return m_binary; }
    ASCIIScrollView* asciiPane() const { return m_ascii; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* paneSplitter() const { return m_inner; }
    QLabel* lockedLabel() const { return m_locked; }
    Connection* currentConnection() const { return m_current; }
    const Packet* currentPacket() const { return m_currentPacket.get(); }

public slots:
    void slotConnectionChanged();
    void slotPacketChanged();
    void slotRefreshView();
    void slotClearView();
    void slotLockView();
    void slotUnlockView();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initMenuBar();
    void initStatusBar();
    void listPackets(Connection* connection);
    void setLocked(bool locked);

    ConnectionFeed* m_feed;
    QTableView* m_connections;
    QTableView* m_packets;
    PacketListModel* m_packetModel;
    BinaryScrollView* m_binary;
    ASCIIScrollView* m_ascii;
    QSplitter* m_outer;
    QSplitter* m_inner;
    QLabel* m_locked = nullptr;
    Connection* m_current = nullptr;
    std::unique_ptr<Packet> m_currentPacket;  // decoded from the selected row
};

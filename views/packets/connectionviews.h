// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Connection Packet View: the conversations in the traffic, the packets of the
// selected one, and the selected packet's payload in hexadecimal and as characters.
//
// AddPacket runs on the reader thread and files the packet under the view's mutex
// (ConnectionFeed); new connections become rows on the GUI thread in batches. The
// packet rows point at the packets; a packet is decoded only when selected.

#include "views/packets/connectionwindow.h"

#include <memory>

class ASCIIScrollView;
class BinaryScrollView;
class Packet;
class PacketListModel;
class QSplitter;

class ConnectionViews : public ConnectionWindow {
    Q_OBJECT
public:
    enum MenuId { IdLock = 10000, IdClear = 10003, IdUnlock = 10004, IdUpdate = 10005 };

    explicit ConnectionViews(QWidget* parent = nullptr, const char* name = nullptr);
    ~ConnectionViews() override;

    QTableView* packetList() const { return m_packets; }
    PacketListModel* packetModel() const { return m_packetModel; }
    BinaryScrollView* binaryPane() const { return m_binary; }
    ASCIIScrollView* asciiPane() const { return m_ascii; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* paneSplitter() const { return m_inner; }
    const Packet* currentPacket() const { return m_currentPacket.get(); }

    bool DisplayFilterChanged(bool inForce) override;

public slots:
    void slotConnectionChanged() override;
    void slotPacketChanged();
    void slotRefreshView();
    void slotClearView();
    void showLinkedPacket(const CPacket* packet, const QObject* source) override;

private:
    void initMenuBar();
    void listPackets(Connection* connection);

    QTableView* m_packets;
    PacketListModel* m_packetModel;
    BinaryScrollView* m_binary;
    ASCIIScrollView* m_ascii;
    QSplitter* m_outer;
    QSplitter* m_inner;
    std::unique_ptr<Packet> m_currentPacket;  // decoded from the selected row
};

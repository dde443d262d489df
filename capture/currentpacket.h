// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's current packet: the one the user last selected in any view (or
// stepped to, or went to by number). Views show it when it changes; "Link Views"
// in the main window turns the linking off.
//
// GUI thread only. Packets are named by their pointer, which stays valid for the
// controller's life, and found by their capture number (CPacket::captureNumber).

#include "capture/cpacket.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

class ControlPanel;

class CurrentPacket : public QObject {
    Q_OBJECT
public:
    const CPacket* packet() const { return m_packet; }
    bool isLinked() const { return m_linked; }
    void setLinked(bool linked) { m_linked = linked; }

    // Makes `packet` current; `source` (the view it was selected in, or null) is not
    // told about it again. While unlinked the other views are not told either.
    void select(const CPacket* packet, const QObject* source);
    // Packets numbered so far.
    std::uint32_t packetCount() const;
    // The packet numbered `number` in the capture, null when there is none.
    CPacket* packetNumbered(std::uint32_t number) const;
    // The captured packets that `keep` accepts, in arrival order, into `out`; gives
    // the number of the last packet looked at (every packet up to it was).
    std::uint32_t packetsWhere(const std::function<bool(const CPacket&)>& keep, std::vector<CPacket*>& out) const;
    // Asks for the TCP state diagram to follow the connection of `packet`.
    void follow(const CPacket* packet) { emit followRequested(packet); }

    // The controller whose packets are numbered (one at a time); null when it goes.
    void setController(const ControlPanel* controller);
    const ControlPanel* controller() const { return m_controller; }

signals:
    void changed(const CPacket* packet, const QObject* source);
    void followRequested(const CPacket* packet);

private:
    const CPacket* m_packet = nullptr;
    bool m_linked = true;
    const ControlPanel* m_controller = nullptr;
};

CurrentPacket& currentPacket();

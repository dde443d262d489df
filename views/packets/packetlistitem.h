// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One row of a packet list: a plain pointer to the packet (owned by the capture
// controller or a connection) and its number. The six column texts are produced
// from the packet when a view asks for them, so a million rows cost 16 bytes each.

#include "views/packets/packet.h"

#include <QString>

#include <cstdint>
#include <memory>

class CPacket;

class PacketListItem {
public:
    // ColCapture, the packet's number in the whole capture, is shown after "No."
    // while a display filter is in force.
    enum Column { ColNo, ColTime, ColSource, ColDest, ColProtocol, ColInfo, ColCapture, ColumnCount };

    PacketListItem() = default;
    PacketListItem(const CPacket* packet, std::uint32_t number) : m_packet(packet), m_number(number) {}

    const CPacket* packet() const { return m_packet; }
    std::uint32_t number() const { return m_number; }

    // Column text as the list shows it: number, time, source, destination and
    // protocol each followed by 3, 4, 3, 3 and 3 blanks, then the summary.
    QString text(int column, BaseTime base) const;
    // The full decoding (texts, image, field tree), for the selected row.
    std::unique_ptr<Packet> decode(BaseTime base) const;

    static QString columnTitle(int column);

private:
    const CPacket* m_packet = nullptr;
    std::uint32_t m_number = 0;
};

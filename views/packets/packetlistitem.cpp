// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/packetlistitem.h"

#include "capture/cpacket.h"

QString PacketListItem::text(int column, BaseTime base) const
{
    const CPacket& p = *m_packet;
    switch (column) {
    case ColNo: return packettext::number(m_number) + QLatin1String("   ");
    case ColTime: return packettext::relativeTime(p, base) + QLatin1String("    ");
    case ColSource: return packettext::sourceAddress(p) + QLatin1String("   ");
    case ColDest: return packettext::destAddress(p) + QLatin1String("   ");
    case ColProtocol: return packettext::protocol(p) + QLatin1String("   ");
    case ColInfo: return packettext::info(p);
    case ColCapture: return packettext::number(p.captureNumber()) + QLatin1String("   ");
    default: return QString();
    }
}

std::unique_ptr<Packet> PacketListItem::decode(BaseTime base) const
{
    return std::make_unique<Packet>(*m_packet, m_number, base);
}

QString PacketListItem::columnTitle(int column)
{
    static const char* const titles[] = {"No.", "Time", "Source", "Dest", "Protocol", "Info", "Captured"};
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(titles[column]) : QString();
}

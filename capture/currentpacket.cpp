// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/currentpacket.h"

#include "capture/controlpanel.h"

void CurrentPacket::select(const CPacket* packet, const QObject* source)
{
    m_packet = packet;
    if (m_linked && packet)
        emit changed(packet, source);
}

std::uint32_t CurrentPacket::packetCount() const
{
    return m_controller ? std::uint32_t(m_controller->packetCount()) : 0;
}

CPacket* CurrentPacket::packetNumbered(std::uint32_t number) const
{
    return m_controller ? m_controller->packetNumbered(number) : nullptr;
}

std::uint32_t CurrentPacket::packetsWhere(const std::function<bool(const CPacket&)>& keep,
                                          std::vector<CPacket*>& out) const
{
    return m_controller ? m_controller->packetsWhere(keep, out) : 0;
}

void CurrentPacket::setController(const ControlPanel* controller)
{
    m_controller = controller;
    if (!controller)
        m_packet = nullptr;
}

CurrentPacket& currentPacket()
{
    static CurrentPacket hub;
    return hub;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/widetext.h"

#include "capture/cpacket.h"

void WideText::clear()
{
    m_runs.clear();
    m_starts.clear();
    m_size = 0;
}

void WideText::append(const unsigned char* data, std::uint32_t length, ColoredText::Colour colour)
{
    if (length == 0 || !data)
        return;
    m_runs.push_back({data, length, colour});
    m_starts.push_back(m_size);
    m_size += length;
}

void WideText::showLive(const Connection& connection)
{
    clear();
    if (connection.packets().empty())
        return;
    m_runs.reserve(connection.packets().size());
    m_starts.reserve(connection.packets().size());
    const CPacket& first = *connection.packets().front().packet();
    const IpAddress address = first.sourceAddress();
    const std::uint16_t port = first.GetSrcPort();
    for (const PacketListItem& item : connection.packets()) {
        const CPacket& p = *item.packet();
        const bool fromEndPoint1 = p.sourceAddress() == address && p.GetSrcPort() == port;
        append(p.GetRealData(), p.payloadLength(), fromEndPoint1 ? ColoredText::Red : ColoredText::Blue);
    }
}

void WideText::showRuns(const std::vector<ByteRun>& runs, ColoredText::Colour colour)
{
    clear();
    m_runs.reserve(runs.size());
    m_starts.reserve(runs.size());
    for (const ByteRun& run : runs)
        append(run.data, run.length, colour);
}

QByteArray WideText::bytes() const
{
    QByteArray out;
    out.reserve(qsizetype(m_size));
    for (const ColoredText& run : m_runs)
        out.append(reinterpret_cast<const char*>(run.data), qsizetype(run.length));
    return out;
}

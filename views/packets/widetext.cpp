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

ColoredText::Colour WideText::colourOf(const CPacket& packet)
{
    if (m_reference == Reference::NotTaken) {
        m_reference = Reference::Host;
        m_referenceHost = packet.GetSrcIPAddr();
    }
    if (m_reference == Reference::Host) {
        if (packet.GetSrcIPAddr() == m_referenceHost)
            return ColoredText::Red;
        if (packet.GetDstIPAddr() == m_referenceHost)
            return ColoredText::Blue;
        m_reference = Reference::Emptied;
    }
    return ColoredText::Black;
}

void WideText::showLive(const Connection& connection)
{
    clear();
    m_runs.reserve(connection.packets().size());
    m_starts.reserve(connection.packets().size());
    for (const PacketListItem& item : connection.packets()) {
        const CPacket& p = *item.packet();
        // Every packet takes part in the colouring, also one without payload.
        const ColoredText::Colour colour = colourOf(p);
        append(p.GetRealData(), p.payloadLength(), colour);
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

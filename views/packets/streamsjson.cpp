// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/streamsjson.h"

#include "capture/cpacket.h"
#include "views/packets/connection.h"
#include "views/packets/packetjson.h"

#include <algorithm>
#include <memory>

namespace streamsjson {
namespace {
// Gathers the line in one small buffer and hands each full buffer to the sink.
class ChunkWriter {
public:
    explicit ChunkWriter(const Sink& sink) : m_sink(sink) {}
    void text(const QByteArray& text)
    {
        for (qsizetype done = 0; done < text.size();) {
            const qsizetype n = std::min(text.size() - done, chunkBytes - m_used);
            std::copy_n(text.constData() + done, n, m_buffer + m_used);
            m_used += n;
            done += n;
            flushIfFull();
        }
    }
    void hex(const unsigned char* data, std::uint32_t length)
    {
        static const char digits[] = "0123456789abcdef";
        while (length > 0) {
            const std::uint32_t n = std::min<std::uint32_t>(length, std::uint32_t((chunkBytes - m_used) / 2));
            char* to = m_buffer + m_used;
            for (std::uint32_t i = 0; i < n; ++i) {
                *to++ = digits[data[i] >> 4];
                *to++ = digits[data[i] & 0x0f];
            }
            m_used += 2 * qsizetype(n);
            data += n;
            length -= n;
            flushIfFull();
        }
    }
    void runs(const std::vector<ByteRun>& runs)
    {
        text("\"");
        for (const ByteRun& run : runs)
            hex(run.data, run.length);
        text("\"");
    }
    void flush()
    {
        if (m_used > 0)
            m_sink(m_buffer, m_used);
        m_used = 0;
    }

private:
    void flushIfFull()
    {
        if (m_used + 1 >= chunkBytes)  // a byte's two digits no longer fit
            flush();
    }
    const Sink& m_sink;
    char m_buffer[chunkBytes];
    qsizetype m_used = 0;
};
}  // namespace

void write(Connection& connection, const Sink& sink)
{
    connection.SortLstPackets();
    auto out = std::make_unique<ChunkWriter>(sink);
    out->text("{\"ep1\":" + packetjson::quoted(connection.EndPoint1()) + ",\"ep2\":" +
              packetjson::quoted(connection.EndPoint2()) +
              ",\"packets\":" + QByteArray::number(qulonglong(connection.packets().size())) + ",\"live\":\"");
    for (const PacketListItem& item : connection.packets())
        out->hex(item.packet()->GetRealData(), item.packet()->payloadLength());
    out->text("\",\"forward\":");
    out->runs(connection.reassembled(true));
    out->text(",\"backward\":");
    out->runs(connection.reassembled(false));
    out->text("}");
    out->flush();
}

QByteArray line(Connection& connection)
{
    QByteArray whole;
    write(connection, [&](const char* data, qsizetype length) { whole.append(data, length); });
    return whole;
}

}  // namespace streamsjson

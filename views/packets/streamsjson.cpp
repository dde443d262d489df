#include "views/packets/streamsjson.h"

#include "capture/cpacket.h"
#include "views/packets/connection.h"
#include "views/packets/packetjson.h"

namespace streamsjson {
namespace {
void appendHex(QByteArray& out, const unsigned char* data, std::uint32_t length)
{
    static const char digits[] = "0123456789abcdef";
    for (std::uint32_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0f];
    }
}

void appendRuns(QByteArray& out, const std::vector<ByteRun>& runs)
{
    out += '"';
    for (const ByteRun& run : runs)
        appendHex(out, run.data, run.length);
    out += '"';
}
}  // namespace

QByteArray line(Connection& connection)
{
    connection.SortLstPackets();
    QByteArray out = "{\"ep1\":" + packetjson::quoted(connection.EndPoint1()) +
                     ",\"ep2\":" + packetjson::quoted(connection.EndPoint2()) +
                     ",\"packets\":" + QByteArray::number(qulonglong(connection.packets().size())) + ",\"live\":\"";
    for (const PacketListItem& item : connection.packets())
        appendHex(out, item.packet()->GetRealData(), item.packet()->payloadLength());
    out += "\",\"forward\":";
    appendRuns(out, connection.reassembled(true));
    out += ",\"backward\":";
    appendRuns(out, connection.reassembled(false));
    out += '}';
    return out;
}

}  // namespace streamsjson

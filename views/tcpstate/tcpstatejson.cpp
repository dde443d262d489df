// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/tcpstate/tcpstatejson.h"

#include "views/tcpstate/tcpstatetracker.h"

namespace tcpstatejson {

namespace {
void append(QByteArray& list, bool set, const char* item, const char* separator)
{
    if (!set)
        return;
    if (!list.isEmpty())
        list += separator;
    list += item;
}
}  // namespace

QByteArray flagsText(const TcpPacketFlags& f)
{
    QByteArray text;
    append(text, f.syn, "SYN", ",");
    append(text, f.ack, "ACK", ",");
    append(text, f.psh, "PSH", ",");
    append(text, f.rst, "RST", ",");
    append(text, f.fin, "FIN", ",");
    append(text, f.urg, "URG", ",");
    return text;
}

QByteArray line(std::int64_t number, const TcpStateTracker& tracker)
{
    const TcpStickyFlags& s = tracker.sticky();
    QByteArray sticky;
    append(sticky, s.rstSeen, "\"RST seen\"", ",");
    append(sticky, s.simultaneousOpen, "\"simultaneous open\"", ",");
    append(sticky, s.simultaneousClose, "\"simultaneous close\"", ",");
    append(sticky, s.finAckClose, "\"FIN-ACK close\"", ",");
    append(sticky, s.serverClosedFirst, "\"server closed first\"", ",");
    return "{\"no\":" + QByteArray::number(number) + ",\"step\":" + QByteArray::number(tracker.step()) +
           ",\"flags\":\"" + flagsText(tracker.packetFlags()) + "\",\"sticky\":[" + sticky + "]}";
}

}  // namespace tcpstatejson

// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/timeline/timelinejson.h"

#include "views/packets/packetjson.h"
#include "views/timeline/timelinemodel.h"

#include <charconv>

namespace timelinejson {

QByteArray line(const theTimeLines& r, const QString& from, const QString& to)
{
    char angle[32];
    const auto written = std::to_chars(angle, angle + sizeof angle, r.angle);
    const auto number = [](auto v) { return QByteArray::number(v); };
    const auto boolean = [](bool b) { return QByteArray(b ? "true" : "false"); };
    QByteArray out = "{\"no\":" + number(r.number) + ",\"from\":" + packetjson::quoted(from) +
                     ",\"to\":" + packetjson::quoted(to) + ",\"x1\":" + number(r.x1) + ",\"y1\":" + number(r.y1) +
                     ",\"x2\":" + number(r.x2) + ",\"y2\":" + number(r.y2) + ",\"angle\":" +
                     QByteArray(angle, int(written.ptr - angle)) + ",\"tcp\":" + boolean(r.tcp) +
                     ",\"v1\":" + number(r.value1);
    if (r.tcp)
        out += ",\"v2\":" + number(r.value2);
    out += ",\"bytes\":" + number(r.payloadSize);
    if (r.tcp)
        out += ",\"syn\":" + boolean(r.syn) + ",\"fin\":" + boolean(r.fin);
    out += '}';
    return out;
}

}  // namespace timelinejson

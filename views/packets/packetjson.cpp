// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/packets/packetjson.h"

#include "views/packets/packet.h"

#include <cstdio>

namespace packetjson {

QByteArray quoted(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

namespace {
void appendFolder(QByteArray& out, const ItemFolder& f)
{
    out += "{\"name\":" + quoted(f.folderName()) + ",\"pos\":" + QByteArray::number(f.pos()) +
           ",\"len\":" + QByteArray::number(f.length()) + ",\"children\":[";
    bool first = true;
    for (const auto& child : f.children()) {
        if (!first)
            out += ',';
        first = false;
        appendFolder(out, *child);
    }
    out += "]}";
}
}  // namespace

QByteArray line(const Packet& p, bool withTree)
{
    QByteArray out;
    out.reserve(p.text().size() + p.data().size() + 256);
    out += "{\"no\":" + quoted(p.No()) + ",\"time\":" + quoted(p.time()) + ",\"src\":" + quoted(p.SourceIP()) +
           ",\"dst\":" + quoted(p.DestIP()) + ",\"protocol\":" + quoted(p.protocol()) +
           ",\"info\":" + quoted(p.info()) + ",\"hex\":" + quoted(p.text()) + ",\"data\":" + quoted(p.data());
    if (withTree) {
        out += ",\"tree\":[";
        bool first = true;
        for (const auto& f : p.folders()) {
            if (!first)
                out += ',';
            first = false;
            appendFolder(out, *f);
        }
        out += ']';
    }
    out += '}';
    return out;
}

}  // namespace packetjson

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One decoded packet as a line of JSON, for nukdump: keys no, time, src, dst,
// protocol, info, hex, data in that order, and with the tree the top-level folders
// as {"name","pos","len","children":[...]}.

#include <QByteArray>
#include <QString>

class Packet;

namespace packetjson {
// `text` as a JSON string literal, quotes included.
QByteArray quoted(const QString& text);
QByteArray line(const Packet& packet, bool withTree);
}  // namespace packetjson

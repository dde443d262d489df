// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One connection as a line of JSON, for nukdump --streams:
// {"ep1":"…","ep2":"…","packets":N,"live":"…","forward":"…","backward":"…"}
// with the end point texts, the number of packets, every packet's payload in
// arrival order, and end point 1's direction and the other one reassembled, all
// as lower-case hex ("forward" and "backward" empty without TCP).

#include <QByteArray>

#include <functional>

class Connection;

namespace streamsjson {
// Receives the line piece by piece, each at most `chunkBytes` long.
using Sink = std::function<void(const char* data, qsizetype length)>;
constexpr qsizetype chunkBytes = 64 * 1024;

// Sorts the connection's packets that are not yet in its direction lists first.
// A download's line runs to gigabytes, so it is written out in pieces (no newline).
void write(Connection& connection, const Sink& sink);
// The same line whole.
QByteArray line(Connection& connection);
}  // namespace streamsjson

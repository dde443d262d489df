#pragma once
// One connection as a line of JSON, for nukdump --streams:
// {"ep1":"…","ep2":"…","packets":N,"live":"…","forward":"…","backward":"…"}
// with the end point texts, the number of packets, every packet's payload in
// arrival order, and end point 1's direction and the other one reassembled, all
// as lower-case hex ("forward" and "backward" empty without TCP).

#include <QByteArray>

class Connection;

namespace streamsjson {
// Sorts the connection's packets that are not yet in its direction lists first.
QByteArray line(Connection& connection);
}  // namespace streamsjson

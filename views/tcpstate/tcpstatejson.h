// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The tracker's position after a packet as one line of JSON, for nukdump:
//   {"no":N,"step":S,"flags":"SYN,ACK","sticky":["server closed first"]}
// Flags in the order SYN, ACK, PSH, RST, FIN, URG; sticky flags in the order
// "RST seen", "simultaneous open", "simultaneous close", "FIN-ACK close",
// "server closed first".

#include <QByteArray>

#include <cstdint>

struct TcpPacketFlags;
class TcpStateTracker;

namespace tcpstatejson {
// "SYN,ACK"; empty for none.
QByteArray flagsText(const TcpPacketFlags& flags);
QByteArray line(std::int64_t number, const TcpStateTracker& tracker);
}  // namespace tcpstatejson

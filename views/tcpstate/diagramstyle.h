// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Which colour each state box and each transition of the TCP state diagram gets for
// a step code and the sticky flags: the drawing's rules as data, apart from painting.
//
// Taken client transitions are dark green, server ones orange. In the closing phase
// "closer" means the family of the end that sent the first FIN (the server's when it
// closed first) and "peer" the other one.

#include "views/tcpstate/tcpstatetracker.h"

namespace tcpdiagram {

// The state boxes in drawing order.
enum Box { Closed, Listen, SynSent, SynRcvd, Established, CloseWait, LastAck, FinWait1, Closing, FinWait2, TimeWait, BoxCount };

enum class Shade { Unvisited, CommonCurrent, CommonPassed, ServerCurrent, ServerPassed, ClientCurrent, ClientPassed };
enum class Ink { Black, Client, Server, Reset };

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb rgb(Shade shade);
Rgb rgb(Ink ink);

Shade boxShade(Box box, int step, const TcpStickyFlags& sticky);
// `transition` counts from 1 to kTransitionCount in drawing order.
constexpr int kTransitionCount = 18;
Ink transitionInk(int transition, int step, const TcpStickyFlags& sticky);

}  // namespace tcpdiagram

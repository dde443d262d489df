// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Where a link and its packets are drawn, as integer points: the line between the
// two node circles, clipped at their rims and ordered left to right, the band around
// it, the trail of each direction and the notch of each packet in flight.
//
// The sender's end of a packet is end 1 (the left end) when the packet comes from the
// left node, else end 2; so the two links between the same two nodes share one line
// and each direction keeps to its own side of it.

#include "capture/ipaddress.h"

#include <QPoint>

#include <array>
#include <cstdint>

class CLink;
class CNode;

struct LinkGeometry {
    bool drawn = false;  // both ends set, distinct centres and a clipped line of some length
    const CNode* left = nullptr;
    const CNode* right = nullptr;
    float zoom = 1.0f;  // the smaller of the two ends' zoom
    int penWidth = 1;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // the clipped line, end 1 left
    int len = 0;
    int ox = 0, oy = 0;  // perpendicular of the band's half-width
    float k = 0.0f;      // how far a notch's tip runs ahead of its packet
    std::array<QPoint, 4> band{};

    // Where a packet of age `age` is on a link crossed in `travel` ms. A travel time
    // of 0 (pace 0) puts it at its journey's end instead of dividing by zero.
    QPoint position(bool rightward, qint64 age, qint64 travel) const;
    // The strip from the sender's end to the oldest packet of one direction.
    std::array<QPoint, 4> trail(bool rightward, qint64 oldestAge, qint64 travel) const;
    // The notch cut into the trail ahead of one packet.
    std::array<QPoint, 3> notch(bool rightward, qint64 age, qint64 travel) const;
};

// The geometry of `link` from its ends' positions and zoom.
LinkGeometry linkGeometry(const CLink& link);

// True when a packet from `source` travels from end 1 to end 2.
bool travelsRightward(const LinkGeometry& g, const IpAddress& source);

// Bar lengths of a node's sent/received chart, the longer one `full` long.
struct Bars {
    int sent = 0, received = 0;
};
Bars barLengths(int nSent, int nReceived, int full);

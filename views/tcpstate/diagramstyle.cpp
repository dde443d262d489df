// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/tcpstate/diagramstyle.h"

namespace tcpdiagram {

namespace {

bool within(int s, int low, int high) { return s >= low && s <= high; }
bool oneOf(int s, std::initializer_list<int> steps)
{
    for (int x : steps)
        if (x == s)
            return true;
    return false;
}

// Step 17 (after Reset) is drawn like step 0.
bool started(int s) { return s != 0 && s != 17; }
bool closing(int s) { return within(s, 11, 16); }

struct Families {
    Shade closerCurrent, closerPassed, peerCurrent, peerPassed;
    Ink closer, peer;
};

Families families(const TcpStickyFlags& f)
{
    if (f.serverClosedFirst)
        return {Shade::ServerCurrent, Shade::ServerPassed, Shade::ClientCurrent, Shade::ClientPassed, Ink::Server, Ink::Client};
    return {Shade::ClientCurrent, Shade::ClientPassed, Shade::ServerCurrent, Shade::ServerPassed, Ink::Client, Ink::Server};
}

}  // namespace

Rgb rgb(Shade shade)
{
    switch (shade) {
    case Shade::Unvisited: return {210, 210, 210};
    case Shade::CommonCurrent: return {221, 255, 0};
    case Shade::CommonPassed: return {221, 255, 142};
    case Shade::ServerCurrent: return {255, 255, 0};
    case Shade::ServerPassed: return {255, 249, 177};
    case Shade::ClientCurrent: return {0, 255, 0};
    case Shade::ClientPassed: return {196, 255, 191};
    }
    return {210, 210, 210};
}

Rgb rgb(Ink ink)
{
    switch (ink) {
    case Ink::Black: return {0, 0, 0};
    case Ink::Client: return {5, 155, 0};
    case Ink::Server: return {255, 123, 41};
    case Ink::Reset: return {255, 249, 177};
    }
    return {0, 0, 0};
}

Shade boxShade(Box box, int s, const TcpStickyFlags& f)
{
    const Families fam = families(f);
    const bool F = f.finAckClose, S = f.simultaneousClose;
    switch (box) {
    case Closed:
        return started(s) ? Shade::CommonPassed : Shade::CommonCurrent;
    case Listen:
        if (s == 1 || s == 3)
            return Shade::ServerCurrent;
        if (oneOf(s, {2, 4, 5}) || closing(s))
            return Shade::ServerPassed;
        break;
    case SynSent:
        if (within(s, 1, 3))
            return Shade::ClientCurrent;
        if (s == 4 || s == 5 || closing(s))
            return Shade::ClientPassed;
        break;
    case SynRcvd:
        if (s == 2)
            return Shade::ServerCurrent;
        if (within(s, 3, 5) || closing(s))
            return Shade::ServerPassed;
        break;
    case Established:
        if (s == 5)
            return Shade::CommonCurrent;
        if (closing(s))
            return Shade::CommonPassed;
        break;
    case CloseWait:
        if (s == 12 || s == 13)
            return F ? fam.peerPassed : fam.peerCurrent;
        if (s == 14)
            return fam.peerPassed;
        break;
    case LastAck:
        if (s == 13 || s == 14)
            return fam.peerCurrent;
        break;
    case FinWait1:
        if (s == 11)
            return fam.closerCurrent;
        if (within(s, 12, 14))
            return fam.closerPassed;
        if ((s == 15 || s == 16) && S)
            return Shade::CommonPassed;
        break;
    case Closing:
        if (s == 15 && S)
            return Shade::CommonCurrent;
        if (s == 16 && S)
            return Shade::CommonPassed;
        break;
    case FinWait2:
        if (s == 12 && !F)
            return fam.closerCurrent;
        if (s == 14 && !F && !S)
            return fam.closerPassed;
        break;
    case TimeWait:
        if (oneOf(s, {13, 14, 16}))
            return fam.closerCurrent;
        break;
    case BoxCount:
        break;
    }
    return Shade::Unvisited;
}

Ink transitionInk(int transition, int s, const TcpStickyFlags& f)
{
    const Families fam = families(f);
    const bool F = f.finAckClose, S = f.simultaneousClose;
    const bool on = [&] {
        switch (transition) {
        case 1: case 2: return started(s);
        case 3: return s >= 2 && started(s);
        case 4: return s == 3 && f.rstSeen;
        case 5: return s == 4 || f.simultaneousOpen;
        case 6: case 8: return s >= 5 && started(s);
        case 9: return oneOf(s, {12, 13, 14});
        case 10: return s == 13 || s == 14;
        case 11: return s >= 11 && started(s);
        case 12: return S && started(s);
        case 13: return s >= 14 && started(s) && !F && !S;
        case 14: return s >= 12 && started(s) && !F && !S;
        case 15: return s == 16 && S;
        case 16: return s >= 13 && started(s) && F && !S;
        default: return false;  // 7, 17, 18: always black
        }
    }();
    if (!on)
        return Ink::Black;
    switch (transition) {
    case 1: case 3: case 8: case 12: case 15: return Ink::Server;
    case 2: case 5: case 6: return Ink::Client;
    case 4: return Ink::Reset;
    case 9: case 10: return fam.peer;
    default: return fam.closer;  // 11, 13, 14, 16
    }
}

}  // namespace tcpdiagram

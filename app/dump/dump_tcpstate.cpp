// SPDX-License-Identifier: GPL-2.0-or-later
// nukdump --tcpstate: the TCP state diagram's tracker over the trace, one line after
// each packet of the followed connection.

#include "app/dump/dumpmode.h"

#include "capture/cpacket.h"
#include "views/tcpstate/tcpstatejson.h"
#include "views/tcpstate/tcpstatetracker.h"

namespace {

class TcpStateMode : public DumpMode {
public:
    bool packet(const CPacket* packet, std::int64_t number, DumpOutput& out) override
    {
        if (m_tracker.addPacket(*packet) != TcpStateTracker::Verdict::Member)
            return true;
        return out.line(tcpstatejson::line(number, m_tracker));
    }

private:
    TcpStateTracker m_tracker;
};

}  // namespace

std::unique_ptr<DumpMode> makeTcpStateMode() { return std::make_unique<TcpStateMode>(); }

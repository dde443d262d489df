// SPDX-License-Identifier: GPL-2.0-or-later
// nukdump --hosts: the machine distribution model over the trace, its nodes and
// links printed at the end.

#include "app/dump/dumpmode.h"
#include "views/topology/hostsjson.h"
#include "views/topology/topologymodel.h"

namespace {

class HostsMode : public DumpMode {
public:
    bool packet(const CPacket* packet, std::int64_t, DumpOutput&) override
    {
        m_model.AddPacket(packet, 0);
        return true;
    }
    bool finish(DumpOutput& out) override
    {
        for (const QByteArray& line : hostsjson::lines(m_model))
            if (!out.line(line))
                return false;
        return true;
    }

private:
    TopologyModel m_model{nullptr, false};  // counts only: no packets in flight to keep
};

}  // namespace

std::unique_ptr<DumpMode> makeHostsMode() { return std::make_unique<HostsMode>(); }

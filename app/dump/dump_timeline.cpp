// SPDX-License-Identifier: GPL-2.0-or-later
// nukdump --timeline: every packet through the time line's model, one record a line.
// No host filter here, so every packet makes a record.

#include "app/dump/dumpmode.h"
#include "capture/cpacket.h"
#include "views/timeline/timelinejson.h"
#include "views/timeline/timelinemodel.h"

#include <cstdio>

namespace {

class TimeLineMode : public DumpMode {
public:
    bool packet(const CPacket* packet, std::int64_t number, DumpOutput& out) override
    {
        (void)number;  // the model numbers the packets itself, the same way
        if (!m_model.myAdd(*packet)) {
            // Only a full time line leaves a packet out here: the dump ends, failed.
            std::fprintf(stderr, "nukdump: the time line is full after %d packets\n", m_model.packetCount());
            return false;
        }
        const theTimeLines r = m_model.record(m_model.recordCount() - 1);
        const auto label = [&](int x) { return m_model.line(TimeLineModel::lineIndex(x, m_model.lineSpacing())).getHost(); };
        return out.line(timelinejson::line(r, label(r.x1), label(r.x2)));
    }

private:
    TimeLineModel m_model;
};

}  // namespace

std::unique_ptr<DumpMode> makeTimeLineDumpMode() { return std::make_unique<TimeLineMode>(); }

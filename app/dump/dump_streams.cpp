// SPDX-License-Identifier: GPL-2.0-or-later
// --streams: every packet filed into connections as a connection view files it;
// at the end one line per connection, in creation order.

#include "app/dump/dumpmode.h"
#include "views/packets/connectiontable.h"
#include "views/packets/streamsjson.h"

namespace {

class StreamsMode : public DumpMode {
public:
    bool keepsPackets() const override { return true; }
    bool packet(const CPacket* packet, std::int64_t, DumpOutput&) override
    {
        m_table.file(packet);
        return true;
    }
    bool finish(DumpOutput& out) override
    {
        for (const auto& connection : m_table.connections()) {
            streamsjson::write(*connection, [&](const char* data, qsizetype length) { out.part(data, std::size_t(length)); });
            if (!out.endLine())
                return false;
        }
        return true;
    }

private:
    ConnectionTable m_table;
};

}  // namespace

std::unique_ptr<DumpMode> makeStreamsDumpMode() { return std::make_unique<StreamsMode>(); }

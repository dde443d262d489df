// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/dump/dumpmode.h"

#include "capture/cpacket.h"
#include "views/packets/packet.h"
#include "views/packets/packetjson.h"

#include <cerrno>
#include <cstdio>

bool DumpOutput::line(const QByteArray& json)
{
    return part(json.constData(), std::size_t(json.size())) && endLine();
}

bool DumpOutput::part(const char* data, std::size_t length)
{
    if (m_error)
        return false;
    if (std::fwrite(data, 1, length, stdout) != length) {
        m_error = errno ? errno : EIO;
        return false;
    }
    return true;
}

bool DumpOutput::endLine()
{
    if (m_error)
        return false;
    if (std::fputc('\n', stdout) == EOF) {
        m_error = errno ? errno : EIO;
        return false;
    }
    return true;
}

bool DumpOutput::flush()
{
    if (!m_error && std::fflush(stdout) != 0)
        m_error = errno ? errno : EIO;
    return !m_error;
}

// Modes of the views, each in a file of its own.
std::unique_ptr<DumpMode> makeHostsMode();

namespace {

// The packet list: each packet decoded as the Packet List View decodes it.
class PacketListMode : public DumpMode {
public:
    explicit PacketListMode(bool tree) : m_tree(tree) {}
    bool packet(const CPacket* packet, std::int64_t number, DumpOutput& out) override
    {
        if (number == 1)
            m_base = BaseTime{packet->GetTimeStamp()[0], packet->GetTimeStamp()[1]};
        return out.line(packetjson::line(Packet(*packet, number, m_base), m_tree));
    }

private:
    bool m_tree;
    BaseTime m_base;
};

}  // namespace

// Modes in files of their own (app/dump/dump_<name>.cpp).
std::unique_ptr<DumpMode> makeStreamsDumpMode();
std::unique_ptr<DumpMode> makeTimeLineDumpMode();
std::unique_ptr<DumpMode> makeTcpStateMode();

namespace {

struct ModeEntry {
    const char* flag;
    std::unique_ptr<DumpMode> (*make)();
    const char* help;  // one line for --help
};

// One row a mode; a view's mode lives beside the view's model.
const ModeEntry kModes[] = {
    {"", [] { return std::unique_ptr<DumpMode>(new PacketListMode(false)); },
     "each packet as the packet list decodes it"},
    {"--tree", [] { return std::unique_ptr<DumpMode>(new PacketListMode(true)); },
     "each packet with its field tree"},
    {"--streams", makeStreamsDumpMode, "each conversation, its payload live and reassembled"},
    {"--timeline", makeTimeLineDumpMode, "each packet's arrow in the time line"},
    {"--tcpstate", makeTcpStateMode, "the TCP states of the first new connection, a line a packet"},
    {"--hosts", makeHostsMode, "the hosts and links of the machine distribution map"},
};

}  // namespace

std::unique_ptr<DumpMode> makeDumpMode(const std::string& flag)
{
    for (const ModeEntry& m : kModes) {
        if (flag == m.flag)
            return m.make();
    }
    return nullptr;
}

std::string dumpModeFlags()
{
    std::string flags;
    for (const ModeEntry& m : kModes) {
        if (*m.flag)
            flags += std::string(flags.empty() ? "[" : " | ") + m.flag;
    }
    return flags.empty() ? flags : flags + "]";
}

std::string dumpModeHelp()
{
    std::string text;
    for (const ModeEntry& m : kModes) {
        const std::string flag = *m.flag ? m.flag : "(none)";
        text += "  " + flag + std::string(flag.size() < 17 ? 17 - flag.size() : 1, ' ') + m.help + "\n";
    }
    return text;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One way of printing a replayed trace. nukdump's driver replays the trace through
// the capture helper and hands every delivered packet to the chosen mode, which
// prints JSON lines through a DumpOutput.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CPacket;

// Standard output, one JSON object a line. Once a write fails every later call
// returns false and the driver ends the dump.
class DumpOutput {
public:
    bool line(const QByteArray& json);
    // A piece of a line too long to build whole; end it with endLine().
    bool part(const char* data, std::size_t length);
    bool endLine();
    bool flush();
    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }

private:
    int m_error = 0;
};

class DumpMode {
public:
    virtual ~DumpMode() = default;
    // True when the mode keeps pointers to the packets it is given: the driver then
    // owns every packet until the dump ends, as the capture controller does for views.
    virtual bool keepsPackets() const { return false; }
    // Every delivered packet in arrival order, numbered from 1. False ends the dump.
    virtual bool packet(const CPacket* packet, std::int64_t number, DumpOutput& out) = 0;
    // After the last packet. False when the output failed.
    virtual bool finish(DumpOutput& out) { (void)out; return true; }
};

// The mode selected by a command-line flag ("" for the plain packet list), or null
// for a flag that names no mode.
std::unique_ptr<DumpMode> makeDumpMode(const std::string& flag);
// The mode flags, for the usage line: "[--tree | --streams | ...]".
std::string dumpModeFlags();
// One line a mode, for --help.
std::string dumpModeHelp();

#pragma once
// A pcap trace file with Ethernet link type, written through libpcap's dumper on
// a descriptor we opened ourselves (owner-only, never through a link).

#include "helpers/framerecord.h"

#include <pcap/pcap.h>
#include <string>

class TraceFileWriter {
public:
    TraceFileWriter() = default;
    ~TraceFileWriter();
    TraceFileWriter(const TraceFileWriter&) = delete;
    TraceFileWriter& operator=(const TraceFileWriter&) = delete;

    // Creates or truncates `path`. On failure `error` says why.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_dumper != nullptr; }
    void write(const timeval& ts, const EthernetFrame& frame);
    // Flushes when something was written since the last flush.
    void flush();
    void close();

private:
    pcap_t* m_dead = nullptr;
    pcap_dumper_t* m_dumper = nullptr;
    bool m_dirty = false;
};

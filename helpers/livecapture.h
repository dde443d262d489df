// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Live capture: how a device's ring is set up so that it keeps up with a busy
// interface, and the kernel's counters of what it captured and lost.
//
// Ring: the block ring (TPACKET_V3, no immediate mode) packs small packets
// densely and hands them over in blocks; a block is handed over at the latest
// after kRingTimeoutMs, so a lone packet still arrives within a fraction of a
// second. The buffer defaults to kDefaultBufferMb MiB; NUK_BUFFER_MB (1 to 1024)
// sets another size, NUK_IMMEDIATE=1 asks for immediate mode instead (each packet
// at once, in a frame ring that holds far fewer packets of the same buffer).
//
// Statistics, one line on standard error, for all devices together:
//   "pcap: C packets captured, R received by the filter, D dropped by the kernel, I dropped by the interface"
// C frames taken from the rings, R the kernel's count of frames that passed the
// filter (dropped ones included), D of those lost because the ring was full, I
// lost by the interface before the capture saw them. With more than one device,
// each that lost frames also gets a line of its own, "pcap: <device>: ...", first.
// The line is written at the end of every live capture and, with NUK_PROGRESS
// set (the GUI's launcher sets it), about twice a second while the counts change.

#include <pcap/pcap.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace livecapture {

constexpr int kDefaultBufferMb = 32;
constexpr int kRingTimeoutMs = 20;
// How long the helper waits for packets before it reads the rings anyway.
constexpr int kWaitMs = kRingTimeoutMs;

// Records the reader has not taken yet wait in the helper, up to this much, so that
// the kernel's ring is emptied at once while the views catch up with a burst: about
// a million small packets. Beyond it the helper waits for the reader, and the
// ring, then the kernel's drop count, takes the rest.
constexpr int kDefaultSpoolMb = 256;

struct Settings {
    int bufferMb = kDefaultBufferMb;
    bool immediate = false;
    int spoolMb = kDefaultSpoolMb;
};

// From NUK_BUFFER_MB, NUK_IMMEDIATE and NUK_SPOOL_MB (0: no spool); a value out of
// range keeps the default and is named in `warning`.
Settings settingsFromEnvironment(std::string& warning);

// Applies `settings` to a created, not yet activated handle.
void configure(pcap_t* handle, const Settings& settings);

// The loopback device shows the kernel every packet twice, going out and coming
// in; libpcap skips the outgoing copy only after it has taken room in the ring and
// been counted. The helper sets the filter `text` with libpcap as usual, then puts
// `program` (compiled from incomingOnly(text)) in the kernel in its place. libpcap
// keeps the filter it was given for the packets it checks itself (those of the
// ring's first block): it cannot tell their direction and would reject every one.
// False, with a line on standard error, when the kernel keeps both copies.
std::string incomingOnly(const std::string& text);
bool keepIncomingOnly(pcap_t* handle, const bpf_program& program);

struct Counts {
    unsigned long long captured = 0;
    unsigned long long received = 0;
    unsigned long long kernelDrops = 0;
    unsigned long long interfaceDrops = 0;

    Counts& operator+=(const Counts& o);
    bool operator==(const Counts& o) const = default;
    bool lost() const { return kernelDrops || interfaceDrops; }
};

std::string statisticsLine(const Counts& counts, const std::string& device = {});

class Statistics {
public:
    static constexpr long long kEveryMs = 500;

    // The handle stays open as long as the statistics are read.
    void addDevice(const std::string& name, pcap_t* handle);
    void countCaptured(std::size_t device, int frames);
    // With NUK_PROGRESS: the line, when due and changed.
    void tick(long long nowMs);
    // The closing lines; reads the counters one last time.
    void reportFinal();
    Counts total();

private:
    struct Device {
        std::string name;
        pcap_t* handle;
        Counts counts;
        pcap_stat start{};  // what the kernel counted before the capture began
    };
    void readKernelCounters();

    std::vector<Device> m_devices;
    bool m_progress = std::getenv("NUK_PROGRESS") != nullptr;
    bool m_reported = false;
    Counts m_lastReported;
    long long m_next = 0;
};

// Writes the closing lines when it goes out of scope: every way out of a capture
// says what it captured and what was lost.
class ClosingReport {
public:
    explicit ClosingReport(Statistics& statistics) : m_statistics(statistics) {}
    ~ClosingReport() { m_statistics.reportFinal(); }
    ClosingReport(const ClosingReport&) = delete;
    ClosingReport& operator=(const ClosingReport&) = delete;

private:
    Statistics& m_statistics;
};

}  // namespace livecapture

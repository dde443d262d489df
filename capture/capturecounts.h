// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a live capture took from the kernel and what it lost, from the capture
// helper's statistics lines on its standard error:
//   "pcap: C packets captured, R received by the filter, D dropped by the kernel, I dropped by the interface"
// (C: frames taken from the capture rings; D: frames the kernel dropped because
// the ring was full; I: frames the interface dropped). Lines that name a device
// ("pcap: lo: ...") give one device's share of a total line that follows.

#include <cstdint>
#include <string_view>

class CaptureCounts {
public:
    // A new capture: nothing known until its helper's first line.
    void reset() { *this = CaptureCounts(); }
    // True when `line` is a statistics line (handled here), false for any other.
    bool take(std::string_view line);

    bool known() const { return m_known; }
    std::uint64_t captured() const { return m_captured; }
    std::uint64_t received() const { return m_received; }
    std::uint64_t kernelDrops() const { return m_kernelDrops; }
    std::uint64_t interfaceDrops() const { return m_interfaceDrops; }

private:
    bool m_known = false;
    std::uint64_t m_captured = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_kernelDrops = 0;
    std::uint64_t m_interfaceDrops = 0;
};

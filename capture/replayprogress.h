// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How far a replay has come, from the capture helper's progress lines on its
// standard error:
//   "pcap: replay progress R O S"  R records made when O bytes of the S-byte trace
//                                  had been read (S 0: size unknown)
//   "pcap: replay finished R"      all R records are in the pipe
// Records wait in the pipe and in the scheduler before they are delivered, so the
// share shown is that of the trace behind the records delivered, interpolated
// between the helper's reports.

#include <cstdint>
#include <string_view>
#include <vector>

class ReplayProgress {
public:
    // A new capture: nothing known until its helper's first report.
    void reset();
    // True when `line` is a progress line (handled here), false for any other line.
    // A line that does not parse or goes backwards changes nothing.
    bool take(std::string_view line);

    // A replay has reported (live captures never do).
    bool isReplay() const { return !m_points.empty(); }
    // Share (0 to 1) of the trace behind the first `delivered` records; -1 while
    // unknown (no report, or a trace without a size).
    double share(std::uint64_t delivered) const;
    // The helper has made its last record and all of them have been delivered.
    bool finished(std::uint64_t delivered) const { return m_done && delivered >= m_total; }

private:
    struct Point {
        std::uint64_t records;
        std::uint64_t offset;
    };
    void add(Point point);

    std::vector<Point> m_points;  // records and offsets both non-decreasing
    std::uint64_t m_size = 0;
    std::uint64_t m_total = 0;
    bool m_done = false;
};

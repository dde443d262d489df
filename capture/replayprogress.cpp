// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/replayprogress.h"

#include <algorithm>
#include <charconv>

namespace {
constexpr std::string_view kProgress = "pcap: replay progress ";
constexpr std::string_view kFinished = "pcap: replay finished ";

// Reads blank-separated decimal numbers; false unless exactly `count` are there.
bool numbers(std::string_view text, std::uint64_t* out, int count)
{
    for (int i = 0; i < count; ++i) {
        while (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out[i]);
        if (error != std::errc() || (end != text.data() + text.size() && *end != ' '))
            return false;
        text.remove_prefix(std::size_t(end - text.data()));
    }
    return text.find_first_not_of(' ') == std::string_view::npos;
}
}  // namespace

void ReplayProgress::reset()
{
    m_points.clear();
    m_size = m_total = 0;
    m_done = false;
}

bool ReplayProgress::take(std::string_view line)
{
    std::uint64_t n[3];
    if (line.substr(0, kProgress.size()) == kProgress) {
        // The first report is made before any record: one from an earlier helper,
        // arriving late, never starts a capture's progress.
        if (numbers(line.substr(kProgress.size()), n, 3) && !m_done && (!m_points.empty() || n[0] == 0)) {
            if (m_points.empty())
                m_size = n[2];
            add({n[0], n[1]});
        }
        return true;
    }
    if (line.substr(0, kFinished.size()) == kFinished) {
        if (numbers(line.substr(kFinished.size()), n, 1) && !m_points.empty() && !m_done &&
            n[0] >= m_points.back().records) {
            add({n[0], std::max(m_size, m_points.back().offset)});
            m_total = n[0];
            m_done = true;
        }
        return true;
    }
    return false;
}

void ReplayProgress::add(Point point)
{
    if (!m_points.empty() && (point.records < m_points.back().records || point.offset < m_points.back().offset))
        return;
    m_points.push_back(point);
}

double ReplayProgress::share(std::uint64_t delivered) const
{
    if (m_points.empty() || m_size == 0)
        return -1;
    if (finished(delivered))
        return 1;
    // The last report at or before `delivered`, and the one after it.
    const auto after = std::upper_bound(m_points.begin(), m_points.end(), delivered,
                                        [](std::uint64_t d, const Point& p) { return d < p.records; });
    double offset;
    if (after == m_points.begin()) {
        offset = 0;
    } else if (after == m_points.end()) {
        offset = double(m_points.back().offset);
    } else {
        const Point& a = *(after - 1);
        const Point& b = *after;
        offset = double(a.offset) + double(b.offset - a.offset) * double(delivered - a.records) /
                                        double(b.records - a.records);
    }
    return std::clamp(offset / double(m_size), 0.0, 1.0);
}

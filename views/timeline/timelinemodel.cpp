// SPDX-License-Identifier: GPL-2.0-or-later
#include "views/timeline/timelinemodel.h"

#include "capture/cpacket.h"
#include "capture/disposal.h"

#include <algorithm>
#include <cmath>

HostTimeLine::HostTimeLine(const QString& host, const QString& port)
    : m_text(host + QLatin1String("  <") + port + QLatin1String("> "))
{
}

static_assert(sizeof(theTimeLines) == 48, "a record stays a few dozen bytes");

namespace {
// Lines beyond this would put x past what an int holds.
constexpr int kMaxLines = (TimeLineModel::kMaxHeight - 100) / TimeLineModel::kWideLineSpacing - 1;
constexpr int kNoRoom = -2;
}  // namespace

TimeLineModel::TimeLineModel(int maxHeight) : m_maxHeight(maxHeight) {}

void TimeLineModel::myInitiate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
}

void TimeLineModel::clearLocked()
{
    m_pending = false;
    m_fixed = false;
    m_full = false;
    m_count = 0;
    m_fromIndex = 0;
    m_toIndex = 1;
    m_spacing = kLineSpacing;
    m_y = kFirstY;
    m_lines.clear();
    m_lineOfLabel.clear();
    m_endPoints.clear();
    m_endPointOfKey.clear();
    m_lineOf.clear();
    disposeInBackground(std::move(m_arrivals), std::move(m_drawn));
    m_arrivals.clear();
    m_drawn.clear();
    ++m_changes;
}

void TimeLineModel::setHostList(const std::vector<HostTimeLine>& list)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines = list;
    m_fixed = !list.empty();
    m_lineOfLabel.clear();
    for (int i = int(m_lines.size()) - 1; i >= 0; --i)
        m_lineOfLabel.insert(m_lines[std::size_t(i)].getHost(), i);
    // Without a filter the end points make their lines again in order of appearance.
    for (std::size_t e = 0; e < m_endPoints.size(); ++e)
        m_lineOf[e] = lineOfEndPoint(int(e));
    redrawLocked();
}

void TimeLineModel::redrawLocked()
{
    m_drawn.clear();
    for (std::size_t i = 0; i < m_arrivals.size(); ++i)
        addRecord(m_arrivals[i], int(i) + 1);
    m_pending = true;
    ++m_changes;
}

int TimeLineModel::lineSpacing() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_spacing;
}

std::vector<HostTimeLine> TimeLineModel::hostList() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fixed ? m_lines : std::vector<HostTimeLine>();
}

// An end point's line: the first line with its label; without a filter a new label
// gets a new line. -1 when the filter leaves the end point out.
int TimeLineModel::lineOfEndPoint(int endPoint)
{
    const HostTimeLine& line = m_endPoints[std::size_t(endPoint)];
    int index = m_lineOfLabel.value(line.getHost(), -1);
    if (index < 0 && !m_fixed) {
        index = int(m_lines.size());
        m_lines.push_back(line);
        m_lineOfLabel.insert(line.getHost(), index);
    }
    return index;
}

// One end point, found by its address and port once known, so that a packet costs
// two integer look-ups, not two label texts.
int TimeLineModel::endPointOf(const IpAddress& address, std::uint16_t port, bool source, const CPacket& packet)
{
    const EndPointKey key{address, port};
    const auto known = m_endPointOfKey.constFind(key);
    if (known != m_endPointOfKey.cend())
        return known.value();
    if (int(m_endPoints.size()) >= kMaxLines)
        return kNoRoom;
    char buffer[IpAddress::TextSize];
    const char* host = source ? packet.GetSrcIPAddr(1, buffer, sizeof buffer)
                              : packet.GetDstIPAddr(1, buffer, sizeof buffer);
    const int index = int(m_endPoints.size());
    m_endPoints.emplace_back(QString::fromLatin1(host), QString::number(port));
    m_endPointOfKey.insert(key, index);
    m_lineOf.push_back(lineOfEndPoint(index));
    if (address.isV6() && m_spacing != kWideLineSpacing) {
        // Wider lines for the longer labels; the arrows so far move with them.
        m_spacing = kWideLineSpacing;
        redrawLocked();
    }
    return index;
}

void TimeLineModel::setDrawIndex(int from, int to)
{
    m_fromIndex = from;
    m_toIndex = to;
}

double TimeLineModel::arrowAngle(int x1, int y1, int x2, int y2)
{
    double angle = std::atan2(double(y2 - y1), double(x2 - x1)) * 180 / 3.1415927;
    if (angle < 0)
        angle += 360;
    return angle - 90;
}

// The arrow of packet `number`, when the filter lets both its end points through.
void TimeLineModel::addRecord(const Arrival& a, int number)
{
    const int from = m_lineOf[std::size_t(a.from)], to = m_lineOf[std::size_t(a.to)];
    if (from < 0 || to < 0)
        return;  // filtered out: an empty step
    setDrawIndex(from, to);
    m_drawn.push_back(std::uint32_t(number - 1));
}

// The arrow of a drawn arrival, from its end points' lines as they are now (a change
// of the lines or their spacing redraws every arrow anyway).
theTimeLines TimeLineModel::recordOf(std::uint32_t arrival) const
{
    const Arrival& a = m_arrivals[arrival];
    theTimeLines r;
    r.x1 = lineX(m_lineOf[std::size_t(a.from)], m_spacing);
    r.y1 = yOf(arrival);
    r.x2 = lineX(m_lineOf[std::size_t(a.to)], m_spacing);
    r.y2 = r.y1 + kStep;
    r.angle = arrowAngle(r.x1, r.y1, r.x2, r.y2);
    r.number = int(arrival) + 1;
    r.tcp = a.tcp;
    r.payloadSize = a.payloadSize;
    r.value1 = a.value1;
    r.value2 = a.value2;
    r.syn = a.syn;
    r.fin = a.fin;
    r.capture = a.capture;
    return r;
}

bool TimeLineModel::myAdd(const CPacket& packet)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The contents' height (last y2 + 50) must stay an int.
    if (m_full || std::int64_t(m_y) + kStep + 50 > m_maxHeight) {
        m_full = true;
        return false;
    }
    const bool tcp = packet.isTcp();
    const std::uint16_t sourcePort = tcp ? packet.GetSrcPort() : packet.GetUDPSrcPort();
    const std::uint16_t destinationPort = tcp ? packet.GetDstPort() : packet.GetUDPDstPort();
    const int from = endPointOf(packet.sourceAddress(), sourcePort, true, packet);
    const int to = from == kNoRoom ? kNoRoom : endPointOf(packet.destAddress(), destinationPort, false, packet);
    if (to == kNoRoom) {
        m_full = true;
        return false;
    }
    Arrival a{from, to, 0, 0, std::int32_t(packet.payloadLength()), tcp, false, false, packet.captureNumber()};
    if (tcp) {
        a.value1 = packet.GetSequenceNo();
        a.value2 = packet.GetAcknowlegetNo();
        a.syn = packet.IsSYNset();
        a.fin = packet.IsFINset();
    } else {
        a.value1 = std::uint32_t(a.payloadSize + packet.ipHeaderBytes() + 22);
    }
    m_arrivals.push_back(a);
    ++m_count;
    m_y += kStep;
    const std::size_t records = m_drawn.size();
    addRecord(a, m_count);
    if (m_drawn.size() == records)
        return false;
    m_pending = true;
    ++m_changes;
    return true;
}

int TimeLineModel::packetCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

std::size_t TimeLineModel::recordCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drawn.size();
}

theTimeLines TimeLineModel::record(std::size_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_drawn.size() ? recordOf(m_drawn[index]) : theTimeLines();
}

std::vector<HostTimeLine> TimeLineModel::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

HostTimeLine TimeLineModel::line(int index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return index >= 0 && index < int(m_lines.size()) ? m_lines[std::size_t(index)] : HostTimeLine();
}

bool TimeLineModel::isFixed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fixed;
}

bool TimeLineModel::isFull() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_full;
}

QSize TimeLineModel::grow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int n = int(m_lines.size());
    if (n * m_spacing > m_contents.width() - 100)
        m_contents.setWidth(n * m_spacing + 100);
    const int bottom = m_drawn.empty() ? 0 : yOf(m_drawn.back()) + kStep;  // the last arrow's end
    if (!m_drawn.empty() && bottom >= m_contents.height() - 50)
        m_contents.setHeight(bottom + 50);
    return m_contents;
}

QSize TimeLineModel::contentsSize() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_contents;
}

std::vector<QString> TimeLineModel::labelsLocked(int first, int last) const
{
    std::vector<QString> labels;
    for (int i = std::max(0, first); i <= last && i < int(m_lines.size()); ++i)
        labels.push_back(m_lines[std::size_t(i)].getHost());
    return labels;
}

TimeLineFrame TimeLineModel::frame(int top, int bottom, int left, int right) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    TimeLineFrame f;
    f.contents = m_contents;
    const auto first = std::partition_point(m_drawn.begin(), m_drawn.end(),
                                            [top](std::uint32_t i) { return yOf(i) + kStep < top; });
    for (auto it = first; it != m_drawn.end() && yOf(*it) <= bottom; ++it)
        f.records.push_back(recordOf(*it));
    // Line i is at 50 + spacing i: the first whose x is not left of `left`.
    f.lineSpacing = m_spacing;
    f.firstLine = std::max(0, int((std::int64_t(left) - kFirstLineX + m_spacing - 1) / m_spacing));
    f.labels = labelsLocked(f.firstLine, int((std::int64_t(right) - kFirstLineX) / m_spacing));
    return f;
}

TimeLineFrame TimeLineModel::rangeFrame(int first, int last) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    TimeLineFrame f;
    // Packet number n is arrival n - 1.
    const auto begin = std::partition_point(m_drawn.begin(), m_drawn.end(),
                                            [first](std::uint32_t i) { return std::int64_t(i) + 1 < first; });
    const auto end = std::partition_point(begin, m_drawn.end(),
                                          [last](std::uint32_t i) { return std::int64_t(i) + 1 <= last; });
    for (auto it = begin; it != end; ++it)
        f.records.push_back(recordOf(*it));
    // Only the lines these arrows use, in the order of the drawing.
    std::vector<int> used;
    for (const theTimeLines& r : f.records) {
        used.push_back(lineIndex(r.x1, m_spacing));
        used.push_back(lineIndex(r.x2, m_spacing));
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    for (const int line : used)
        f.labels.push_back(m_lines[std::size_t(line)].getHost());
    const int spacing = m_spacing;
    const auto moved = [&used, spacing](int x) {
        return lineX(int(std::lower_bound(used.begin(), used.end(), lineIndex(x, spacing)) - used.begin()), spacing);
    };
    f.lineSpacing = spacing;
    const int width = int(used.size()) * spacing + 100;
    if (f.records.empty()) {
        f.contents = QSize(width, kFirstY + 50);
        return f;
    }
    const int shift = f.records.front().y1 - kFirstY;
    for (theTimeLines& r : f.records) {
        r.x1 = moved(r.x1);
        r.x2 = moved(r.x2);
        r.y1 -= shift;
        r.y2 -= shift;
        r.angle = arrowAngle(r.x1, r.y1, r.x2, r.y2);
    }
    f.contents = QSize(width, f.records.back().y2 + 50);
    return f;
}

std::ptrdiff_t TimeLineModel::recordOfPacket(std::uint32_t capture) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto at = std::partition_point(m_drawn.begin(), m_drawn.end(),
                                         [&](std::uint32_t i) { return m_arrivals[i].capture < capture; });
    return capture != 0 && at != m_drawn.end() && m_arrivals[*at].capture == capture ? at - m_drawn.begin() : -1;
}

std::uint32_t TimeLineModel::packetNear(QPoint at, int reach) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto first = std::partition_point(m_drawn.begin(), m_drawn.end(),
                                            [&](std::uint32_t i) { return yOf(i) + kStep < at.y() - reach; });
    std::uint32_t nearest = 0;
    double best = double(reach) * reach;
    for (auto drawn = first; drawn != m_drawn.end() && yOf(*drawn) <= at.y() + reach; ++drawn) {
        const theTimeLines r = recordOf(*drawn);
        // Squared distance from the point to the segment (x1, y1)-(x2, y2).
        const double dx = r.x2 - r.x1, dy = r.y2 - r.y1;
        const double length = dx * dx + dy * dy;
        const double t = length > 0 ? std::clamp(((at.x() - r.x1) * dx + (at.y() - r.y1) * dy) / length, 0.0, 1.0) : 0.0;
        const double ex = r.x1 + t * dx - at.x(), ey = r.y1 + t * dy - at.y();
        const double distance = ex * ex + ey * ey;
        if (distance <= best && r.capture != 0) {
            best = distance;
            nearest = r.capture;
        }
    }
    return nearest;
}

bool TimeLineModel::isPending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
}

std::uint64_t TimeLineModel::changeCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}

void TimeLineModel::fixView(std::uint64_t drawnChanges)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_changes == drawnChanges)
        m_pending = false;
}

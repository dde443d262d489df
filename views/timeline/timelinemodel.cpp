#include "views/timeline/timelinemodel.h"

#include "capture/cpacket.h"

#include <algorithm>
#include <cmath>

HostTimeLine::HostTimeLine(const QString& host, const QString& port)
    : m_text(host + QLatin1String("  <") + port + QLatin1String("> "))
{
}

static_assert(sizeof(theTimeLines) == 48, "a record stays a few dozen bytes");

namespace {
// Lines beyond this would put x past what an int holds.
constexpr int kMaxLines = (TimeLineModel::kMaxHeight - 100) / TimeLineModel::kLineSpacing - 1;
constexpr int kNoRoom = -2;

std::uint64_t endPointKey(std::uint32_t address, std::uint16_t port) { return (std::uint64_t(address) << 16) | port; }
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
    m_y = kFirstY;
    m_lines.clear();
    m_lineOfLabel.clear();
    m_lineOfEndPoint.clear();
    m_records.clear();
    m_records.shrink_to_fit();
    ++m_changes;
}

void TimeLineModel::setHostList(const std::vector<HostTimeLine>& list)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clearLocked();
    if (list.empty())
        return;
    m_lines = list;
    m_fixed = true;
    for (int i = int(m_lines.size()) - 1; i >= 0; --i)
        m_lineOfLabel.insert(m_lines[std::size_t(i)].getHost(), i);
}

// The line of one end point: found by its address and port once its label has been
// matched, so that a packet costs two integer look-ups, not two label texts. -1 when
// the host filter leaves the end point out.
int TimeLineModel::lineOf(std::uint32_t address, std::uint16_t port, bool source, const CPacket& packet)
{
    const std::uint64_t key = endPointKey(address, port);
    const auto known = m_lineOfEndPoint.constFind(key);
    if (known != m_lineOfEndPoint.cend())
        return known.value();
    char buffer[30];
    const char* host = source ? packet.GetSrcIPAddr(1, buffer, sizeof buffer)
                              : packet.GetDstIPAddr(1, buffer, sizeof buffer);
    const HostTimeLine line(QString::fromLatin1(host), QString::number(port));
    int index = m_lineOfLabel.value(line.getHost(), -1);
    if (index < 0 && !m_fixed) {
        if (int(m_lines.size()) >= kMaxLines)
            return kNoRoom;
        index = int(m_lines.size());
        m_lines.push_back(line);
        m_lineOfLabel.insert(line.getHost(), index);
    }
    m_lineOfEndPoint.insert(key, index);
    return index;
}

void TimeLineModel::setDrawIndex(int from, int to)
{
    m_fromIndex = from;
    m_toIndex = to;
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
    const int from = lineOf(packet.GetSrcIPAddr(), sourcePort, true, packet);
    const int to = from == kNoRoom ? kNoRoom : lineOf(packet.GetDstIPAddr(), destinationPort, false, packet);
    if (to == kNoRoom) {
        m_full = true;
        return false;
    }
    ++m_count;
    const int y = m_y;
    m_y += kStep;
    if (from < 0 || to < 0)
        return false;  // filtered out: an empty step
    setDrawIndex(from, to);
    m_pending = true;
    ++m_changes;

    theTimeLines r;
    r.x1 = lineX(m_fromIndex);
    r.y1 = y;
    r.x2 = lineX(m_toIndex);
    r.y2 = y + kStep;
    r.angle = std::atan2(double(r.y2 - r.y1), double(r.x2 - r.x1)) * 180 / 3.1415927;
    if (r.angle < 0)
        r.angle += 360;
    r.angle -= 90;
    r.number = m_count;
    r.tcp = tcp;
    r.payloadSize = int(packet.payloadLength());
    if (tcp) {
        r.value1 = packet.GetSequenceNo();
        r.value2 = packet.GetAcknowlegetNo();
        r.syn = packet.IsSYNset();
        r.fin = packet.IsFINset();
    } else {
        r.value1 = std::uint32_t(r.payloadSize + packet.GetIPHeaderLength() + 22);
    }
    m_records.push_back(r);
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
    return m_records.size();
}

theTimeLines TimeLineModel::record(std::size_t index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return index < m_records.size() ? m_records[index] : theTimeLines();
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
    if (n * kLineSpacing > m_contents.width() - 100)
        m_contents.setWidth(n * kLineSpacing + 100);
    if (!m_records.empty() && m_records.back().y2 >= m_contents.height() - 50)
        m_contents.setHeight(m_records.back().y2 + 50);
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
    const auto first = std::partition_point(m_records.begin(), m_records.end(),
                                            [top](const theTimeLines& r) { return r.y2 < top; });
    for (auto it = first; it != m_records.end() && it->y1 <= bottom; ++it)
        f.records.push_back(*it);
    // Line i is at 50 + 250 i: the first whose x is not left of `left`.
    f.firstLine = std::max(0, int((std::int64_t(left) - kFirstLineX + kLineSpacing - 1) / kLineSpacing));
    f.labels = labelsLocked(f.firstLine, int((std::int64_t(right) - kFirstLineX) / kLineSpacing));
    return f;
}

TimeLineFrame TimeLineModel::rangeFrame(int first, int last) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    TimeLineFrame f;
    const auto begin = std::partition_point(m_records.begin(), m_records.end(),
                                            [first](const theTimeLines& r) { return r.number < first; });
    const auto end = std::partition_point(begin, m_records.end(),
                                          [last](const theTimeLines& r) { return r.number <= last; });
    f.labels = labelsLocked(0, int(m_lines.size()) - 1);
    const int width = std::max(m_contents.width(), int(m_lines.size()) * kLineSpacing + 100);
    if (begin == end) {
        f.contents = QSize(width, kFirstY + 50);
        return f;
    }
    const int shift = begin->y1 - kFirstY;
    f.records.assign(begin, end);
    for (theTimeLines& r : f.records) {
        r.y1 -= shift;
        r.y2 -= shift;
    }
    f.contents = QSize(width, f.records.back().y2 + 50);
    return f;
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

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The time line's model: one vertical line per end point (host and port), one arrow
// record per packet, each packet one step further down, and an optional host filter
// that fixes the lines to a chosen list.
//
// myAdd runs on the capture controller's reader thread, everything else on the GUI
// thread; one mutex guards the whole model. Records are appended in y order, so the
// records of any band of the drawing are found by binary search, and a record is a
// fixed 48 bytes: a million packets draw as fast as a thousand.
//
// The model keeps what it needs of every packet it numbered (its two end points and
// its values), so the host filter is a view over them: a new filter redraws the
// packets already taken instead of losing them.

#include "capture/ipaddress.h"

#include <QHash>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class CPacket;

// One end point's line. Two lines are the same line when their labels are equal.
class HostTimeLine {
public:
    HostTimeLine() = default;
    // The label: host text, two blanks, "<", port, "> ".
    HostTimeLine(const QString& host, const QString& port);
    const QString& getHost() const { return m_text; }
    bool operator==(const HostTimeLine& other) const { return m_text == other.m_text; }

private:
    QString m_text;
};

// One packet's arrow.
struct theTimeLines {
    int x1 = 0, y1 = 0;  // start, on the sender's line
    int x2 = 0, y2 = 0;  // end, on the receiver's line
    double angle = 0;    // degrees, for the arrow head
    std::uint32_t value1 = 0;  // TCP sequence number; UDP: frame length
    std::uint32_t value2 = 0;  // TCP acknowledgement number
    int payloadSize = 0;
    int number = 0;
    bool syn = false, fin = false, tcp = false;
    std::uint32_t capture = 0;  // the packet's number in the capture, 0 when it has none
};

// What a painter needs of one band of the drawing, copied out under the lock.
struct TimeLineFrame {
    std::vector<theTimeLines> records;  // those reaching into the band, in order
    std::vector<QString> labels;        // lines firstLine, firstLine + 1, ...
    int firstLine = 0;
    int lineSpacing = 250;              // TimeLineModel::lineSpacing() when copied
    QSize contents;
};

class TimeLineModel {
public:
    static constexpr int kLineSpacing = 250;
    // Once an IPv6 end point has a line: a label with a 39-character address needs it.
    static constexpr int kWideLineSpacing = 420;
    static constexpr int kFirstLineX = 50;
    static constexpr int kFirstY = 60;
    static constexpr int kStep = 70;
    // Contents are never taller: the drawing's coordinates are ints.
    static constexpr int kMaxHeight = 2147483647;

    // `maxHeight` lower than kMaxHeight only for tests of a full time line.
    explicit TimeLineModel(int maxHeight = kMaxHeight);

    // Clears lines, records, counters and the host filter; the contents keep their size.
    void myInitiate();
    // Adds one packet (reader thread). True when it made a record; false for a packet
    // the host filter leaves out (a gap that still takes a number) or one that finds
    // the time line full (not numbered).
    bool myAdd(const CPacket& packet);
    // Fixes the lines to `list` in its order (an empty list: every end point) and
    // redraws the packets taken so far on them; numbers and steps stay.
    void setHostList(const std::vector<HostTimeLine>& list);
    // The list in force, empty when there is none.
    std::vector<HostTimeLine> hostList() const;

    // Line i's x, and the line at x, at a line spacing.
    static int lineX(int index, int spacing = kLineSpacing) { return kFirstLineX + spacing * index; }
    static int lineIndex(int x, int spacing = kLineSpacing) { return (x - kFirstLineX) / spacing; }
    // kLineSpacing, or kWideLineSpacing once an IPv6 end point came (until a clear).
    int lineSpacing() const;

    int packetCount() const;
    std::size_t recordCount() const;
    theTimeLines record(std::size_t index) const;
    std::vector<HostTimeLine> lines() const;
    HostTimeLine line(int index) const;  // an empty label for no such line
    bool isFixed() const;
    // No room below the last record: later packets are dropped until a clear.
    bool isFull() const;

    // Grows the contents to hold every line and the last record, as a drawing does,
    // and gives their size.
    QSize grow();
    QSize contentsSize() const;

    // The records whose arrows and texts may reach into rows top..bottom (the margin is
    // the caller's), and the labels of the lines that may reach into left..right.
    TimeLineFrame frame(int top, int bottom, int left, int right) const;
    // The whole drawing from packet number `first` to `last`, moved up so that the
    // first of them starts where a first record starts, on only the lines those
    // arrows use (in their order); the contents just hold them.
    TimeLineFrame rangeFrame(int first, int last) const;

    // The record of the packet numbered `capture` in the capture, -1 when none
    // (records are in capture order: a binary search).
    std::ptrdiff_t recordOfPacket(std::uint32_t capture) const;
    // The capture number of the arrow nearest the contents point `at`, if one passes
    // within `reach` pixels of it; else 0.
    std::uint32_t packetNear(QPoint at, int reach) const;

    // Repaint pacing. Adding sets the pending flag; a drawing notes the change count
    // it showed and clears the flag half a second later only if nothing came since.
    bool isPending() const;
    std::uint64_t changeCount() const;
    void fixView(std::uint64_t drawnChanges);

    // The arrow head's angle of an arrow, as drawn.
    static double arrowAngle(int x1, int y1, int x2, int y2);

private:
    // What a numbered packet leaves behind, drawn or not.
    struct Arrival {
        std::int32_t from, to;  // end points (indexes into m_endPoints)
        std::uint32_t value1, value2;
        std::int32_t payloadSize;
        bool tcp, syn, fin;
        std::uint32_t capture;
    };
    struct EndPointKey {
        IpAddress address;
        std::uint16_t port;
        bool operator==(const EndPointKey&) const = default;
        friend std::size_t qHash(const EndPointKey& k, std::size_t seed = 0) { return k.address.hash() ^ (k.port * 0x9e3779b9u) ^ seed; }
    };
    int endPointOf(const IpAddress& address, std::uint16_t port, bool source, const CPacket& packet);
    void redrawLocked();
    int lineOfEndPoint(int endPoint);
    void setDrawIndex(int from, int to);
    void clearLocked();
    void addRecord(const Arrival& arrival, int number);
    theTimeLines recordOf(std::uint32_t arrival) const;
    // The top of arrival i's arrow (packet number i + 1).
    static int yOf(std::uint32_t arrival) { return kFirstY + int(arrival) * kStep; }
    std::vector<QString> labelsLocked(int first, int last) const;

    mutable std::mutex m_mutex;
    const int m_maxHeight;
    std::vector<HostTimeLine> m_lines;
    QHash<QString, int> m_lineOfLabel;          // first line with the label
    std::vector<HostTimeLine> m_endPoints;      // every end point seen, in order of appearance
    QHash<EndPointKey, int> m_endPointOfKey;    // address:port -> end point
    std::vector<int> m_lineOf;                  // end point -> line, -1 when filtered out
    std::deque<Arrival> m_arrivals;             // one per numbered packet
    // The arrivals drawn (both end points on a line), by index: their arrows are
    // computed when asked for, so a record costs 4 bytes beside its arrival.
    std::deque<std::uint32_t> m_drawn;
    int m_y = kFirstY;
    int m_count = 0;
    int m_fromIndex = 0, m_toIndex = 1;
    int m_spacing = kLineSpacing;
    QSize m_contents{1000, 2000};
    bool m_fixed = false;
    bool m_full = false;
    bool m_pending = false;
    std::uint64_t m_changes = 0;
};

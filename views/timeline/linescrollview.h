// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The time line's drawing: a scroll area whose viewport paints only the exposed part
// of the contents, so that the contents may be far taller than a widget can be
// (70 pixels a packet) and a repaint costs the same at any record count.
//
// myAdd may run on the reader thread (the model has its own mutex); everything else
// runs on the GUI thread. Repaints follow the refresh ticks: myUpdate repaints while
// the model has a pending change, and a drawing lets the flag go 500 ms later.

#include "views/timeline/timelinemodel.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <memory>

class CPacket;
class QFontMetrics;
class QPainter;

// Where a record's texts start, right of the arrow's left end: a packet number of up
// to 8 digits stays clear of the names right of it.
struct TimeLineTextColumns {
    int number = 25;
    int tcpNames = 70, tcpValues = 150;
    int udpLength = 60, udpData = 70, udpValues = 150;
    static TimeLineTextColumns forFont(const QFontMetrics& metrics);
};

class LineScrollView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LineScrollView(QWidget* parent = nullptr, const char* name = nullptr);
    ~LineScrollView() override;

    void myInitiate();
    void myAdd(CPacket* packet);  // any thread
    void myUpdate();
    void setHostList(const std::vector<HostTimeLine>& list);

    TimeLineModel& model() { return *m_model; }
    // Contents coordinates of the viewport's top left corner.
    QPoint contentsOrigin() const;
    // The end point labels above the viewport's top; they do not scroll vertically.
    QWidget* header() const { return m_header; }
    static constexpr int kHeaderHeight = 30;
    // Whether the view keeps the newest arrow in sight (until the user scrolls away).
    bool isFollowing() const { return m_follow; }

    // The arrow drawn marked: the capture number of its packet, 0 for none.
    std::uint32_t markedPacket() const { return m_marked; }
    void markPacket(std::uint32_t capture);
    // Marks the arrow of the packet numbered `capture` and scrolls it into view; false
    // when there is no such arrow (cleared, locked, filtered out).
    bool showPacket(std::uint32_t capture);
    // How far from an arrow a click still picks it.
    static constexpr int kPickReach = 6;

    // Paints `frame` within `area` (contents coordinates) for a painter whose (0, 0)
    // is the contents point `origin`; the arrow of packet `marked` in the marking colour.
    static void drawView(QPainter* painter, const TimeLineFrame& frame, const QRect& area, QPoint origin,
                         std::uint32_t marked = 0);
    static const QColor kMarkedColour;
    static void drawArrowLine(QPainter* painter, int x1, int y1, int x2, int y2, int angle);

public slots:
    void fixView();

signals:
    // The user clicked on or near the arrow of the packet numbered `capture`.
    void arrowChosen(std::uint32_t capture);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void updateScrollBars(QSize contents);
    void followNewest();
    void userScrolled();
    void userScrolledSideways();
    int newestBottom() const;

    std::unique_ptr<TimeLineModel> m_model;
    QTimer m_fixTimer;
    std::uint64_t m_drawnChanges = 0;
    QSize m_scrollContents;  // what the scroll bars were last set for
    QWidget* m_header = nullptr;
    bool m_follow = true;
    bool m_followSideways = true;  // the user has not scrolled sideways while following
    bool m_scrolling = false;  // the view moves its scroll bars itself
    std::uint32_t m_marked = 0;
};

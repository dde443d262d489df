// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A scroll area whose contents are drawn by rows of text, painting only the part
// that is exposed. The contents may be taller than the toolkit's widget size
// limit: the scroll bars count pixels up to 2^31, and the painter is never moved
// by the scroll offset (glyph positions far from the origin lose precision), so a
// pane converts contents coordinates to viewport ones itself.

#include <QAbstractScrollArea>
#include <QFont>

class ContentsPane : public QAbstractScrollArea {
public:
    static constexpr int RowHeight = 15;

    ContentsPane(int width, qint64 height, QWidget* parent = nullptr);

    int contentsWidth() const { return m_width; }
    qint64 contentsHeight() const { return m_height; }
    // Contents coordinates of the viewport's top left corner.
    int scrollLeft() const;
    qint64 scrollTop() const;

    // "courier" in `points`, or the system's fixed-pitch face when courier is not.
    static QFont courier(int points);

protected:
    void setContentsSize(int width, qint64 height);
    // The height after rows up to `rowsStarted` were begun: from the row at
    // (height / 15) - 5 on, each new row adds one row height. It never shrinks.
    static qint64 grownHeight(qint64 height, qint64 rowsStarted);
    // The first and last row (counted from 1, baseline at 15 × row + `baseline0`)
    // that touch the contents rows [top, bottom], for `font`.
    static std::pair<qint64, qint64> rowsTouching(const QFont& font, qint64 top, qint64 bottom, int baseline0);

    // Paints the viewport rectangle `exposed`, whose contents coordinates are
    // exposed.translated(left, top).
    virtual void paintContents(QPainter& painter, const QRect& exposed, int left, qint64 top) = 0;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollBars();

    int m_width;
    qint64 m_height;
};

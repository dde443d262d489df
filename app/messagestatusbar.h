// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A status bar whose message is never cut off by the permanent widgets right of it:
// a message too long for the room left of them gets a band of its own above them,
// as wide as the bar, and wraps there onto up to kMaxLines lines. The whole text
// stays in the tool tip.

#include <QStatusBar>

class MessageStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 4;

    explicit MessageStatusBar(QWidget* parent = nullptr);

    // Where the message is drawn.
    QRect messageRect() const;
    // Lines the current message takes there (1 when there is none).
    int messageLines() const { return m_lines; }
    // Whether the message has the band above the permanent widgets.
    bool hasMessageBand() const { return m_band > 0; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int roomBesideWidgets() const;
    void fitMessage();

    int m_lines = 1;
    int m_band = 0;  // height of the message's own band, 0 while it fits beside the widgets
};

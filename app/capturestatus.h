// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's status bar beyond its messages: how many packets have been
// delivered, how many a live capture took from the kernel and lost there, how far
// a replay has come, and whether a pace or step mode holds the packets back. A message too long for the bar is shown in full as its tool tip.

#include <QObject>

struct CaptureProgress;
class QColor;
class QLabel;
class QProgressBar;
class QStatusBar;

class CaptureStatus : public QObject {
    Q_OBJECT
public:
    explicit CaptureStatus(QStatusBar* bar);

    void show(const CaptureProgress& progress);

    QLabel* countLabel() const { return m_count; }
    QLabel* lossLabel() const { return m_loss; }
    // The colour of a loss that is not 0.
    static QColor warningColor();
    QProgressBar* replayBar() const { return m_replay; }
    QLabel* modeLabel() const { return m_mode; }

private:
    void showMode(bool running);
    void showLoss(const CaptureProgress& progress);

    QLabel* m_count;
    QLabel* m_loss;
    QProgressBar* m_replay;
    QLabel* m_mode;
};

#pragma once
// The main window's status bar beyond its messages: how many packets have been
// delivered, how far a replay has come, and whether a pace or step mode holds the
// packets back. A message too long for the bar is shown in full as its tool tip.

#include <QObject>

struct CaptureProgress;
class QLabel;
class QProgressBar;
class QStatusBar;

class CaptureStatus : public QObject {
    Q_OBJECT
public:
    explicit CaptureStatus(QStatusBar* bar);

    void show(const CaptureProgress& progress);

    QLabel* countLabel() const { return m_count; }
    QProgressBar* replayBar() const { return m_replay; }
    QLabel* modeLabel() const { return m_mode; }

private:
    void showMode(bool running);

    QLabel* m_count;
    QProgressBar* m_replay;
    QLabel* m_mode;
};

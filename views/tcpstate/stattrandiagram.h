// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The TCP State Transition Diagram View: one TCP connection followed through the
// TCP state machine and shown on the textbook diagram.
//
// AddPacket runs on the capture controller's reader thread and only moves the
// tracker, under the view's mutex; the GUI thread repaints on the refresh ticks
// that find the tracker dirty, and each paint clears dirty 500 ms later.

#include "capture/timebasedview.h"
#include "views/tcpstate/tcpstatetracker.h"

#include <QMainWindow>

#include <cstdint>
#include <mutex>

class QAction;
class QLabel;
class QPainter;

class StatTranDiagram : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    enum MenuId { IdReset = 1, IdLock = 2, IdQuit = 3 };

    explicit StatTranDiagram(QWidget* parent = nullptr, const char* name = nullptr);
    ~StatTranDiagram() override;

    void InitiateView() override;
    void UpdateView() override;
    void AddPacket(CPacket* packet) override;  // reader thread
    bool DisplayFilterChanged(bool inForce) override;

    struct Snapshot {
        int step;
        TcpStickyFlags sticky;
        bool dirty;
        bool locked;
        QString connection;
        std::uint64_t packetsTaken;
    };
    Snapshot snapshot() const;

    // Resets and follows the connection of `packet`: first every packet of it
    // captured so far (the connection's first packet fixes it), then those to come.
    void follow(const CPacket& packet);

    // Paints the diagram as `state` has it, then clears dirty 500 ms later unless a
    // packet came after `state` was taken.
    void drawView(QPainter* painter, const Snapshot& state);

    QWidget* canvas() const { return m_canvas; }
    QLabel* connectionLabel() const { return m_connection; }
    QLabel* lockedLabel() const { return m_lockedLabel; }

public slots:
    void doMenuItem(int id);
    void exportAsImage();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initMenuBar();
    void initStatusBar();
    void fixView(std::uint64_t packetsTakenWhenPainted);
    void showStatus();

    QWidget* m_canvas = nullptr;
    QAction* m_lockAction = nullptr;
    QLabel* m_connection = nullptr;
    QLabel* m_lockedLabel = nullptr;

    // Shared with AddPacket on the reader thread.
    mutable std::mutex m_mutex;
    TcpStateTracker m_tracker;
    std::uint32_t m_followedUpTo = 0;  // capture number of the last packet follow() looked at
};

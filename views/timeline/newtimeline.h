// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The time line window: registers with the capture controller, hands packets and
// refresh ticks to its LineScrollView, and offers clear, lock, unlock, the host
// filter, export and exit.

#include "capture/timebasedview.h"

#include <QMainWindow>

#include <atomic>

class LineScrollView;
class QAction;
class QLabel;
class QToolBar;

class NewTimeLine : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    enum MenuId {
        IdLock = 1000000,
        IdFilter = 1000001,
        IdExit = 1000002,
        IdClear = 1000003,
        IdUnlock = 1000004,
        IdExport = 1000005,
    };
    // Above this many records "Export as Image..." asks for a range of packets first.
    static constexpr int kExportRangeAbove = 2000;

    explicit NewTimeLine(QWidget* parent = nullptr, const char* name = nullptr);
    ~NewTimeLine() override;

    void InitiateView() override;
    void UpdateView() override;
    void AddPacket(CPacket* packet) override;  // reader thread
    bool DisplayFilterChanged(bool inForce) override;

    LineScrollView* drawing() const { return m_pLineView; }
    bool isLocked() const { return m_bLocked.load(); }
    QLabel* lockedLabel() const { return m_pLockedLabel; }
    QAction* followEntry() const { return m_follow; }

public slots:
    void slotLockView();
    void slotUnlockView();
    void slotClearView();
    void slotSetFilter();
    void slotExportImage();
    void slotExit();
    // Marks the arrow of the program's current packet, if this view drew one.
    void showLinkedPacket(const CPacket* packet, const QObject* source);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initMenuBar();
    void initToolBar();
    void initStatusBar();
    void setLocked(bool locked);
    bool askExportRange(int records, int& first, int& last);

    LineScrollView* m_pLineView = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QMenu* m_pOperationMenu = nullptr;
    QLabel* m_pLockedLabel = nullptr;
    QLabel* m_pFullLabel = nullptr;
    QAction* m_follow = nullptr;
    std::atomic<bool> m_bLocked{false};
};

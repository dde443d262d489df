// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The machine distribution window: the canvas of hosts and links with packets moving
// along them, a menu bar, the "Operations" tool bar and a status bar, and beside it
// the "NodeInfo" window.
//
// AddPacket runs on the capture controller's reader thread: it stamps the packet with
// the time it arrived and hands it to the GUI thread through a HandoffQueue. The GUI
// thread applies the packets to the model in arrival order, in batches; when a batch
// created a node or a link, the layout runs once for the batch, and during a burst of
// new hosts at most once per kLayoutInterval (the last creation is always laid out).

#include "capture/handoff.h"
#include "capture/timebasedview.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <atomic>
#include <memory>

class CTopologyCanvasView;
class CTopologyLegendView;
class QLabel;
class QMenu;
class QToolBar;
class TopologyModel;

class CTopologyView : public QMainWindow, public CTimeBasedView {
    Q_OBJECT
public:
    enum MenuId {
        IdClear = 20000,
        IdLock,
        IdUnlock,
        IdExit,
        IdExport,
        IdShowIPAddress,
        IdShowStatInfo,
        IdNodeInfoWindow,
    };

    explicit CTopologyView(QWidget* parent = nullptr, const char* name = nullptr);
    ~CTopologyView() override;

    void InitiateView() override {}
    void UpdateView() override;
    void AddPacket(CPacket* packet) override;  // reader thread
    bool DisplayFilterChanged(bool inForce) override;

    TopologyModel& model() const { return *m_model; }
    CTopologyCanvasView* canvasView() const { return m_canvasView; }
    CTopologyLegendView* nodeInfoWindow() const { return m_nodeInfo; }
    HandoffBase* handoff() const { return m_handoff; }
    QAction* action(int id) const;
    QLabel* lockedLabel() const { return m_lockedLabel; }
    // A layout waits for its turn after one that ran a moment ago.
    bool layoutPending() const { return m_layoutTimer.isActive(); }

    static constexpr int kLayoutInterval = 200;  // milliseconds
public slots:
    void slotLockView();
    void slotNodeInfoWindow();
    void slotShowStatisInfo(int nIndex);
    void slotShowIPAddress(int nIndex);
    void slotUnlockView();
    void slotExit();
    void slotClearView();
    void slotExportImage();
    // Selects the nodes and the link of the program's current packet, if they are here.
    void showLinkedPacket(const CPacket* packet, const QObject* source);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Arrival {
        const CPacket* packet;
        qint64 tStart;
    };
    void initMenuBar();
    void initToolBar();
    void initStatusBar();
    void applyBatch(std::vector<Arrival>& batch);
    void scheduleLayout();
    void toggleLabels(bool& flag, int nIndex, const QString& showText, const QString& hideText,
                      void (CTopologyCanvasView::*show)(), void (CTopologyCanvasView::*hide)());
    void runLayout();

    QMenu* m_operationMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QToolBar* m_toolBar = nullptr;
    CTopologyCanvasView* m_canvasView = nullptr;
    CTopologyLegendView* m_nodeInfo = nullptr;
    std::unique_ptr<TopologyModel> m_model;
    HandoffQueue<Arrival>* m_handoff = nullptr;
    QLabel* m_lockedLabel = nullptr;
    // Read by the reader thread: a packet is refused when it arrives, not when it is applied.
    std::atomic<bool> m_refusing{false};
    QTimer m_layoutTimer;
    QElapsedTimer m_sinceLayout;
};

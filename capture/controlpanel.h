#pragma once
// The capture controller: starts and stops captures through the launcher child,
// runs the reader thread that turns packet records into CPackets, passes each
// through the step scheduler and hands it to every registered view, and asks the
// views to repaint on a 500 ms refresh timer.

#include "capture/timebasedview.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class CPacket;
class QTimer;

// What the controller needs from the main window; the widgets side implements it
// (message boxes, status bar). Tests give their own.
class ControlPanelUi {
public:
    virtual ~ControlPanelUi() = default;
    // A modal message box; an empty title means none.
    virtual void showMessage(const QString& title, const QString& text) = 0;
    virtual void showStatus(const QString& text) = 0;
};

// View registry (process-wide). Guarded by registryMutex() against the reader's walk.
extern QMap<CTimeBasedView*, int> m_View2MenuID;
extern QMap<int, CTimeBasedView*> m_MenuID2View;
extern QMap<QString, int> m_TypeName2TotalNum;

// Unregisters `view` and destroys it; afterwards it gets no call from either thread.
void RemoveView(CTimeBasedView* view);

class ControlPanel : public QObject {
    Q_OBJECT
public:
    explicit ControlPanel(ControlPanelUi* ui = nullptr);
    ~ControlPanel() override;

    void Start();
    void Stop();
    void AddView(CTimeBasedView* view, const QString& typeName);
    void AddPacket(CPacket* packet);  // reader thread
    void CleanPipe();

    bool isRunning() const { return m_bRunning.load(); }
    bool isStopped() const { return m_bStopped.load(); }
    // Packets received since construction, in arrival order (owned here).
    std::size_t packetCount() const;
    int viewCount() const { return m_nViewCount; }

public slots:
    void UpdateView();

private:
    std::atomic<bool> m_bRunning{false};
    int m_nViewCount = 0;
    ControlPanelUi* m_pUi;
    std::vector<std::unique_ptr<CPacket>> m_PacketList;
    QTimer* m_pTimer = nullptr;
    int m_nRefreshInterval = 500;
    std::atomic<bool> m_bStopped{false};
    mutable std::mutex m_packetMutex;
};

// Returns "/tmp/<uid>_NukAppSockFile" and keeps it in nukAppFile.
QString setNukFileName();

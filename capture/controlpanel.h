// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The capture controller: starts and stops captures through the launcher child,
// runs the reader thread that turns packet records into CPackets, passes each
// through the step scheduler and hands it to every registered view, and asks the
// views to repaint on a 500 ms refresh timer.

#include "capture/capturecounts.h"
#include "capture/displayfilter.h"
#include "capture/packetstore.h"
#include "capture/replayprogress.h"
#include "capture/timebasedview.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CPacket;
class QSocketNotifier;
class QTimer;

// Where a capture stands, for the main window's status bar.
struct CaptureProgress {
    bool running = false;
    std::uint64_t delivered = 0;  // packets handed to the views since Start
    bool replay = false;          // a replay that reports how far it has come
    double share = -1;            // of the trace behind the delivered packets, 0 to 1; -1 unknown
    bool finished = false;        // the replay has ended and every packet is delivered
    // A live capture's kernel counters, as its helper last reported them.
    bool counted = false;
    std::uint64_t captured = 0;        // frames taken from the capture rings
    std::uint64_t kernelDrops = 0;     // lost in the kernel: a ring was full
    std::uint64_t interfaceDrops = 0;  // lost by the interface
};

// Where the display filter stands, for the main window.
struct DisplayProgress {
    std::string text;           // the expression in force; empty: every packet is shown
    bool refeeding = false;     // the views are being fed again
    std::uint64_t examined = 0;  // captured packets the re-feed has looked at so far
    std::uint64_t matched = 0;   // packets that match and were handed to the views
    std::uint64_t captured = 0;  // packets captured in all
};

// What the controller needs from the main window; the widgets side implements it
// (message boxes, status bar). Tests give their own.
class ControlPanelUi {
public:
    virtual ~ControlPanelUi() = default;
    // A modal message box; an empty title means none.
    virtual void showMessage(const QString& title, const QString& text) = 0;
    // Replaces the status bar's text. Also carries the capture helper's last error line.
    virtual void showStatus(const QString& text) = 0;
    // At Start, at every refresh tick while running, and at Stop.
    virtual void showProgress(const CaptureProgress&) {}
    // While the views are fed again and whenever the display filter changes.
    virtual void showDisplayProgress(const DisplayProgress&) {}
};

// View registry (process-wide). Guarded by a mutex against the reader's walk.
extern QMap<CTimeBasedView*, int> m_View2MenuID;
extern QMap<int, CTimeBasedView*> m_MenuID2View;
extern QMap<QString, int> m_TypeName2TotalNum;

// Unregisters `view` and destroys it; afterwards it gets no call from either thread.
void RemoveView(CTimeBasedView* view);
// Unregisters and destroys every view at once (the main window's end: views keep
// pointers to the controller's packets, so they go first).
void destroyAllViews();

class ControlPanel : public QObject {
    Q_OBJECT
public:
    explicit ControlPanel(ControlPanelUi* ui = nullptr);
    // Stops and joins the reader thread; the packets are released.
    ~ControlPanel() override;

    void Start();
    void Stop();
    void AddView(CTimeBasedView* view, const QString& typeName);
    // Reader thread: keeps `packet` (built with new) and hands it to every view.
    void AddPacket(CPacket* packet);
    void CleanPipe();

    bool isRunning() const { return m_bRunning.load(); }
    bool isStopped() const { return m_bStopped.load(); }
    // Packets received since construction, in arrival order (owned here).
    std::size_t packetCount() const;
    // The packet numbered `number` (CPacket::captureNumber), null when there is none.
    CPacket* packetNumbered(std::uint32_t number) const;
    // The packets `keep` accepts, in arrival order, appended to `out`; gives the
    // number of the last packet looked at.
    std::uint32_t packetsWhere(const std::function<bool(const CPacket&)>& keep, std::vector<CPacket*>& out) const;
    int viewCount() const { return m_nViewCount; }
    CaptureProgress progress() const;

    // Display filter (GUI thread). Every view that is not locked is emptied and fed
    // again, in batches on a thread of its own, with the captured packets `filter`
    // matches, in capture order; packets captured meanwhile wait their turn, and
    // later ones reach the views only when they match. Null shows every packet.
    // A re-feed still running is cancelled first.
    void setDisplayFilter(std::shared_ptr<const DisplayFilter> filter);
    std::shared_ptr<const DisplayFilter> displayFilter() const;
    // Ends a re-feed in progress: each view keeps the packets it has, the first
    // ones that match. Stop does this too.
    void cancelRefeed();
    DisplayProgress displayProgress() const;
    // Every packet captured so far, in capture order.
    std::vector<CPacket*> capturedPackets() const;

public slots:
    void UpdateView();

private:
    void PacketCap();
    void readCapture(unsigned capture);
    bool isCurrent(unsigned capture) const;
    void waitUntilReaderOutOfPipe();
    bool writeParameterBlock();
    QString createApplicationSocketFile();
    void stopCapture();
    // Stops the capture without waiting for the helper to end; finishStop() does the rest.
    void beginStop();
    void finishStop();
    void pollHelperExit();
    void readHelperErrors();
    void drainHelperErrors();
    void takeHelperText(const char* bytes, std::size_t size);
    static QString printable(const QByteArray& text);
    void reportProgress();
    // Reader thread: one refresh of every view on the GUI thread, posted once.
    void refreshSoon();
    void showStepped(CPacket* packet);
    void message(const QString& title, const QString& text);
    void status(const QString& text);
    void refeed(unsigned generation, const DisplayFilter* filter);
    void stopRefeedThread();
    void refeedTick();
    void handToViews(CPacket* packet);

    std::atomic<bool> m_bRunning{false};
    std::thread m_PacketCapThread;
    int m_nViewCount = 0;
    ControlPanelUi* m_pUi;
    void deliver(CPacket* packet);

    // Every packet is kept until the controller is destroyed. The reader thread
    // builds its own in the store; AddPacket's callers build theirs on the heap.
    PacketStore m_store;                             // reader thread only
    std::vector<std::unique_ptr<CPacket>> m_adopted;  // guarded by m_packetMutex
    std::size_t m_packetCount = 0;                   // guarded by m_packetMutex
    std::deque<CPacket*> m_captured;  // capture order, by capture number - 1; guarded by m_packetMutex
    QTimer* m_pTimer = nullptr;
    // A replay that reached its end: the helper ends by itself, looked at every few ms.
    QTimer* m_pExitPoll = nullptr;
    int m_nRefreshInterval = 500;
    std::atomic<bool> m_bStopped{false};
    mutable std::mutex m_packetMutex;

    // Hand-shake between the GUI thread and the reader. Every Start advances the
    // capture number; the reader reads the packet pipe only while the capture it
    // began with is current, and Stop/Start touch the pipe only while it does not.
    mutable std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    std::atomic<unsigned> m_captureId{0};
    std::atomic<bool> m_quit{false};
    bool m_readerInPipe = false;  // guarded by m_stateMutex

    QSocketNotifier* m_pErrorNotifier = nullptr;
    QByteArray m_errorPartial;  // helper error text after the last newline
    QString m_lastHelperLine;   // the helper's last whole line in this capture
    bool m_bShowingFailure = false;

    std::atomic<bool> m_refreshPosted{false};
    std::atomic<std::uint64_t> m_delivered{0};  // this capture's packets; the reader counts
    ReplayProgress m_replay;                     // GUI thread
    CaptureCounts m_counts;                      // GUI thread
    bool m_finishShown = false;

    // Display filter. The filter and the re-feed's generation change under the
    // registry lock, so no view is fed by an old one after a change.
    std::shared_ptr<const DisplayFilter> m_displayFilter;
    std::atomic<unsigned> m_refeedGeneration{0};
    std::atomic<bool> m_refeeding{false};  // changed under m_packetMutex: the reader waits its turn
    std::atomic<std::uint64_t> m_refeedExamined{0};
    std::atomic<std::uint64_t> m_matched{0};
    std::thread m_refeedThread;
    QTimer* m_pRefeedTimer = nullptr;
};

// Returns "/tmp/<uid>_NukAppSockFile" and keeps it in nukAppFile.
QString setNukFileName();

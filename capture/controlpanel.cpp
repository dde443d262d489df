// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/controlpanel.h"

#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "capture/process/helpercontrol.h"
#include "capture/recordreader.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "capture/tmpfiles.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <poll.h>
#include <system_error>
#include <unistd.h>

QMap<CTimeBasedView*, int> m_View2MenuID;
QMap<int, CTimeBasedView*> m_MenuID2View;
QMap<QString, int> m_TypeName2TotalNum;

namespace {
// How often a reader waiting for records looks at the running flag; bounds how long
// Stop waits for it to leave the pipe.
constexpr int kPollMs = 10;
constexpr int kFirstViewId = 30000;
// A re-feed holds the registry for at most this long at a time, then lets go of it
// for a while: the GUI thread needs it for every refresh and every view opened or
// closed, and the reader for every new packet. (A mutex is not fair: let go and
// taken again at once, it would stay with the re-feed.)
constexpr auto kRefeedSlice = std::chrono::milliseconds(4);
constexpr auto kRefeedPause = std::chrono::milliseconds(1);
constexpr std::size_t kRefeedBatch = 256;
constexpr int kRefeedTickMs = 100;
// A helper error line is cut to this length in the status bar, and to the longer
// one in a message box; the pipe carries another process's text.
constexpr int kMaxErrorLine = 300;
constexpr int kMaxFailureLine = 4000;

std::recursive_mutex& registryMutex()
{
    static std::recursive_mutex m;
    return m;
}
}  // namespace

void RemoveView(CTimeBasedView* view)
{
    {
        // Held by the reader while it walks the registry: once we have it, the view
        // is not inside AddPacket, and after the erase it is never reached again.
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        const int id = m_View2MenuID.value(view, 0);
        m_MenuID2View.remove(id);
        m_View2MenuID.remove(view);
    }
    // A view usually calls this from its own close handling: let the event loop
    // delete a widget once that handler has returned.
    if (QObject* object = dynamic_cast<QObject*>(view))
        object->deleteLater();
    else
        delete view;
}

void destroyAllViews()
{
    QMap<CTimeBasedView*, int> views;
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        views.swap(m_View2MenuID);
        m_MenuID2View.clear();
    }
    for (auto it = views.cbegin(); it != views.cend(); ++it)
        delete it.key();
}

ControlPanel::ControlPanel(ControlPanelUi* ui) : m_pUi(ui)
{
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &ControlPanel::UpdateView);
    connect(m_pTimer, &QTimer::timeout, this, &ControlPanel::reportProgress);
    m_pExitPoll = new QTimer(this);
    m_pExitPoll->setInterval(10);
    connect(m_pExitPoll, &QTimer::timeout, this, &ControlPanel::pollHelperExit);
    m_pRefeedTimer = new QTimer(this);
    connect(m_pRefeedTimer, &QTimer::timeout, this, &ControlPanel::refeedTick);
    g_TimeDelayRatio = 1.0f;
    try {
        m_PacketCapThread = std::thread([this] { PacketCap(); });
    } catch (const std::system_error&) {
        std::printf("ERROR: pthread create error!\n");
        std::fflush(stdout);
    }
    g_Scheduler.Reset();
    g_Scheduler.SetPace(1.0f);
    g_bStepIt = false;
    g_bPureStepMode = false;

    currentPacket().setController(this);

    if (helpercontrol::errorPipe() >= 0) {
        m_pErrorNotifier = new QSocketNotifier(helpercontrol::errorPipe(), QSocketNotifier::Read, this);
        connect(m_pErrorNotifier, &QSocketNotifier::activated, this, &ControlPanel::readHelperErrors);
    }
}

ControlPanel::~ControlPanel()
{
    if (currentPacket().controller() == this)
        currentPacket().setController(nullptr);
    stopRefeedThread();
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_quit = true;
        m_bRunning = false;
    }
    m_stateChanged.notify_all();
    g_Scheduler.wake();
    if (m_PacketCapThread.joinable())
        m_PacketCapThread.join();
}

void ControlPanel::message(const QString& title, const QString& text)
{
    if (m_pUi)
        m_pUi->showMessage(title, text);
}

void ControlPanel::status(const QString& text)
{
    if (m_pUi)
        m_pUi->showStatus(text);
}

bool ControlPanel::isCurrent(unsigned capture) const
{
    return !m_quit && m_bRunning && m_captureId == capture;
}

void ControlPanel::PacketCap()
{
    for (;;) {
        unsigned capture;
        {
            std::unique_lock<std::mutex> lock(m_stateMutex);
            m_stateChanged.wait(lock, [this] { return m_quit || m_bRunning; });
            if (m_quit)
                return;
            capture = m_captureId;
        }
        readCapture(capture);
    }
}

// Reads one capture's records until it ends. The framer lives only as long as the
// capture, so a partial record left from an earlier capture can never be completed
// with a later capture's bytes.
void ControlPanel::readCapture(unsigned capture)
{
    RecordReader reader(helpercontrol::packetPipe(), [](RecordReader::Damage damage) {
        // Standard output is the GUI's log; a stop cuts records on purpose, so only
        // corruption is worth a line.
        if (damage == RecordReader::Damage::Corrupt) {
            std::printf("corrupt packet record\n");
            std::fflush(stdout);
        }
    });
    const auto current = [this, capture] { return isCurrent(capture); };
    const auto superseded = [this, capture] { return m_quit || m_captureId != capture; };
    RawPacket raw;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            if (!current())
                return;
            m_readerInPipe = true;
        }
        const RecordReader::Status result = reader.next(raw, current, kPollMs);
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_readerInPipe = false;
        }
        m_stateChanged.notify_all();

        if (result == RecordReader::Status::Cancelled)
            return;
        if (result != RecordReader::Status::Record) {
            // The pipe is unusable (closed or broken): wait for this capture to end
            // rather than spin on the error.
            std::printf("read pipe error\n");
            std::fflush(stdout);
            std::unique_lock<std::mutex> lock(m_stateMutex);
            m_stateChanged.wait(lock, [&] { return !current(); });
            return;
        }

        std::unique_ptr<CPacket> onHeap;
        CPacket* packet = m_store.add(raw);
        if (!packet) {
            onHeap = std::make_unique<CPacket>(&raw);
            packet = onHeap.get();
        }
        // In step mode or with a pace this waits. A packet still waiting when a new
        // capture starts belongs to the old one and is given up (a stored one stays
        // in the store, unseen).
        if (!g_Scheduler.AddPacket(packet, superseded))
            return;
        // Start advances the capture under the registry lock: once it has, no packet
        // of the old capture can reach a view.
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        if (superseded())
            return;
        if (onHeap)
            AddPacket(onHeap.release());
        else
            deliver(packet);
        m_delivered.fetch_add(1, std::memory_order_relaxed);
        // A Step must answer within a frame: the drawing views show a stepped
        // packet at once instead of at the next refresh tick.
        if (g_bPureStepMode) {
            refreshSoon();
            showStepped(packet);
        }
    }
}

void ControlPanel::refreshSoon()
{
    if (m_refreshPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_refreshPosted = false;
            if (m_bRunning)
                UpdateView();
        },
        Qt::QueuedConnection);
}

// The stepped packet becomes the current one, once the views have it (their
// hand-offs were posted before this).
void ControlPanel::showStepped(CPacket* packet)
{
    const unsigned capture = m_captureId;
    QMetaObject::invokeMethod(
        this,
        [this, packet, capture] {
            if (m_bRunning && m_captureId == capture)
                currentPacket().select(packet, nullptr);
        },
        Qt::QueuedConnection);
}

void ControlPanel::waitUntilReaderOutOfPipe()
{
    std::unique_lock<std::mutex> lock(m_stateMutex);
    // The reader looks at the running flag every kPollMs; a view's AddPacket is short.
    m_stateChanged.wait_for(lock, std::chrono::seconds(2), [this] { return !m_readerInPipe; });
}

void ControlPanel::AddView(CTimeBasedView* view, const QString& typeName)
{
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        m_TypeName2TotalNum[typeName] = m_TypeName2TotalNum.value(typeName, 0) + 1;
        const int id = kFirstViewId + m_nViewCount++;
        m_MenuID2View.insert(id, view);
        m_View2MenuID.insert(view, id);
        if (m_displayFilter)
            view->DisplayFilterChanged(true);
    }
    view->InitiateView();
}

void ControlPanel::AddPacket(CPacket* packet)
{
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        m_adopted.emplace_back(packet);
    }
    deliver(packet);
}

void ControlPanel::deliver(CPacket* packet)
{
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    {
        std::lock_guard<std::mutex> packets(m_packetMutex);
        packet->setCaptureNumber(std::uint32_t(++m_packetCount));
        m_captured.push_back(packet);
        if (m_refeeding)
            return;  // the re-feed reaches it in its turn
    }
    if (!m_displayFilter || m_displayFilter->matches(*packet))
        handToViews(packet);
}

// Under the registry lock.
void ControlPanel::handToViews(CPacket* packet)
{
    m_matched.fetch_add(1, std::memory_order_relaxed);
    for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
        it.key()->AddPacket(packet);
}

void ControlPanel::setDisplayFilter(std::shared_ptr<const DisplayFilter> filter)
{
    cancelRefeed();
    unsigned generation;
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        m_displayFilter = filter;
        generation = ++m_refeedGeneration;
        for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
            it.key()->DisplayFilterChanged(m_displayFilter != nullptr);
        std::lock_guard<std::mutex> packets(m_packetMutex);
        m_matched = 0;
        m_refeedExamined = 0;
        m_refeeding = true;
    }
    try {
        m_refeedThread = std::thread([this, generation, filter] { refeed(generation, filter.get()); });
    } catch (const std::system_error&) {
        std::printf("ERROR: pthread create error!\n");
        std::fflush(stdout);
        std::lock_guard<std::mutex> packets(m_packetMutex);
        m_refeeding = false;
    }
    m_pRefeedTimer->start(kRefeedTickMs);
    refeedTick();
}

std::shared_ptr<const DisplayFilter> ControlPanel::displayFilter() const
{
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    return m_displayFilter;
}

void ControlPanel::cancelRefeed()
{
    stopRefeedThread();
    if (m_pRefeedTimer->isActive()) {
        m_pRefeedTimer->stop();
        refeedTick();
    }
}

void ControlPanel::stopRefeedThread()
{
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        ++m_refeedGeneration;
        std::lock_guard<std::mutex> packets(m_packetMutex);
        m_refeeding = false;
    }
    if (m_refeedThread.joinable())
        m_refeedThread.join();
}

// Re-feed thread: hands the captured packets to the views again, from the first,
// in slices, until it has caught up with the capture or a newer filter or a
// cancel supersedes it. Caught up, it leaves the packets to the reader.
void ControlPanel::refeed(unsigned generation, const DisplayFilter* filter)
{
    std::vector<CPacket*> batch;
    batch.reserve(kRefeedBatch);
    std::size_t next = 0;
    for (bool caughtUp = false; !caughtUp; std::this_thread::sleep_for(kRefeedPause)) {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        const auto deadline = std::chrono::steady_clock::now() + kRefeedSlice;
        do {
            if (m_refeedGeneration != generation)
                return;
            {
                std::lock_guard<std::mutex> packets(m_packetMutex);
                const std::size_t end = std::min(m_captured.size(), next + kRefeedBatch);
                batch.assign(m_captured.begin() + std::ptrdiff_t(next), m_captured.begin() + std::ptrdiff_t(end));
                if (batch.empty()) {
                    m_refeeding = false;  // from now on the reader hands new packets on
                    caughtUp = true;
                    break;
                }
            }
            for (CPacket* packet : batch) {
                if (!filter || filter->matches(*packet))
                    handToViews(packet);
            }
            next += batch.size();
            m_refeedExamined = next;
        } while (std::chrono::steady_clock::now() < deadline);
    }
}

// GUI thread, while a re-feed runs: the drawing views repaint (the refresh timer
// runs only while capturing) and the main window shows how far it has come.
void ControlPanel::refeedTick()
{
    if (!m_refeeding && m_pRefeedTimer->isActive())
        m_pRefeedTimer->stop();
    // The re-feed thread runs at a lower priority and may be waiting for a processor
    // with the registry in hand: rather than wait for it, this tick is skipped.
    if (!m_pTimer->isActive()) {
        std::unique_lock<std::recursive_mutex> lock(registryMutex(), std::try_to_lock);
        if (lock.owns_lock() || !m_refeeding)
            UpdateView();
    }
    if (m_pUi)
        m_pUi->showDisplayProgress(displayProgress());
}

DisplayProgress ControlPanel::displayProgress() const
{
    DisplayProgress p;
    if (const auto filter = displayFilter())
        p.text = filter->text();
    p.refeeding = m_refeeding;
    p.examined = m_refeedExamined;
    p.matched = m_matched;
    p.captured = packetCount();
    return p;
}

std::vector<CPacket*> ControlPanel::capturedPackets() const
{
    std::lock_guard<std::mutex> lock(m_packetMutex);
    return std::vector<CPacket*>(m_captured.begin(), m_captured.end());
}

void ControlPanel::UpdateView()
{
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
        it.key()->UpdateView();
}

std::size_t ControlPanel::packetCount() const
{
    std::lock_guard<std::mutex> lock(m_packetMutex);
    return m_packetCount;
}

CPacket* ControlPanel::packetNumbered(std::uint32_t number) const
{
    std::lock_guard<std::mutex> lock(m_packetMutex);
    return number >= 1 && number <= m_captured.size() ? m_captured[number - 1] : nullptr;
}

std::uint32_t ControlPanel::packetsWhere(const std::function<bool(const CPacket&)>& keep,
                                         std::vector<CPacket*>& out) const
{
    std::lock_guard<std::mutex> lock(m_packetMutex);
    for (CPacket* packet : m_captured)
        if (keep(*packet))
            out.push_back(packet);
    return std::uint32_t(m_captured.size());
}

void ControlPanel::CleanPipe()
{
    if (const int fd = helpercontrol::packetPipe(); fd >= 0)
        RecordReader::drain(fd);
}

bool ControlPanel::writeParameterBlock()
{
    helpercontrol::CaptureParameters parameters;
    parameters.expression = expression.toLocal8Bit().toStdString();
    parameters.fileName = QFile::encodeName(g_FileName).toStdString();
    parameters.deviceFlag = std::int32_t(deviceFlag);
    parameters.opMode = std::int32_t(nukOpMode);
    return helpercontrol::sendParameters(parameters);
}

// The helper of mode 3 uses this file; it must be ours, empty and private, and a
// link planted in /tmp must not redirect it. Returns why it could not be made.
QString ControlPanel::createApplicationSocketFile()
{
    const std::string name = QFile::encodeName(setNukFileName()).toStdString();
    const int fd = tmpfiles::openPrivate(name);
    if (fd < 0)
        return QString::fromLocal8Bit(tmpfiles::whyNotUsed(name, errno).c_str());
    ::close(fd);
    return QString();
}

void ControlPanel::Start()
{
    if (m_bRunning) {
        message(QStringLiteral("Warning"), QStringLiteral("System is running"));
        return;
    }
    // A packet of the last capture still waiting for a Step is given up now, before
    // this start's step flag can release it.
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        ++m_captureId;
        m_delivered = 0;
    }
    g_Scheduler.wake();

    if (m_pExitPoll->isActive())
        finishStop();  // the last replay's helper is still ending
    helpercontrol::discardParameters();  // a block an earlier Start abandoned
    if (expression.isEmpty())
        expression = QStringLiteral("tcp");
    if (g_FileName.isEmpty() && nukOpMode == OpDiskFile) {
        message(QStringLiteral("Warning"),
                QStringLiteral("Invalid file name. Choose user wizard to reset filename."));
        return;
    }
    if (nukOpMode == OpApplication) {
        if (const QString refusal = createApplicationSocketFile(); !refusal.isEmpty()) {
            status(QStringLiteral("Cannot create ") + nukAppFile);
            message(QStringLiteral("Warning"), refusal);
            return;
        }
    }
    if (!writeParameterBlock()) {
        std::printf("Write Pipe error!\n");
        std::fflush(stdout);
        return;
    }
    ValidWizard = false;

    // Records an old helper wrote after the last Stop's drain must not open this capture.
    waitUntilReaderOutOfPipe();
    CleanPipe();
    // Nor may its last lines count as this capture's progress or complaint.
    drainHelperErrors();
    m_lastHelperLine.clear();
    m_replay.reset();
    m_counts.reset();
    m_finishShown = false;
    helpercontrol::startCaptureHelper();

    m_pTimer->start(m_nRefreshInterval);
    m_bStopped = false;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_bRunning = true;
    }
    m_stateChanged.notify_all();
    status(QStringLiteral("System start running"));
    reportProgress();
}

void ControlPanel::Stop()
{
    if (!m_bRunning) {
        if (m_pExitPoll->isActive())
            finishStop();
        cancelRefeed();
        return;
    }
    stopCapture();
    // After the capture: no packet may reach a view past the ones the re-feed left.
    cancelRefeed();
    // The trace's name stays: Start replays the same trace again.
    message(QString(), QStringLiteral("Packet Transfering Stopped."));
    status(QStringLiteral("System has stopped"));
    reportProgress();
}

// Ends the running capture; the settings stay for the next Start.
void ControlPanel::stopCapture()
{
    beginStop();
    finishStop();
}

void ControlPanel::beginStop()
{
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_bRunning = false;
    }
    m_stateChanged.notify_all();
    ValidWizard = true;
    helpercontrol::stopCaptureHelper();
}

// Waits for the helper to end, then empties the pipe of what it left there.
void ControlPanel::finishStop()
{
    m_pExitPoll->stop();
    helpercontrol::stopSocketListing();
    helpercontrol::waitForCaptureHelperExit();
    waitUntilReaderOutOfPipe();
    CleanPipe();
    m_pTimer->stop();
    g_Scheduler.Reset();
    m_bStopped = true;
}

void ControlPanel::pollHelperExit()
{
    if (!helpercontrol::captureHelperRunning())
        finishStop();
}

CaptureProgress ControlPanel::progress() const
{
    CaptureProgress p;
    p.running = m_bRunning;
    p.delivered = m_delivered.load(std::memory_order_relaxed);
    p.replay = m_replay.isReplay();
    p.share = m_replay.share(p.delivered);
    p.finished = m_replay.finished(p.delivered);
    p.counted = m_counts.known();
    p.captured = m_counts.captured();
    p.kernelDrops = m_counts.kernelDrops();
    p.interfaceDrops = m_counts.interfaceDrops();
    return p;
}

void ControlPanel::reportProgress()
{
    CaptureProgress p = progress();
    if (p.running && p.finished && !m_finishShown) {
        m_finishShown = true;
        // Nothing is left to deliver: a finished replay is a stopped capture, and
        // Start replays the trace again. The views draw the last packets first.
        // The helper ends by itself, perhaps not at once on a busy machine: the GUI
        // goes on meanwhile (a display filter's re-feed may be running).
        UpdateView();
        beginStop();
        m_pExitPoll->start();
        p = progress();
        status(QStringLiteral("Replay finished: %1 packets").arg(p.delivered));
    }
    if (m_pUi) {
        m_pUi->showProgress(p);
        m_pUi->showDisplayProgress(displayProgress());
    }
}

// The capture helper's standard error arrives here through the launcher child.
// Only whole lines are shown, the last one wins. When the launcher reports that
// the helper failed, its last line is shown whole in a message box as well.
void ControlPanel::readHelperErrors()
{
    char buffer[4096];
    const ssize_t n = ::read(helpercontrol::errorPipe(), buffer, sizeof buffer);
    if (n <= 0) {
        if (n == 0 || (errno != EINTR && errno != EAGAIN))
            m_pErrorNotifier->setEnabled(false);
        return;
    }
    takeHelperText(buffer, std::size_t(n));
}

// Everything the error pipe holds now, without waiting for more.
void ControlPanel::drainHelperErrors()
{
    if (!m_pErrorNotifier || !m_pErrorNotifier->isEnabled())
        return;
    pollfd pending{helpercontrol::errorPipe(), POLLIN, 0};
    while (::poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = ::read(helpercontrol::errorPipe(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        takeHelperText(buffer, std::size_t(n));
    }
}

// Only whole lines are shown, the last one wins. When the launcher reports that
// the helper failed, its last line is shown whole in a message box as well.
void ControlPanel::takeHelperText(const char* bytes, std::size_t size)
{
    m_errorPartial.append(bytes, qsizetype(size));
    QByteArray last, failure;
    bool counted = false;
    for (;;) {
        const qsizetype newline = m_errorPartial.indexOf('\n');
        if (newline < 0)
            break;
        const QByteArray line = m_errorPartial.left(newline).trimmed();
        m_errorPartial.remove(0, newline + 1);
        if (line.startsWith(helpercontrol::kHelperFailedMark))
            failure = line.mid(1);
        else if (const std::string_view text(line.constData(), std::size_t(line.size())); m_counts.take(text))
            counted = true;  // shown beside the packet count, not as a message
        else if (!line.isEmpty() && !m_replay.take(text))
            last = line;
    }
    if (counted)
        reportProgress();
    if (m_errorPartial.size() > kMaxFailureLine)
        m_errorPartial.truncate(kMaxFailureLine);  // the rest of an overlong line is lost
    if (!last.isEmpty()) {
        m_lastHelperLine = printable(last.left(kMaxFailureLine));
        status(m_lastHelperLine.left(kMaxErrorLine));
    }
    if (!failure.isEmpty() && m_bRunning && !m_bShowingFailure) {
        // A modal box runs an event loop of its own, in which this slot may run again.
        m_bShowingFailure = true;
        message(QStringLiteral("Warning"), m_lastHelperLine.isEmpty()
                                               ? QStringLiteral("The capture helper failed (%1)").arg(printable(failure))
                                               : m_lastHelperLine);
        m_bShowingFailure = false;
    }
}

QString ControlPanel::printable(const QByteArray& text)
{
    QString s = QString::fromLocal8Bit(text);
    for (QChar& c : s) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return s;
}

QString setNukFileName()
{
    nukAppFile = QFile::decodeName(tmpfiles::path(tmpfiles::kAppSockets).c_str());
    return nukAppFile;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Throughput of the capture controller at pace 0: the real launcher child starts a
// stand-in helper that writes records into the packet pipe as fast as it can; one
// registered view counts them on the reader thread and hands them to the GUI thread
// through a HandoffQueue, as real views do. Meanwhile a 10 ms GUI timer measures
// how late the event loop gets.
//
//   bench_controller [packets]     (default 3,000,000)

#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/handoff.h"
#include "capture/scheduler.h"
#include "capture/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {
class CountingView : public CTimeBasedView {
public:
    CountingView()
        : m_queue([this](std::vector<CPacket*>& batch) { shown += batch.size(); })
    {
    }
    void AddPacket(CPacket* packet) override
    {
        ++received;
        m_queue.push(packet);
    }
    std::atomic<unsigned long> received{0};
    unsigned long shown = 0;  // GUI thread
    unsigned long wakeups() const { return m_queue.wakeups(); }

private:
    HandoffQueue<CPacket*> m_queue;
};

class QuietUi : public ControlPanelUi {
    void showMessage(const QString&, const QString&) override {}
    void showStatus(const QString&) override {}
};
}  // namespace

int main(int argc, char** argv)
{
    const unsigned long packets = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3000000;

    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("nuk"));
    QDir(root.path()).mkpath(QStringLiteral("tmp"));
    QFile::link(QStringLiteral(FAKEPCAP), root.filePath(QStringLiteral("nuk/pcap")));
    qputenv("NUKPATH", root.path().toLocal8Bit());
    qputenv("NUK_TMPDIR", root.filePath(QStringLiteral("tmp")).toLocal8Bit());
    if (const int status = startNukProcesses())
        return status;

    QCoreApplication app(argc, argv);
    QuietUi ui;
    auto controller = std::make_unique<ControlPanel>(&ui);
    g_Scheduler.SetPace(0.0f);
    auto* view = new CountingView;
    controller->AddView(view, QStringLiteral("CountingView"));

    qint64 worstLateness = 0;
    QElapsedTimer sinceTick;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstLateness = std::max(worstLateness, sinceTick.elapsed() - 10);
        sinceTick.restart();
    });

    QElapsedTimer clock;
    qint64 firstAt = -1, lastAt = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const unsigned long n = view->received.load();
        if (firstAt < 0 && n > 0)
            firstAt = clock.elapsed();
        if (n >= packets && view->shown >= packets) {
            lastAt = clock.elapsed();
            app.quit();
        }
        if (clock.elapsed() > 120000)
            app.quit();
    });

    expression = QStringLiteral("gap 0 batch 256 count %1").arg(packets);
    nukOpMode = OpRealtime;
    clock.start();
    controller->Start();
    sinceTick.start();
    tick.start(10);
    watch.start(1);
    app.exec();
    const qint64 reachedAll = clock.elapsed();
    controller->Stop();

    const unsigned long got = view->received.load();
    const double seconds = (reachedAll - std::max<qint64>(firstAt, 0)) / 1000.0;
    std::printf("packets delivered:      %lu of %lu\n", got, packets);
    std::printf("time (first to last):   %.3f s\n", seconds);
    std::printf("throughput:             %.0f packets/s\n", seconds > 0 ? got / seconds : 0.0);
    std::printf("GUI wake-ups (hand-off): %lu\n", view->wakeups());
    std::printf("worst 10 ms timer lateness on the GUI thread: %lld ms\n", worstLateness);
    std::printf("packets kept by the controller: %zu\n", controller->packetCount());
    RemoveView(view);
    controller.reset();
    runShutdownSteps();
    return lastAt < 0 ? 1 : 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The time line at scale, headless.
//
// 1. Repaint: a time line window with 1,000 and with 1,000,000 records (packets of the
//    trace added over and over), the viewport repainted at the top, the middle and the
//    bottom of the contents and scrolled page by page (processor time of the GUI
//    thread); adding the records; memory per record.
// 2. Replay: the trace through the capture helper and the controller (mode 0, pace 0,
//    as nuk runs it) into one time line window that follows the newest arrow, with a
//    1 ms timer measuring the GUI thread's longest stall.
//
// bench_timeline --trace FILE --packets N

#include "capture/process/process.h"
#include "bench/common/procstatus.h"
#include "bench/common/tracepackets.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "helpers/framerecord.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/newtimeline.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>

#include <pcap/pcap.h>

#include <cstdio>
#include <ctime>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {


// Milliseconds per synchronous repaint of the whole viewport, scrolled to `y`.
double repaintMs(LineScrollView* view, int y, int times)
{
    view->verticalScrollBar()->setValue(y);
    view->viewport()->repaint();
    const double start = threadCpuMs();
    for (int i = 0; i < times; ++i)
        view->viewport()->repaint();
    return (threadCpuMs() - start) / times;
}

// Milliseconds per page scrolled down (the new strip painted), from `y`.
double pageScrollMs(LineScrollView* view, int y, int pages)
{
    QScrollBar* bar = view->verticalScrollBar();
    bar->setValue(y);
    view->viewport()->repaint();
    const double start = threadCpuMs();
    for (int i = 0; i < pages; ++i) {
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        view->viewport()->repaint();
    }
    return (threadCpuMs() - start) / pages;
}

void measureRepaint(const std::vector<std::unique_ptr<CPacket>>& packets, int records)
{
    NewTimeLine window;
    window.InitiateView();
    LineScrollView* view = window.drawing();
    const long beforeKb = statusKb("VmRSS:");
    const double addStart = threadCpuMs();
    for (int i = 0; i < records; ++i)
        window.AddPacket(packets[std::size_t(i) % packets.size()].get());
    const double addMs = threadCpuMs() - addStart;
    const long afterKb = statusKb("VmRSS:");
    window.UpdateView();
    QCoreApplication::processEvents();
    const int bottom = view->verticalScrollBar()->maximum();
    std::printf("repaint records=%d lines=%zu contents=%dx%d add_ms=%.0f bytes_per_record=%.0f "
                "top_ms=%.2f middle_ms=%.2f bottom_ms=%.2f page_scroll_ms=%.2f\n",
                records, view->model().lines().size(), view->model().contentsSize().width(),
                view->model().contentsSize().height(), addMs, (afterKb - beforeKb) * 1024.0 / records,
                repaintMs(view, 0, 20), repaintMs(view, bottom / 2, 20), repaintMs(view, bottom, 20),
                pageScrollMs(view, bottom / 2, 50));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string trace;
    long expected = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--trace")
            trace = argv[i + 1];
        else if (k == "--packets")
            expected = std::atol(argv[i + 1]);
    }
    if (trace.empty() || expected <= 0) {
        std::fprintf(stderr, "usage: bench_timeline --trace FILE --packets N\n");
        return 2;
    }
    // The launcher child must be forked before the toolkit starts.
    if (int rc = startNukProcesses())
        return rc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    {
        const auto packets = readTracePackets(trace, 10000);
        if (packets.empty()) {
            std::fprintf(stderr, "bench_timeline: no packets in %s\n", trace.c_str());
            return 1;
        }
        measureRepaint(packets, 1000);
        measureRepaint(packets, 1000000);
    }

    ControlPanel controller;
    g_Scheduler.SetPace(0.0f);  // every packet is due at once
    auto* window = new NewTimeLine(nullptr, "Time lines");
    controller.AddView(window, QStringLiteral("NewTimeLineView"));
    LineScrollView* view = window->drawing();
    TimeLineModel& model = view->model();
    app.processEvents();

    // A loop of our own: quitting the application would close (and so remove) the view.
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastTick = 0, maxStallNs = 0, doneNs = 0;
    // How much of the longest stall the GUI thread spent working; the rest it waited
    // for a processor.
    double lastCpu = threadCpuMs(), maxStallCpuMs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        if (now - lastTick > maxStallNs) {
            maxStallNs = now - lastTick;
            maxStallCpuMs = cpu - lastCpu;
        }
        lastTick = now;
        lastCpu = cpu;
        if (model.packetCount() >= expected) {
            doneNs = now;
            loop.quit();
        } else if (now > 600ll * 1000 * 1000 * 1000 || (now > 20ll * 1000 * 1000 * 1000 && model.packetCount() == 0)) {
            loop.quit();
        }
    });
    // The user follows the newest arrow.
    QTimer follow;
    follow.setInterval(100);
    QObject::connect(&follow, &QTimer::timeout,
                     [&] { view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum()); });

    clock.start();
    probe.start();
    follow.start();
    nukOpMode = OpDiskFile;
    g_FileName = QString::fromStdString(trace);
    expression = QStringLiteral("tcp or udp");
    controller.Start();
    loop.exec();
    probe.stop();
    follow.stop();

    const long packets = model.packetCount();
    if (packets < expected || doneNs == 0) {
        std::fprintf(stderr, "bench_timeline: only %ld of %ld packets reached the time line\n", packets, expected);
        return 1;
    }
    // The last repaint, at the bottom of a million records.
    window->UpdateView();
    QElapsedTimer paintClock;
    paintClock.start();
    view->viewport()->repaint();
    const double lastPaintMs = double(paintClock.nsecsElapsed()) / 1e6;
    const double seconds = double(doneNs) / 1e9;
    std::printf("replay packets=%ld seconds=%.3f pps=%.0f max_stall_ms=%.1f max_stall_working_ms=%.1f "
                "final_repaint_ms=%.2f peak_rss_mb=%.1f\n",
                packets, seconds, double(packets) / seconds, double(maxStallNs) / 1e6, maxStallCpuMs, lastPaintMs,
                statusKb("VmHWM:") / 1024.0);
    std::fflush(stdout);
    runShutdownSteps();
    std::_Exit(0);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// A trace replayed into one Machine Distribution View at pace 0, as nuk runs it: the
// process model's launcher child starts nuk/pcap in mode 0, the controller's reader
// thread hands every packet to the view, the view applies them on the GUI thread and
// the 500 ms refresh repaints the canvas. Prints packets per second, the GUI thread's
// longest stall, the most packets in flight at any moment, and the time of one layout
// run over all the nodes. Once the layout has come to rest, prints how readable it is
// (node pairs closer than one node diameter, lines through a node they do not join)
// and, with --shot, saves the whole canvas as FILE.png and, addresses shown, as
// FILE-addresses.png.
//
// bench_topology --trace FILE --packets N [--shot FILE]

#include "capture/process/process.h"
#include "capture/controlpanel.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "views/topology/forcelayout.h"
#include "views/topology/topologycanvasview.h"
#include "views/topology/topologymodel.h"
#include "views/topology/topologyview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

long packetsApplied(const TopologyModel& model)
{
    long sent = 0;
    for (const auto& node : model.nodes())
        sent += node->nSent;
    return sent;
}

std::size_t packetsInFlight(const TopologyModel& model)
{
    std::size_t n = 0;
    for (const auto& link : model.links())
        n += link->packetList.size();
    return n;
}

double threadCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Timing {
    double wallMs, cpuMs;  // medians
};

// Medians of `runs` calls of `work`: wall-clock time, and the CPU time of this
// thread, which other programs on a busy machine do not inflate.
template <typename F>
Timing median(int runs, F work)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const double c = threadCpuMs();
        work();
        cpu.push_back(threadCpuMs() - c);
        wall.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return Timing{wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

std::string loadAverage()
{
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? std::to_string(load[0]).substr(0, 4) : std::string("?");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string trace, shot;
    long expected = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--trace") trace = argv[i + 1];
        else if (k == "--packets") expected = std::atol(argv[i + 1]);
        else if (k == "--shot") shot = argv[i + 1];
    }
    if (trace.empty() || expected <= 0) {
        std::fprintf(stderr, "usage: bench_topology --trace FILE --packets N\n");
        return 2;
    }
    // The launcher child must be forked before the toolkit starts.
    if (int rc = startNukProcesses())
        return rc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ControlPanel controller;
    g_Scheduler.SetPace(0.0f);
    auto* view = new CTopologyView(nullptr, "Machine Distribution View");
    controller.AddView(view, QStringLiteral("MachineDistributionView"));
    const TopologyModel& model = view->model();
    app.processEvents();

    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastTick = 0, maxStallNs = 0, doneNs = 0, lastSample = 0;
    // The GUI thread's own work between two ticks: what a stall would be if no other
    // program wanted the processor.
    double lastTickCpu = threadCpuMs(), maxStallCpu = 0;
    std::size_t maxInFlight = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (now - lastTick > 30'000'000 && qEnvironmentVariableIsSet("NUK_BENCH_DEBUG"))
            std::fprintf(stderr, "stall %.1f ms at %.3f s: %zu nodes, %zu links, %ld packets\n", (now - lastTick) / 1e6,
                         now / 1e9, model.nodes().size(), model.links().size(), packetsApplied(model));
        maxStallNs = std::max(maxStallNs, now - lastTick);
        lastTick = now;
        const double cpu = threadCpuMs();
        if (cpu - lastTickCpu > 15 && qEnvironmentVariableIsSet("NUK_BENCH_DEBUG"))
            std::fprintf(stderr, "GUI work %.1f ms at %.3f s: %zu nodes, %zu links, %ld packets\n", cpu - lastTickCpu,
                         now / 1e9, model.nodes().size(), model.links().size(), packetsApplied(model));
        maxStallCpu = std::max(maxStallCpu, cpu - lastTickCpu);
        lastTickCpu = cpu;
        if (now - lastSample > 50'000'000) {
            lastSample = now;
            maxInFlight = std::max(maxInFlight, packetsInFlight(model));
        }
        if (packetsApplied(model) >= expected) {
            doneNs = now;
            probe.stop();
            loop.quit();
        } else if (now > 600ll * 1000 * 1000 * 1000) {
            loop.quit();
        }
    });

    clock.start();
    probe.start();
    nukOpMode = OpDiskFile;
    g_FileName = QString::fromStdString(trace);
    expression = QStringLiteral("tcp or udp");
    controller.Start();
    loop.exec();

    const long applied = packetsApplied(model);
    if (applied < expected || doneNs == 0) {
        std::fprintf(stderr, "bench_topology: only %ld of %ld packets reached the view\n", applied, expected);
        return 1;
    }
    // A refresh after the burst: everything in flight at pace 0 is gone.
    QTimer::singleShot(600, &loop, &QEventLoop::quit);
    loop.exec();
    const std::size_t leftInFlight = packetsInFlight(model);

    // The view goes on laying out, a run per interval, until the nodes rest.
    QElapsedTimer settling;
    settling.start();
    while (model.layoutSettling() && settling.elapsed() < 120'000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double settledSeconds = double(settling.elapsed()) / 1e3;
    const LayoutQuality quality = layoutQuality(model.nodes(), model.links());
    auto saveCanvas = [&](const std::string& file) {
        QImage image(model.canvasWidth(), model.canvasHeight(), QImage::Format_RGB32);
        QPainter painter(&image);
        view->canvasView()->drawCanvas(painter);
        painter.end();
        image.save(QString::fromStdString(file));
    };
    if (!shot.empty()) {
        saveCanvas(shot + ".png");
        view->canvasView()->ShowIPAddress();
        saveCanvas(shot + "-addresses.png");
        view->canvasView()->HideIPAddress();
    }

    // One layout run over all nodes: the model alone, and with the items following.
    TopologyModel& layoutModel = view->model();
    const Timing layout = median(21, [&] { layoutModel.ReForceLayout(3, 2.0f); });
    const Timing layoutItems = median(21, [&] { view->canvasView()->ReForceLayout(3); });
    // Painting the whole canvas, as after a layout moved every node.
    QImage canvas(layoutModel.canvasWidth(), layoutModel.canvasHeight(), QImage::Format_RGB32);
    const Timing repaint = median(5, [&] {
        QPainter painter(&canvas);
        view->canvasView()->drawCanvas(painter);
    });

    const double seconds = double(doneNs) / 1e9;
    std::printf("packets=%ld seconds=%.3f pps=%.0f max_stall_ms=%.1f max_stall_cpu_ms=%.1f nodes=%zu links=%zu max_in_flight=%zu "
                "in_flight_after=%zu layout_ms=%.2f layout_cpu_ms=%.2f layout_items_ms=%.2f layout_items_cpu_ms=%.2f "
                "repaint_ms=%.2f repaint_cpu_ms=%.2f settled_s=%.1f canvas=%dx%d node_pairs=%zu close_pairs=%zu close_share=%.5f "
                "lines=%zu lines_through_nodes=%zu load=%s\n",
                applied, seconds, double(applied) / seconds, double(maxStallNs) / 1e6, maxStallCpu, model.nodes().size(),
                model.links().size(), maxInFlight, leftInFlight, layout.wallMs, layout.cpuMs, layoutItems.wallMs,
                layoutItems.cpuMs, repaint.wallMs, repaint.cpuMs, settledSeconds, model.canvasWidth(), model.canvasHeight(),
                quality.nodePairs, quality.closePairs, quality.closeShare(), quality.lines, quality.linesThroughNodes,
                loadAverage().c_str());
    std::fflush(stdout);
    runShutdownSteps();
    std::_Exit(0);
}

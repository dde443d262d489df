// SPDX-License-Identifier: GPL-2.0-or-later
// One large conversation in both connection views, headless: the trace's frames
// become records as the capture helper makes them, a reader thread hands them to a
// Connection Packet View and a Connection Reconstruction View, and then the
// conversation is selected, listed, reassembled and scrolled to its end, each
// step timed up to the repaint it causes.
//
// bench_connections --trace FILE

#include "bench/common/tracepackets.h"
#include "capture/cpacket.h"
#include "helpers/framerecord.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/testlistview.h"
#include "views/packets/wideasciiscrollview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <pcap/pcap.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <time.h>
#include <vector>

namespace {


struct Took {
    double wallMs, cpuMs;
};

// Runs `step`, lets the event loop deliver what it caused, repaints `window`.
Took timed(QWidget* window, const std::function<void()>& step)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = threadCpuMs();
    step();
    QCoreApplication::processEvents();
    window->grab();
    return {double(clock.nsecsElapsed()) / 1e6, threadCpuMs() - cpu};
}

void select(QTableView* list, int row)
{
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void toEnd(QAbstractScrollArea* pane) { pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum()); }

}  // namespace

int main(int argc, char** argv)
{
    std::string trace;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--trace") == 0)
            trace = argv[i + 1];
    if (trace.empty()) {
        std::fprintf(stderr, "usage: bench_connections --trace FILE\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto packets = readTracePackets(trace);
    if (packets.empty())
        return 1;

    ConnectionViews packetView;
    TestListView reconView(nullptr);
    QElapsedTimer clock;
    clock.start();
    double fileCpuMs = 0;
    std::thread reader([&] {
        const double cpu = threadCpuMs();
        for (const auto& p : packets) {
            packetView.AddPacket(p.get());
            reconView.AddPacket(p.get());
        }
        fileCpuMs = threadCpuMs() - cpu;
    });
    reader.join();
    const Took file{double(clock.nsecsElapsed()) / 1e6, fileCpuMs};
    while (packetView.feed()->model()->rowCount() == 0 || reconView.feed()->model()->rowCount() == 0)
        QCoreApplication::processEvents();

    const Took list = timed(&packetView, [&] { select(packetView.connectionList(), 0); });
    const Took packet = timed(&packetView, [&] { select(packetView.packetList(), packetView.packetModel()->rowCount() - 1); });
    const Took live = timed(&reconView, [&] { select(reconView.connectionList(), 0); });
    const Took recon = timed(&reconView, [&] { reconView.addNewRecon(); });
    const Took end = timed(&reconView, [&] {
        toEnd(reconView.livePane());
        toEnd(reconView.forwardPane());
        toEnd(reconView.backwardPane());
    });
    const Took listEnd = timed(&packetView, [&] { packetView.packetList()->scrollToBottom(); });

    const Connection* c = reconView.currentConnection();
    std::printf("packets=%zu connections=%d listed=%d", packets.size(), packetView.feed()->model()->rowCount(),
                packetView.packetModel()->rowCount());
    const std::pair<const char*, Took> steps[] = {{"file", file}, {"list", list}, {"packet", packet}, {"live", live},
                                                  {"reconstruct", recon}, {"scroll_end", end}, {"list_end", listEnd}};
    for (const auto& [name, took] : steps)
        std::printf(" %s_ms=%.1f %s_cpu_ms=%.1f", name, took.wallMs, name, took.cpuMs);
    std::printf(" live_bytes=%llu forward_bytes=%llu backward_bytes=%llu forward_entries=%zu backward_entries=%zu\n",
                static_cast<unsigned long long>(reconView.livePane()->text().size()),
                static_cast<unsigned long long>(reconView.forwardPane()->text().size()),
                static_cast<unsigned long long>(reconView.backwardPane()->text().size()),
                c ? c->forward().size() : 0, c ? c->backward().size() : 0);
    std::fflush(stdout);
    std::_Exit(0);  // the figures are out; skip tearing down
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Live capture on lo into nuk's six views, headless, as nuk runs it: the process
// model, ControlPanel::Start in mode 1 with the loopback device, every view made
// by the main window's factory. A paced UDP load (loadgen) runs meanwhile.
//
// bench_live --loadgen PATH --port P --rate R --seconds S [--latency]
// Prints one line: sent, delivered to the views, rows in the packet list, what the
// helper took from the kernel and what the kernel dropped, how long after the
// sender's end the last packet reached the views (seconds); with --latency the time
// from each datagram's send to its row in the packet list (median, 99th percentile),
// polled every millisecond on the GUI thread.

#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/process/process.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/viewfactory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
std::int64_t realtimeNs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Runs the event loop for `ms`, or until `done` holds.
template <typename F>
void runFor(int ms, F done)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() >= ms)
            loop.quit();
    });
    tick.start(5);
    loop.exec();
}
}  // namespace

int main(int argc, char** argv)
{
    std::string loadgen, port, rate, seconds;
    bool latency = false;
    for (int i = 1; i < argc; ++i) {
        const std::string k = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (k == "--loadgen") loadgen = v, ++i;
        else if (k == "--port") port = v, ++i;
        else if (k == "--rate") rate = v, ++i;
        else if (k == "--seconds") seconds = v, ++i;
        else if (k == "--latency") latency = true;
    }
    if (loadgen.empty() || port.empty() || rate.empty() || seconds.empty()) {
        std::fprintf(stderr, "usage: bench_live --loadgen PATH --port P --rate R --seconds S [--latency]\n");
        return 2;
    }
    if (int rc = startNukProcesses())  // before the toolkit, as nuk does
        return rc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int status = 0;
    {
        ControlPanel controller;
        g_Scheduler.SetPace(0);  // every packet due at once
        struct Kind {
            ViewKind kind;
            const char* name;
            const char* type;
        };
        const std::vector<Kind> kinds{
            {ViewKind::PacketList, "Packet List View", "PacketListView"},
            {ViewKind::StreamLink, "Connection Packet View", "StreamLinkView"},
            {ViewKind::Reconstruction, "Contents View", "ReconstructionView"},
            {ViewKind::TimeLine, "Time lines", "NewTimeLineView"},
            {ViewKind::TcpState, "TCP State Transition View", "TCPStateDiagramView"},
            {ViewKind::Topology, "Machine Distribution View", "MachineDistributionView"}};
        ListViews* list = nullptr;
        for (const auto& [kind, name, type] : kinds) {
            CTimeBasedView* view = createView(kind, QString::fromLatin1(name), &controller);
            controller.AddView(view, QString::fromLatin1(type));
            if (!list)
                list = dynamic_cast<ListViews*>(view);
        }
        PacketListModel* model = list->model();

        expression = QStringLiteral("udp port %1").arg(QString::fromStdString(port));
        nukOpMode = OpRealtime;
        deviceFlag = 1;
        controller.Start();
        // The helper's first statistics line: its devices are open.
        runFor(10000, [&] { return controller.progress().counted; });
        if (!controller.progress().counted) {
            std::fprintf(stderr, "bench_live: the capture did not start\n");
            return 1;
        }

        int out[2];
        if (::pipe(out) != 0)
            return 1;
        const pid_t sender = ::fork();
        if (sender == 0) {
            ::dup2(out[1], 1);
            ::execl(loadgen.c_str(), "loadgen", port.c_str(), rate.c_str(), seconds.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);

        std::vector<double> latenciesMs;
        int seen = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const std::int64_t now = realtimeNs();
            for (const int rows = model->rowCount(); seen < rows; ++seen) {
                const CPacket* p = model->item(seen).packet();
                std::int64_t sent;
                if (p->GetPacketLength() >= 160 + 8 && p->GetRealData()) {
                    std::memcpy(&sent, p->GetRealData(), 8);
                    latenciesMs.push_back(double(now - sent) / 1e6);
                }
            }
        });
        if (latency)
            probe.start(1);

        int senderStatus = 0;
        runFor(3600 * 1000, [&] { return ::waitpid(sender, &senderStatus, WNOHANG) == sender; });
        char text[128] = "";
        const ssize_t n = ::read(out[0], text, sizeof text - 1);
        text[n > 0 ? n : 0] = '\0';
        unsigned long long sent = 0;
        std::sscanf(text, "sent %llu", &sent);

        // Until the views have taken everything: nothing new for a second.
        // How long the views lag behind the sender: its end to the last delivery.
        std::uint64_t last = ~0ull;
        QElapsedTimer quiet, behind;
        quiet.start();
        behind.start();
        qint64 behindMs = 0;
        runFor(120000, [&] {
            const std::uint64_t now = controller.progress().delivered + std::uint64_t(model->rowCount());
            if (now != last) {
                last = now;
                quiet.restart();
                behindMs = behind.elapsed();
            }
            return quiet.elapsed() > 1000;
        });
        probe.stop();
        const std::uint64_t delivered = controller.progress().delivered;
        const int listed = model->rowCount();
        controller.Stop();
        runFor(1000, [] { return false; });  // the helper's closing line
        const CaptureProgress p = controller.progress();

        std::printf("sent=%llu delivered=%llu listed=%d captured=%llu kernel_drops=%llu interface_drops=%llu "
                    "behind_s=%.1f",
                    sent, (unsigned long long)delivered, listed, (unsigned long long)p.captured,
                    (unsigned long long)p.kernelDrops, (unsigned long long)p.interfaceDrops, behindMs / 1000.0);
        if (latency && !latenciesMs.empty()) {
            std::sort(latenciesMs.begin(), latenciesMs.end());
            std::printf(" latency_median_ms=%.2f latency_p99_ms=%.2f", latenciesMs[latenciesMs.size() / 2],
                        latenciesMs[std::min(latenciesMs.size() - 1, latenciesMs.size() * 99 / 100)]);
        }
        std::printf("\n");
        destroyAllViews();
    }
    runShutdownSteps();
    return status;
}

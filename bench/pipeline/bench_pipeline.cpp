// The whole packet path into one Packet List View, headless: records from the
// capture helper (or read in-process), the controller's AddPacket, the view's
// hand-off to the GUI thread, rows in the list. Prints packets per second, the
// GUI thread's longest stall, peak resident memory and bytes per packet.
//
// bench_pipeline --trace FILE --packets N [--feed controller|reader|inprocess]
//                [--views connections]
//   controller: the process model and ControlPanel::Start (mode 0), as nuk runs it
//   reader:     a reader thread of our own on a pipe from $NUKPATH/nuk/pcap (mode 0)
//   inprocess:  a reader thread that reads the trace with libpcap (no helper)
//   --views connections: a Connection Packet View and a Connection Reconstruction
//     View open too; afterwards the largest conversation is selected in both and
//     reconstructed.

#include "capture/process/process.h"
#include "bench/common/procstatus.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/recordreader.h"
#include "capture/scheduler.h"
#include "capture/settings.h"
#include "views/packets/connection.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionlistmodel.h"
#include "views/packets/connectionviews.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/testlistview.h"
#include "views/packets/wideasciiscrollview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTableView>

#include <pcap/pcap.h>

#include <atomic>
#include <functional>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_feedFailed{false};

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void deliver(ControlPanel& controller, const RawPacket& raw)
{
    controller.AddPacket(new CPacket(&raw));
}

// Reader of our own on a pipe from the capture helper in mode 0.
void feedFromHelper(ControlPanel& controller, const std::string& trace)
{
    char* root = getNukPath();
    const std::string helper = std::string(root ? root : ".") + "/nuk/pcap";
    std::free(root);
    int fds[2];
    if (::pipe(fds) != 0) {
        g_feedFailed = true;
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        char fd[16];
        std::snprintf(fd, sizeof fd, "%d", fds[1]);
        char* args[] = {const_cast<char*>("pcap"), const_cast<char*>(trace.c_str()), fd, const_cast<char*>("0"),
                        const_cast<char*>("NULL"), const_cast<char*>("tcp or udp"), nullptr};
        ::execv(helper.c_str(), args);
        ::_exit(127);
    }
    ::close(fds[1]);
    RecordReader reader(fds[0]);
    RawPacket raw;
    while (reader.next(raw) == RecordReader::Status::Record)
        deliver(controller, raw);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        g_feedFailed = true;
}

// The helper's work done in-process: frames cut into records.
void feedInProcess(ControlPanel& controller, const std::string& trace)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* pc = pcap_open_offline(trace.c_str(), err);
    if (!pc) {
        std::fprintf(stderr, "%s\n", err);
        g_feedFailed = true;
        return;
    }
    pcap_pkthdr* h;
    const u_char* f;
    while (pcap_next_ex(pc, &h, &f) == 1) {
        if (h->caplen < 42 || f[12] != 0x08 || f[13] != 0x00)
            continue;
        RawPacket raw{};
        std::memset(raw.fixed, 0, sizeof raw.fixed);
        const int ihl = (f[14] & 0x0f) * 4;
        const bool tcp = f[23] == 6;
        const int t = 14 + ihl;
        std::memcpy(raw.fixed + record::Ethernet, f, 14);
        std::memcpy(raw.fixed + record::Ip, f + 14, 20);
        std::memcpy(raw.fixed + record::IpOptions, f + 34, std::size_t(ihl - 20));
        int at;
        if (tcp) {
            const int thl = (f[t + 12] >> 4) * 4;
            std::memcpy(raw.fixed + record::Tcp, f + t, 20);
            std::memcpy(raw.fixed + record::TcpOptions, f + t + 20, std::size_t(thl - 20));
            at = t + thl;
        } else {
            std::memcpy(raw.fixed + record::Udp, f + t, 8);
            at = t + 8;
        }
        const std::int32_t head[4] = {std::int32_t(h->ts.tv_sec), std::int32_t(h->ts.tv_usec), tcp ? 1 : 2,
                                      std::int32_t(packetlen + std::max<int>(0, int(h->caplen) - at))};
        std::memcpy(raw.fixed, head, sizeof head);
        raw.payload = int(h->caplen) > at ? f + at : nullptr;
        deliver(controller, raw);
    }
    pcap_close(pc);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string trace, feed = "reader";
    long expected = 0;
    int sortColumn = -1;  // --sort C: keep the list sorted by column C while packets arrive
    bool withConnections = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--trace") trace = argv[i + 1];
        else if (k == "--packets") expected = std::atol(argv[i + 1]);
        else if (k == "--feed") feed = argv[i + 1];
        else if (k == "--sort") sortColumn = std::atoi(argv[i + 1]);
        else if (k == "--views") withConnections = std::string(argv[i + 1]) == "connections";
    }
    if (trace.empty() || expected <= 0) {
        std::fprintf(stderr, "usage: bench_pipeline --trace FILE --packets N [--feed controller|reader|inprocess]\n");
        return 2;
    }
    if (feed == "controller") {
        // The launcher child must be forked before the toolkit starts.
        if (int rc = startNukProcesses())
            return rc;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ControlPanel controller;
    g_Scheduler.SetPace(0.0f);  // pace 0: every packet is due at once
    auto* view = new ListViews(nullptr, "Packet List View");
    controller.AddView(view, QStringLiteral("PacketListView"));
    if (sortColumn >= 0)
        view->packetList()->sortByColumn(sortColumn, Qt::AscendingOrder);
    ConnectionViews* connectionView = nullptr;
    TestListView* reconView = nullptr;
    if (withConnections) {
        connectionView = new ConnectionViews(nullptr, "Connection Packet View");
        controller.AddView(connectionView, QStringLiteral("StreamLinkView"));
        reconView = new TestListView(&controller, nullptr, "Contents View");
        controller.AddView(reconView, QStringLiteral("ReconstructionView"));
    }
    auto connectionsPending = [&] {
        return withConnections && (connectionView->feed()->handoff()->pending() > 0 || reconView->feed()->handoff()->pending() > 0);
    };
    app.processEvents();
    const long baselineKb = statusKb("VmRSS:");

    // A loop of our own: quitting the application would close (and so remove) the view.
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastTick = 0, maxStallNs = 0, doneNs = 0;
    // How much of the longest stall the GUI thread itself worked; the rest it waited
    // for a processor (the machine may be shared with other work).
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
            if (qEnvironmentVariableIsSet("NUK_BENCH_DEBUG"))
                std::fprintf(stderr, "stall %.1f ms at %.3f s, %d rows\n", maxStallNs / 1e6, now / 1e9, view->model()->rowCount());
        }
        lastTick = now;
        lastCpu = cpu;
        if (qEnvironmentVariableIsSet("NUK_BENCH_DEBUG") && now / 1000000000 != (now - 1000000) / 1000000000)
            std::fprintf(stderr, "%llds rows=%d pending=%zu packets=%zu\n", now / 1000000000, view->model()->rowCount(),
                         view->handoff()->pending(), controller.packetCount());
        if (view->model()->rowCount() >= expected && !connectionsPending()) {
            doneNs = now;
            probe.stop();
            loop.quit();
        } else if (now > 600ll * 1000 * 1000 * 1000 || (g_feedFailed && view->handoff()->pending() == 0) ||
                   (now > 20ll * 1000 * 1000 * 1000 && view->model()->rowCount() == 0)) {
            loop.quit();
        }
    });

    std::thread feeder;
    clock.start();
    probe.start();
    if (feed == "controller") {
        nukOpMode = OpDiskFile;
        g_FileName = QString::fromStdString(trace);
        expression = QStringLiteral("tcp or udp");
        controller.Start();
    } else if (feed == "reader") {
        feeder = std::thread(feedFromHelper, std::ref(controller), trace);
    } else {
        feeder = std::thread(feedInProcess, std::ref(controller), trace);
    }
    loop.exec();
    if (feeder.joinable())
        feeder.join();

    const long rows = view->model()->rowCount();
    if (rows < expected || doneNs == 0) {
        std::fprintf(stderr, "bench_pipeline: only %ld of %ld packets became rows\n", rows, expected);
        return 1;
    }
    const long filedPeakKb = statusKb("VmHWM:");
    // The largest conversation selected in both connection views and reconstructed.
    // Wall clock and the GUI thread's processor time of each step, up to its repaint.
    struct Took {
        double wallMs = 0, cpuMs = 0;
    } select, live, recon;
    std::size_t largest = 0;
    if (withConnections) {
        auto timed = [&](QWidget* window, const std::function<void()>& step) {
            QElapsedTimer c;
            c.start();
            const double cpu = threadCpuMs();
            step();
            app.processEvents();
            window->grab();
            return Took{double(c.nsecsElapsed()) / 1e6, threadCpuMs() - cpu};
        };
        auto selectLargest = [&](QTableView* list, ConnectionListModel* model) {
            int best = 0;
            for (int r = 0; r < model->rowCount(); ++r)
                if (model->connection(r)->packets().size() > model->connection(best)->packets().size())
                    best = r;
            largest = model->connection(best)->packets().size();
            list->selectionModel()->setCurrentIndex(model->index(best, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        };
        select = timed(connectionView, [&] { selectLargest(connectionView->connectionList(), connectionView->feed()->model()); });
        live = timed(reconView, [&] { selectLargest(reconView->connectionList(), reconView->feed()->model()); });
        recon = timed(reconView, [&] { reconView->addNewRecon(); });
    }

    // Afterwards the list must stay usable: sort a million rows and back.
    QElapsedTimer sortClock;
    sortClock.start();
    view->packetList()->sortByColumn(PacketListItem::ColInfo, Qt::AscendingOrder);
    const qint64 sortInfoMs = sortClock.elapsed();
    sortClock.restart();
    view->packetList()->sortByColumn(PacketListItem::ColNo, Qt::AscendingOrder);
    app.processEvents();
    const qint64 sortBackMs = sortClock.elapsed();

    const double seconds = double(doneNs) / 1e9;
    double payload = 0;  // counted from the rows, whoever built the packets
    for (long r = 0; r < rows; ++r)
        payload += view->model()->item(int(r)).packet()->payloadLength();
    std::printf("sorted_by=%d max_stall_working_ms=%.1f ", sortColumn, maxStallCpuMs);
    if (withConnections)
        std::printf("largest_conversation=%zu select_ms=%.1f select_cpu_ms=%.1f live_ms=%.1f live_cpu_ms=%.1f "
                    "reconstruct_ms=%.1f reconstruct_cpu_ms=%.1f bytes_per_packet_after_reconstruct=%.0f ",
                    largest, select.wallMs, select.cpuMs, live.wallMs, live.cpuMs, recon.wallMs, recon.cpuMs,
                    (statusKb("VmHWM:") * 1024.0 - payload) / double(rows));
    std::printf("feed=%s packets=%ld seconds=%.3f pps=%.0f max_stall_ms=%.1f peak_rss_mb=%.1f payload_mb=%.1f "
                "bytes_per_packet=%.0f bytes_per_packet_above_baseline=%.0f sort_info_ms=%lld sort_back_ms=%lld\n",
                feed.c_str(), rows, seconds, double(rows) / seconds, double(maxStallNs) / 1e6, filedPeakKb / 1024.0,
                payload / 1048576.0, (filedPeakKb * 1024.0 - payload) / double(rows),
                ((filedPeakKb - baselineKb) * 1024.0 - payload) / double(rows), static_cast<long long>(sortInfoMs),
                static_cast<long long>(sortBackMs));
    std::fflush(stdout);
    if (feed == "controller")
        runShutdownSteps();
    // Skip tearing down a million rows one by one; the figures are out.
    std::_Exit(0);
}

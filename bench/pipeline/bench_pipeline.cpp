// SPDX-License-Identifier: GPL-2.0-or-later
// The whole packet path into one Packet List View, headless: records from the
// capture helper (or read in-process), the controller's AddPacket, the view's
// hand-off to the GUI thread, rows in the list. Prints packets per second, the
// GUI thread's longest stall, peak resident memory and bytes per packet.
//
// bench_pipeline --trace FILE --packets N [--feed controller|reader|inprocess]
//                [--views list|connections|all] [--pace MS] [--steps N]
//   controller: the process model and ControlPanel::Start (mode 0), as nuk runs it
//   reader:     a reader thread of our own on a pipe from $NUKPATH/nuk/pcap (mode 0)
//   inprocess:  a reader thread that reads the trace with libpcap (no helper)
//   --views connections: a Connection Packet View and a Connection Reconstruction
//     View open too; afterwards the largest conversation is selected in both and
//     reconstructed.
//   --views all: the time line, the TCP state diagram and the machine distribution
//     view open as well, every view made by the main window's factory.
//   --pace MS: the display pace (default 0: every packet due at once).
//   --steps N: step mode instead (controller feed): N Steps with the whole trace
//     queued behind the first packets, then half the trace released at pace 0 and
//     N Steps more; each timed until every view shows the stepped packet.
//   --display EXPR: once every packet is shown, sets the display filter EXPR and
//     times the re-feed until every view holds the matching packets, with the GUI
//     thread's longest stall meanwhile (the other figures are skipped).
// NUK_BENCH_REPLAY_ONLY=1 ends after the replay (for profiling it);
// NUK_BENCH_DEBUG=1 reports progress, stalls and long GUI work on standard error.

#include "capture/process/process.h"
#include "bench/common/procstatus.h"
#include "bench/common/tracepackets.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/displayfilter.h"
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
#include "views/tcpstate/stattrandiagram.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/newtimeline.h"
#include "views/topology/topologycanvasview.h"
#include "views/topology/topologyitems.h"
#include "views/topology/topologymodel.h"
#include "views/topology/topologyview.h"
#include "views/viewfactory.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QScrollBar>
#include <QTimer>
#include <QTableView>

#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_feedFailed{false};

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


double processCpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Processor seconds of the busiest thread other than this one: the controller's
// reader, which files every packet into every view.
double busiestOtherThreadCpuS()
{
    const long self = long(::gettid());
    const double tick = double(::sysconf(_SC_CLK_TCK));
    double most = 0;
    for (const std::filesystem::directory_entry& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (std::atol(task.path().filename().c_str()) == self)
            continue;
        std::ifstream f(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        most = std::max(most, (utime + stime) / tick);
    }
    return most;
}

std::string loadAverage()
{
    double load[1] = {0};
    char text[16] = "?";
    if (::getloadavg(load, 1) == 1)
        std::snprintf(text, sizeof text, "%.2f", load[0]);
    return text;
}

template <typename V>
V* openView(ControlPanel& controller, ViewKind kind, const char* name, const char* typeName)
{
    auto* view = dynamic_cast<V*>(createView(kind, QString::fromLatin1(name), &controller));
    controller.AddView(view, QString::fromLatin1(typeName));
    return view;
}

// Marks when a widget paints while a condition holds: a stepped packet is shown once
// each drawing that shows it has painted after taking it.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget* widget, std::function<bool()> holdsPacket) : m_holds(std::move(holdsPacket))
    {
        widget->installEventFilter(this);
    }
    void arm() { m_shown = false; }
    bool shown() const { return m_shown; }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_shown && m_holds())
            m_shown = true;
        return false;
    }

private:
    std::function<bool()> m_holds;
    bool m_shown = true;
};

// The views of one run and how far each has come.
struct Views {
    ControlPanel* controller = nullptr;
    ListViews* list = nullptr;
    ConnectionViews* connections = nullptr;
    TestListView* recon = nullptr;
    NewTimeLine* timeLine = nullptr;
    StatTranDiagram* tcpState = nullptr;
    CTopologyView* topology = nullptr;
    long target = 0;  // the packet a step waits for

    long listed() const { return list->model()->rowCount(); }
    long timeLined() const { return timeLine ? timeLine->drawing()->model().packetCount() : 0; }
    long applied() const
    {
        long sent = 0;
        if (topology)
            for (const auto& node : topology->model().nodes())
                sent += node->nSent;
        return sent;
    }
    long delivered() const { return long(controller->progress().delivered); }
    std::uint64_t tcpTaken() const { return tcpState ? tcpState->snapshot().packetsTaken : 0; }
    bool connectionsBehind(long n) const
    {
        for (ConnectionWindow* w : {static_cast<ConnectionWindow*>(connections), static_cast<ConnectionWindow*>(recon)})
            if (w && (long(w->feed()->packetCount()) < n || w->feed()->handoff()->pending() > 0))
                return true;
        return false;
    }
    // Every view holds `n` packets and has nothing queued for the GUI thread.
    bool hold(long n) const
    {
        return listed() >= n && !connectionsBehind(n) && (!timeLine || timeLined() >= n) &&
               (!topology || (applied() >= n && topology->handoff()->pending() == 0)) && (!tcpState || delivered() >= n);
    }
};

struct StepFigures {
    double medianMs = 0, maxMs = 0, medianCpuMs = 0, maxCpuMs = 0;
    long shownBefore = 0;
    int steps = 0;
};

// Whether the map must paint to show the list's packet `number`: while it travels a
// link that lies on screen.
bool mapShowsInFlight(const Views& v, long number)
{
    const CPacket* packet = v.list->model()->item(int(number - 1)).packet();
    const TopologyModel& model = v.topology->model();
    const CLink* link = model.findLink(packet->sourceAddress(), packet->destAddress());
    if (!link || std::none_of(link->packetList.begin(), link->packetList.end(),
                              [packet](const LINKPACKET& p) { return p.pPacket == packet; }))
        return false;
    CTopologyCanvasView* canvas = v.topology->canvasView();
    for (std::size_t i = 0; i < model.links().size(); ++i)
        if (model.links()[i].get() == link)
            return canvas->viewport()->rect().intersects(
                canvas->mapFromScene(canvas->linkItem(int(i))->sceneBoundingRect()).boundingRect());
    return false;
}

// `steps` Steps, each timed from the command until every view shows the packet it
// released: the lists hold it, and each drawing that shows it has painted since.
StepFigures timeSteps(Views& v, int steps)
{
    PaintWatch listWatch(v.list->packetList()->viewport(), [&v] { return v.listed() >= v.target; });
    std::unique_ptr<PaintWatch> lineWatch, mapWatch, tcpWatch;
    if (v.timeLine)
        lineWatch = std::make_unique<PaintWatch>(v.timeLine->drawing()->viewport(), [&v] { return v.timeLined() >= v.target; });
    if (v.topology)
        mapWatch =
            std::make_unique<PaintWatch>(v.topology->canvasView()->viewport(), [&v] { return v.applied() >= v.target; });
    if (v.tcpState)
        tcpWatch = std::make_unique<PaintWatch>(v.tcpState->canvas(), [&v] { return v.delivered() >= v.target; });

    StepFigures f;
    f.shownBefore = v.delivered();
    std::vector<double> wall, cpu;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    for (int i = 0; i < steps; ++i) {
        v.target = v.delivered() + 1;
        const std::uint64_t tcpBefore = v.tcpTaken();
        for (PaintWatch* w : {&listWatch, lineWatch.get(), mapWatch.get(), tcpWatch.get()})
            if (w)
                w->arm();
        QElapsedTimer clock;
        bool listShown = false, lineShown = false, mapShown = false, tcpShown = false, answered = false;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            listShown = v.hold(v.target) && listWatch.shown();
            lineShown = !lineWatch || lineWatch->shown();
            mapShown = !mapWatch || (v.applied() >= v.target && (mapWatch->shown() || !mapShowsInFlight(v, v.target)));
            tcpShown = !tcpWatch || (v.delivered() >= v.target && (v.tcpTaken() == tcpBefore || tcpWatch->shown()));
            answered = listShown && lineShown && mapShown && tcpShown;
            if (answered || clock.elapsed() > 5000)
                loop.quit();
        });
        const double cpuStart = threadCpuMs();
        clock.start();
        g_Scheduler.step();
        poll.start();
        loop.exec();
        poll.stop();
        poll.disconnect(&loop);
        if (!answered) {
            std::fprintf(stderr, "bench_pipeline: step %d (packet %ld) not shown within 5 s: lists %d, time line %d, "
                                 "TCP state %d, map %d\n", i, v.target, listShown, lineShown, tcpShown, mapShown);
            break;
        }
        wall.push_back(double(clock.nsecsElapsed()) / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
        // A user's next Step comes a frame or more later.
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    f.steps = int(wall.size());
    if (wall.empty())
        return f;
    f.maxMs = *std::max_element(wall.begin(), wall.end());
    f.maxCpuMs = *std::max_element(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    f.medianMs = wall[wall.size() / 2];
    f.medianCpuMs = cpu[cpu.size() / 2];
    return f;
}

// The GUI thread's longest stall between two ticks of a 1 ms timer, and how much of
// it the thread itself worked; the rest it waited for a processor (the machine may
// be shared with other work).
struct StallMeter {
    qint64 lastTick = 0, maxStallNs = 0;
    double lastCpu = threadCpuMs(), maxStallCpuMs = 0;
    qint64 sinceNs = 0;  // wall clock since the tick before
    double workMs = 0;   // the thread's own work since the tick before
    const bool debug = qEnvironmentVariableIsSet("NUK_BENCH_DEBUG");
    // A tick at `now` with `rows` listed; with NUK_BENCH_DEBUG, says when it ends the
    // longest stall so far.
    void tick(qint64 now, long rows)
    {
        if (longest(now) && debug)
            std::fprintf(stderr, "stall %.1f ms (%.1f working) at %.3f s, %ld rows\n", maxStallNs / 1e6,
                         maxStallCpuMs, now / 1e9, rows);
    }
    bool longest(qint64 now)
    {
        const double cpu = threadCpuMs();
        sinceNs = now - lastTick;
        workMs = cpu - lastCpu;
        lastTick = now;
        lastCpu = cpu;
        if (sinceNs <= maxStallNs)
            return false;
        maxStallNs = sinceNs;
        maxStallCpuMs = workMs;
        return true;
    }
};

// The GUI thread's probe: `tick` every millisecond, as precisely as the timer can.
void everyMillisecond(QTimer& probe, const std::function<void()>& tick)
{
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, tick);
}

// Runs the event loop until `done` holds or `ms` pass.
bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

// Sets the display filter `text` with every packet shown and waits until each view
// holds the packets it matches. Prints the time, the count and the GUI thread's
// longest stall meanwhile, then ends the process.
int timeDisplayFilter(QApplication& app, Views& v, const std::string& text, long captured, bool controllerFeed)
{
    std::vector<bpf_insn> program;
    std::string error;
    if (!DisplayFilter::compile(text, program, error)) {
        std::fprintf(stderr, "bench_pipeline: display filter: %s\n", error.c_str());
        return 1;
    }
    app.processEvents();
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 doneNs = 0;
    StallMeter stalls;
    QTimer probe;
    everyMillisecond(probe, [&] {
        const qint64 now = clock.nsecsElapsed();
        stalls.tick(now, v.listed());
        const DisplayProgress p = v.controller->displayProgress();
        if (!p.refeeding && v.hold(long(p.matched)) && v.listed() == long(p.matched)) {
            doneNs = now;
            probe.stop();
            loop.quit();
        } else if (now > 900ll * 1000 * 1000 * 1000) {
            loop.quit();
        }
    });
    clock.start();
    probe.start();
    v.controller->setDisplayFilter(std::make_shared<const DisplayFilter>(text, std::move(program)));
    // Emptying the views is part of it: "Clear View" in each view that is not locked.
    const double clearMs = double(clock.nsecsElapsed()) / 1e6, clearCpuMs = threadCpuMs() - stalls.lastCpu;
    loop.exec();
    const DisplayProgress p = v.controller->displayProgress();
    // "Save Displayed As...": the matching packets written as a pcap file.
    QElapsedTimer saveClock;
    saveClock.start();
    const std::string saved = QDir::tempPath().toStdString() + "/bench_pipeline_displayed.pcap";
    const auto filter = v.controller->displayFilter();
    // As the progress dialog does: the event loop runs at each progress report.
    qint64 lastReport = 0, longestGap = 0;
    const long long written =
        writeDisplayedTrace(saved, v.controller->capturedPackets(), filter.get(), error, [&](std::size_t) {
            const qint64 now = saveClock.nsecsElapsed();
            longestGap = std::max(longestGap, now - lastReport);
            lastReport = now;
            app.processEvents();
            return true;
        });
    const double saveMs = double(saveClock.nsecsElapsed()) / 1e6;
    ::unlink(saved.c_str());
    std::printf("display_saved=%lld display_save_ms=%.0f display_save_longest_gap_ms=%.1f ", written, saveMs,
                double(longestGap) / 1e6);
    std::printf("display_seconds=%.3f display_matched=%llu display_captured=%ld display_max_stall_ms=%.1f "
                "display_max_stall_working_ms=%.1f display_clear_ms=%.1f display_clear_cpu_ms=%.1f load=%s\n",
                double(doneNs) / 1e9, static_cast<unsigned long long>(p.matched), captured, double(stalls.maxStallNs) / 1e6,
                stalls.maxStallCpuMs, clearMs, clearCpuMs, loadAverage().c_str());
    std::fflush(stdout);
    if (controllerFeed)
        runShutdownSteps();
    std::_Exit(doneNs > 0 ? 0 : 1);
}

int main(int argc, char** argv)
{
    std::string trace, feed = "reader", views = "list", display;
    long expected = 0;
    int sortColumn = -1;  // --sort C: keep the list sorted by column C while packets arrive
    float pace = 0.0f;
    int steps = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        if (k == "--trace") trace = argv[i + 1];
        else if (k == "--packets") expected = std::atol(argv[i + 1]);
        else if (k == "--feed") feed = argv[i + 1];
        else if (k == "--sort") sortColumn = std::atoi(argv[i + 1]);
        else if (k == "--views") views = argv[i + 1];
        else if (k == "--pace") pace = std::strtof(argv[i + 1], nullptr);
        else if (k == "--steps") steps = std::atoi(argv[i + 1]);
        else if (k == "--display") display = argv[i + 1];
    }
    if (trace.empty() || expected <= 0 || (views != "list" && views != "connections" && views != "all") ||
        (steps > 0 && feed != "controller")) {
        std::fprintf(stderr, "usage: bench_pipeline --trace FILE --packets N [--feed controller|reader|inprocess]\n"
                             "       [--views list|connections|all] [--pace MS] [--steps N (controller feed)]\n");
        return 2;
    }
    const bool withConnections = views != "list";
    const bool allViews = views == "all";
    if (feed == "controller") {
        // The launcher child must be forked before the toolkit starts.
        if (int rc = startNukProcesses())
            return rc;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ControlPanel controller;
    // Step mode runs at pace 1000 unless told otherwise: the map's packets then travel
    // their links for a second, long enough to be seen.
    const float stepPace = pace > 0 ? pace : 1000.0f;
    g_Scheduler.SetPace(steps > 0 ? stepPace : pace);
    Views v;
    v.controller = &controller;
    v.list = openView<ListViews>(controller, ViewKind::PacketList, "Packet List View", "PacketListView");
    ListViews* view = v.list;
    if (sortColumn >= 0)
        view->packetList()->sortByColumn(sortColumn, Qt::AscendingOrder);
    if (withConnections) {
        v.connections =
            openView<ConnectionViews>(controller, ViewKind::StreamLink, "Connection Packet View", "StreamLinkView");
        v.recon = openView<TestListView>(controller, ViewKind::Reconstruction, "Contents View", "ReconstructionView");
    }
    if (allViews) {
        v.timeLine = openView<NewTimeLine>(controller, ViewKind::TimeLine, "Time lines", "NewTimeLineView");
        v.tcpState =
            openView<StatTranDiagram>(controller, ViewKind::TcpState, "TCP State Transition View", "TCPStateDiagramView");
        v.topology =
            openView<CTopologyView>(controller, ViewKind::Topology, "Machine Distribution View", "MachineDistributionView");
    }
    ConnectionViews* connectionView = v.connections;
    TestListView* reconView = v.recon;
    app.processEvents();
    const long baselineKb = statusKb("VmRSS:");

    // A loop of our own: quitting the application would close (and so remove) the view.
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 doneNs = 0;
    // Also the longest stretch of the GUI thread's own work between two ticks,
    // whatever the wall clock said.
    StallMeter stalls;
    double maxWorkMs = 0;
    const bool debug = stalls.debug;
    QTimer probe;
    everyMillisecond(probe, [&] {
        const qint64 now = clock.nsecsElapsed();
        stalls.tick(now, v.listed());
        if (debug && stalls.workMs > 15)
            std::fprintf(stderr, "GUI work %.1f ms (wall %.1f) at %.3f s, %ld rows\n", stalls.workMs,
                         stalls.sinceNs / 1e6, now / 1e9, v.listed());
        maxWorkMs = std::max(maxWorkMs, stalls.workMs);
        if (debug && now / 1000000000 != (now - 1000000) / 1000000000)
            std::fprintf(stderr, "%llds rows=%ld pending=%zu packets=%zu time line=%ld map=%ld\n", now / 1000000000,
                         v.listed(), view->handoff()->pending(), controller.packetCount(), v.timeLined(), v.applied());
        if (v.hold(expected)) {
            doneNs = now;
            probe.stop();
            loop.quit();
        } else if (now > 900ll * 1000 * 1000 * 1000 || (g_feedFailed && view->handoff()->pending() == 0) ||
                   (now > 20ll * 1000 * 1000 * 1000 && v.listed() == 0)) {
            loop.quit();
        }
    });
    // The user follows the newest arrow of the time line.
    QTimer follow;
    follow.setInterval(100);
    if (v.timeLine) {
        QScrollBar* bar = v.timeLine->drawing()->verticalScrollBar();
        QObject::connect(&follow, &QTimer::timeout, [bar] { bar->setValue(bar->maximum()); });
    }

    std::thread feeder;
    const double processCpuStart = processCpuMs(), guiCpuStart = threadCpuMs();
    clock.start();
    if (steps > 0) {
        g_bPureStepMode = true;  // "Start at Step Mode"
        g_bStepIt = true;
    } else {
        probe.start();
    }
    follow.start();
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
    if (steps > 0) {
        // The first two packets pass at once; the rest wait in the helper and the pipe.
        StepFigures early, late;
        if (!waitFor([&] { return v.hold(2); }, 20000)) {
            std::fprintf(stderr, "bench_pipeline: the first packets did not arrive\n");
            return 1;
        }
        waitFor([] { return false; }, 500);  // the helper fills the pipe meanwhile
        early = timeSteps(v, steps);
        // Half the trace at pace 0, then step mode again with the views full.
        g_bPureStepMode = false;
        g_Scheduler.SetPace(0.0f);
        g_Scheduler.step();
        waitFor([&] { return v.delivered() >= expected / 2; }, 900000);
        g_bPureStepMode = true;
        g_Scheduler.SetPace(stepPace);
        waitFor([&] { return v.hold(v.delivered()) && controller.packetCount() == std::size_t(v.delivered()); }, 900000);
        waitFor([] { return false; }, 600);
        late = timeSteps(v, steps);
        std::printf("steps=%d shown_before=%ld step_median_ms=%.1f step_max_ms=%.1f step_median_cpu_ms=%.1f "
                    "step_max_cpu_ms=%.1f late_steps=%d late_shown_before=%ld late_step_median_ms=%.1f "
                    "late_step_max_ms=%.1f late_step_median_cpu_ms=%.1f late_step_max_cpu_ms=%.1f "
                    "peak_rss_mb=%.1f load=%s\n",
                    early.steps, early.shownBefore, early.medianMs, early.maxMs, early.medianCpuMs, early.maxCpuMs,
                    late.steps, late.shownBefore, late.medianMs, late.maxMs, late.medianCpuMs, late.maxCpuMs,
                    statusKb("VmHWM:") / 1024.0, loadAverage().c_str());
        std::fflush(stdout);
        runShutdownSteps();
        std::_Exit(early.steps == steps && late.steps == steps ? 0 : 1);
    }
    loop.exec();
    follow.stop();
    const double processCpuS = (processCpuMs() - processCpuStart) / 1e3, guiCpuS = (threadCpuMs() - guiCpuStart) / 1e3;
    const double readerCpuS = busiestOtherThreadCpuS();
    if (qEnvironmentVariableIsSet("NUK_BENCH_REPLAY_ONLY")) {
        // For profiling the replay alone (perf record -- bench_pipeline ...).
        std::printf("seconds=%.3f gui_cpu_s=%.2f reader_cpu_s=%.2f process_cpu_s=%.2f max_stall_ms=%.1f "
                    "max_stall_working_ms=%.1f max_gui_work_ms=%.1f rss_mb=%.1f\n",
                    double(doneNs) / 1e9, guiCpuS, readerCpuS, processCpuS, double(stalls.maxStallNs) / 1e6, stalls.maxStallCpuMs,
                    maxWorkMs, statusKb("VmRSS:") / 1024.0);
        std::fflush(stdout);
        std::_Exit(0);
    }
    if (feeder.joinable())
        feeder.join();

    const long rows = view->model()->rowCount();
    if (rows < expected || doneNs == 0) {
        std::fprintf(stderr, "bench_pipeline: only %ld of %ld packets became rows\n", rows, expected);
        return 1;
    }
    if (!display.empty())
        return timeDisplayFilter(app, v, display, expected, feed == "controller");
    const long filedPeakKb = statusKb("VmHWM:");
    // The trace's own duration: at a pace above 0 the replay cannot be faster.
    double traceSeconds = 0;
    {
        const std::int32_t* first = view->model()->item(0).packet()->GetTimeStamp();
        const std::int32_t* last = view->model()->item(int(rows - 1)).packet()->GetTimeStamp();
        traceSeconds = double(last[0] - first[0]) + double(last[1] - first[1]) / 1e6;
    }
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
    std::printf("views=%s pace=%g trace_seconds=%.3f gui_cpu_s=%.2f reader_cpu_s=%.2f process_cpu_s=%.2f max_gui_work_ms=%.1f "
                "load=%s ",
                views.c_str(), double(pace), traceSeconds, guiCpuS, readerCpuS, processCpuS, maxWorkMs, loadAverage().c_str());
    std::printf("sorted_by=%d max_stall_working_ms=%.1f ", sortColumn, stalls.maxStallCpuMs);
    if (withConnections)
        std::printf("largest_conversation=%zu select_ms=%.1f select_cpu_ms=%.1f live_ms=%.1f live_cpu_ms=%.1f "
                    "reconstruct_ms=%.1f reconstruct_cpu_ms=%.1f bytes_per_packet_after_reconstruct=%.0f ",
                    largest, select.wallMs, select.cpuMs, live.wallMs, live.cpuMs, recon.wallMs, recon.cpuMs,
                    (statusKb("VmHWM:") * 1024.0 - payload) / double(rows));
    std::printf("feed=%s packets=%ld seconds=%.3f pps=%.0f max_stall_ms=%.1f peak_rss_mb=%.1f payload_mb=%.1f "
                "bytes_per_packet=%.0f bytes_per_packet_above_baseline=%.0f sort_info_ms=%lld sort_back_ms=%lld\n",
                feed.c_str(), rows, seconds, double(rows) / seconds, double(stalls.maxStallNs) / 1e6, filedPeakKb / 1024.0,
                payload / 1048576.0, (filedPeakKb * 1024.0 - payload) / double(rows),
                ((filedPeakKb - baselineKb) * 1024.0 - payload) / double(rows), static_cast<long long>(sortInfoMs),
                static_cast<long long>(sortBackMs));
    std::fflush(stdout);
    if (feed == "controller")
        runShutdownSteps();
    // Skip tearing down a million rows one by one; the figures are out.
    std::_Exit(0);
}

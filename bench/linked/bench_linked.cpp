// SPDX-License-Identifier: GPL-2.0-or-later
// One packet in every view, at scale, headless.
//
// Writes a trace of N packets (default 1,000,000): one TCP connection of 100,000
// packets (a handshake, then data both ways) among traffic of 400 other
// conversations between 50 hosts, TCP and UDP. The packets go through a capture
// controller into all six views. Then:
//
// 1. Making a packet current (from the packet list, as a click does, and from the
//    time line's arrow): the time from the selection until every view has shown it
//    and repainted (each window repainted synchronously), for packets near the end
//    of the capture and in the long connection; median and worst.
// 2. Following the long connection in the TCP state diagram (its packets taken from
//    the controller and run through the tracker), against `tcpdump -nn -r` picking
//    the same connection's packets out of the trace.
//
// bench_linked [--packets N] [--keep FILE]

#include "bench/common/tracepackets.h"
#include "capture/controlpanel.h"
#include "capture/cpacket.h"
#include "capture/currentpacket.h"
#include "views/packets/connectionfeed.h"
#include "views/packets/connectionviews.h"
#include "views/packets/listviews.h"
#include "views/packets/packetlistmodel.h"
#include "views/packets/testlistview.h"
#include "views/tcpstate/stattrandiagram.h"
#include "views/timeline/linescrollview.h"
#include "views/timeline/newtimeline.h"
#include "views/topology/topologyview.h"
#include "views/viewfactory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t kClient = 0x0a000001, kServer = 0x0a000002;
constexpr std::uint16_t kClientPort = 40000, kServerPort = 80;
constexpr std::size_t kLongConnection = 100000;

void put(std::vector<unsigned char>& f, std::size_t at, std::uint64_t v, int n)
{
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        f[at + std::size_t(i)] = static_cast<unsigned char>(v);
}

// An Ethernet frame: IPv4, TCP (with `flags`) or UDP, `payload` bytes.
std::vector<unsigned char> frame(bool tcp, std::uint32_t src, std::uint32_t dst, std::uint16_t sport,
                                 std::uint16_t dport, std::uint8_t flags, std::uint32_t seq, std::uint32_t ack,
                                 int payload)
{
    const std::size_t l4 = tcp ? 20 : 8;
    std::vector<unsigned char> f(14 + 20 + l4 + std::size_t(payload), 'x');
    put(f, 0, 0x000a959d6816ull, 6);
    put(f, 6, 0x0242ac110002ull, 6);
    put(f, 12, 0x0800, 2);
    put(f, 14, 0x4500, 2);
    put(f, 16, 20 + l4 + std::size_t(payload), 2);
    put(f, 18, 0, 4);
    put(f, 22, 64, 1);
    put(f, 23, tcp ? 6 : 17, 1);
    put(f, 24, 0, 2);
    put(f, 26, src, 4);
    put(f, 30, dst, 4);
    put(f, 34, sport, 2);
    put(f, 36, dport, 2);
    if (tcp) {
        put(f, 38, seq, 4);
        put(f, 42, ack, 4);
        put(f, 46, 0x50, 1);
        put(f, 47, flags, 1);
        put(f, 48, 0xffff, 2);
        put(f, 50, 0, 4);
    } else {
        put(f, 38, 8 + std::size_t(payload), 2);
        put(f, 40, 0, 2);
    }
    return f;
}

void writeTrace(const std::string& path, std::size_t n)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::mt19937 random(7);
    // The long connection's packets spread evenly over the whole capture.
    const std::size_t every = n / kLongConnection;
    std::size_t longSent = 0;
    std::uint32_t clientSeq = 1000, serverSeq = 5000;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<unsigned char> f;
        if (every > 0 && i % every == 0 && longSent < kLongConnection) {
            const bool fromClient = longSent % 2 == 0;
            std::uint8_t flags = 0x18;  // PSH ACK
            int payload = 100;
            if (longSent == 0)
                flags = 0x02, payload = 0;
            else if (longSent == 1)
                flags = 0x12, payload = 0;
            else if (longSent == 2)
                flags = 0x10, payload = 0;
            f = fromClient ? frame(true, kClient, kServer, kClientPort, kServerPort, flags, clientSeq, serverSeq, payload)
                           : frame(true, kServer, kClient, kServerPort, kClientPort, flags, serverSeq, clientSeq, payload);
            (fromClient ? clientSeq : serverSeq) += std::uint32_t(payload);
            ++longSent;
        } else {
            const std::uint32_t conversation = random() % 400;
            const std::uint32_t a = 0x0a010000 + conversation % 50, b = 0x0a020000 + conversation / 8;
            const bool tcp = conversation % 4 != 0, forward = random() % 2 == 0;
            const std::uint16_t pa = std::uint16_t(20000 + conversation), pb = tcp ? 443 : 53;
            const int payload = int(random() % 200);
            f = forward ? frame(tcp, a, b, pa, pb, 0x18, std::uint32_t(i), 1, payload)
                        : frame(tcp, b, a, pb, pa, 0x18, 1, std::uint32_t(i), payload);
        }
        pcap_pkthdr h{};
        h.ts.tv_sec = long(1700000000 + i / 1000);
        h.ts.tv_usec = long(i % 1000) * 1000;
        h.caplen = h.len = bpf_u_int32(f.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &h, f.data());
    }
    pcap_dump_close(out);
    pcap_close(dead);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double seconds(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::size_t n = 1000000;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--packets")
            n = std::size_t(std::stoul(argv[i + 1]));
        else if (std::string(argv[i]) == "--keep")
            keep = argv[i + 1];
    }
    char dir[] = "/tmp/nuklinked.XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string trace = keep.empty() ? std::string(dir) + "/trace.pcap" : keep;
    writeTrace(trace, n);

    ControlPanel controller;
    const auto open = [&](ViewKind kind) {
        CTimeBasedView* view = createView(kind, QStringLiteral("bench"), &controller);
        controller.AddView(view, QStringLiteral("View"));
        return view;
    };
    auto* list = dynamic_cast<ListViews*>(open(ViewKind::PacketList));
    auto* connections = dynamic_cast<ConnectionViews*>(open(ViewKind::StreamLink));
    auto* contents = dynamic_cast<TestListView*>(open(ViewKind::Reconstruction));
    auto* timeline = dynamic_cast<NewTimeLine*>(open(ViewKind::TimeLine));
    auto* map = dynamic_cast<CTopologyView*>(open(ViewKind::Topology));
    auto* diagram = dynamic_cast<StatTranDiagram*>(open(ViewKind::TcpState));
    const std::vector<QWidget*> windows{list, connections, contents, timeline, map, diagram};

    {
        auto packets = readTracePackets(trace);
        std::thread reader([&] {
            for (auto& p : packets)
                controller.AddPacket(p.release());
        });
        while (list->model()->rowCount() < int(n) || map->handoff()->pending() > 0 ||
               connections->feed()->handoff()->pending() > 0 || contents->feed()->handoff()->pending() > 0 ||
               reader.joinable()) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            if (reader.joinable() && controller.packetCount() == n)
                reader.join();
        }
    }
    controller.UpdateView();
    QApplication::processEvents();
    std::printf("packets %zu, views 6, long connection %zu packets\n", controller.packetCount(), kLongConnection);

    // The long connection's packets and the last packets of the capture.
    std::vector<const CPacket*> chosen;
    std::vector<CPacket*> own;
    currentPacket().packetsWhere(
        [](const CPacket& p) {
            return p.isTcp() && ((p.GetSrcIPAddr() == kClient && p.GetSrcPort() == kClientPort) ||
                                 (p.GetDstIPAddr() == kClient && p.GetDstPort() == kClientPort));
        },
        own);
    for (int k = 0; k < 20; ++k) {
        chosen.push_back(own[own.size() - 1 - std::size_t(k) * 97]);
        chosen.push_back(currentPacket().packetNumbered(std::uint32_t(n - std::size_t(k) * 131)));
    }

    for (QWidget* w : windows)
        w->repaint();
    // Processor time of the GUI thread (the machine is shared: the wall clock
    // mostly measures the others), and what each part of it took.
    std::vector<std::vector<double>> parts(2);
    const auto shownEverywhere = [&](auto makeCurrent) {
        std::vector<double> ms;
        for (const CPacket* p : chosen) {
            const double start = threadCpuMs();
            makeCurrent(p);
            double at = threadCpuMs();
            parts[0].push_back(at - start);
            // What changed is painted as the event loop does, each window's dirty
            // parts only.
            QApplication::sendPostedEvents();
            QApplication::processEvents();
            const double now = threadCpuMs();
            parts[1].push_back(now - at);
            at = now;
            ms.push_back(at - start);
        }
        return ms;
    };
    // As a click on a row: the list's own selection, then the other views.
    const auto fromList = shownEverywhere([&](const CPacket* p) {
        list->packetList()->selectionModel()->setCurrentIndex(list->model()->index(list->model()->rowOf(p), 0),
                                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    });
    // As a click on an arrow: the time line marks it, then the other views.
    const auto fromTimeLine = shownEverywhere([&](const CPacket* p) {
        timeline->drawing()->markPacket(p->captureNumber());
        currentPacket().select(p, timeline);
    });
    const auto report = [](const char* what, const std::vector<double>& ms) {
        std::printf("%-46s median %7.2f ms  worst %7.2f ms  (target 16 / 50)\n", what, median(ms),
                    *std::max_element(ms.begin(), ms.end()));
    };
    report("current packet from the packet list:", fromList);
    report("current packet from the time line:", fromTimeLine);
    const char* names[] = {"selecting (all views)", "painting what changed"};
    for (std::size_t i = 0; i < parts.size(); ++i)
        std::printf("  %-28s median %7.2f ms  worst %7.2f ms\n", names[i], median(parts[i]),
                    *std::max_element(parts[i].begin(), parts[i].end()));

    // Each view's own part of selecting, without painting.
    std::vector<std::vector<double>> own4(4);
    for (const CPacket* p : chosen) {
        currentPacket().select(nullptr, nullptr);
        list->packetList()->clearSelection();
        double at = threadCpuMs();
        list->showLinkedPacket(p, nullptr);
        double now = threadCpuMs();
        own4[0].push_back(now - at);
        at = now;
        connections->showLinkedPacket(p, nullptr);
        now = threadCpuMs();
        own4[1].push_back(now - at);
        at = now;
        contents->showLinkedPacket(p, nullptr);
        now = threadCpuMs();
        own4[2].push_back(now - at);
        at = now;
        map->showLinkedPacket(p, nullptr);
        now = threadCpuMs();
        own4[3].push_back(now - at);
    }
    const char* selecting[] = {"list selects", "connections select", "reconstruction selects", "map selects"};
    for (std::size_t i = 0; i < own4.size(); ++i)
        std::printf("  %-28s median %7.2f ms  worst %7.2f ms\n", selecting[i], median(own4[i]),
                    *std::max_element(own4[i].begin(), own4[i].end()));

    std::vector<double> followMs;
    for (int k = 0; k < 5; ++k) {
        const double start = threadCpuMs();
        diagram->follow(*own[own.size() / 2]);
        followMs.push_back(threadCpuMs() - start);
    }
    std::printf("%-46s median %7.2f ms  worst %7.2f ms  (target 100)\n", "follow a 100,000-packet connection:",
                median(followMs), *std::max_element(followMs.begin(), followMs.end()));
    {
        std::vector<CPacket*> found;
        const double start = threadCpuMs();
        currentPacket().packetsWhere([](const CPacket& p) { return p.isTcp() && p.GetSrcPort() == kClientPort; }, found);
        std::printf("  %-28s %7.2f ms (%zu packets)\n", "of which the look-up", threadCpuMs() - start, found.size());
    }
    std::printf("diagram: step %d, %s\n", diagram->snapshot().step, qPrintable(diagram->snapshot().connection));

    const double tcpdump = seconds("tcpdump -nn -r " + trace + " 'tcp and host 10.0.0.1 and port 40000' >/dev/null 2>&1");
    std::printf("%-46s %7.2f ms  (follow / tcpdump: %.3f)\n", "tcpdump -nn -r picking the same connection:",
                tcpdump * 1e3, median(followMs) / (tcpdump * 1e3));

    destroyAllViews();
    if (keep.empty()) {
        std::remove(trace.c_str());
        rmdir(dir);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// pcap <file|NULL> <pipe fd> <mode 0-3> <lo|NULL> <filter expression>
// Replays a trace (mode 0) or captures live (modes 1-3) and writes one packet
// record per IPv4 or IPv6 TCP or UDP packet into the pipe; see helpers/README-capture.md.

#include "helpers/appfollower.h"
#include "capture/filtercompile.h"
#include "helpers/pcapngreader.h"
#include "helpers/livecapture.h"
#include "helpers/pipeline.h"
#include "helpers/privileges.h"
#include "helpers/recordsink.h"
#include "helpers/streaminput.h"
#include "capture/tmpfiles.h"
#include "helpers/tracefile.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/prctl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSnapLen = 65535;
constexpr long long kFlushEveryMs = 100;
constexpr int kPipeBytes = 1 << 20;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadFilter = 2;

volatile std::sig_atomic_t g_stop = 0;

void onStop(int) { g_stop = 1; }

void installSignals()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocked write or poll returns and sees the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // A mask inherited through exec must not keep the stop signals out.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
    // Executing a program with file capabilities clears the parent-death signal the
    // launcher set, so ask again: if the launcher dies, stop like on SIGTERM.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1)
        g_stop = 1;
}

long long monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

struct Options {
    std::string file;
    int fd = -1;
    int mode = 0;
    bool loopback = false;
    std::string expression;
};

bool parseInt(const char* text, long lo, long hi, int& out)
{
    char* end;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi)
        return false;
    out = int(v);
    return true;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    if (argc != 6)
        return false;
    o.file = std::strcmp(argv[1], "NULL") == 0 ? "" : argv[1];
    if (!parseInt(argv[2], 0, 1 << 20, o.fd) || !parseInt(argv[3], 0, 3, o.mode))
        return false;
    o.loopback = std::strcmp(argv[4], "lo") == 0;
    o.expression = argv[5];
    return true;
}

// Only IPv4 and IPv6 TCP and UDP ever reach the pipe, whatever the user asked for.
// libpcap's `tcp` and `udp` do not look behind IPv6 extension headers (a first
// fragment, hop-by-hop options): every IPv6 frame passes, and the record's walk decides.
constexpr const char* kIpTcpUdp = "(ip and (tcp or udp) or ip6)";

std::string filterText(const std::string& expression)
{
    if (expression.find_first_not_of(" \t\r\n") == std::string::npos)
        return kIpTcpUdp;
    return "(" + expression + ") and " + kIpTcpUdp;
}

// Expressions that only pick TCP, UDP or both (the GUI sends "tcp" when the user
// set none) need no filter program: the conversion keeps IPv4 and IPv6 TCP and UDP alone.
// Returns false for anything else; `protocol` is 6, 17 or 0 for both.
bool onlyPicksProtocols(const std::string& expression, int& protocol)
{
    std::string words;
    std::istringstream in(expression);
    for (std::string word; in >> word;) {
        if (!words.empty())
            words += ' ';
        words += word;
    }
    if (words == "tcp")
        protocol = 6;
    else if (words == "udp")
        protocol = 17;
    else if (words.empty() || words == "tcp or udp" || words == "udp or tcp")
        protocol = 0;
    else
        return false;
    return true;
}

// A compiled filter program.
struct Filter {
    std::vector<bpf_insn> instructions;
    bpf_program program{};
};

// Compiled in a child process, so that a stop ends even a compile that would run for
// minutes, and an expression past the child's limits is refused.
bool compile(pcap_t* p, const std::string& text, const std::string& expression, bpf_u_int32 netmask, Filter& f)
{
    FilterCompileChild child;
    switch (compileStoppably(child, p, text, netmask, true, g_stop)) {
    case FilterCompileChild::Outcome::Compiled:
        f.instructions = child.program();
        f.program.bf_len = u_int(f.instructions.size());
        f.program.bf_insns = f.instructions.data();
        return true;
    case FilterCompileChild::Outcome::Running:
        return false;  // stopped
    case FilterCompileChild::Outcome::TooComplex:
        std::fprintf(stderr, "pcap: %s: \"%s\" (more than %d s or %llu MiB to compile)\n", kFilterTooComplex,
                     expression.c_str(), FilterCompileChild::cpuSeconds(), FilterCompileChild::kMemoryBytes >> 20);
        return false;
    case FilterCompileChild::Outcome::Invalid:
        std::fprintf(stderr, "pcap: cannot compile the filter expression \"%s\": %s\n", expression.c_str(),
                     child.message().c_str());
        return false;
    case FilterCompileChild::Outcome::Failed:
        break;
    }
    std::fprintf(stderr, "pcap: %s\n", child.message().c_str());
    return false;
}

bool compileForEthernet(const std::string& expression, Filter& f)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kSnapLen);
    if (!dead)
        return false;
    const bool ok = compile(dead, filterText(expression), expression, PCAP_NETMASK_UNKNOWN, f);
    pcap_close(dead);
    return ok;
}

void reportSkips(const PacketPipeline& pipeline)
{
    const SkipCounts& s = pipeline.skips();
    if (s.malformed)
        std::fprintf(stderr, "pcap: %llu frame%s skipped (damaged or shorter than their headers)\n", s.malformed,
                     s.malformed == 1 ? "" : "s");
    if (s.fragments)
        std::fprintf(stderr, "pcap: %llu non-first IP fragment%s skipped\n", s.fragments,
                     s.fragments == 1 ? "" : "s");
    if (s.notTcpUdp)
        std::fprintf(stderr, "pcap: %llu frame%s without IPv4 or IPv6 TCP/UDP skipped\n", s.notTcpUdp,
                     s.notTcpUdp == 1 ? "" : "s");
}

// After the output ends: why, in one line, and the exit status.
int outputStatus(const RecordSink& sink)
{
    if (sink.state() == RecordSink::State::Failed) {
        std::fprintf(stderr, "pcap: cannot write to the packet pipe: %s\n", std::strerror(sink.error()));
        return kExitFailed;
    }
    return kExitOk;  // stopped, or the reader went away
}

// The temporary files are opened only once the source is open: a capture that
// cannot start leaves the previous capture's trace file to be saved.
void openOutputFiles(TraceFileWriter& trace, AppFollower* follower)
{
    std::string error;
    if (!trace.open(tmpfiles::path(tmpfiles::kDefaultTrace), error))
        std::fprintf(stderr, "pcap: no default trace file: %s\n", error.c_str());
    if (follower && !follower->open(error))
        std::fprintf(stderr, "pcap: no SYN packet file: %s\n", error.c_str());
}

// ---- Mode 0: replay -------------------------------------------------------

// With NUK_PROGRESS set (the GUI's launcher sets it) a replay tells on standard
// error how far it has come, so that the GUI can show it:
//   "pcap: replay progress R O S"  R records made by the time O bytes of the S-byte
//                                  trace were read (S 0: not a regular file)
//   "pcap: replay finished R"      all R records are in the pipe; the helper ends
class ProgressLines {
public:
    static constexpr long long kEveryMs = 200;

    ProgressLines(FILE* file, const PacketPipeline& pipeline)
        : m_enabled(std::getenv("NUK_PROGRESS") != nullptr), m_file(file), m_pipeline(pipeline)
    {
        struct stat st;
        if (m_enabled && fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode))
            m_size = st.st_size;
    }
    void report()
    {
        if (!m_enabled)
            return;
        const long offset = std::ftell(m_file);
        std::fprintf(stderr, "pcap: replay progress %llu %lld %lld\n", m_pipeline.records(),
                     offset < 0 ? 0LL : (long long)offset, m_size);
        m_next = monotonicMs() + kEveryMs;
    }
    // Cheap enough per frame: the clock is read every 64th call.
    void tick()
    {
        if (m_enabled && (++m_calls & 63) == 0 && monotonicMs() >= m_next)
            report();
    }
    void finished()
    {
        if (m_enabled)
            std::fprintf(stderr, "pcap: replay finished %llu\n", m_pipeline.records());
    }

private:
    bool m_enabled;
    FILE* m_file;
    const PacketPipeline& m_pipeline;
    long long m_size = 0;
    long long m_next = 0;
    unsigned m_calls = 0;
};

// One frame of a trace, from libpcap's reader (pcap files) or ours (pcapng files).
struct TraceFrame {
    const pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int dlt = 0;
};
enum class NextFrame { Frame, End, Damaged };

// Frames of link types the helper cannot convert (interfaces of a pcapng file), by type.
class UnsupportedLinks {
public:
    void count(int dlt)
    {
        for (auto& entry : m_counts)
            if (entry.first == dlt) {
                ++entry.second;
                return;
            }
        m_counts.emplace_back(dlt, 1);
    }
    bool any() const { return !m_counts.empty(); }
    void report() const
    {
        for (const auto& [dlt, frames] : m_counts)
            std::fprintf(stderr, "pcap: %llu frame%s of link type %s skipped (not supported)\n", frames,
                         frames == 1 ? "" : "s", nameOf(dlt).c_str());
    }
    std::string names() const
    {
        std::string all;
        for (const auto& entry : m_counts)
            all += (all.empty() ? "" : ", ") + nameOf(entry.first);
        return all;
    }

private:
    static std::string nameOf(int dlt)
    {
        const char* name = pcap_datalink_val_to_name(dlt);
        return name ? name : std::to_string(dlt);
    }

    std::vector<std::pair<int, unsigned long long>> m_counts;
};

// Delivers the frames `next` gives. A damaged file ends the replay with status 1 after
// what came before was delivered; `lastWords` then says why, to be printed last.
template <class Next>
int replayFrames(const Options& o, FILE* f, StreamInput& input, PacketPipeline& pipeline, RecordSink& sink,
                 TraceFileWriter& trace, std::string& lastWords, Next next)
{
    // The default trace file is opened at the first frame to deliver, or at a clean
    // end: a file that fails before either leaves the previous capture's trace alone.
    bool opened = false;
    const auto openOnce = [&] {
        if (!opened)
            openOutputFiles(trace, nullptr);
        opened = true;
    };
    ProgressLines progress(f, pipeline);
    progress.report();
    UnsupportedLinks unsupported;
    bool damaged = false;
    bool convertible = false;  // a frame of a link type the helper converts was seen
    long long nextFlush = monotonicMs() + kFlushEveryMs;
    unsigned counter = 0;
    for (;;) {
        if (g_stop) {
            openOnce();
            return kExitOk;
        }
        TraceFrame frame;
        std::string why;
        const NextFrame r = next(frame, why);
        if (r == NextFrame::End || (r == NextFrame::Damaged && (g_stop || input.cutShort())))
            break;  // end of the file, or of the stream
        if (r == NextFrame::Damaged) {
            pipeline.countDamaged();
            lastWords = "pcap: " + o.file + " is damaged; replay ends here: " + why + "\n";
            damaged = true;
            break;
        }
        LinkKind kind;
        if (!linkKindOf(frame.dlt, kind)) {
            unsupported.count(frame.dlt);
            continue;
        }
        convertible = true;
        openOnce();
        if (!pipeline.handle(kind, *frame.header, frame.data))
            return outputStatus(sink);
        progress.tick();
        if ((++counter & 1023) == 0 && monotonicMs() >= nextFlush) {
            trace.flush();
            nextFlush = monotonicMs() + kFlushEveryMs;
        }
    }
    if (!damaged && unsupported.any() && !convertible) {  // as for a pcap file of such a link type
        lastWords = "pcap: " + o.file + " has no frames of a supported link type (" + unsupported.names() + ")\n";
        return kExitFailed;
    }
    unsupported.report();
    const bool flushed = sink.flush();
    if (!flushed && sink.state() != RecordSink::State::Open)
        return outputStatus(sink);
    if (damaged)
        return kExitFailed;  // a replay that stopped early never reports success
    openOnce();
    if (flushed)  // not when a stop cut the last batch
        progress.finished();
    return kExitOk;
}

int replay(const Options& o, PacketPipeline& pipeline, RecordSink& sink, TraceFileWriter& trace,
           std::string& lastWords)
{
    // "-" is standard input. A named pipe opens at once even before its writer does:
    // the wait for data is a poll that a stop can end.
    const int fd = o.file == "-" ? STDIN_FILENO : ::open(o.file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "pcap: cannot open the trace file %s: %s\n", o.file.c_str(), std::strerror(errno));
        return kExitFailed;
    }
    // A pipe delivers packets as they are captured: each goes out before the helper
    // waits for the next, instead of waiting in a batch.
    struct stat st;
    const bool stream = ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode);
    StreamInput input(fd, [&] { trace.flush(); return sink.flush(); }, g_stop);
    // pcapng files are ours to read: libpcap's reader cannot mix link types.
    unsigned char magic[4] = {};
    const std::size_t magicBytes = stream ? input.peek(magic, sizeof magic) : std::size_t(std::max<ssize_t>(::pread(fd, magic, sizeof magic, 0), 0));
    const bool pcapng = magicBytes == sizeof magic && PcapngReader::isPcapng(magic);
    FILE* f = stream ? input.open() : fdopen(fd, "rb");
    if (f)
        setvbuf(f, nullptr, _IOFBF, 1 << 20);
    if (f && pcapng) {
        std::unique_ptr<FILE, int (*)(FILE*)> closer(f, std::fclose);
        PcapngReader reader(f);
        return replayFrames(o, f, input, pipeline, sink, trace, lastWords, [&](TraceFrame& frame, std::string& why) {
            switch (reader.next()) {
            case PcapngReader::Result::Packet:
                frame = TraceFrame{&reader.header(), reader.data(), PcapngReader::dltOf(reader.linkType())};
                return NextFrame::Frame;
            case PcapngReader::Result::End:
                return NextFrame::End;
            case PcapngReader::Result::Damaged:
                break;
            }
            why = reader.error();
            return NextFrame::Damaged;
        });
    }
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = f ? pcap_fopen_offline_with_tstamp_precision(f, PCAP_TSTAMP_PRECISION_MICRO, err) : nullptr;
    if (!p && (g_stop || input.cutShort())) {
        if (f)
            std::fclose(f);
        return outputStatus(sink);
    }
    if (!p) {
        std::fprintf(stderr, "pcap: %s is not a trace file tcpdump can read (%s)\n", o.file.c_str(),
                     f ? err : std::strerror(errno));
        if (f)
            std::fclose(f);
        else
            ::close(fd);
        return kExitFailed;
    }
    std::unique_ptr<pcap_t, void (*)(pcap_t*)> handle(p, pcap_close);
    LinkKind kind;
    if (!linkKindOf(pcap_datalink(p), kind)) {
        const char* name = pcap_datalink_val_to_name(pcap_datalink(p));
        std::fprintf(stderr,
                     "pcap: %s has link type %s, which is not supported (Ethernet, Linux cooked, raw IP, BSD "
                     "loopback, PPP, Cisco HDLC, PKTAP, 802.11 with or without radiotap, Prism or AVS headers)\n",
                     o.file.c_str(), name ? name : std::to_string(pcap_datalink(p)).c_str());
        return kExitFailed;
    }
    const int dlt = pcap_datalink(p);
    return replayFrames(o, pcap_file(p), input, pipeline, sink, trace, lastWords,
                        [&](TraceFrame& frame, std::string& why) {
                            pcap_pkthdr* header;
                            const u_char* data;
                            const int r = pcap_next_ex(p, &header, &data);
                            if (r == PCAP_ERROR_BREAK)
                                return NextFrame::End;
                            if (r < 0) {
                                why = pcap_geterr(p);
                                return NextFrame::Damaged;
                            }
                            frame = TraceFrame{header, data, dlt};
                            return NextFrame::Frame;
                        });
}

// ---- Modes 1-3: live capture ------------------------------------------------

struct LiveDevice {
    std::string name;
    pcap_t* handle = nullptr;
    LinkKind kind = LinkKind::Ethernet;
    Filter filter;
    ~LiveDevice()
    {
        if (handle)
            pcap_close(handle);
    }
};

// The first interface that is up, not loopback and has an IPv4 address; on a
// machine without any, the first such one with an IPv6 address.
std::string defaultDevice()
{
    pcap_if_t* all = nullptr;
    char err[PCAP_ERRBUF_SIZE] = "";
    if (pcap_findalldevs(&all, err) != 0)
        return {};
    std::string withIpv4, withIpv6;
    for (pcap_if_t* d = all; d && withIpv4.empty(); d = d->next) {
        if (!(d->flags & PCAP_IF_UP) || (d->flags & PCAP_IF_LOOPBACK))
            continue;
        for (pcap_addr_t* a = d->addresses; a; a = a->next) {
            if (a->addr && a->addr->sa_family == AF_INET) {
                withIpv4 = d->name;
                break;
            }
            if (a->addr && a->addr->sa_family == AF_INET6 && withIpv6.empty())
                withIpv6 = d->name;
        }
    }
    pcap_freealldevs(all);
    return withIpv4.empty() ? withIpv6 : withIpv4;
}

enum class OpenResult { Ok, Failed, BadFilter };

OpenResult openDevice(LiveDevice& dev, const Options& o, bool kernelFilterIsUsers,
                      const livecapture::Settings& ring)
{
    char err[PCAP_ERRBUF_SIZE] = "";
    dev.handle = pcap_create(dev.name.c_str(), err);
    if (!dev.handle) {
        std::fprintf(stderr, "pcap: cannot capture on %s: %s\n", dev.name.c_str(), err);
        return OpenResult::Failed;
    }
    pcap_set_snaplen(dev.handle, kSnapLen);
    pcap_set_promisc(dev.handle, 0);
    livecapture::configure(dev.handle, ring);
    const int r = pcap_activate(dev.handle);
    if (r == PCAP_ERROR_PERM_DENIED || r == PCAP_ERROR_PROMISC_PERM_DENIED) {
        std::fprintf(stderr,
                     "pcap: no permission to capture on %s: run as root, join the group the helper grants "
                     "capture to (nukrit for the package), or grant it to yours "
                     "(scripts/grant-capture <build>/nuk/pcap <group>)\n",
                     dev.name.c_str());
        return OpenResult::Failed;
    }
    if (r == PCAP_ERROR_NO_SUCH_DEVICE || r == PCAP_ERROR_IFACE_NOT_UP) {
        std::fprintf(stderr, "pcap: no capture device %s: %s\n", dev.name.c_str(), pcap_geterr(dev.handle));
        return OpenResult::Failed;
    }
    if (r < 0) {
        std::fprintf(stderr, "pcap: cannot capture on %s: %s\n", dev.name.c_str(), pcap_geterr(dev.handle));
        return OpenResult::Failed;
    }
    if (!linkKindOf(pcap_datalink(dev.handle), dev.kind)) {
        std::fprintf(stderr, "pcap: %s has an unsupported link type\n", dev.name.c_str());
        return OpenResult::Failed;
    }
    bpf_u_int32 net = 0, mask = PCAP_NETMASK_UNKNOWN;
    if (pcap_lookupnet(dev.name.c_str(), &net, &mask, err) != 0)
        mask = PCAP_NETMASK_UNKNOWN;
    // Mode 3 needs to see every SYN; the user's filter then runs on the Ethernet view.
    const std::string text = kernelFilterIsUsers ? filterText(o.expression) : kIpTcpUdp;
    if (!compile(dev.handle, text, o.expression, mask, dev.filter))
        return OpenResult::BadFilter;
    if (pcap_setfilter(dev.handle, &dev.filter.program) != 0) {
        std::fprintf(stderr, "pcap: cannot set the filter on %s: %s\n", dev.name.c_str(), pcap_geterr(dev.handle));
        return OpenResult::Failed;
    }
    if (dev.name == "lo") {
        Filter incoming;
        if (!compile(dev.handle, livecapture::incomingOnly(text), o.expression, mask, incoming)) {
            if (g_stop)
                return OpenResult::BadFilter;  // a stop: the caller ends quietly
        } else {
            livecapture::keepIncomingOnly(dev.handle, incoming.program);
        }
    }
    if (pcap_setnonblock(dev.handle, 1, err) != 0 || pcap_get_selectable_fd(dev.handle) < 0) {
        std::fprintf(stderr, "pcap: cannot wait for packets on %s\n", dev.name.c_str());
        return OpenResult::Failed;
    }
    return OpenResult::Ok;
}

struct DispatchContext {
    PacketPipeline* pipeline;
    const RecordSink* sink;
    LinkKind kind;
    bool outputEnded = false;
    int taken = 0;  // frames handed to the pipeline; those after the output ended are not
};

// A stop does not end the output: frames taken after it still reach the trace file,
// and the sink counts their records as not delivered.
void onPacket(u_char* user, const pcap_pkthdr* header, const u_char* data)
{
    auto* ctx = reinterpret_cast<DispatchContext*>(user);
    if (ctx->outputEnded)
        return;
    ++ctx->taken;
    if (!ctx->pipeline->handle(ctx->kind, *header, data) && ctx->sink->state() != RecordSink::State::Open)
        ctx->outputEnded = true;
}

enum class RingsRead { Ok, OutputEnded, Failed };

// Takes what every device's ring has handed over.
RingsRead readRings(const std::vector<std::unique_ptr<LiveDevice>>& devices, PacketPipeline& pipeline,
                    const RecordSink& sink, livecapture::Statistics& statistics)
{
    for (std::size_t i = 0; i < devices.size(); ++i) {
        DispatchContext ctx{&pipeline, &sink, devices[i]->kind};
        const int n = pcap_dispatch(devices[i]->handle, -1, onPacket, reinterpret_cast<u_char*>(&ctx));
        statistics.countCaptured(i, ctx.taken);
        if (ctx.outputEnded)
            return RingsRead::OutputEnded;
        if (n == PCAP_ERROR) {
            std::fprintf(stderr, "pcap: capture on %s failed: %s\n", devices[i]->name.c_str(),
                         pcap_geterr(devices[i]->handle));
            return RingsRead::Failed;
        }
    }
    return RingsRead::Ok;
}

// At a stop, the packets of a ring's open block are not handed over yet: the kernel
// closes the block at its timeout, checked every kRingTimeoutMs, so it can take up to
// twice that. They are taken until the counts add up (every packet the kernel passed
// is captured or dropped), for a few timeouts at most: a stream still going on never
// adds up. Their records count as not delivered; the trace file has them.
void takeWhatTheRingsHold(const std::vector<std::unique_ptr<LiveDevice>>& devices, PacketPipeline& pipeline,
                          const RecordSink& sink, livecapture::Statistics& statistics)
{
    constexpr int kMostWaits = 4;
    for (int wait = 0; wait < kMostWaits; ++wait) {
        ::poll(nullptr, 0, livecapture::kRingTimeoutMs);
        if (readRings(devices, pipeline, sink, statistics) != RingsRead::Ok)
            return;
        const livecapture::Counts c = statistics.total();
        if (c.captured + c.kernelDrops >= c.received)
            return;
    }
}

int capture(const Options& o, PacketPipeline& pipeline, RecordSink& sink, TraceFileWriter& trace,
            AppFollower* follower)
{
    // The rings are emptied at once; what the reader has no room for yet waits here.
    std::vector<std::unique_ptr<LiveDevice>> devices;
    const std::string main = defaultDevice();
    if (!main.empty()) {
        devices.push_back(std::make_unique<LiveDevice>());
        devices.back()->name = main;
    } else if (!o.loopback) {
        std::fprintf(stderr, "pcap: no capture device: no network interface is up with an IPv4 or IPv6 address "
                             "(or none is visible to this user)\n");
        return kExitFailed;
    }
    if (o.loopback) {
        devices.push_back(std::make_unique<LiveDevice>());
        devices.back()->name = "lo";
    }
    std::string warning;
    const livecapture::Settings ring = livecapture::settingsFromEnvironment(warning);
    if (!warning.empty())
        std::fprintf(stderr, "pcap: %s\n", warning.c_str());
    sink.setSpoolLimit(std::size_t(ring.spoolMb) << 20);
    std::string names;
    for (auto& dev : devices) {
        const OpenResult r = openDevice(*dev, o, follower == nullptr, ring);
        if (r == OpenResult::BadFilter)
            return g_stop ? kExitOk : kExitBadFilter;
        if (r != OpenResult::Ok)
            return kExitFailed;
        names += " " + dev->name;
    }
    // The devices are open: nothing from here on needs raised rights.
    if (!dropCapabilities(follower != nullptr)) {
        std::fprintf(stderr, "pcap: cannot give up the capture rights: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    openOutputFiles(trace, follower);
    // Whichever way the capture ends, it says what it captured and what was lost,
    // counted from here on.
    livecapture::Statistics statistics;
    for (auto& dev : devices)
        statistics.addDevice(dev->name, dev->handle);
    const livecapture::ClosingReport closing(statistics);
    std::fprintf(stderr, "pcap: capturing on%s\n", names.c_str());

    std::vector<pollfd> fds;
    for (auto& dev : devices)
        fds.push_back(pollfd{pcap_get_selectable_fd(dev->handle), POLLIN, 0});
    fds.push_back(pollfd{-1, POLLOUT, 0});  // the packet pipe, while records wait for room in it
    long long nextFlush = monotonicMs() + kFlushEveryMs;
    while (!g_stop) {
        fds.back().fd = sink.spooledBytes() > 0 ? o.fd : -1;
        const int ready = ::poll(fds.data(), fds.size(), livecapture::kWaitMs);
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "pcap: waiting for packets failed: %s\n", std::strerror(errno));
            return kExitFailed;
        }
        // Every device is read after every wait: some kernels hand a block of the
        // ring over at its timeout without waking the poll.
        const RingsRead r = readRings(devices, pipeline, sink, statistics);
        if (r == RingsRead::OutputEnded)
            return outputStatus(sink);
        if (r == RingsRead::Failed)
            return kExitFailed;
        // Live packets go out at once: no batching delay.
        if (!sink.flushWithoutWaiting() && sink.state() != RecordSink::State::Open)
            return outputStatus(sink);
        const long long now = monotonicMs();
        statistics.tick(now);
        if (follower)
            follower->tick(now);
        if (now >= nextFlush) {
            trace.flush();
            if (follower)
                follower->flush();
            nextFlush = now + kFlushEveryMs;
        }
    }
    takeWhatTheRingsHold(devices, pipeline, sink, statistics);
    sink.flush();
    return outputStatus(sink);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: pcap <trace file|NULL> <pipe descriptor> <mode 0-3> <lo|NULL> <filter>\n");
        return kExitFailed;
    }
    if (fcntl(o.fd, F_GETFD) == -1) {
        std::fprintf(stderr, "pcap: descriptor %d is not open\n", o.fd);
        return kExitFailed;
    }
    if (o.mode == 0 && o.file.empty()) {
        std::fprintf(stderr, "pcap: mode 0 replays a trace file, but none was given\n");
        return kExitFailed;
    }
    installSignals();
    // A larger pipe lets helper and reader run longer without waking each other;
    // it fails harmlessly when the descriptor is no pipe or the system limit is lower.
    fcntl(o.fd, F_SETPIPE_SZ, kPipeBytes);

    // Checked before anything is opened, so a bad filter fails the same way everywhere.
    Filter ethernetFilter;
    if (!compileForEthernet(o.expression, ethernetFilter))
        return g_stop ? kExitOk : kExitBadFilter;

    TraceFileWriter trace;
    std::string lastWords;  // why a replay ended early, printed after everything else

    RecordSink sink(o.fd, g_stop);
    PacketPipeline pipeline(sink, trace);
    int status;
    int protocol = 0;
    const bool protocolsOnly = onlyPicksProtocols(o.expression, protocol);
    if (protocolsOnly)
        pipeline.setProtocolOnly(protocol);
    else if (o.mode == 0 || o.mode == 3)
        pipeline.setEthernetFilter(&ethernetFilter.program);
    if (o.mode == 0) {
        // A replay needs no rights at all, not even to open the user's trace.
        if (!dropCapabilities(false)) {
            std::fprintf(stderr, "pcap: cannot give up the capture rights: %s\n", std::strerror(errno));
            return kExitFailed;
        }
        status = replay(o, pipeline, sink, trace, lastWords);
    } else if (o.mode == 3) {
        AppFollower follower(tmpfiles::path(tmpfiles::kAppSockets), tmpfiles::path(tmpfiles::kSynPackets));
        pipeline.setFollower(&follower);
        status = capture(o, pipeline, sink, trace, &follower);
        follower.close();
    } else {
        status = capture(o, pipeline, sink, trace, nullptr);
    }
    trace.close();
    reportSkips(pipeline);
    // A stop while the reader is behind leaves the rest of a batch unsent: say so.
    if (const unsigned long long n = sink.dropped())
        std::fprintf(stderr, "pcap: %llu packet%s not delivered: the capture stopped before the reader took %s; "
                             "the trace file has %s\n",
                     n, n == 1 ? "" : "s", n == 1 ? "it" : "them", n == 1 ? "it" : "them");
    std::fputs(lastWords.c_str(), stderr);
    return status;
}

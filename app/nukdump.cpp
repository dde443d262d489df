// SPDX-License-Identifier: GPL-2.0-or-later
// nukdump [--filter EXPR] [--display EXPR] [MODE] TRACE
// nukdump [--filter EXPR] [--display EXPR] [MODE] --live [--loopback]
// nukdump --help | --version
//
// Replays a tcpdump trace (a file, a named pipe, or "-" for standard input) through
// the capture helper of NUKPATH (mode 0), reads its packet records with the
// program's own record reader and hands each packet to the chosen mode (app/dump),
// which prints JSON lines: by default each packet decoded as the packet list view
// decodes it. With --display only the packets a display filter matches reach the
// mode, numbered as a view numbers them after the filter was set.
// With --live it captures instead (mode 1: the default device, and the loopback
// device with --loopback; root only) until it is interrupted, which ends the dump
// like the end of a trace.
// The helper's own complaints (no such file, bad filter) and the closing line of a
// live capture (packets captured, dropped by the kernel) reach standard error
// directly; a helper that fails makes nukdump fail.
//
// The helper keeps a copy of what it delivers in its temporary files; nukdump points
// them at a private directory of its own and removes it, so that it never
// overwrites the capture of a nuk that is running.

#include "app/dump/dumpmode.h"
#include "capture/process/process.h"
#include "capture/cpacket.h"
#include "capture/displayfilter.h"
#include "capture/filtercompile.h"
#include "capture/recordreader.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <dirent.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: nukdump [--filter EXPR] [--display EXPR] %s TRACE | --live [--loopback]\n",
                 dumpModeFlags().c_str());
    std::fprintf(stderr, "Try 'nukdump --help' for more information.\n");
    return 2;
}

int help()
{
    std::printf("usage: nukdump [--filter EXPR] [--display EXPR] %s TRACE\n"
                "       nukdump [--filter EXPR] [--display EXPR] [MODE] --live [--loopback]\n"
                "       nukdump --help | --version\n"
                "Replays TRACE (a pcap or pcapng file, a named pipe, or - for standard input)\n"
                "through Nukrit's capture helper and prints JSON lines, decoded as the views do.\n"
                "Options:\n"
                "  --filter EXPR    only the packets EXPR matches, in tcpdump's filter syntax\n"
                "  --display EXPR   then only those the display filter EXPR matches, on each\n"
                "                   packet's frame as the views have it (Ethernet form)\n"
                "  --live           capture live (root) until interrupted, instead of a TRACE;\n"
                "                   the helper's closing line counts what the kernel dropped\n"
                "  --loopback       with --live: the loopback device as well\n"
                "  --help           print this help and exit\n"
                "  --version        print the version and exit\n"
                "Modes (at most one):\n"
                "%s"
                "Without --filter the expression is \"tcp or udp\".\n"
                "Exit status: 0 done, 1 failed (the reason is on standard error),\n"
                "2 wrong usage.\n"
                "See nukdump(1) for the JSON keys of each mode.\n",
                dumpModeFlags().c_str(), dumpModeHelp().c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// NUKPATH, or else the tree this program was started from (<root>/nuk/nukdump).
std::string installRoot()
{
    if (char* path = getNukPath()) {
        std::string root(path);
        std::free(path);
        return root;
    }
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return std::string();
    self[n] = '\0';
    std::string root(self);
    for (int up = 0; up < 2; ++up) {
        const auto slash = root.rfind('/');
        if (slash == std::string::npos)
            return std::string();
        root.erase(slash);
    }
    return root;
}

// A private directory for the helper's temporary files, or empty.
std::string makePrivateDir()
{
    const char* base = ::secure_getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/nukdump.XXXXXX";
    return ::mkdtemp(name.data()) ? name : std::string();  // mkdtemp creates it 0700
}

// Set by SIGINT, SIGTERM and SIGHUP: the dump ends as if the trace had, and the
// signal is raised again once the helper is stopped and the directory removed.
volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int signo) { g_interrupted = signo; }

// An interrupt is the normal end of a live capture: a write of its output must not
// fail then, so writes are restarted. A replay's interrupt cuts a blocked write short.
void catchInterrupts(bool restartWrites)
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartWrites ? SA_RESTART : 0;  // polls return and see the flag either way
    for (int signo : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signo, &action, nullptr);
}

[[noreturn]] void dieOf(int signo)
{
    std::signal(signo, SIG_DFL);
    std::raise(signo);
    ::_exit(128 + signo);
}

// Waits for the helper to end. An interrupt, now or earlier, stops it; one that has
// not ended a moment after its stop is killed, so nukdump never hangs on it.
int waitForHelper(pid_t child, bool stopSent)
{
    constexpr int kGraceMs = 2000;
    constexpr int kStepMs = 10;
    int waitedMs = 0;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(child, &status, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR))
            return status;
        if (g_interrupted && !stopSent) {
            ::kill(child, SIGTERM);
            stopSent = true;
        }
        if (stopSent && waitedMs >= kGraceMs) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        ::usleep(kStepMs * 1000);
        if (stopSent)
            waitedMs += kStepMs;
    }
}

void removePrivateDir(const std::string& dir)
{
    if (dir.empty())
        return;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlinkat(::dirfd(d), e->d_name, 0);
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

// Compiled as the main window compiles it: in a child under limits, for the
// record's Ethernet form. Null, with the reason on standard error, when refused.
std::unique_ptr<DisplayFilter> compileDisplayFilter(const std::string& text)
{
    FilterCompileChild child;
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kDisplaySnapLen);
    if (!dead) {
        std::fprintf(stderr, "nukdump: libpcap could not be initialised\n");
        return nullptr;
    }
    const FilterCompileChild::Outcome outcome =
        compileStoppably(child, dead, text, PCAP_NETMASK_UNKNOWN, true, g_interrupted);
    pcap_close(dead);
    switch (outcome) {
    case FilterCompileChild::Outcome::Compiled:
        return std::make_unique<DisplayFilter>(text, child.program());
    case FilterCompileChild::Outcome::Running:
        return nullptr;  // interrupted
    case FilterCompileChild::Outcome::TooComplex:
        std::fprintf(stderr, "nukdump: display filter \"%s\": %s\n", text.c_str(), kFilterTooComplex);
        return nullptr;
    case FilterCompileChild::Outcome::Invalid:
    case FilterCompileChild::Outcome::Failed:
        break;
    }
    std::fprintf(stderr, "nukdump: display filter \"%s\": %s\n", text.c_str(), child.message().c_str());
    return nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string filter = "tcp or udp";
    std::string display;
    std::string trace;
    std::string modeFlag;
    bool live = false, loopback = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help")
            return help();
        if (arg == "--version") {
            std::printf("nukdump (Nukrit) %s\n", NUK_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg == "--live") {
            live = true;
        } else if (arg == "--loopback") {
            loopback = true;
        } else if (arg == "--display") {
            if (++i >= argc)
                return usage();
            display = argv[i];
        } else if (arg != "--filter" && arg.rfind("--", 0) == 0 && makeDumpMode(arg)) {
            if (!modeFlag.empty())
                return usage();
            modeFlag = arg;
        } else if (arg == "--filter") {
            if (++i >= argc)
                return usage();
            filter = argv[i];
        } else if (arg.rfind("--", 0) == 0 || !trace.empty()) {
            return usage();
        } else {
            trace = arg;
        }
    }
    if (live == !trace.empty() || (loopback && !live))
        return usage();
    const std::unique_ptr<DumpMode> mode = makeDumpMode(modeFlag);
    if (!live && trace != "-" && ::access(trace.c_str(), R_OK) != 0) {  // "-": standard input, read by the helper
        std::fprintf(stderr, "nukdump: %s: %s\n", trace.c_str(), std::strerror(errno));
        return 1;
    }

    const std::string root = installRoot();
    const std::string helper = root + "/nuk/pcap";
    if (root.empty() || ::access(helper.c_str(), X_OK) != 0) {
        struct stat st;
        const group* owners = errno == EACCES && ::stat(helper.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
        if (owners)  // an installed helper that captures runs for the members of its group only
            std::fprintf(stderr, "nukdump: %s may be run by the members of the group %s only "
                                 "(join it: sudo adduser \"$USER\" %s, then log in again)\n",
                         helper.c_str(), owners->gr_name, owners->gr_name);
        else
            std::fprintf(stderr, "nukdump: no capture helper at %s (set NUKPATH)\n", helper.c_str());
        return 1;
    }

    catchInterrupts(live);
    std::unique_ptr<DisplayFilter> displayFilter;
    if (!display.empty() && !(displayFilter = compileDisplayFilter(display))) {
        if (g_interrupted)
            dieOf(g_interrupted);
        return 1;
    }
    const std::string tmpDir = makePrivateDir();
    if (tmpDir.empty()) {
        std::perror("nukdump: private directory");
        return 1;
    }
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("nukdump: pipe");
        removePrivateDir(tmpDir);
        return 1;
    }
    // A reader of our output that goes away (| head) ends the dump, not the process,
    // so that the helper is stopped and the private directory removed.
    std::signal(SIGPIPE, SIG_IGN);
    ::setenv("NUK_TMPDIR", tmpDir.c_str(), 1);  // inherited by the helper
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("nukdump: fork");
        removePrivateDir(tmpDir);
        return 1;
    }
    if (child == 0) {
        for (int signo : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signo, SIG_DFL);
        // A replay needs no capture rights (a live capture runs as root, who keeps its
        // own), and a helper that was given them ignores
        // NUK_TMPDIR: run it without them, so its files go to the private directory.
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        ::close(fds[0]);
        ::dup2(2, 1);  // anything the helper prints must not mix with the JSON lines
        char fdText[16];
        std::snprintf(fdText, sizeof fdText, "%d", fds[1]);
        char* args[] = {const_cast<char*>("pcap"), const_cast<char*>(live ? "NULL" : trace.c_str()), fdText,
                        const_cast<char*>(live ? "1" : "0"), const_cast<char*>(loopback ? "lo" : "NULL"),
                        const_cast<char*>(filter.c_str()), nullptr};
        std::signal(SIGPIPE, SIG_DFL);
        ::execv(helper.c_str(), args);
        const char msg[] = "nukdump: cannot run the capture helper\n";
        (void)!::write(2, msg, sizeof msg - 1);
        ::_exit(127);
    }
    ::close(fds[1]);

    // Damaged records are counted and reported on standard error at the end:
    // standard output carries JSON lines only.
    RecordReader reader(fds[0]);
    RawPacket raw;
    std::int64_t number = 0;
    std::deque<CPacket> kept;  // for modes whose models point at their packets
    DumpOutput out;
    bool readFailed = false;
    // What is printed goes out whenever the records pause, so a trace that is still
    // being captured (a named pipe) shows each packet as it arrives. An interrupt
    // ends the dump like the end of the trace; a live capture is stopped then, and
    // the records it still sends are read to its end.
    bool stoppingCapture = false;
    const auto flushWhileWaiting = [&] { return (g_interrupted == 0 || stoppingCapture) && out.flush(); };
    RecordReader::Status ended = RecordReader::Status::Eof;
    for (;;) {
        const RecordReader::Status status = reader.next(raw, flushWhileWaiting);
        if (status == RecordReader::Status::Cancelled && live && g_interrupted && !stoppingCapture && !out.failed()) {
            ::kill(child, SIGTERM);
            stoppingCapture = true;
            continue;
        }
        ended = status;
        if (status == RecordReader::Status::Eof || status == RecordReader::Status::Cancelled)
            break;  // the end, an interrupt, or our reader went away
        if (status != RecordReader::Status::Record) {
            std::perror("nukdump: reading packet records");
            readFailed = true;
            break;
        }
        if (displayFilter && !displayFilter->matches(CPacket(&raw)))
            continue;
        bool more;
        if (mode->keepsPackets()) {
            kept.emplace_back(&raw);
            more = mode->packet(&kept.back(), ++number, out);
        } else {
            const CPacket packet(&raw);
            more = mode->packet(&packet, ++number, out);
        }
        if (!more)
            break;
    }
    if (stoppingCapture)
        g_interrupted = 0;  // the normal end of a live capture
    int status = 0;
    bool helperDone = false;
    if (!out.failed() && !readFailed && !g_interrupted) {
        if (ended == RecordReader::Status::Eof) {
            // The helper is done: with it gone and its directory removed nothing is
            // left to clean up, so a stop may end a long finish (--streams) at once.
            status = waitForHelper(child, false);
            removePrivateDir(tmpDir);
            helperDone = true;
            for (int signo : {SIGINT, SIGTERM, SIGHUP})
                std::signal(signo, SIG_DFL);
            if (g_interrupted)
                dieOf(g_interrupted);
        }
        mode->finish(out);
    }
    out.flush();
    const bool outputClosed = out.failed();
    const int writeError = out.error();
    bool stopSent = false;
    if (!helperDone && (outputClosed || g_interrupted)) {
        ::kill(child, SIGTERM);
        stopSent = true;
    }
    if (outputClosed && writeError != EPIPE && !g_interrupted)
        std::fprintf(stderr, "nukdump: writing: %s\n", std::strerror(writeError));
    ::close(fds[0]);

    if (!helperDone) {
        status = waitForHelper(child, stopSent);
        removePrivateDir(tmpDir);
    }
    if (g_interrupted)
        dieOf(g_interrupted);
    if (outputClosed)
        return writeError == EPIPE ? 0 : 1;
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "nukdump: capture helper ended by signal %d\n", WTERMSIG(status));
        return 1;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "nukdump: capture helper failed (exit status %d)\n", WEXITSTATUS(status));
        return 1;
    }
    if (reader.corruptRecords() > 0)
        std::fprintf(stderr, "nukdump: %lu corrupt packet record%s skipped\n", reader.corruptRecords(),
                     reader.corruptRecords() == 1 ? "" : "s");
    if (reader.truncatedBytes() > 0)
        std::fprintf(stderr, "nukdump: the last packet record was cut short after %zu bytes\n",
                     reader.truncatedBytes());
    return readFailed || reader.corruptRecords() > 0 || reader.truncatedBytes() > 0 ? 1 : 0;
}

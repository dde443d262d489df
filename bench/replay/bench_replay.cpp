// SPDX-License-Identifier: GPL-2.0-or-later
// Replays a 1,000,000-packet trace of small packets through nuk/pcap into a pipe
// read by a RecordReader that only counts records, and times
// `tcpdump -r TRACE -w /dev/null` on the same file for comparison.
// Usage: bench_replay [packets [runs [pcapng|ipv6]]]   (run from a Release build)
// With "pcapng" the trace is converted with editcap first: the helper's own pcapng
// reader against tcpdump's (libpcap's) on the same file. With "ipv6" the packets
// are IPv6 ones.

#include "capture/recordreader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <vector>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

pid_t spawn(const std::string& program, const std::vector<std::string>& args, int keepFd, const std::string& tmpDir)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("NUK_TMPDIR", tmpDir.c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        if (keepFd < 0)
            dup2(devnull, 2);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }
}  // namespace

int main(int argc, char** argv)
{
    const unsigned long packets = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    char dirTemplate[] = "/tmp/nuk-bench-replay-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    std::string trace = dir + "/small.pcap";
    const std::string bin = NUK_BENCH_BIN_DIR;
    const std::string variant = argc > 3 ? argv[3] : "";
    std::vector<std::string> generate{"gentrace", trace, std::to_string(packets)};
    if (variant == "ipv6")
        generate.push_back("ipv6");
    if (waitFor(spawn(bin + "/gentrace", generate, 2, dir)) != 0) {
        std::fprintf(stderr, "cannot generate the trace\n");
        return 1;
    }
    if (variant == "pcapng") {
        const std::string converted = dir + "/small.pcapng";
        if (waitFor(spawn("editcap", {"editcap", "-F", "pcapng", trace, converted}, 2, dir)) != 0) {
            std::fprintf(stderr, "cannot convert the trace to pcapng (editcap, from wireshark-common)\n");
            return 1;
        }
        unlink(trace.c_str());
        trace = converted;
    }

    // Interleaved runs; the best of each stands for the machine without the
    // other work that shares its cores.
    std::vector<double> helperTimes, tcpdumpTimes, tcpdumpFileTimes;
    const std::string copy = dir + "/copy.pcap";
    unsigned long records = 0;
    int helperStatus = 0;
    for (int run = 0; run < runs; ++run) {
        auto start = Clock::now();
        const int tcpdumpStatus = waitFor(spawn("tcpdump", {"tcpdump", "-r", trace, "-w", "/dev/null"}, -1, dir));
        tcpdumpTimes.push_back(seconds(start));
        if (tcpdumpStatus != 0)
            std::fprintf(stderr, "tcpdump exited with %d\n", tcpdumpStatus);

        // For context: tcpdump writing a real file, as the helper writes its default trace file.
        start = Clock::now();
        waitFor(spawn("tcpdump", {"tcpdump", "-r", trace, "-w", copy}, -1, dir));
        tcpdumpFileTimes.push_back(seconds(start));
        unlink(copy.c_str());

        int fds[2];
        if (pipe(fds) != 0) {
            perror("pipe");
            return 1;
        }
        start = Clock::now();
        const pid_t helper =
            spawn(NUK_HELPER, {"pcap", trace, std::to_string(fds[1]), "0", "NULL", "tcp or udp"}, 2, dir);
        close(fds[1]);
        RecordReader reader(fds[0]);
        RawPacket raw;
        records = 0;
        while (reader.next(raw) == RecordReader::Status::Record)
            ++records;
        helperStatus = waitFor(helper);
        helperTimes.push_back(seconds(start));
        close(fds[0]);
    }
    std::sort(helperTimes.begin(), helperTimes.end());
    std::sort(tcpdumpTimes.begin(), tcpdumpTimes.end());
    std::sort(tcpdumpFileTimes.begin(), tcpdumpFileTimes.end());
    const double best = helperTimes.front(), median = helperTimes[helperTimes.size() / 2];
    const double tcpdumpBest = tcpdumpTimes.front(), tcpdumpMedian = tcpdumpTimes[tcpdumpTimes.size() / 2];

    const double rate = records / best;
    const double ratio = best / tcpdumpBest;
    std::printf("packets in trace         %lu (%s), %d runs each\n", packets, trace.c_str() + dir.size() + 1, runs);
    std::printf("records received         %lu (helper exit %d)\n", records, helperStatus);
    std::printf("replay through pipe      best %.3f s, median %.3f s  = %.0f records/s best, %.0f median"
                "  (target >= 1000000)\n",
                best, median, rate, records / median);
    std::printf("tcpdump -r -w /dev/null  best %.3f s, median %.3f s\n", tcpdumpBest, tcpdumpMedian);
    std::printf("tcpdump -r -w FILE       best %.3f s (context: the helper also writes a trace file)\n",
                tcpdumpFileTimes.front());
    std::printf("ratio replay/tcpdump     %.2f best, %.2f median  (target <= 2.00)\n", ratio, median / tcpdumpMedian);
    std::printf("%s\n", records == packets && rate >= 1e6 && ratio <= 2.0 ? "PASS" : "FAIL");

    unlink(trace.c_str());
    unlink((dir + "/" + std::to_string(getuid()) + "_NukDefaultTraceFile").c_str());
    rmdir(dir.c_str());
    return records == packets ? 0 : 1;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Prints, for "port 1 or port 2 or ... port N" at each N given (default 10 50 100 200
// 400 800), in CPU seconds:
//   - the helper's compile (optimized, in a child under the CPU and memory limits):
//     seconds and outcome, and `tcpdump -d` on the same expression (same limits);
//   - the same expression unoptimized, compiled in a child of its own under the same
//     limits: seconds, instructions, and filtering time per packet for a TCP packet
//     that no term matches (every term is tried), next to the optimized program's.
// A replay runs at 0.4-3 µs a packet (bench/README.md), the budget a filter must keep.

#include "capture/filtercompile.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
// CPU seconds of the children reaped so far: the figures hold on a loaded machine.
double childrenCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ownCpu()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::string portList(int terms)
{
    std::string text;
    for (int i = 1; i <= terms; ++i)
        text += (i > 1 ? " or port " : "port ") + std::to_string(i);
    return text;
}

// Nanoseconds per packet for `program` on an Ethernet/IPv4/TCP packet 60000 -> 60001.
double filterNs(const std::vector<bpf_insn>& insns)
{
    unsigned char frame[54] = {};
    frame[12] = 0x08;
    frame[14] = 0x45;
    frame[23] = 6;
    frame[34] = 0xea, frame[35] = 0x60, frame[36] = 0xea, frame[37] = 0x61;
    frame[46] = 0x50;
    pcap_pkthdr h{};
    h.caplen = h.len = sizeof frame;
    bpf_program program{unsigned(insns.size()), const_cast<bpf_insn*>(insns.data())};
    const int rounds = insns.size() > 10000 ? 20000 : 200000;
    volatile int matched = 0;
    const double start = ownCpu();
    for (int i = 0; i < rounds; ++i)
        matched = matched + pcap_offline_filter(&program, &h, frame);
    return (ownCpu() - start) * 1e9 / rounds;
}

// Compiles unoptimized in a child under the helper's limits; reports back through a pipe.
void unoptimized(const std::string& text, double optimizedNs)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    const double cpuBefore = childrenCpu();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlim_t cpu = rlim_t(FilterCompileChild::cpuSeconds());
        const rlimit cpuLimit{cpu, cpu + 1};
        ::setrlimit(RLIMIT_CPU, &cpuLimit);
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
        bpf_program program{};
        char line[200] = "error";
        if (pcap_compile(dead, &program, text.c_str(), 0, PCAP_NETMASK_UNKNOWN) == 0) {
            const double compile = ownCpu();
            const std::vector<bpf_insn> insns(program.bf_insns, program.bf_insns + program.bf_len);
            const double ns = filterNs(insns);
            std::snprintf(line, sizeof line, "%8.2f s %7u insns %9.0f ns/packet (%.0f x optimized)", compile,
                          program.bf_len, ns, optimizedNs > 0 ? ns / optimizedNs : 0.0);
        }
        (void)!::write(fds[1], line, std::strlen(line));
        ::_exit(0);
    }
    ::close(fds[1]);
    char line[200] = {};
    const ssize_t n = ::read(fds[0], line, sizeof line - 1);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (n > 0)
        std::printf("  unoptimized: %s\n", line);
    else
        std::printf("  unoptimized: over the limit after %.1f s\n", childrenCpu() - cpuBefore);
}

double tcpdumpSeconds(const std::string& text, bool& ok)
{
    const std::string command = "ulimit -t " + std::to_string(FilterCompileChild::cpuSeconds()) +
                                "; ulimit -v " + std::to_string(FilterCompileChild::kMemoryBytes >> 10) +
                                "; tcpdump -d -y EN10MB '" + text + "' >/dev/null 2>&1";
    const double before = childrenCpu();
    ok = std::system(command.c_str()) == 0;
    return childrenCpu() - before;
}
}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> terms;
    for (int i = 1; i < argc; ++i)
        terms.push_back(std::atoi(argv[i]));
    if (terms.empty())
        terms = {10, 50, 100, 200, 400, 800};
    std::printf("limits: %d CPU s, %llu MiB\n", FilterCompileChild::cpuSeconds(), FilterCompileChild::kMemoryBytes >> 20);
    for (int n : terms) {
        const std::string text = portList(n);
        pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
        FilterCompileChild child;
        static const std::sig_atomic_t never = 0;
        const double before = childrenCpu();
        const auto outcome = compileStoppably(child, dead, text, PCAP_NETMASK_UNKNOWN, true, never);
        const double helper = childrenCpu() - before;
        pcap_close(dead);
        bool peerOk = false;
        const double peer = tcpdumpSeconds(text, peerOk);
        const bool compiled = outcome == FilterCompileChild::Outcome::Compiled;
        const double ns = compiled ? filterNs(child.program()) : 0;
        std::printf("%5d terms: helper %7.2f s %-13s tcpdump -d %7.2f s %-13s ratio %.2f", n, helper,
                    compiled ? "compiled" : outcome == FilterCompileChild::Outcome::TooComplex ? "too complex" : "failed",
                    peer, peerOk ? "compiled" : "over limits", peer > 0 ? helper / peer : 0.0);
        if (compiled)
            std::printf("; %zu insns %.0f ns/packet", child.program().size(), ns);
        std::printf("\n");
        unoptimized(text, ns);
        std::fflush(stdout);
    }
    return 0;
}

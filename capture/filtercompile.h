// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Compiling a tcpdump filter expression in a child process (plain C++, no Qt).
// libpcap's optimizer takes time and memory that grow far faster than the
// expression (a list of 800 "or port N" terms takes minutes), and a compile can
// be neither interrupted nor given a deadline. A child can: it runs under a CPU
// and a memory limit, and whoever waits for it can kill it at any moment.

#include <pcap/pcap.h>

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

// The message for an expression that reached the limits.
constexpr const char* kFilterTooComplex = "filter expression too complex";

class FilterCompileChild {
public:
    enum class Outcome {
        Running,     // no verdict yet
        Compiled,    // program() holds the filter program
        Invalid,     // message() holds libpcap's complaint
        TooComplex,  // the CPU or memory limit was reached
        Failed,      // no child could be run, or it ended without a verdict; message() says why
    };

    FilterCompileChild() = default;
    FilterCompileChild(const FilterCompileChild&) = delete;
    FilterCompileChild& operator=(const FilterCompileChild&) = delete;
    ~FilterCompileChild();  // kills and reaps a child still running

    // Forks a child that compiles `text` for `handle` (its link type, snapshot length
    // and capture-specific code generation) with optimization. `wantProgram`: send the
    // instructions back, not just the verdict. False (outcome Failed) when no child runs.
    bool start(pcap_t* handle, const std::string& text, bpf_u_int32 netmask, bool wantProgram);
    // Readable when the child has written something or ended.
    int fd() const { return m_fd; }
    // Takes what the child has written so far without blocking; Running until the
    // verdict is in, then the verdict (the child is reaped by then).
    Outcome readSome();
    // Kills and reaps a running child; the outcome stays Running.
    void cancel();

    Outcome outcome() const { return m_outcome; }
    const std::string& message() const { return m_message; }
    const std::vector<bpf_insn>& program() const { return m_program; }

    // The limits a child runs under: CPU seconds (NUK_FILTER_CPU_SECONDS, for tests,
    // overrides them) and bytes of address space.
    static int cpuSeconds();
    static constexpr unsigned long long kMemoryBytes = 1ULL << 30;

private:
    void finish();
    void reap(bool kill);

    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_received;
    Outcome m_outcome = Outcome::Running;
    std::string m_message;
    std::vector<bpf_insn> m_program;
};

// Compiles in a child and waits for it; a nonzero `stop` (set by a signal handler)
// ends the wait at once, kills the child and gives Running.
FilterCompileChild::Outcome compileStoppably(FilterCompileChild& child, pcap_t* handle, const std::string& text,
                                             bpf_u_int32 netmask, bool wantProgram,
                                             const volatile std::sig_atomic_t& stop);

// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/filtercompile.h"

#include "capture/fdio.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the child writes: one kind byte, a 32-bit length, then that many bytes:
// 'C' and the instructions (none when they were not asked for), or 'E' and the message.
constexpr std::size_t kHeader = 5;
constexpr std::uint32_t kMaxMessage = 4096;
constexpr std::uint32_t kMaxProgramBytes = (1u << 21) * sizeof(bpf_insn);
constexpr int kDefaultCpuSeconds = 10;

// libpcap's words when its parser or optimizer runs out of room.
bool soundsTooComplex(const std::string& message)
{
    for (const char* words : {"out of memory", "memory exhausted", "too complex"})
        if (message.find(words) != std::string::npos)
            return true;
    return false;
}

[[noreturn]] void compileAndReport(int out, pcap_t* handle, const char* text, bpf_u_int32 netmask, bool wantProgram,
                                   pid_t parent)
{
    // A child left behind by a parent that died would compile on for nothing.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(1);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signo : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signo, &byDefault, nullptr);

    const rlim_t cpu = rlim_t(FilterCompileChild::cpuSeconds());
    const rlimit cpuLimit{cpu, cpu + 1};  // SIGXCPU, then SIGKILL a second later
    ::setrlimit(RLIMIT_CPU, &cpuLimit);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef __SANITIZE_ADDRESS__  // the address sanitizer reserves terabytes of address space up front
    const rlimit memory{FilterCompileChild::kMemoryBytes, FilterCompileChild::kMemoryBytes};
    ::setrlimit(RLIMIT_AS, &memory);
#endif

    bpf_program program{};
    unsigned char header[kHeader];
    const void* body = nullptr;
    std::uint32_t length = 0;
    if (pcap_compile(handle, &program, text, 1, netmask) == 0) {
        header[0] = 'C';
        if (wantProgram) {
            body = program.bf_insns;
            length = std::uint32_t(program.bf_len * sizeof(bpf_insn));
        }
    } else {
        header[0] = 'E';
        body = pcap_geterr(handle);
        length = std::uint32_t(std::min<std::size_t>(std::strlen(pcap_geterr(handle)), kMaxMessage));
    }
    std::memcpy(header + 1, &length, sizeof length);
    const bool ok = writeFully(out, header, kHeader) && (length == 0 || writeFully(out, body, length));
    ::_exit(ok ? 0 : 1);
}

}  // namespace

int FilterCompileChild::cpuSeconds()
{
    if (const char* text = ::secure_getenv("NUK_FILTER_CPU_SECONDS")) {
        const long seconds = std::strtol(text, nullptr, 10);
        if (seconds >= 1 && seconds <= 3600)
            return int(seconds);
    }
    return kDefaultCpuSeconds;
}

FilterCompileChild::~FilterCompileChild() { cancel(); }

bool FilterCompileChild::start(pcap_t* handle, const std::string& text, bpf_u_int32 netmask, bool wantProgram)
{
    cancel();
    m_received.clear();
    m_program.clear();
    m_message.clear();
    m_outcome = Outcome::Running;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_outcome = Outcome::Failed;
        m_message = std::string("cannot check the filter: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        compileAndReport(fds[1], handle, text.c_str(), netmask, wantProgram, parent);
    }
    const int forkError = errno;
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        m_outcome = Outcome::Failed;
        m_message = std::string("cannot check the filter: ") + std::strerror(forkError);
        return false;
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    m_pid = pid;
    m_fd = fds[0];
    return true;
}

FilterCompileChild::Outcome FilterCompileChild::readSome()
{
    if (m_outcome != Outcome::Running || m_fd < 0)
        return m_outcome;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return m_outcome;  // nothing more for now
        if (n == 0)
            break;
        m_received.append(buffer, std::size_t(n));
        if (m_received.size() > kHeader + kMaxProgramBytes) {
            reap(true);
            m_outcome = Outcome::TooComplex;
            return m_outcome;
        }
    }
    finish();
    return m_outcome;
}

// The child has closed its end: it is done or dead.
void FilterCompileChild::finish()
{
    const int status = [this] {
        int s = 0;
        while (m_pid > 0 && ::waitpid(m_pid, &s, 0) < 0 && errno == EINTR) {
        }
        return s;
    }();
    m_pid = -1;
    ::close(m_fd);
    m_fd = -1;

    std::uint32_t length = 0;
    if (m_received.size() >= kHeader)
        std::memcpy(&length, m_received.data() + 1, sizeof length);
    const bool whole = m_received.size() >= kHeader && m_received.size() - kHeader == length;
    const char kind = whole ? m_received[0] : 0;
    if (kind == 'C' && length % sizeof(bpf_insn) == 0) {
        m_program.resize(length / sizeof(bpf_insn));
        if (length)
            std::memcpy(m_program.data(), m_received.data() + kHeader, length);
        m_outcome = Outcome::Compiled;
    } else if (kind == 'E' && length <= kMaxMessage) {
        m_message.assign(m_received, kHeader, length);
        m_outcome = soundsTooComplex(m_message) ? Outcome::TooComplex : Outcome::Invalid;
    } else if (WIFSIGNALED(status)) {
        // SIGXCPU or SIGKILL at the CPU limit; an abort or a crash where memory ran out.
        m_outcome = Outcome::TooComplex;
    } else {
        m_outcome = Outcome::Failed;
        m_message = "the filter check ended without a result";
    }
    m_received.clear();
}

void FilterCompileChild::reap(bool kill)
{
    if (m_pid > 0) {
        if (kill)
            ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void FilterCompileChild::cancel() { reap(true); }

FilterCompileChild::Outcome compileStoppably(FilterCompileChild& child, pcap_t* handle, const std::string& text,
                                             bpf_u_int32 netmask, bool wantProgram,
                                             const volatile std::sig_atomic_t& stop)
{
    if (!child.start(handle, text, netmask, wantProgram))
        return child.outcome();
    FilterCompileChild::Outcome outcome = FilterCompileChild::Outcome::Running;
    while (outcome == FilterCompileChild::Outcome::Running) {
        if (stop) {
            child.cancel();
            return FilterCompileChild::Outcome::Running;
        }
        pollfd wait{child.fd(), POLLIN, 0};
        ::poll(&wait, 1, 100);  // a stop signal ends the wait early
        if (!stop)
            outcome = child.readSome();
    }
    return outcome;
}

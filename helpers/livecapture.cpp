// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/livecapture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/filter.h>
#include <sys/socket.h>

namespace livecapture {

namespace {
bool readNumber(const char* name, long lo, long hi, long& out, std::string& warning)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return false;
    char* end;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || *end || v < lo || v > hi) {
        warning = std::string(name) + "=" + text + " is not a number from " + std::to_string(lo) + " to " +
                  std::to_string(hi) + "; it is ignored";
        return false;
    }
    out = v;
    return true;
}
}  // namespace

Settings settingsFromEnvironment(std::string& warning)
{
    Settings s;
    long v;
    if (readNumber("NUK_BUFFER_MB", 1, 1024, v, warning))
        s.bufferMb = int(v);
    if (readNumber("NUK_IMMEDIATE", 0, 1, v, warning))
        s.immediate = v == 1;
    if (readNumber("NUK_SPOOL_MB", 0, 4096, v, warning))
        s.spoolMb = int(v);
    return s;
}

void configure(pcap_t* handle, const Settings& settings)
{
    pcap_set_buffer_size(handle, settings.bufferMb * 1024 * 1024);
    pcap_set_immediate_mode(handle, settings.immediate ? 1 : 0);
    pcap_set_timeout(handle, kRingTimeoutMs);
}

std::string incomingOnly(const std::string& text) { return "(" + text + ") and inbound"; }

bool keepIncomingOnly(pcap_t* handle, const bpf_program& program)
{
    // libpcap's instructions have the kernel's layout (it hands them over alike).
    const sock_fprog kernel{static_cast<unsigned short>(program.bf_len),
                            reinterpret_cast<sock_filter*>(program.bf_insns)};
    if (::setsockopt(pcap_fileno(handle), SOL_SOCKET, SO_ATTACH_FILTER, &kernel, sizeof kernel) == 0)
        return true;
    std::fprintf(stderr, "pcap: lo: both copies of each packet enter the ring: %s\n", std::strerror(errno));
    return false;
}

Counts& Counts::operator+=(const Counts& o)
{
    captured += o.captured;
    received += o.received;
    kernelDrops += o.kernelDrops;
    interfaceDrops += o.interfaceDrops;
    return *this;
}

std::string statisticsLine(const Counts& c, const std::string& device)
{
    const auto plural = [](unsigned long long n) { return n == 1 ? " packet" : " packets"; };
    return "pcap: " + (device.empty() ? std::string() : device + ": ") + std::to_string(c.captured) +
           plural(c.captured) + " captured, " + std::to_string(c.received) + " received by the filter, " +
           std::to_string(c.kernelDrops) + " dropped by the kernel, " + std::to_string(c.interfaceDrops) +
           " dropped by the interface";
}

// The kernel counts from the device's activation on, and takes every packet until
// the capture's filter is in place: those packets are not the capture's.
void Statistics::addDevice(const std::string& name, pcap_t* handle)
{
    Device d{name, handle, {}};
    if (pcap_stats(handle, &d.start) != 0)
        d.start = pcap_stat{};
    m_devices.push_back(d);
}

void Statistics::countCaptured(std::size_t device, int frames)
{
    if (frames > 0 && device < m_devices.size())
        m_devices[device].counts.captured += unsigned(frames);
}

// libpcap keeps the totals since the device was opened (the kernel's own
// counters restart at every read).
void Statistics::readKernelCounters()
{
    for (Device& d : m_devices) {
        pcap_stat st{};
        if (pcap_stats(d.handle, &st) != 0)
            continue;
        d.counts.received = st.ps_recv - d.start.ps_recv;
        d.counts.kernelDrops = st.ps_drop - d.start.ps_drop;
        d.counts.interfaceDrops = st.ps_ifdrop - d.start.ps_ifdrop;
    }
}

Counts Statistics::total()
{
    readKernelCounters();
    Counts sum;
    for (const Device& d : m_devices)
        sum += d.counts;
    return sum;
}

void Statistics::tick(long long nowMs)
{
    if (!m_progress || nowMs < m_next)
        return;
    m_next = nowMs + kEveryMs;
    const Counts now = total();
    if (m_reported && now == m_lastReported)
        return;
    m_reported = true;
    m_lastReported = now;
    std::fprintf(stderr, "%s\n", statisticsLine(now).c_str());
}

void Statistics::reportFinal()
{
    const Counts sum = total();
    if (m_devices.size() > 1)
        for (const Device& d : m_devices)
            if (d.counts.lost())
                std::fprintf(stderr, "%s\n", statisticsLine(d.counts, d.name).c_str());
    std::fprintf(stderr, "%s\n", statisticsLine(sum).c_str());
}

}  // namespace livecapture

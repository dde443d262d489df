// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/tracefile.h"

#include "capture/fdio.h"
#include "capture/tmpfiles.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {
constexpr std::uint32_t kSnapLen = 65535;
constexpr std::uint32_t kLinkTypeEthernet = 1;

}  // namespace

TraceFileWriter::~TraceFileWriter() { close(); }

bool TraceFileWriter::open(const std::string& path, std::string& error)
{
    close();
    const int fd = tmpfiles::openPrivate(path);
    if (fd < 0) {
        error = tmpfiles::whyNotUsed(path, errno);
        return false;
    }
    // The classic pcap file header, microsecond time stamps, in this machine's byte order.
    struct {
        std::uint32_t magic = 0xa1b2c3d4;
        std::uint16_t major = 2, minor = 4;
        std::int32_t zone = 0;
        std::uint32_t sigfigs = 0, snaplen = kSnapLen, linktype = kLinkTypeEthernet;
    } header;
    if (!writeFully(fd, &header, sizeof header)) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_closing = false;
    m_fill.bytes.reset(new unsigned char[kFillBytes]);
    m_fill.used = 0;
    // Stop signals must reach the capture thread, whose blocked writes they interrupt.
    sigset_t block, old;
    sigfillset(&block);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    m_thread = std::thread(&TraceFileWriter::run, this);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return true;
}

void TraceFileWriter::write(const timeval& ts, const EthernetFrame& frame)
{
    if (m_fd < 0)
        return;
    const std::uint32_t caplen = std::uint32_t(std::min<std::size_t>(frame.caplen, kSnapLen));
    const std::uint32_t record[4] = {std::uint32_t(ts.tv_sec), std::uint32_t(ts.tv_usec), caplen,
                                     std::uint32_t(std::max<std::size_t>(frame.wirelen, caplen))};
    unsigned char* at = m_fill.bytes.get() + m_fill.used;
    std::memcpy(at, record, sizeof record);
    std::memcpy(at + sizeof record, frame.data, caplen);
    m_fill.used += sizeof record + caplen;
    if (m_fill.used >= kBufferBytes)
        handOver();
}

void TraceFileWriter::handOver()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < kMaxQueued; });
    m_queue.push_back(std::move(m_fill));
    if (!m_spare.empty()) {
        m_fill = std::move(m_spare.back());
        m_spare.pop_back();
    } else {
        m_fill.bytes.reset(new unsigned char[kFillBytes]);
    }
    m_fill.used = 0;
    m_changed.notify_all();
}

void TraceFileWriter::flush()
{
    if (m_fd >= 0 && m_fill.used != 0)
        handOver();
}

void TraceFileWriter::run()
{
    bool failed = false;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty())
            return;  // closing, everything written
        Buffer b = std::move(m_queue.front());
        m_queue.pop_front();
        m_changed.notify_all();
        lock.unlock();
        if (!failed && !writeFully(m_fd, b.bytes.get(), b.used)) {
            failed = true;  // a full disk: keep capturing, say it once
            std::fprintf(stderr, "pcap: writing %s failed: %s\n", m_path.c_str(), std::strerror(errno));
        }
        lock.lock();
        if (m_spare.size() < 2)
            m_spare.push_back(std::move(b));
    }
}

void TraceFileWriter::close()
{
    if (m_fd < 0)
        return;
    flush();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_fd);
    m_fd = -1;
    m_queue.clear();
    m_spare.clear();
}

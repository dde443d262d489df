// SPDX-License-Identifier: GPL-2.0-or-later
#include "config/sockreader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {
constexpr std::size_t kRecordSize = sizeof(SockInfo);
// Enough to bound how long the GUI can be kept waiting by one drain.
constexpr std::size_t kMaxDrainBytes = 1 << 20;

bool readableNow(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP));
}
}  // namespace

SockReader::SockReader(int fd, Sink sink) : m_fd(fd), m_sink(std::move(sink))
{
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        std::perror("pthread getsock create error!");
        return;
    }
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "pthread getsock create error!: %s\n", e.what());
    }
}

SockReader::~SockReader()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SockReader::setCollecting(bool on)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_collecting = on;
    }
    m_changed.notify_all();
    wake();
}

bool SockReader::collecting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_collecting;
}

bool SockReader::atEnd() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_end;
}

void SockReader::drain(const std::function<void()>& beforeUnlock)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_partial.clear();
    std::size_t dropped = 0;
    unsigned char buffer[4096];
    while (m_fd >= 0 && dropped < kMaxDrainBytes && readableNow(m_fd)) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        dropped += std::size_t(n);
    }
    if (beforeUnlock)
        beforeUnlock();
}

void SockReader::wake()
{
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
}

void SockReader::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || (m_collecting && !m_end); });
        if (m_stop)
            return;

        lock.unlock();
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(m_wakeFd, &count, sizeof count);
        }
        lock.lock();

        if (ready < 0 && errno != EINTR) {
            std::perror("read sock pipe error");
            m_end = true;
            continue;
        }
        if (m_stop || !m_collecting)
            continue;
        if (fds[0].revents & POLLNVAL) {
            m_end = true;
            continue;
        }
        // The GUI may have drained the pipe since poll() returned.
        if (fds[0].revents && readableNow(m_fd))
            readAvailable();
    }
}

void SockReader::readAvailable()
{
    unsigned char buffer[kRecordSize * 32];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return;
        std::perror("read sock pipe error");
        m_end = true;
        return;
    }
    if (n == 0) {
        m_partial.clear();  // a record cut short by the end of the stream
        m_end = true;
        return;
    }
    m_partial.insert(m_partial.end(), buffer, buffer + n);
    std::size_t used = 0;
    while (m_partial.size() - used >= kRecordSize) {
        SockInfo info;
        std::memcpy(&info, m_partial.data() + used, kRecordSize);
        used += kRecordSize;
        m_sink(info);
    }
    m_partial.erase(m_partial.begin(), m_partial.begin() + std::ptrdiff_t(used));
}

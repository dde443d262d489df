// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/streaminput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {
// A stop request is noticed within this time even if the signal came just before a wait.
constexpr int kWaitSliceMs = 100;
}  // namespace

StreamInput::StreamInput(int fd, std::function<bool()> beforeWait, const volatile std::sig_atomic_t& stop)
    : m_fd(fd), m_beforeWait(std::move(beforeWait)), m_stop(stop)
{
}

FILE* StreamInput::open()
{
    cookie_io_functions_t io{};
    io.read = &StreamInput::read;
    io.close = &StreamInput::close;
    return fopencookie(this, "r", io);
}

std::size_t StreamInput::peek(unsigned char* out, std::size_t size)
{
    while (m_peeked.size() < size) {
        char chunk[64];
        const ssize_t n = readFromDescriptor(this, chunk, std::min(sizeof chunk, size - m_peeked.size()));
        if (n <= 0)
            break;
        m_peeked.append(chunk, std::size_t(n));
    }
    const std::size_t n = std::min(size, m_peeked.size());
    std::memcpy(out, m_peeked.data(), n);
    return n;
}

ssize_t StreamInput::read(void* self, char* buffer, std::size_t size)
{
    auto* in = static_cast<StreamInput*>(self);
    if (!in->m_peeked.empty()) {
        const std::size_t n = std::min(size, in->m_peeked.size());
        std::memcpy(buffer, in->m_peeked.data(), n);
        in->m_peeked.erase(0, n);
        return ssize_t(n);
    }
    return readFromDescriptor(in, buffer, size);
}

ssize_t StreamInput::readFromDescriptor(StreamInput* in, char* buffer, std::size_t size)
{
    for (;;) {
        if (in->m_stop || in->m_cutShort)
            return 0;
        pollfd pfd{in->m_fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, 0);
        if (ready == 0) {
            if (!in->m_beforeWait()) {
                in->m_cutShort = true;
                return 0;
            }
            ready = ::poll(&pfd, 1, kWaitSliceMs);
            if (ready == 0)
                continue;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        const ssize_t n = ::read(in->m_fd, buffer, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n;
    }
}

int StreamInput::close(void* self) { return ::close(static_cast<StreamInput*>(self)->m_fd); }

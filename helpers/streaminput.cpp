#include "helpers/streaminput.h"

#include <cerrno>
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

ssize_t StreamInput::read(void* self, char* buffer, std::size_t size)
{
    auto* in = static_cast<StreamInput*>(self);
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

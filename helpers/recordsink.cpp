// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/recordsink.h"

#include "capture/rawpacket.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {
// How long a stopping helper waits for the reader to take the rest of a record.
constexpr int kStopGraceMs = 1000;

long long nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}
}  // namespace

RecordSink::RecordSink(int fd, const volatile std::sig_atomic_t& stop) : m_fd(fd), m_stop(stop)
{
    m_buf.resize(kBatchBytes + record::FixedSize + kMaxRecordPayload);
}

bool RecordSink::flush()
{
    if (m_state != State::Open)
        return false;
    std::size_t written = 0;
    bool ok = true;
    while (written < m_used) {
        if (m_stop) {
            ok = finishCurrentRecord(written);
            m_dropped += std::size_t(m_recordEnds.end() -
                                     std::upper_bound(m_recordEnds.begin(), m_recordEnds.end(), written));
            break;
        }
        const ssize_t n = ::write(m_fd, m_buf.data() + written, m_used - written);
        if (n > 0) {
            written += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        m_errno = n < 0 ? errno : EIO;
        m_state = m_errno == EPIPE ? State::ReaderGone : State::Failed;
        ok = false;
        break;
    }
    m_used = 0;
    m_recordEnds.clear();
    return ok && !m_stop;
}

bool RecordSink::finishCurrentRecord(std::size_t& written)
{
    // The first record end at or after `written` closes the record in progress.
    const auto end = std::lower_bound(m_recordEnds.begin(), m_recordEnds.end(), written);
    const bool atBoundary = written == 0 || end == m_recordEnds.end() || *end == written;
    const std::size_t target = atBoundary ? written : *end;
    const long long deadline = nowMs() + kStopGraceMs;
    while (written < target) {
        const long long left = deadline - nowMs();
        if (left <= 0)
            return false;
        pollfd pfd{m_fd, POLLOUT, 0};
        if (::poll(&pfd, 1, int(left)) <= 0)
            continue;
        if (pfd.revents & (POLLERR | POLLHUP))
            return false;
        // POLLOUT on a pipe means room for at least PIPE_BUF bytes: a write this
        // small does not block, and the descriptor's flags are shared with the GUI.
        const ssize_t n = ::write(m_fd, m_buf.data() + written, std::min<std::size_t>(target - written, PIPE_BUF));
        if (n > 0)
            written += std::size_t(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/recordsink.h"

#include "capture/rawpacket.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
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

RecordSink::Buffer RecordSink::newBuffer()
{
    return Buffer(new unsigned char[kBatchBytes + record::FixedSize + kMaxRecordPayload]);
}

RecordSink::RecordSink(int fd, const volatile std::sig_atomic_t& stop) : m_fd(fd), m_stop(stop), m_buf(newBuffer())
{
    m_pipeSize = std::max(0, ::fcntl(fd, F_GETPIPE_SZ));
}

bool RecordSink::flush()
{
    if (m_state != State::Open)
        return false;
    spoolBatch();
    return writeSpool(0) && !m_stop;
}

bool RecordSink::flushWithoutWaiting()
{
    if (m_state != State::Open)
        return false;
    spoolBatch();
    return writeSpool(m_spoolLimit) && !m_stop;
}

void RecordSink::spoolBatch()
{
    if (m_used == 0)
        return;
    Batch batch;
    if (!m_spare.empty()) {
        batch = std::move(m_spare.back());
        m_spare.pop_back();
    }
    batch.bytes.swap(m_buf);
    batch.ends.swap(m_recordEnds);
    batch.used = m_used;
    batch.written = 0;
    m_spooledBytes += m_used;
    m_spool.push_back(std::move(batch));
    if (!m_buf)
        m_buf = newBuffer();
    m_recordEnds.clear();
    m_used = 0;
}

std::size_t RecordSink::roomInPipe() const
{
    constexpr std::size_t kNoLimit = std::size_t(-1);
    int queued = 0;
    if (m_pipeSize == 0 || ::ioctl(m_fd, FIONREAD, &queued) != 0)
        return kNoLimit;  // no pipe: every write may wait
    // A pipe holds whole pages, and the one being read is only partly free.
    const long room = long(m_pipeSize) - queued - 2 * PIPE_BUF;
    if (room >= PIPE_BUF)
        return std::size_t(room);
    pollfd pfd{m_fd, POLLOUT, 0};
    if (::poll(&pfd, 1, 0) <= 0)
        return 0;
    if (pfd.revents & (POLLERR | POLLHUP))
        return kNoLimit;  // the write says what went wrong
    return pfd.revents & POLLOUT ? PIPE_BUF : 0;  // room for PIPE_BUF bytes at least
}

bool RecordSink::writeSpool(std::size_t keep)
{
    while (!m_spool.empty()) {
        Batch& front = m_spool.front();
        if (m_stop) {
            const bool finished = finishCurrentRecord(front, front.written);
            dropSpool(front);
            return finished;
        }
        std::size_t length = front.used - front.written;
        if (m_spooledBytes <= keep) {
            const std::size_t room = roomInPipe();
            if (room == 0)
                return true;
            length = std::min(length, room);
        }
        const ssize_t n = ::write(m_fd, front.bytes.get() + front.written, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : EIO;
            m_state = m_errno == EPIPE ? State::ReaderGone : State::Failed;
            m_spool.clear();
            m_spooledBytes = 0;
            return false;
        }
        front.written += std::size_t(n);
        m_spooledBytes -= std::size_t(n);
        if (front.written == front.used) {
            m_spare.push_back(std::move(front));
            m_spool.pop_front();
        }
    }
    return true;
}

// Counts every record not written whole as dropped and empties the spool.
void RecordSink::dropSpool(Batch& front)
{
    for (const Batch& b : m_spool) {
        const std::size_t done = &b == &front ? b.written : 0;
        m_dropped += std::size_t(b.ends.end() - std::upper_bound(b.ends.begin(), b.ends.end(), done));
    }
    m_spool.clear();
    m_spooledBytes = 0;
}

bool RecordSink::finishCurrentRecord(const Batch& batch, std::size_t& written)
{
    // The first record end at or after `written` closes the record in progress.
    const auto end = std::lower_bound(batch.ends.begin(), batch.ends.end(), written);
    const bool atBoundary = written == 0 || end == batch.ends.end() || *end == written;
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
        const ssize_t n = ::write(m_fd, batch.bytes.get() + written, std::min<std::size_t>(target - written, PIPE_BUF));
        if (n > 0)
            written += std::size_t(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

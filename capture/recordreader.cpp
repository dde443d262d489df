// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/recordreader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {
std::int32_t loadInt(const unsigned char* p)
{
    std::int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
}  // namespace

void RecordFramer::compact()
{
    if (m_begin == 0)
        return;
    std::memmove(m_buf.get(), m_buf.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
}

// The buffer grows with what is asked of it, never ahead and never cleared: a
// framer fed small pieces stays small and cheap, a reader's large reads make it
// large once.
unsigned char* RecordFramer::writeSpace(std::size_t want)
{
    if (m_capacity - m_end < want)
        compact();
    if (m_capacity - m_end < want) {
        const std::size_t capacity = std::max(m_end + want, 2 * m_capacity);
        std::unique_ptr<unsigned char[]> grown(new unsigned char[capacity]);
        if (m_end)
            std::memcpy(grown.get(), m_buf.get(), m_end);
        m_buf = std::move(grown);
        m_capacity = capacity;
    }
    return m_buf.get() + m_end;
}

void RecordFramer::commit(std::size_t n) { m_end += n; }

void RecordFramer::feed(const unsigned char* data, std::size_t n)
{
    std::memcpy(writeSpace(n), data, n);
    commit(n);
}

void RecordFramer::reset() { m_begin = m_end = 0; }

RecordFramer::Result RecordFramer::next(RawPacket& out)
{
    const std::size_t have = m_end - m_begin;
    if (have < record::HeaderSize)
        return Result::NeedMore;
    const unsigned char* p = m_buf.get() + m_begin;
    const std::int32_t length = loadInt(p + record::Length);
    if (length <= 2) {
        m_begin += record::HeaderSize;
        return Result::Dropped;
    }
    // Lengths 3..159 still carry the whole fixed part and no payload.
    const std::uint32_t payload = std::uint32_t(length) > std::uint32_t(packetlen)
                                      ? std::uint32_t(length) - std::uint32_t(packetlen)
                                      : 0;
    if (payload > kMaxRecordPayload) {
        reset();
        return Result::Corrupt;
    }
    const std::size_t total = record::FixedSize + payload;
    if (have < total)
        return Result::NeedMore;
    std::memcpy(out.fixed, p, record::FixedSize);
    out.payload = payload ? p + record::FixedSize : nullptr;
    m_begin += total;
    if (m_begin == m_end)
        m_begin = m_end = 0;
    return Result::Record;
}

RecordReader::RecordReader(int fd, DamageHandler onDamage, std::size_t readChunk)
    : m_fd(fd), m_onDamage(std::move(onDamage)), m_readChunk(readChunk)
{
}

void RecordReader::damaged(Damage what)
{
    if (m_onDamage)
        m_onDamage(what);
}

std::size_t RecordReader::drain(int fd)
{
    std::size_t total = 0;
    unsigned char scratch[4096];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN))
            break;
        const ssize_t n = ::read(fd, scratch, sizeof scratch);
        if (n <= 0)
            break;
        total += std::size_t(n);
    }
    return total;
}

void RecordReader::discardBuffered()
{
    m_framer.reset();
    drain(m_fd);
}

RecordReader::Status RecordReader::next(RawPacket& out, const std::function<bool()>& keepGoing,
                                        int pollIntervalMs)
{
    for (;;) {
        switch (m_framer.next(out)) {
        case RecordFramer::Result::Record:
            return Status::Record;
        case RecordFramer::Result::Dropped:
            continue;
        case RecordFramer::Result::Corrupt:
            ++m_corrupt;
            damaged(Damage::Corrupt);
            drain(m_fd);
            continue;
        case RecordFramer::Result::NeedMore:
            break;
        }
        if (keepGoing) {
            pollfd pfd{m_fd, POLLIN, 0};
            const int ready = ::poll(&pfd, 1, pollIntervalMs);
            if (ready < 0 && errno != EINTR)
                return Status::Error;
            if (!keepGoing())
                return Status::Cancelled;
            if (ready <= 0)
                continue;
        }
        unsigned char* space = m_framer.writeSpace(m_readChunk);
        const ssize_t n = ::read(m_fd, space, m_readChunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Status::Error;
        }
        if (n == 0) {
            if (const std::size_t cut = m_framer.buffered()) {
                m_truncated = cut;
                damaged(Damage::Truncated);
            }
            m_framer.reset();
            return Status::Eof;
        }
        m_framer.commit(std::size_t(n));
    }
}

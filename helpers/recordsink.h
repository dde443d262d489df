// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writes packet records into the packet pipe. Records are gathered into a batch
// and each batch goes out with one loop of write(); a stop request (SIGTERM)
// never leaves a partial record behind: the record being written is finished
// (waiting at most a short while for the reader) and the rest of the batch dropped.
//
// A live capture must not wait for a reader that is behind while the kernel's ring
// overflows: flushWithoutWaiting() writes only what the pipe has room for, and the
// batches that do not fit wait in a spool of bounded size.

#include <csignal>
#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

class RecordSink {
public:
    enum class State { Open, ReaderGone, Failed };

    // `stop` is the flag the signal handler sets.
    RecordSink(int fd, const volatile std::sig_atomic_t& stop);

    // Writes the batch, and the spool before it; returns false when writing must end
    // (reader gone, error, stop).
    bool flush();
    // Spools the batch and writes what the pipe has room for now; waits only while
    // the spool holds more than its limit. False when writing must end.
    bool flushWithoutWaiting();
    void setSpoolLimit(std::size_t bytes) { m_spoolLimit = bytes; }
    std::size_t spooledBytes() const { return m_spooledBytes; }
    // Room for one whole record at the end of the batch; commit() adds it.
    unsigned char* space() { return m_buf.get() + m_used; }
    void commit(std::size_t length)
    {
        m_used += length;
        m_recordEnds.push_back(m_used);
    }
    bool wantsFlush() const { return m_used >= kBatchBytes; }

    State state() const { return m_state; }
    // Records a stop dropped from the batch: made (and kept in the trace file) but
    // never written whole into the pipe.
    unsigned long long dropped() const { return m_dropped; }
    int error() const { return m_errno; }

private:
    static constexpr std::size_t kBatchBytes = 256 * 1024;
    // Left uninitialised: a spool that grows fast would otherwise clear each new
    // batch before filling it.
    using Buffer = std::unique_ptr<unsigned char[]>;
    static Buffer newBuffer();
    struct Batch {
        Buffer bytes;
        std::vector<std::size_t> ends;  // where each record ends
        std::size_t used = 0, written = 0;
    };
    void spoolBatch();
    // Writes spooled batches, waiting for the reader while more than `keep` bytes
    // wait, and beyond that only as much as the pipe has room for.
    bool writeSpool(std::size_t keep);
    std::size_t roomInPipe() const;
    void dropSpool(Batch& front);
    bool finishCurrentRecord(const Batch& batch, std::size_t& written);

    int m_fd;
    const volatile std::sig_atomic_t& m_stop;
    int m_pipeSize = 0;  // 0 when the output is no pipe
    Buffer m_buf;  // m_used bytes hold records
    std::size_t m_used = 0;
    std::vector<std::size_t> m_recordEnds;
    std::deque<Batch> m_spool;
    std::vector<Batch> m_spare;  // written batches, their memory kept for the next ones
    std::size_t m_spooledBytes = 0, m_spoolLimit = 0;
    State m_state = State::Open;
    int m_errno = 0;
    unsigned long long m_dropped = 0;
};

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Writes packet records into the packet pipe. Records are gathered into a batch
// and each batch goes out with one loop of write(); a stop request (SIGTERM)
// never leaves a partial record behind: the record being written is finished
// (waiting at most a short while for the reader) and the rest of the batch dropped.

#include <csignal>
#include <cstddef>
#include <vector>

class RecordSink {
public:
    enum class State { Open, ReaderGone, Failed };

    // `stop` is the flag the signal handler sets.
    RecordSink(int fd, const volatile std::sig_atomic_t& stop);

    // Writes the batch; returns false when writing must end (reader gone, error, stop).
    bool flush();
    // Room for one whole record at the end of the batch; commit() adds it.
    unsigned char* space() { return m_buf.data() + m_used; }
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
    bool finishCurrentRecord(std::size_t& written);

    int m_fd;
    const volatile std::sig_atomic_t& m_stop;
    std::vector<unsigned char> m_buf;  // sized once; m_used bytes hold records
    std::size_t m_used = 0;
    std::vector<std::size_t> m_recordEnds;
    State m_state = State::Open;
    int m_errno = 0;
    unsigned long long m_dropped = 0;
};

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Cuts the packet pipe's byte stream into records. The stream comes from another
// process and is untrusted: a record that announces more than kMaxRecordPayload
// payload bytes is treated as a corrupt stream and never allocated.
//
// RecordFramer works on bytes handed to it (no I/O); RecordReader feeds a framer
// from a descriptor in large reads, waiting with poll so that a caller can cancel
// a wait (Stop) without leaving part of a record behind.

#include "capture/rawpacket.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class RecordFramer {
public:
    enum class Result {
        NeedMore,  // no whole record buffered yet
        Record,    // `out` holds a record; its payload points into the framer until the next call
        Dropped,   // a record of length <= 2 (16 bytes alone), skipped
        Corrupt,   // impossible length; everything buffered was discarded
    };

    // Space to read into: at least `want` bytes; call commit() with what was read.
    unsigned char* writeSpace(std::size_t want);
    void commit(std::size_t n);
    void feed(const unsigned char* data, std::size_t n);

    Result next(RawPacket& out);
    // Forget everything buffered (a stop, or resynchronisation after corruption).
    void reset();
    std::size_t buffered() const { return m_end - m_begin; }

private:
    void compact();

    std::unique_ptr<unsigned char[]> m_buf;  // never cleared: only bytes fed are read
    std::size_t m_capacity = 0;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
};

class RecordReader {
public:
    enum class Status {
        Record,     // `out` holds a record (payload valid until the next call)
        Eof,        // the writer closed the stream; a partial record was dropped
        Error,      // read failed (errno is set)
        Cancelled,  // keepGoing() returned false while waiting
    };

    // What went wrong with the stream, reported to the damage handler.
    enum class Damage {
        Corrupt,    // an impossible length: what was buffered and waiting was dropped
        Truncated,  // the writer closed the stream in the middle of a record
    };
    using DamageHandler = std::function<void(Damage)>;

    // Reads come in pieces of up to `readChunk` bytes: large ones cost the reader
    // thread of a busy capture fewer system calls, small ones less memory.
    static constexpr std::size_t kDefaultReadChunk = 256 * 1024;
    explicit RecordReader(int fd, DamageHandler onDamage = {}, std::size_t readChunk = kDefaultReadChunk);

    // Reads the next record. While waiting for data, calls keepGoing() every
    // pollIntervalMs milliseconds and returns Cancelled when it says false.
    // A corrupt record drains the descriptor and reading goes on; a record cut
    // by the end of the stream is dropped; both are counted and reported to the
    // damage handler. Records of length <= 2 are skipped.
    Status next(RawPacket& out, const std::function<bool()>& keepGoing = {}, int pollIntervalMs = 50);

    // Discards what the framer holds and what is waiting in the descriptor.
    void discardBuffered();
    // Drains whatever is readable in `fd` now, without blocking. Returns the bytes drained.
    static std::size_t drain(int fd);

    int fd() const { return m_fd; }
    unsigned long corruptRecords() const { return m_corrupt; }
    // Bytes of a last record that the end of the stream cut short (0: none).
    std::size_t truncatedBytes() const { return m_truncated; }

private:
    void damaged(Damage what);

    int m_fd;
    DamageHandler m_onDamage;
    std::size_t m_readChunk;
    RecordFramer m_framer;
    unsigned long m_corrupt = 0;
    std::size_t m_truncated = 0;
};

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A pcap trace file with Ethernet link type (the format tcpdump -w writes),
// created owner-only and never through a link. Frames are gathered in memory and
// written by a thread of its own, so a fast replay does not wait for the disk;
// memory stays bounded (the capture waits when the disk falls behind).

#include "helpers/framerecord.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <sys/time.h>
#include <thread>
#include <vector>

class TraceFileWriter {
public:
    TraceFileWriter() = default;
    ~TraceFileWriter();
    TraceFileWriter(const TraceFileWriter&) = delete;
    TraceFileWriter& operator=(const TraceFileWriter&) = delete;

    // Creates or truncates `path` and writes the file header. On failure `error` says why.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return m_fd >= 0; }
    void write(const timeval& ts, const EthernetFrame& frame);
    // Hands what was written since the last flush to the writing thread.
    void flush();
    // Writes everything and closes the file.
    void close();

private:
    struct Buffer {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t used = 0;
    };
    static constexpr std::size_t kBufferBytes = 1 << 20;
    static constexpr std::size_t kMaxQueued = 8;
    static constexpr std::size_t kFillBytes = kBufferBytes + 16 + 65535;  // one more frame always fits

    void handOver();
    void run();

    int m_fd = -1;
    std::string m_path;
    Buffer m_fill;  // kFillBytes long
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Buffer> m_queue;
    std::vector<Buffer> m_spare;
    bool m_closing = false;
    std::thread m_thread;
};

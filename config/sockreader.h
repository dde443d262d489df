// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reads SockInfo records from the socket pipe on a thread of its own.
//
// The thread sleeps (condition variable) while collecting is off and never reads
// the pipe then; while on, it waits in poll() together with a wake-up descriptor,
// so that stopping, switching collecting off or destroying the reader takes effect
// at once, also during a wait for data. Every pipe read happens under the same
// lock as drain(), so a drain never races a read and a record cut by a drain is
// dropped whole. A partial record at end of stream is dropped.

#include "capture/sockinfo.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class SockReader {
public:
    // `sink` runs on the reader thread, once per complete record, in order.
    using Sink = std::function<void(const SockInfo&)>;

    SockReader(int fd, Sink sink);
    ~SockReader();  // stops and joins the thread
    SockReader(const SockReader&) = delete;
    SockReader& operator=(const SockReader&) = delete;

    bool started() const { return m_thread.joinable(); }
    void setCollecting(bool on);
    bool collecting() const;
    // Discards whatever the pipe holds now and any partial record read so far.
    // `beforeUnlock` runs while reads are still held off.
    void drain(const std::function<void()>& beforeUnlock = {});
    // True once the writer side has closed (or the pipe failed).
    bool atEnd() const;

private:
    void run();
    void wake();
    void readAvailable();  // with m_mutex held

    const int m_fd;
    Sink m_sink;
    int m_wakeFd = -1;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_collecting = false;
    bool m_stop = false;
    bool m_end = false;
    std::vector<unsigned char> m_partial;
    std::thread m_thread;
};

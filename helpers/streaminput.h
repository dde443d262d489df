// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Trace data that arrives while it is being captured: a named pipe or standard input
// fed by `tcpdump -U -w -` (over ssh, say). libpcap parses it from a stdio stream;
// this one lets go of whatever the helper holds back (batched records, the default
// trace file) before every wait for more data, and ends the wait when the helper is
// asked to stop.

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>

class StreamInput {
public:
    // `beforeWait` runs whenever a read would block (again every 100 ms while it does);
    // false from it ends the input as if the writer had finished.
    StreamInput(int fd, std::function<bool()> beforeWait, const volatile std::sig_atomic_t& stop);

    // A stream over the descriptor; closing it closes the descriptor. Null on failure.
    // The StreamInput must outlive the stream.
    FILE* open();
    // Reads up to `size` bytes ahead (fewer only at the end of the input or on a stop);
    // the stream still delivers them first. Call before open().
    std::size_t peek(unsigned char* out, std::size_t size);
    // The input was ended because `beforeWait` said so.
    bool cutShort() const { return m_cutShort; }

private:
    static ssize_t read(void* self, char* buffer, std::size_t size);
    static ssize_t readFromDescriptor(StreamInput* in, char* buffer, std::size_t size);
    static int close(void* self);

    int m_fd;
    std::function<bool()> m_beforeWait;
    const volatile std::sig_atomic_t& m_stop;
    bool m_cutShort = false;
    std::string m_peeked;  // delivered before anything else
};

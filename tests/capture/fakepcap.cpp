// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in for the capture helper, installed as <NUKPATH>/nuk/pcap by the tests
// and the controller benchmark. Command line as the real helper's:
//   pcap <file|NULL> <fd> <mode> <lo|NULL> <expression>
// It writes packet records into <fd> until SIGTERM.
// Words in the expression steer it:
//   tag N     every record carries N in the TCP acknowledgement field (default 0)
//   count N   stop writing after N records and wait to be killed
//   gap U     sleep U microseconds after every batch (default 1000); 0 streams flat out
//   batch N   records per write (default 16; 16 records stay within PIPE_BUF, so a
//             record is never cut by the SIGTERM that ends the helper)
// In mode 0 the trace file must exist, or it complains on standard error and exits.

#include "common/standin.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
long wordValue(const std::string& expr, const char* word, long fallback)
{
    const std::string key = std::string(word) + " ";
    const auto at = expr.find(key);
    if (at == std::string::npos)
        return fallback;
    return std::strtol(expr.c_str() + at + key.size(), nullptr, 10);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "pcap: expected 5 arguments, got %d\n", argc - 1);
        return 2;
    }
    if (std::strcmp(argv[3], "0") == 0) {
        const int trace = ::open(argv[1], O_RDONLY);
        if (trace < 0) {
            std::fprintf(stderr, "pcap: cannot open trace file %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        ::close(trace);
    }
    const int fd = std::atoi(argv[2]);
    const std::string expr = argv[5];
    const auto tag = std::uint32_t(wordValue(expr, "tag", 0));
    const long count = wordValue(expr, "count", -1);
    const long gap = wordValue(expr, "gap", 1000);
    const long batch = std::max(1L, std::min(wordValue(expr, "batch", 16), 4096L));

    const int recordSize = kTaggedRecordSize;
    std::vector<unsigned char> buf(std::size_t(batch) * recordSize);
    std::uint32_t number = 0;
    for (;;) {
        long n = batch;
        if (count >= 0)
            n = std::min(n, count - long(number));
        if (n <= 0)
            break;
        for (long i = 0; i < n; ++i, ++number)
            fillTaggedRecord(buf.data() + i * recordSize, number, tag, std::int32_t(1000 + number / 1000000),
                             std::int32_t(number % 1000000));
        const std::size_t bytes = std::size_t(n) * recordSize;
        if (!writeFully(fd, buf.data(), bytes))
            return 3;
        if (gap > 0)
            ::usleep(useconds_t(gap));
    }
    for (;;)
        ::pause();
}

// SPDX-License-Identifier: GPL-2.0-or-later
/* A paced UDP load on the loopback device, for the live capture benchmark.
 *
 *   loadgen PORT RATE SECONDS [SIZE]
 *
 * Sends SIZE-byte datagrams (default 100) from 127.0.0.1 to 127.0.0.1:PORT at
 * RATE datagrams per second (0: as fast as the machine allows) for SECONDS, in
 * batches of sendmmsg. Each payload starts with its send time (CLOCK_REALTIME,
 * nanoseconds, host byte order) and its number, so that a receiver can measure
 * latency and spot gaps. Prints "sent N in S s" on standard output. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kBatch = 64, kMaxSize = 1400 };

static double now(clockid_t clock)
{
    struct timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: loadgen PORT RATE SECONDS [SIZE]\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    const double rate = atof(argv[2]), seconds = atof(argv[3]);
    const int size = argc == 5 ? atoi(argv[4]) : 100;
    if (port <= 0 || port > 65535 || rate < 0 || seconds <= 0 || size < 16 || size > kMaxSize) {
        fprintf(stderr, "loadgen: bad argument\n");
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, (struct sockaddr*)&to, sizeof to) != 0) {
        perror("loadgen: socket");
        return 1;
    }
    /* A bound receiver that never reads: the datagrams have somewhere to go (no
     * port-unreachable errors), and the socket drops what it cannot hold. */
    const int sink = socket(AF_INET, SOCK_DGRAM, 0);
    if (sink < 0 || bind(sink, (struct sockaddr*)&to, sizeof to) != 0) {
        perror("loadgen: bind the receiver");
        return 1;
    }
    const int sndbuf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);

    static unsigned char payload[kBatch][kMaxSize];
    struct iovec iov[kBatch];
    struct mmsghdr msgs[kBatch];
    memset(msgs, 0, sizeof msgs);
    for (int i = 0; i < kBatch; ++i) {
        iov[i].iov_base = payload[i];
        iov[i].iov_len = (size_t)size;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    uint64_t sent = 0;
    const double start = now(CLOCK_MONOTONIC);
    for (;;) {
        const double elapsed = now(CLOCK_MONOTONIC) - start;
        if (elapsed >= seconds)
            break;
        uint64_t due = rate > 0 ? (uint64_t)(rate * elapsed) + 1 : sent + kBatch;
        if (due <= sent) {
            /* Sleep until the next datagram is due, or briefly at high rates. */
            const double wait = (double)(sent + 1) / rate - elapsed;
            struct timespec ts = {0, (long)(wait > 1e-3 ? 1e6 : wait * 1e9)};
            nanosleep(&ts, NULL);
            continue;
        }
        unsigned n = (unsigned)(due - sent > kBatch ? kBatch : due - sent);
        for (unsigned i = 0; i < n; ++i) {
            struct timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            const uint64_t ns = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec, number = sent + i;
            memcpy(payload[i], &ns, 8);
            memcpy(payload[i] + 8, &number, 8);
        }
        const int r = sendmmsg(fd, msgs, n, 0);
        if (r > 0)
            sent += (uint64_t)r;
        else if (r < 0 && errno != EINTR && errno != EAGAIN && errno != ENOBUFS) {
            perror("loadgen: sendmmsg");
            return 1;
        }
    }
    printf("sent %llu in %.2f s\n", (unsigned long long)sent, now(CLOCK_MONOTONIC) - start);
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One socket as the socket-listing helper reports it: 100 bytes, no header.
//
// The first 68 bytes are the IPv4 socket record: protocol, the two ends as
// sockaddr_in (AF_INET), state and program. An IPv6 socket has AF_INET6 in both
// ends' sin_family, its ports in sin_port as ever, zero IPv4 addresses, and its
// addresses in local6 and foreign6 (zero for IPv4 sockets). A socket whose ends
// are IPv4-mapped IPv6 addresses (::ffff:a.b.c.d) is reported as the IPv4 socket
// its packets show.

#include <cstdint>
#include <netinet/in.h>

struct SockInfo {
    std::int32_t protocol;        // 0 = UDP, anything else = TCP (host byte order)
    struct sockaddr_in local;     // port in HOST byte order, address in network byte order
    struct sockaddr_in foreign;   // same layout
    char state[12];               // NUL-terminated within the field
    char program[20];             // "PID/name" or "-", NUL-terminated within the field
    struct in6_addr local6;       // IPv6 sockets only (sin_family AF_INET6), network byte order
    struct in6_addr foreign6;
};
static_assert(sizeof(SockInfo) == 100, "SockInfo must be 100 bytes");

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One socket as the socket-listing helper reports it: 68 bytes, no header.

#include <cstdint>
#include <netinet/in.h>

struct SockInfo {
    std::int32_t protocol;        // 0 = UDP, anything else = TCP (host byte order)
    struct sockaddr_in local;     // port in HOST byte order, address in network byte order
    struct sockaddr_in foreign;   // same layout
    char state[12];               // NUL-terminated within the field
    char program[20];             // "PID/name" or "-", NUL-terminated within the field
};
static_assert(sizeof(SockInfo) == 68, "SockInfo must be 68 bytes");

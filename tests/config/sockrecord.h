// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One socket record as the listing helper sends it (ports in host byte order).

#include "capture/sockinfo.h"

#include <arpa/inet.h>
#include <cstring>

inline SockInfo makeSockInfo(int protocol, const char* local, unsigned short localPort, const char* foreign,
                             unsigned short foreignPort, const char* state, const char* program)
{
    SockInfo info;
    std::memset(&info, 0, sizeof info);
    info.protocol = protocol;
    info.local.sin_family = info.foreign.sin_family = AF_INET;
    info.local.sin_port = localPort;
    inet_pton(AF_INET, local, &info.local.sin_addr);
    info.foreign.sin_port = foreignPort;
    inet_pton(AF_INET, foreign, &info.foreign.sin_addr);
    std::strncpy(info.state, state, sizeof info.state);  // a full field has no terminator
    std::strncpy(info.program, program, sizeof info.program);
    return info;
}

// An IPv6 socket's record: AF_INET6 in both ends, the addresses in local6/foreign6.
inline SockInfo makeSockInfo6(int protocol, const char* local, unsigned short localPort, const char* foreign,
                              unsigned short foreignPort, const char* state, const char* program)
{
    SockInfo info = makeSockInfo(protocol, "0.0.0.0", localPort, "0.0.0.0", foreignPort, state, program);
    info.local.sin_family = info.foreign.sin_family = AF_INET6;
    inet_pton(AF_INET6, local, &info.local6);
    inet_pton(AF_INET6, foreign, &info.foreign6);
    return info;
}

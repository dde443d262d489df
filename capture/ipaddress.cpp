// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/ipaddress.h"

#include <arpa/inet.h>
#include <cstdio>

IpAddress IpAddress::fromText(const char* text)
{
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text, bytes) == 1) {
        IpAddress a;
        a.m_family = V4;
        std::memcpy(a.m_bytes, bytes, 4);
        return a;
    }
    if (inet_pton(AF_INET6, text, bytes) == 1)
        return fromV6(bytes);
    return {};
}

const char* IpAddress::text(char* buf) const
{
    buf[0] = '\0';
    if (m_family == V4)
        std::snprintf(buf, TextSize, "%u.%u.%u.%u", m_bytes[0], m_bytes[1], m_bytes[2], m_bytes[3]);
    else if (m_family == V6)
        inet_ntop(AF_INET6, m_bytes, buf, TextSize);
    return buf;
}

std::string IpAddress::text() const
{
    char buf[TextSize];
    return text(buf);
}

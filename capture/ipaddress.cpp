// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/ipaddress.h"

#include <arpa/inet.h>
#include <cstdio>

IpAddress IpAddress::fromText(const char* text)
{
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text, bytes) == 1)
        return fromV4((std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3]);
    if (inet_pton(AF_INET6, text, bytes) == 1)
        return fromV6(bytes);
    return {};
}

const char* IpAddress::text(char* buf) const
{
    buf[0] = '\0';
    const std::uint32_t a = v4();
    if (m_family == V4)
        std::snprintf(buf, TextSize, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xff, (a >> 8) & 0xff, a & 0xff);
    else if (m_family == V6)
        inet_ntop(AF_INET6, bytes().data(), buf, TextSize);
    return buf;
}

std::string IpAddress::text() const
{
    char buf[TextSize];
    return text(buf);
}

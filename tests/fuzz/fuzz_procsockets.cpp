// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: the socket table parser on arbitrary lines of /proc/net/tcp,
// udp, tcp6 and udp6. Byte 0 picks the table (bit 0: TCP, bit 1: IPv6); the rest is
// the line. A parsed socket must be one of the table's family.

#include "helpers/procsockets.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool tcp = data[0] & 1, ipv6 = data[0] & 2;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
    KernelSocket s;
    if (!parseSocketLine(line, tcp, ipv6, s))
        return 0;
    if (s.tcp != tcp || (!ipv6 && !(isMappedIpv4(s.localAddr) && isMappedIpv4(s.remoteAddr))))
        std::abort();
    stateText(s);
    isIpv4Socket(s);
    return 0;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// getSock <fd>: writes one SockInfo record per IPv4 and IPv6 TCP and UDP socket
// of the machine into descriptor <fd>, then exits.

#include "capture/fdio.h"
#include "capture/sockinfo.h"
#include "helpers/procsockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool parseFd(const char* text, int& fd)
{
    char* end;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < 0 || v > 1 << 20)
        return false;
    fd = int(v);
    return fcntl(fd, F_GETFD) != -1;
}

sockaddr_in endpoint(bool ipv4, const SocketAddress& addr, std::uint16_t port, in6_addr& addr6)
{
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = ipv4 ? AF_INET : AF_INET6;
    sa.sin_port = port;  // host byte order, as the dialog expects
    if (ipv4)
        sa.sin_addr.s_addr = isMappedIpv4(addr) ? ipv4Of(addr) : 0;
    else
        std::memcpy(&addr6, addr.data(), sizeof addr6);
    return sa;
}

SockInfo toSockInfo(const KernelSocket& s, const std::unordered_map<unsigned long, int>& owners)
{
    SockInfo info;
    std::memset(&info, 0, sizeof info);
    info.protocol = s.tcp ? 1 : 0;
    const bool ipv4 = isIpv4Socket(s);
    info.local = endpoint(ipv4, s.localAddr, s.localPort, info.local6);
    info.foreign = endpoint(ipv4, s.remoteAddr, s.remotePort, info.foreign6);
    std::snprintf(info.state, sizeof info.state, "%s", stateText(s));
    const auto owner = s.inode ? owners.find(s.inode) : owners.end();
    if (owner == owners.end()) {
        std::snprintf(info.program, sizeof info.program, "-");
    } else {
        // snprintf truncates a long name and always terminates within the field.
        std::snprintf(info.program, sizeof info.program, "%d/%s", owner->second,
                      processName(owner->second).c_str());
    }
    return info;
}

}  // namespace

int main(int argc, char** argv)
{
    int fd;
    if (argc != 2 || !parseFd(argv[1], fd)) {
        std::fprintf(stderr, "usage: getSock <open descriptor to write socket records to>\n");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<KernelSocket> sockets = readSockets(true);
    const std::vector<KernelSocket> udp = readSockets(false);
    sockets.insert(sockets.end(), udp.begin(), udp.end());
    const auto owners = socketOwners();

    std::vector<SockInfo> records;
    records.reserve(sockets.size());
    for (const KernelSocket& s : sockets)
        records.push_back(toSockInfo(s, owners));
    if (!records.empty() && !writeFully(fd, records.data(), records.size() * sizeof(SockInfo))) {
        if (errno == EPIPE)
            return 0;  // the dialog went away
        std::fprintf(stderr, "getSock: cannot write socket records: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

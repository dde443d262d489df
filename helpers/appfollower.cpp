// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/appfollower.h"

#include "helpers/procsockets.h"
#include "capture/tmpfiles.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <time.h>
#include <unistd.h>

namespace {
// Unknown packets trigger a new look at the socket tables at most this often.
constexpr long long kMinRefreshMs = 20;
constexpr long long kPeriodicRefreshMs = 500;

std::uint16_t load16(const unsigned char* p) { return std::uint16_t(p[0] << 8 | p[1]); }

std::uint32_t loadAddr(const unsigned char* p)
{
    std::uint32_t a;
    std::memcpy(&a, p, sizeof a);
    return a;
}

SocketAddress loadAddr6(const unsigned char* p)
{
    SocketAddress a;
    std::memcpy(a.data(), p, a.size());
    return a;
}

long long monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// "a.b.c.d:port" for IPv4 (mapped) addresses, "[v6 address]:port" for the others.
std::string endpointText(const SocketAddress& addr, std::uint16_t port)
{
    char buf[INET6_ADDRSTRLEN] = "";
    if (isMappedIpv4(addr)) {
        in_addr a;
        a.s_addr = ipv4Of(addr);
        inet_ntop(AF_INET, &a, buf, sizeof buf);
        return std::string(buf) + ":" + std::to_string(port);
    }
    inet_ntop(AF_INET6, addr.data(), buf, sizeof buf);
    return "[" + std::string(buf) + "]:" + std::to_string(port);
}
}  // namespace

AppFollower::AppFollower(std::string appSocketFile, std::string synFile)
    : m_appFile(std::move(appSocketFile)), m_synPath(std::move(synFile))
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET)
                m_localAddrs.insert(mappedIpv4(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr));
            if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET6)
                m_localAddrs.insert(
                    loadAddr6(reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr.s6_addr));
        }
        freeifaddrs(list);
    }
}

bool AppFollower::open(std::string& error) { return m_syn.open(m_synPath, error); }

bool AppFollower::isLocal(const SocketAddress& addr) const
{
    static const SocketAddress loopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return (isMappedIpv4(addr) && (ntohl(ipv4Of(addr)) >> 24) == 127) || addr == loopback6 ||
           m_localAddrs.count(addr) != 0;
}

bool AppFollower::accept(const timeval& ts, const EthernetFrame& frame, const unsigned char* fixed)
{
    Endpoints e;
    std::uint32_t type;
    std::memcpy(&type, fixed + record::PacketType, sizeof type);
    e.tcp = type == record::TypeTcp;
    if (load16(fixed + record::Ethernet + 12) == record::EtherTypeIpv6) {
        e.src = loadAddr6(fixed + record::Ip6 + 8);
        e.dst = loadAddr6(fixed + record::Ip6 + 24);
    } else {
        e.src = mappedIpv4(loadAddr(fixed + record::Ip + 12));
        e.dst = mappedIpv4(loadAddr(fixed + record::Ip + 16));
    }
    const unsigned char* ports = fixed + (e.tcp ? record::Tcp : record::Udp);
    e.sport = load16(ports);
    e.dport = load16(ports + 2);

    const bool outgoingSyn = e.tcp && (fixed[record::Tcp + 13] & 0x12) == 0x02 && isLocal(e.src);
    if (outgoingSyn) {
        m_syn.write(ts, frame);
        if (m_pid == 0)
            identifyOwner(e);
    }
    if (m_pid == 0)
        return false;
    if (matches(e))
        return true;
    // A socket the program opened since the last look: its first packet triggers another look.
    const long long now = monotonicMs();
    if (now - m_lastRefresh < kMinRefreshMs)
        return false;
    refresh(now);
    return matches(e);
}

void AppFollower::tick(long long nowMs)
{
    if (m_pid != 0 && nowMs - m_lastRefresh >= kPeriodicRefreshMs)
        refresh(nowMs);
}

bool AppFollower::matchesFlow(const Flow& f, const SocketAddress& local, std::uint16_t lport,
                              const SocketAddress& remote, std::uint16_t rport) const
{
    if (f.localPort != lport)
        return false;
    // Bound to every address: 0.0.0.0 takes IPv4 alone, :: (dual-stack) both families.
    const bool anyAddress = isUnspecified(f.localAddr) && (!isMappedIpv4(f.localAddr) || isMappedIpv4(local));
    if (!anyAddress && f.localAddr != local)
        return false;
    const bool unconnected = isUnspecified(f.remoteAddr) && f.remotePort == 0;
    return unconnected || (f.remoteAddr == remote && f.remotePort == rport);
}

bool AppFollower::matches(const Endpoints& e) const
{
    for (const Flow& f : m_flows) {
        if (f.tcp != e.tcp)
            continue;
        if (matchesFlow(f, e.src, e.sport, e.dst, e.dport) || matchesFlow(f, e.dst, e.dport, e.src, e.sport))
            return true;
    }
    return false;
}

void AppFollower::identifyOwner(const Endpoints& e)
{
    for (const KernelSocket& s : readSockets(true)) {
        if (s.localAddr != e.src || s.localPort != e.sport || s.remoteAddr != e.dst || s.remotePort != e.dport ||
            s.inode == 0)
            continue;
        const auto owners = socketOwners();
        const auto owner = owners.find(s.inode);
        if (owner == owners.end())
            return;  // another user's program we may not look at; wait for the next SYN
        m_pid = owner->second;
        m_name = processName(m_pid);
        std::fprintf(stderr, "pcap: following %d/%s, which opened %s -> %s\n", m_pid, m_name.c_str(),
                     endpointText(e.src, e.sport).c_str(), endpointText(e.dst, e.dport).c_str());
        refresh(monotonicMs());
        return;
    }
}

void AppFollower::refresh(long long nowMs)
{
    m_lastRefresh = nowMs;
    const auto inodes = socketInodesOf(m_pid);
    if (inodes.empty())
        return;  // the program ended (or hid): keep the sockets we know
    bool changed = false;
    for (const bool tcp : {true, false}) {
        for (const KernelSocket& s : readSockets(tcp)) {
            if (s.inode == 0 || !inodes.count(s.inode))
                continue;
            changed |= m_flows.insert(Flow{tcp, s.localAddr, s.localPort, s.remoteAddr, s.remotePort}).second;
        }
    }
    if (changed)
        writeSocketFile();
}

void AppFollower::writeSocketFile()
{
    const int fd = tmpfiles::openPrivate(m_appFile);
    if (fd < 0) {
        std::fprintf(stderr, "pcap: cannot write the application socket file: %s\n",
                     tmpfiles::whyNotUsed(m_appFile, errno).c_str());
        return;
    }
    FILE* f = fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        return;
    }
    // One line per socket: protocol, local end, foreign end, "PID/name".
    for (const Flow& flow : m_flows)
        std::fprintf(f, "%s %s %s %d/%s\n", flow.tcp ? "TCP" : "UDP", endpointText(flow.localAddr, flow.localPort).c_str(),
                     endpointText(flow.remoteAddr, flow.remotePort).c_str(), m_pid, m_name.c_str());
    std::fclose(f);
}

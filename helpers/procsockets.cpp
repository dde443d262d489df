// SPDX-License-Identifier: GPL-2.0-or-later
#include "helpers/procsockets.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace {

// Parses "<hex>" up to a delimiter; false when empty, too long or not hexadecimal.
bool parseHex(const char*& p, std::size_t maxDigits, unsigned long long& value)
{
    value = 0;
    std::size_t n = 0;
    while (std::isxdigit(static_cast<unsigned char>(*p))) {
        if (++n > maxDigits)
            return false;
        const char c = *p++;
        value = value * 16 + unsigned(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                  : std::tolower(c) - 'a' + 10);
    }
    return n > 0;
}

// "<address>:<port>": the address as one (IPv4) or four (IPv6) 32-bit words, each
// printed as it sits in memory: network order as read natively.
bool parseEndpoint(const char*& p, bool ipv6, SocketAddress& addr, std::uint16_t& port)
{
    unsigned long long a, b;
    if (ipv6) {
        for (std::size_t i = 0; i < 4; ++i) {  // 32 digits, no separators
            const std::string word(p, strnlen(p, 8));
            const char* w = word.c_str();
            if (word.size() != 8 || !parseHex(w, 8, a) || *w)
                return false;
            p += 8;
            const std::uint32_t v = std::uint32_t(a);
            std::memcpy(addr.data() + 4 * i, &v, 4);
        }
    } else {
        if (!parseHex(p, 8, a))
            return false;
        addr = mappedIpv4(std::uint32_t(a));
    }
    if (*p++ != ':' || !parseHex(p, 4, b))
        return false;
    port = std::uint16_t(b);
    return true;
}

void skipSpaces(const char*& p)
{
    while (*p == ' ' || *p == '\t')
        ++p;
}

// Skips one whitespace-separated field.
bool skipField(const char*& p)
{
    skipSpaces(p);
    if (!*p)
        return false;
    while (*p && *p != ' ' && *p != '\t')
        ++p;
    return true;
}

bool isNumber(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (!std::isdigit(static_cast<unsigned char>(*s)))
            return false;
    return true;
}

// Calls f(inode) for every socket descriptor of process `pid`.
template <typename F>
void forEachSocketOf(int pid, F&& f)
{
    char dirPath[64];
    std::snprintf(dirPath, sizeof dirPath, "/proc/%d/fd", pid);
    DIR* dir = opendir(dirPath);
    if (!dir)
        return;  // gone, or another user's process
    const int dfd = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        if (!isNumber(e->d_name))
            continue;
        char link[64];
        const ssize_t n = readlinkat(dfd, e->d_name, link, sizeof link - 1);
        if (n <= 0)
            continue;
        link[n] = '\0';
        unsigned long inode;
        char close;
        if (std::strncmp(link, "socket:[", 8) == 0 && std::sscanf(link + 8, "%lu%c", &inode, &close) == 2 &&
            close == ']')
            f(inode);
    }
    closedir(dir);
}

}  // namespace

SocketAddress mappedIpv4(std::uint32_t networkOrder)
{
    SocketAddress a{};
    a[10] = a[11] = 0xff;
    std::memcpy(a.data() + 12, &networkOrder, 4);
    return a;
}

bool isMappedIpv4(const SocketAddress& a)
{
    static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(a.data(), prefix, 12) == 0;
}

std::uint32_t ipv4Of(const SocketAddress& a)
{
    std::uint32_t v;
    std::memcpy(&v, a.data() + 12, 4);
    return v;
}

bool isUnspecified(const SocketAddress& a)
{
    return a == SocketAddress{} || (isMappedIpv4(a) && ipv4Of(a) == 0);
}

bool isIpv4Socket(const KernelSocket& s)
{
    const bool localV4 = isMappedIpv4(s.localAddr), remoteV4 = isMappedIpv4(s.remoteAddr);
    return (localV4 && remoteV4) || (localV4 && s.remoteAddr == SocketAddress{}) ||
           (remoteV4 && s.localAddr == SocketAddress{});
}

bool parseSocketLine(const std::string& line, bool tcp, bool ipv6, KernelSocket& out)
{
    // "  sl  local_address rem_address   st tx_queue:rx_queue tr:tm->when retrnsmt   uid  timeout inode ..."
    const char* p = line.c_str();
    skipSpaces(p);
    unsigned long long slot;
    if (!parseHex(p, 16, slot))
        return false;
    if (*p++ != ':')
        return false;
    skipSpaces(p);
    KernelSocket s;
    s.tcp = tcp;
    if (!parseEndpoint(p, ipv6, s.localAddr, s.localPort))
        return false;
    skipSpaces(p);
    if (!parseEndpoint(p, ipv6, s.remoteAddr, s.remotePort))
        return false;
    skipSpaces(p);
    unsigned long long state;
    if (!parseHex(p, 2, state))
        return false;
    s.state = int(state);
    // tx:rx, tr:when, retrnsmt, uid, timeout, then the inode in decimal.
    for (int i = 0; i < 5; ++i)
        if (!skipField(p))
            return false;
    skipSpaces(p);
    if (!std::isdigit(static_cast<unsigned char>(*p)))
        return false;
    char* end;
    s.inode = std::strtoul(p, &end, 10);
    if (*end && *end != ' ' && *end != '\t' && *end != '\n')
        return false;
    out = s;
    return true;
}

std::vector<KernelSocket> readSocketTable(const char* path, bool tcp, bool ipv6)
{
    std::vector<KernelSocket> sockets;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        KernelSocket s;
        if (line.size() < 4096 && parseSocketLine(line, tcp, ipv6, s))
            sockets.push_back(s);
    }
    return sockets;
}

std::vector<KernelSocket> readSockets(bool tcp)
{
    std::vector<KernelSocket> all = readSocketTable(tcp ? "/proc/net/tcp" : "/proc/net/udp", tcp);
    // Absent when the kernel has no IPv6: then there is nothing to add.
    const std::vector<KernelSocket> v6 = readSocketTable(tcp ? "/proc/net/tcp6" : "/proc/net/udp6", tcp, true);
    all.insert(all.end(), v6.begin(), v6.end());
    return all;
}

const char* stateText(const KernelSocket& s)
{
    if (!s.tcp)
        return s.state == 1 ? "ESTABLISHED" : "";
    static const char* const names[] = {"UNKNOWN",   "ESTABLISHED", "SYN_SENT",   "SYN_RECV",
                                        "FIN_WAIT1", "FIN_WAIT2",   "TIME_WAIT",  "CLOSE",
                                        "CLOSE_WAIT", "LAST_ACK",   "LISTEN",     "CLOSING",
                                        "SYN_RECV"};
    return s.state > 0 && s.state < int(sizeof names / sizeof names[0]) ? names[s.state] : "UNKNOWN";
}

std::unordered_map<unsigned long, int> socketOwners()
{
    std::unordered_map<unsigned long, int> owners;
    DIR* proc = opendir("/proc");
    if (!proc)
        return owners;
    std::vector<int> pids;
    while (dirent* e = readdir(proc))
        if (isNumber(e->d_name) && std::strlen(e->d_name) < 10)
            pids.push_back(std::atoi(e->d_name));
    closedir(proc);
    for (const int pid : pids)
        forEachSocketOf(pid, [&](unsigned long inode) {
            auto [it, added] = owners.emplace(inode, pid);
            if (!added && pid < it->second)
                it->second = pid;
        });
    return owners;
}

std::unordered_set<unsigned long> socketInodesOf(int pid)
{
    std::unordered_set<unsigned long> inodes;
    forEachSocketOf(pid, [&](unsigned long inode) { inodes.insert(inode); });
    return inodes;
}

std::string processName(int pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return {};
    std::string name(buf, std::size_t(n));
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    for (char& c : name)
        if (!std::isprint(static_cast<unsigned char>(c)))
            c = '?';
    return name;
}

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

bool parseEndpoint(const char*& p, std::uint32_t& addr, std::uint16_t& port)
{
    unsigned long long a, b;
    if (!parseHex(p, 8, a) || *p++ != ':' || !parseHex(p, 4, b))
        return false;
    // The kernel prints the address word as it sits in memory: network order as read natively.
    addr = std::uint32_t(a);
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

bool parseSocketLine(const std::string& line, bool tcp, KernelSocket& out)
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
    if (!parseEndpoint(p, s.localAddr, s.localPort))
        return false;
    skipSpaces(p);
    if (!parseEndpoint(p, s.remoteAddr, s.remotePort))
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

std::vector<KernelSocket> readSocketTable(const char* path, bool tcp)
{
    std::vector<KernelSocket> sockets;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        KernelSocket s;
        if (line.size() < 4096 && parseSocketLine(line, tcp, s))
            sockets.push_back(s);
    }
    return sockets;
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

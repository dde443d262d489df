// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The kernel's socket tables (/proc/net/tcp, udp, tcp6, udp6) and the processes
// that own the sockets (/proc/<pid>/fd links "socket:[inode]").
// Everything read from /proc is treated as untrusted text.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// An address of either family as 16 bytes in network order: IPv4 ones as
// IPv4-mapped IPv6 addresses (::ffff:a.b.c.d), the form a dual-stack socket has too.
using SocketAddress = std::array<unsigned char, 16>;
SocketAddress mappedIpv4(std::uint32_t networkOrder);
bool isMappedIpv4(const SocketAddress& a);
std::uint32_t ipv4Of(const SocketAddress& a);  // network order; of a mapped address
// Bound to every address: 0.0.0.0 or ::.
bool isUnspecified(const SocketAddress& a);

struct KernelSocket {
    bool tcp = true;
    SocketAddress localAddr{};
    std::uint16_t localPort = 0;   // host byte order
    SocketAddress remoteAddr{};
    std::uint16_t remotePort = 0;  // host byte order
    int state = 0;                 // the kernel's TCP state number (UDP uses 1 and 7 too)
    unsigned long inode = 0;       // 0 for sockets no process holds (TIME_WAIT)
};

// Parses one data line of /proc/net/tcp or udp (`ipv6` false) or tcp6 or udp6;
// false for the title or a bad line.
bool parseSocketLine(const std::string& line, bool tcp, bool ipv6, KernelSocket& out);

// Reads a whole table; `path` is normally one of /proc/net/tcp, udp, tcp6, udp6.
std::vector<KernelSocket> readSocketTable(const char* path, bool tcp, bool ipv6 = false);
// Every TCP (or UDP) socket of both families.
std::vector<KernelSocket> readSockets(bool tcp);
// True when both ends are IPv4 (or IPv4-mapped) addresses, or one is and the
// other is unspecified: what an IPv4 packet of the socket carries.
bool isIpv4Socket(const KernelSocket& s);

// The state as netstat prints it. UDP: "ESTABLISHED" when connected, empty otherwise.
const char* stateText(const KernelSocket& s);

// inode -> the first process (lowest pid) holding it, for every process we may look at.
std::unordered_map<unsigned long, int> socketOwners();

// The socket inodes process `pid` holds now (empty when it is gone or hidden).
std::unordered_set<unsigned long> socketInodesOf(int pid);

// The process's short name (/proc/<pid>/comm), non-printable bytes replaced by '?';
// empty when unknown.
std::string processName(int pid);

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The kernel's IPv4 socket tables (/proc/net/tcp, /proc/net/udp) and the
// processes that own the sockets (/proc/<pid>/fd links "socket:[inode]").
// Everything read from /proc is treated as untrusted text.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct KernelSocket {
    bool tcp = true;
    std::uint32_t localAddr = 0;   // network byte order
    std::uint16_t localPort = 0;   // host byte order
    std::uint32_t remoteAddr = 0;  // network byte order
    std::uint16_t remotePort = 0;  // host byte order
    int state = 0;                 // the kernel's TCP state number (UDP uses 1 and 7 too)
    unsigned long inode = 0;       // 0 for sockets no process holds (TIME_WAIT)
};

// Parses one data line of /proc/net/tcp or /proc/net/udp; false for the title or a bad line.
bool parseSocketLine(const std::string& line, bool tcp, KernelSocket& out);

// Reads a whole table; `path` is normally /proc/net/tcp or /proc/net/udp.
std::vector<KernelSocket> readSocketTable(const char* path, bool tcp);

// The state as netstat prints it. UDP: "ESTABLISHED" when connected, empty otherwise.
const char* stateText(const KernelSocket& s);

// inode -> the first process (lowest pid) holding it, for every process we may look at.
std::unordered_map<unsigned long, int> socketOwners();

// The socket inodes process `pid` holds now (empty when it is gone or hidden).
std::unordered_set<unsigned long> socketInodesOf(int pid);

// The process's short name (/proc/<pid>/comm), non-printable bytes replaced by '?';
// empty when unknown.
std::string processName(int pid);

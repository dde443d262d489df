// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// "Specific Application" capture: the program that opens the first new TCP
// connection from this machine after the start is followed; from then on only
// packets of that program's sockets pass. Outgoing SYNs go to the SYN packet
// file, the followed sockets to the application socket file. Both families:
// addresses are compared as IPv6 ones, IPv4 ones mapped (::ffff:a.b.c.d) as a
// dual-stack socket shows them.

#include "helpers/framerecord.h"
#include "helpers/procsockets.h"
#include "helpers/tracefile.h"

#include <cstdint>
#include <set>
#include <string>
#include <tuple>

class AppFollower {
public:
    AppFollower(std::string appSocketFile, std::string synFile);

    // Opens the SYN packet file; a failure is reported in `error` and is not fatal.
    bool open(std::string& error);
    // True when the packet (a record's fixed part) belongs to the followed program.
    bool accept(const timeval& ts, const EthernetFrame& frame, const unsigned char* fixed);
    // Called regularly (about every 100 ms): picks up sockets opened in between.
    void tick(long long nowMs);
    void flush() { m_syn.flush(); }
    void close() { m_syn.close(); }
    int followedPid() const { return m_pid; }

private:
    struct Flow {
        bool tcp;
        SocketAddress localAddr;   // unspecified: any local address
        std::uint16_t localPort;
        SocketAddress remoteAddr;  // unspecified with port 0: not connected
        std::uint16_t remotePort;
        auto key() const { return std::tie(tcp, localAddr, localPort, remoteAddr, remotePort); }
        bool operator<(const Flow& o) const { return key() < o.key(); }
    };
    struct Endpoints {
        bool tcp;
        SocketAddress src, dst;
        std::uint16_t sport, dport;
    };

    bool isLocal(const SocketAddress& addr) const;
    bool matches(const Endpoints& e) const;
    bool matchesFlow(const Flow& f, const SocketAddress& local, std::uint16_t lport, const SocketAddress& remote,
                     std::uint16_t rport) const;
    void identifyOwner(const Endpoints& e);
    void refresh(long long nowMs);
    void writeSocketFile();

    std::string m_appFile;
    std::string m_synPath;
    TraceFileWriter m_syn;
    std::set<SocketAddress> m_localAddrs;
    int m_pid = 0;
    std::string m_name;
    std::set<Flow> m_flows;  // kept after a socket closes: late packets still belong to it
    long long m_lastRefresh = 0;
};

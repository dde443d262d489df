// SPDX-License-Identifier: GPL-2.0-or-later
// gentrace <file> <packets> [ipv6]: writes a pcap trace of small Ethernet/IPv4 (or
// IPv6) packets, alternating TCP segments with 12 payload bytes and UDP datagrams with 8.

#include <pcap/pcap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
void put16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

// Ethernet + IPv4 or IPv6 (+ TCP or UDP) + payload; returns the frame length.
unsigned buildFrame(unsigned char* f, unsigned long n, bool ipv6)
{
    const bool tcp = n % 2 == 0;
    const unsigned payload = tcp ? 12 : 8;
    const unsigned l4 = tcp ? 20 : 8;
    std::memset(f, 0, 128);
    std::memcpy(f, "\x02\x00\x00\x00\x00\x01\x02\x00\x00\x00\x00\x02\x08\x00", 14);
    unsigned char* ip = f + 14;
    const unsigned ipHeader = ipv6 ? 40 : 20;
    if (ipv6) {
        f[12] = 0x86;
        f[13] = 0xdd;
        ip[0] = 0x60;
        put16(ip + 4, l4 + payload);
        ip[6] = tcp ? 6 : 17;
        ip[7] = 64;
        ip[8] = ip[24] = 0xfd;  // fd00::1 -> fd00::2
        ip[23] = 1;
        ip[39] = 2;
    } else {
        ip[0] = 0x45;
        put16(ip + 2, 20 + l4 + payload);
        put16(ip + 4, unsigned(n));
        ip[8] = 64;
        ip[9] = tcp ? 6 : 17;
        std::memcpy(ip + 12, "\x0a\x00\x00\x01\x0a\x00\x00\x02", 8);
    }
    unsigned char* t = ip + ipHeader;
    put16(t, 40000 + unsigned(n % 1000));
    put16(t + 2, tcp ? 80 : 53);
    if (tcp) {
        put16(t + 4, unsigned(n >> 16));
        put16(t + 6, unsigned(n));
        t[12] = 0x50;
        t[13] = 0x18;
        put16(t + 14, 512);
    } else {
        put16(t + 4, l4 + payload);
    }
    std::memcpy(t + l4, "payload-bytes", payload);
    return 14 + ipHeader + l4 + payload;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4 || (argc == 4 && std::strcmp(argv[3], "ipv6") != 0)) {
        std::fprintf(stderr, "usage: gentrace <file> <packets> [ipv6]\n");
        return 1;
    }
    const unsigned long count = std::strtoul(argv[2], nullptr, 10);
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* out = dead ? pcap_dump_open(dead, argv[1]) : nullptr;
    if (!out) {
        std::fprintf(stderr, "gentrace: cannot write %s: %s\n", argv[1], dead ? pcap_geterr(dead) : "no memory");
        return 1;
    }
    unsigned char frame[128];
    for (unsigned long n = 0; n < count; ++n) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + long(n / 1000000);
        h.ts.tv_usec = long(n % 1000000);
        h.caplen = h.len = buildFrame(frame, n, argc == 4);
        pcap_dump(reinterpret_cast<u_char*>(out), &h, frame);
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return 0;
}

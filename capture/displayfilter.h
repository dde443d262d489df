// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The display filter: a libpcap filter program run over packets already captured.
// Each packet's frame is rebuilt from its record in Ethernet form and matched with
// pcap_offline_filter, so an expression means what it means as a capture filter.
// Plain C++ (no Qt): nukdump, the controller and the benchmarks share it.

#include "capture/rawpacket.h"

#include <pcap/pcap.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class CPacket;

// The capture helper's snapshot length; display filters are compiled with it.
constexpr int kDisplaySnapLen = 65535;
// Largest frame rebuildFrame() writes: Ethernet, IP header and options, TCP
// header and options, and the largest payload a record holds.
constexpr std::size_t kMaxRebuiltFrame = 14 + 60 + 60 + kMaxRecordPayload;

// Writes `packet`'s frame as the capture helper saw it, in the record's Ethernet
// form: Ethernet header, IP header and options, TCP header and options (or the UDP
// header), payload. `frame` holds kMaxRebuiltFrame bytes. Returns the bytes
// written (the captured length) and sets `wireLength`, the frame's length on the
// wire as far as the record tells it (the IP total length covers a payload that
// the capture cut short).
std::size_t rebuildFrame(const CPacket& packet, unsigned char* frame, std::size_t& wireLength);

class DisplayFilter {
public:
    // Takes a program compiled for DLT_EN10MB with kDisplaySnapLen (as
    // FilterCompileChild gives it back).
    DisplayFilter(std::string text, std::vector<bpf_insn> program);

    // Compiles `text` in this process. False with libpcap's message in `error`.
    static bool compile(const std::string& text, std::vector<bpf_insn>& program, std::string& error);

    const std::string& text() const { return m_text; }
    // Thread-safe: the frame is rebuilt in a buffer of the calling thread.
    bool matches(const CPacket& packet) const;

private:
    std::string m_text;
    std::vector<bpf_insn> m_program;
};

// Writes the packets `filter` matches (every packet when it is null) as a pcap file
// of link type Ethernet that tcpdump reads: created owner-only, never through a
// link. Returns the number written, or -1 with the reason in `error`. `progress`,
// when given, is told every few thousand packets how many were looked at; when it
// returns false the file is removed and -1 returned with an empty `error`.
long long writeDisplayedTrace(const std::string& path, const std::vector<CPacket*>& packets,
                              const DisplayFilter* filter, std::string& error,
                              const std::function<bool(std::size_t)>& progress = {});

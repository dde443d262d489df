// SPDX-License-Identifier: GPL-2.0-or-later
#include "capture/displayfilter.h"

#include "capture/cpacket.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
std::uint16_t load16(const unsigned char* p) { return std::uint16_t((p[0] << 8) | p[1]); }

// A header length field in 32-bit words, kept within what the record's slots hold.
std::size_t headerBytes(unsigned words) { return std::clamp<std::size_t>(std::size_t(words) * 4, 20, 60); }

unsigned char* threadFrame()
{
    thread_local std::unique_ptr<unsigned char[]> frame(new unsigned char[kMaxRebuiltFrame]);
    return frame.get();
}

struct Header {
    pcap_pkthdr header{};
    std::size_t caplen = 0;
};

Header frameOf(const CPacket& packet, unsigned char* frame)
{
    std::size_t wire = 0;
    Header h;
    h.caplen = rebuildFrame(packet, frame, wire);
    const std::int32_t* ts = packet.GetTimeStamp();
    h.header.ts.tv_sec = ts[0];
    h.header.ts.tv_usec = ts[1];
    h.header.caplen = bpf_u_int32(h.caplen);
    h.header.len = bpf_u_int32(wire);
    return h;
}
}  // namespace

std::size_t rebuildFrame(const CPacket& packet, unsigned char* frame, std::size_t& wireLength)
{
    std::size_t at = 0;
    const auto put = [&](const unsigned char* bytes, std::size_t n) {
        std::memcpy(frame + at, bytes, n);
        at += n;
    };
    put(packet.GetEthernetHeader(), 14);
    std::size_t ipTotal = 0;
    if (packet.isIPv6()) {
        // The record keeps the fixed header, not the extension headers: the rebuilt
        // packet carries its transport header right behind the fixed one.
        const std::size_t start = at;
        put(packet.GetIpHeader(), 40);
        frame[start + 6] = packet.upperProtocol();
        const std::size_t payload = packet.GetIp6PayloadLength();
        const std::size_t extensions = std::size_t(packet.extensionHeadersLength());
        const std::size_t rest = payload > extensions ? payload - extensions : 0;
        frame[start + 4] = std::uint8_t(rest >> 8);
        frame[start + 5] = std::uint8_t(rest);
        ipTotal = 40 + rest;
    } else {
        const unsigned char* ip = packet.GetIpHeader();
        const std::size_t ipHeader = headerBytes(ip[0] & 0x0fu);
        put(ip, 20);
        put(packet.GetIpOptions(), ipHeader - 20);
        ipTotal = load16(ip + 2);
    }
    if (packet.isTcp()) {
        const std::size_t tcpHeader = headerBytes(packet.GetTcpHeader()[12] >> 4);
        put(packet.GetTcpHeader(), 20);
        put(packet.GetTcpOptions(), tcpHeader - 20);
    } else {
        put(packet.GetUdpHeader(), 8);
    }
    if (const std::uint32_t payload = packet.payloadLength())
        put(packet.GetRealData(), std::min<std::size_t>(payload, kMaxRecordPayload));
    // A total length of 0 is what segmentation offload leaves: the frame is all there is.
    wireLength = std::max(at, 14 + ipTotal);
    return at;
}

DisplayFilter::DisplayFilter(std::string text, std::vector<bpf_insn> program)
    : m_text(std::move(text)), m_program(std::move(program))
{
}

bool DisplayFilter::compile(const std::string& text, std::vector<bpf_insn>& program, std::string& error)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kDisplaySnapLen);
    if (!dead) {
        error = "libpcap could not be initialised";
        return false;
    }
    bpf_program compiled{};
    const bool ok = pcap_compile(dead, &compiled, text.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        program.assign(compiled.bf_insns, compiled.bf_insns + compiled.bf_len);
        pcap_freecode(&compiled);
    } else {
        error = pcap_geterr(dead);
    }
    pcap_close(dead);
    return ok;
}

bool DisplayFilter::matches(const CPacket& packet) const
{
    if (m_program.empty())
        return true;
    unsigned char* frame = threadFrame();
    const Header h = frameOf(packet, frame);
    const bpf_program program{u_int(m_program.size()), const_cast<bpf_insn*>(m_program.data())};
    return pcap_offline_filter(&program, &h.header, frame) != 0;
}

long long writeDisplayedTrace(const std::string& path, const std::vector<CPacket*>& packets,
                              const DisplayFilter* filter, std::string& error,
                              const std::function<bool(std::size_t)>& progress)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return -1;
    }
    FILE* file = ::fdopen(fd, "wb");
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kDisplaySnapLen);
    pcap_dumper_t* dumper = file && dead ? pcap_dump_fopen(dead, file) : nullptr;
    if (!dumper) {
        error = path + ": " + (dead && file ? pcap_geterr(dead) : "cannot write");
        if (dead)
            pcap_close(dead);
        if (file)
            std::fclose(file);
        else
            ::close(fd);
        return -1;
    }
    long long written = 0;
    unsigned char* frame = threadFrame();
    bool cancelled = false;
    for (std::size_t i = 0; i < packets.size() && !cancelled; ++i) {
        constexpr std::size_t kProgressEvery = 4096;
        if (progress && i % kProgressEvery == 0 && i > 0)
            cancelled = !progress(i);
        const CPacket* packet = packets[i];
        if (cancelled || (filter && !filter->matches(*packet)))
            continue;
        const Header h = frameOf(*packet, frame);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h.header, frame);
        ++written;
    }
    const bool failed = pcap_dump_flush(dumper) != 0 || std::ferror(file);
    pcap_dump_close(dumper);  // closes the file
    pcap_close(dead);
    if (cancelled) {
        ::unlink(path.c_str());
        error.clear();
        return -1;
    }
    if (failed) {
        error = path + ": " + std::strerror(errno ? errno : EIO);
        return -1;
    }
    return written;
}

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Turning one captured frame into a packet record. Pure functions over byte
// buffers (no libpcap, no Qt) so the fuzzer can drive them directly. Every
// frame is untrusted: nothing here reads past `caplen`.

#include "capture/rawpacket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Link layers the helper understands.
enum class LinkKind {
    Ethernet,   // DLT_EN10MB, 802.1Q / 802.1ad tags allowed
    LinuxSll,   // DLT_LINUX_SLL (tcpdump -i any, older)
    LinuxSll2,  // DLT_LINUX_SLL2 (tcpdump -i any -y LINUX_SLL2)
    RawIp,      // DLT_RAW / LINKTYPE_IPV4 / LINKTYPE_IPV6: the frame starts with the IP header
    BsdNull,    // DLT_NULL: 4-byte address family in the writing machine's byte order
    BsdLoop,    // DLT_LOOP: the same in network byte order
    Ppp,        // DLT_PPP: PPP header, with or without HDLC-like framing (ff 03)
    PppSerial,  // DLT_PPP_SERIAL: PPP in HDLC-like framing, or Cisco HDLC
    CiscoHdlc,  // DLT_C_HDLC: address, control, Ethernet type
    Pktap,      // DLT_PKTAP: Apple's per-packet header naming the frame's own link type
    Wifi,       // DLT_IEEE802_11: 802.11 frames, IP in LLC/SNAP of data frames
    Radiotap,   // DLT_IEEE802_11_RADIO: 802.11 behind a radiotap header
    Prism,      // DLT_PRISM_HEADER: 802.11 behind a Prism (or AVS) header
    Avs,        // DLT_IEEE802_11_RADIO_AVS: 802.11 behind an AVS header
};
constexpr int kLinkKinds = int(LinkKind::Avs) + 1;

constexpr std::size_t kEthernetHeader = 14;

// A frame seen as untagged Ethernet: `data` points to `caplen` contiguous bytes
// starting with a 14-byte Ethernet header (either the original frame or the
// caller's scratch buffer); `wirelen` is the frame's original length likewise adjusted.
struct EthernetFrame {
    const unsigned char* data = nullptr;
    std::size_t caplen = 0;
    std::size_t wirelen = 0;
};

// Rewrites a frame of link kind `kind` as untagged Ethernet. Frames of other links
// get zero addresses and their network protocol as type (0x0800 for IPv4, 0x86DD for IPv6, 0 when
// the link frame carries no network packet at all, e.g. 802.11 management);
// 802.1Q/802.1ad tags are removed. Returns false when the frame is shorter than
// its link header.
// `scratch` is reused between calls to avoid allocations.
bool toEthernet(LinkKind kind, const unsigned char* frame, std::size_t caplen, std::size_t wirelen,
                std::vector<unsigned char>& scratch, EthernetFrame& out);

// True when the Ethernet view carries IPv4 or IPv6.
bool holdsIp(const EthernetFrame& frame);

enum class FrameVerdict {
    Record,      // `fixed` and the payload span describe a record
    NotTcpUdp,   // not IPv4 or IPv6 TCP or UDP (ESP ends an IPv6 walk too): not delivered
    Fragment,    // a non-first IPv4 or IPv6 fragment: no transport header to show
    Malformed,   // shorter than its headers or impossible header lengths
};

struct FrameRecord {
    unsigned char fixed[record::FixedSize];
    const unsigned char* payload = nullptr;  // points into the frame
    std::size_t payloadLen = 0;
};

// Builds the record for an untagged Ethernet frame captured at (sec, usec); IPv6
// extension headers are walked up to TCP or UDP (see capture/rawpacket.h).
// The payload is bounded by the captured bytes and by the IP total (IPv6 payload) length.
FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           FrameRecord& out);
// The same, writing the fixed part straight into `fixed` (record::FixedSize bytes),
// e.g. into the output buffer; the payload span is set only for a Record.
FrameVerdict frameToRecord(const EthernetFrame& frame, std::uint32_t sec, std::uint32_t usec,
                           unsigned char* fixed, const unsigned char*& payload, std::size_t& payloadLen);

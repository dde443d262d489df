#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the traces of link types other than Ethernet that the helper tests replay,
and checks that tshark reads from each exactly what it reads from ../veth-eth.pcap
(../veth-eth.pcap.expected, which the tests compare the helper's records with).

Every trace carries the IPv4 packets of ../veth-eth.pcap (a real capture), byte for
byte and with their time stamps, each wrapped in the link layer the trace is named
after, as that system writes it; a few frames holding no IPv4 (IPv6, ARP, link
control, 802.11 management and encrypted frames) sit between them:

  null.pcap       BSD loopback, address family in the writer's byte order (little endian)
  loop.pcap       OpenBSD loopback, address family in network byte order
  ppp.pcap        PPP: in HDLC-like framing, bare, and with a compressed protocol field
  chdlc.pcap      Cisco HDLC
  pktap.pcap      Apple PKTAP: Ethernet frames of en0 and the loopback frames of utun0
  radiotap.pcap   802.11 behind radiotap (TSFT, flags with FCS and header padding, QoS)
  prism.pcap      802.11 behind a Prism header (one frame with four addresses)
  avs.pcap        802.11 behind an AVS header

Needs python3-scapy and tshark (run from any directory).
"""
import filecmp
import logging
import os
import struct
import subprocess
import sys

from scapy.all import ARP, Ether, ICMPv6EchoRequest, IPv6, PcapReader, PcapWriter, Raw
from scapy.contrib.avs import AVSWLANHeader
from scapy.contrib.chdlc import CHDLC, SLARP
from scapy.layers.dot11 import (Dot11, Dot11Beacon, Dot11Elt, Dot11ProbeReq, Dot11QoS, PrismHeader,
                                RadioTap)
from scapy.layers.l2 import LLC, SNAP

logging.getLogger("scapy.runtime").setLevel(logging.ERROR)  # raw frames carry no link type of their own

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "veth-eth.pcap")

AP, STA, ROUTER = "02:00:00:00:0a:01", "02:00:00:00:0b:02", "02:00:00:00:0c:03"
IPV6 = bytes(IPv6(src="fe80::1", dst="fe80::2") / ICMPv6EchoRequest(data=b"nuk"))


def source_frames():
    """(time, ip bytes or None, ethernet frame) for every frame of the Ethernet trace."""
    with PcapReader(SOURCE) as reader:
        for pkt in reader:
            frame = bytes(pkt)
            ip = None
            if frame[12:14] == b"\x08\x00":
                total = struct.unpack(">H", frame[16:18])[0]
                ip = frame[14:14 + total] if total else frame[14:]
            yield pkt.time, ip, frame


def write(name, linktype, frames):
    path = os.path.join(HERE, name)
    with PcapWriter(path, linktype=linktype, sync=True) as out:
        for when, data in frames:
            pkt = Raw(data)
            pkt.time = when
            out.write(pkt)
    return path


def with_others(wrap, others, every=6):
    """The source's IPv4 packets wrapped by `wrap(index, ip)`; after every `every`-th
    packet the next frame of `others` (bytes without IPv4), at the same time."""
    frames, pending = [], list(others)
    for i, (when, ip, _) in enumerate(f for f in source_frames() if f[1] is not None):
        frames.append((when, wrap(i, ip)))
        if i % every == every - 1 and pending:
            frames.append((when, pending.pop(0)))
    return frames


def snap(ip, ethertype=0x0800):
    return bytes(LLC(dsap=0xAA, ssap=0xAA, ctrl=3) / SNAP(OUI=0, code=ethertype)) + ip


def data_frame(i, qos=False, fc="to-DS"):
    """A data frame's 802.11 header (QoS data every other frame when asked)."""
    if qos and i % 2:
        return bytes(Dot11(type=2, subtype=8, FCfield=fc, addr1=AP, addr2=STA, addr3=ROUTER, SC=i << 4) / Dot11QoS(TID=5))
    return bytes(Dot11(type=2, subtype=0, FCfield=fc, addr1=AP, addr2=STA, addr3=ROUTER, SC=i << 4))


BEACON = bytes(Dot11(type=0, subtype=8, addr1="ff:ff:ff:ff:ff:ff", addr2=AP, addr3=AP) /
               Dot11Beacon(cap="ESS") / Dot11Elt(ID="SSID", info=b"nukrit"))
PROBE = bytes(Dot11(type=0, subtype=4, addr1="ff:ff:ff:ff:ff:ff", addr2=STA, addr3="ff:ff:ff:ff:ff:ff") /
              Dot11ProbeReq() / Dot11Elt(ID="SSID", info=b""))
NULL_FUNCTION = bytes(Dot11(type=2, subtype=4, FCfield="to-DS", addr1=AP, addr2=STA, addr3=AP))
ENCRYPTED = bytes(Dot11(type=2, subtype=0, FCfield="to-DS+protected", addr1=AP, addr2=STA, addr3=ROUTER)) + \
    bytes(range(8)) + snap(bytes(40))
ARP_IN_SNAP = data_frame(0) + snap(bytes(ARP(psrc="10.77.0.1", pdst="10.77.0.2")), 0x0806)


def radiotap(i, ip):
    body = data_frame(i, qos=True)
    if i % 3 == 0:  # TSFT and flags: FCS at the end, and the QoS header padded to 4 bytes
        padded = body + b"\0" * (-len(body) % 4)
        frame = padded + snap(ip)
        head = RadioTap(present="TSFT+Flags+Rate", mac_timestamp=1000 + i, Flags="FCS+pad", Rate=108)
        return bytes(head) + frame + struct.pack("<I", 0x12345678)
    return bytes(RadioTap(present="Flags+Rate+Channel", Flags=0, Rate=22, ChannelFrequency=2437,
                          ChannelFlags="CCK+2GHz")) + body + snap(ip)


def prism(i, ip):
    if i == 4:  # a wireless bridge: four addresses
        header = bytes(Dot11(type=2, subtype=0, FCfield="to-DS+from-DS", addr1=AP, addr2=STA, addr3=ROUTER,
                             addr4=STA))
    else:
        header = data_frame(i, fc="from-DS")
    return bytes(PrismHeader(dev=b"wlan0")) + header + snap(ip)


def ppp(i, ip):
    return [b"\xff\x03\x00\x21", b"\x00\x21", b"\x21"][i % 3] + ip


def pktap_header(dlt, ifname):
    """Apple's PKTAP header (108 bytes, little endian) for a packet of link type `dlt`."""
    return struct.pack("<III24sIIIIi20sIHHi20s", 108, 1, dlt, ifname, 0, 2, 0, 0, 4242, b"curl", 0, 6, 0, 4242,
                       b"curl")


def pktap():
    frames = []
    for when, ip, eth in source_frames():
        if ip is not None and ip[9] == 17:  # UDP went through the tunnel
            frames.append((when, pktap_header(0, b"utun0") + struct.pack("<I", 2) + ip))
        else:  # TCP and ARP on the Ethernet interface
            frames.append((when, pktap_header(1, b"en0") + eth))
    return frames


def main():
    bsd_v6 = [struct.pack("<I", 30) + IPV6, struct.pack("<I", 30) + IPV6]
    written = [
        write("null.pcap", 0, with_others(lambda i, ip: struct.pack("<I", 2) + ip, bsd_v6)),
        write("loop.pcap", 108, with_others(lambda i, ip: struct.pack(">I", 2) + ip,
                                            [struct.pack(">I", 24) + IPV6])),
        write("ppp.pcap", 9, with_others(ppp, [b"\xff\x03\xc0\x21\x09\x01\x00\x08\x00\x00\x00\x00",
                                               b"\xff\x03\x00\x57" + IPV6])),
        write("chdlc.pcap", 104, with_others(lambda i, ip: bytes(CHDLC(address=0x0F if i % 4 else 0x8F)) + ip,
                                             [bytes(CHDLC() / SLARP(type=2, mysequence=7, yoursequence=6)),
                                              bytes(CHDLC(proto=0x86DD)) + IPV6])),
        write("pktap.pcap", 258, pktap()),
        write("radiotap.pcap", 127, with_others(radiotap, [bytes(RadioTap()) + f for f in (BEACON, ENCRYPTED,
                                                                                            NULL_FUNCTION)])),
        write("prism.pcap", 119, with_others(prism, [bytes(PrismHeader(dev=b"wlan0")) + PROBE])),
        write("avs.pcap", 163, with_others(lambda i, ip: bytes(AVSWLANHeader(channel=6)) + data_frame(i) + snap(ip),
                                           [bytes(AVSWLANHeader()) + ARP_IN_SNAP])),
    ]
    subprocess.run([os.path.join(HERE, "..", "tshark-expected.sh")] + written, check=True)
    differ = []
    for path in written:
        os.chmod(path, 0o644)
        if filecmp.cmp(path + ".expected", SOURCE + ".expected", shallow=False):
            os.remove(path + ".expected")
        else:
            differ.append(path)
    if differ:
        sys.exit("tshark reads other packets from: " + " ".join(differ) + " (see <trace>.expected)")


if __name__ == "__main__":
    main()

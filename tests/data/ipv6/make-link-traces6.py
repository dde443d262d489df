#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the IPv6 traces of link types other than Ethernet and Linux cooked, and
checks that tshark reads from each exactly what it reads from veth6-eth.pcap
(veth6-eth.pcap.expected, which the tests compare the helper's records with).

Every trace carries the IPv6 packets of veth6-eth.pcap (a real capture, neighbour
discovery included), byte for byte and with their time stamps, each wrapped in the
link layer the trace is named after:

  vlan6.pcap      Ethernet with an 802.1Q tag
  raw6.pcap       LINKTYPE_IPV6: bare IPv6 packets
  null6.pcap      BSD loopback, address families 24, 28 and 30 in turn (little endian)
  loop6.pcap      OpenBSD loopback, the same families in network byte order
  ppp6.pcap       PPP protocol 0x0057: in HDLC-like framing, bare, compressed field
  chdlc6.pcap     Cisco HDLC
  pktap6.pcap     Apple PKTAP: TCP in Ethernet frames of en0, the rest from utun0
  radiotap6.pcap  802.11 data frames (LLC/SNAP 0x86DD) behind radiotap

Needs python3-scapy and tshark (run from any directory).
"""
import filecmp
import logging
import os
import struct
import subprocess
import sys

from scapy.all import PcapReader, PcapWriter, Raw
from scapy.contrib.chdlc import CHDLC
from scapy.layers.dot11 import Dot11, RadioTap
from scapy.layers.l2 import LLC, SNAP

logging.getLogger("scapy.runtime").setLevel(logging.ERROR)

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "veth6-eth.pcap")
BSD_INET6 = (24, 28, 30)   # AF_INET6 of NetBSD/OpenBSD, FreeBSD, macOS


def source_frames():
    """(time, IPv6 packet, Ethernet frame) for every IPv6 frame of the Ethernet trace."""
    with PcapReader(SOURCE) as reader:
        for pkt in reader:
            frame = bytes(pkt)
            if frame[12:14] == b"\x86\xdd":
                yield pkt.time, frame[14:], frame


def write(name, linktype, wrap):
    path = os.path.join(HERE, name)
    with PcapWriter(path, linktype=linktype, sync=True) as out:
        for i, (when, ip, eth) in enumerate(source_frames()):
            pkt = Raw(wrap(i, ip, eth))
            pkt.time = when
            out.write(pkt)
    return path


def radiotap(i, ip, eth):
    head = bytes(RadioTap(present="Flags+Rate", Flags=0, Rate=22))
    body = bytes(Dot11(type=2, subtype=0, FCfield="to-DS", addr1=eth[0:6], addr2=eth[6:12], addr3=eth[0:6], SC=i << 4))
    return head + body + bytes(LLC(dsap=0xAA, ssap=0xAA, ctrl=3) / SNAP(OUI=0, code=0x86DD)) + ip


def pktap(i, ip, eth):
    tcp = ip[6] == 6
    dlt, ifname = (1, b"en0") if tcp else (0, b"utun0")
    head = struct.pack("<III24sIIIIi20sIHHi20s", 108, 1, dlt, ifname, 0, 2, 0, 0, 4242, b"curl", 0, 6, 0, 4242, b"curl")
    return head + (eth if tcp else struct.pack("<I", 30) + ip)


def main():
    written = [
        write("vlan6.pcap", 1, lambda i, ip, eth: eth[:12] + b"\x81\x00" + struct.pack(">H", 100 + i % 2) + eth[12:]),
        write("raw6.pcap", 229, lambda i, ip, eth: ip),
        write("null6.pcap", 0, lambda i, ip, eth: struct.pack("<I", BSD_INET6[i % 3]) + ip),
        write("loop6.pcap", 108, lambda i, ip, eth: struct.pack(">I", BSD_INET6[i % 3]) + ip),
        write("ppp6.pcap", 9, lambda i, ip, eth: [b"\xff\x03\x00\x57", b"\x00\x57", b"\x57"][i % 3] + ip),
        write("chdlc6.pcap", 104, lambda i, ip, eth: bytes(CHDLC(address=0x0F, proto=0x86DD)) + ip),
        write("pktap6.pcap", 258, pktap),
        write("radiotap6.pcap", 127, radiotap),
    ]
    subprocess.run([os.path.join(HERE, "tshark-expected6.py")] + written, check=True)
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

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes crafted6.pcap: IPv6 frames (Ethernet) that an ordinary stack does not send,
each carrying TCP or UDP behind extension headers or something odd, and beside it
what tshark reads from it (crafted6.pcap.expected, see ./tshark-expected6.py):

   1  hop-by-hop options, TCP SYN
   2  routing header (type 0, one address), UDP
   3  destination options, TCP with data
   4  fragment chain of one UDP datagram: first fragment (kept), middle and last
   7  authentication header (24 bytes), TCP
   8  ESP (the walk ends: without TCP or UDP)
   9  six extension headers (hop-by-hop, destination options, routing, an atomic
      fragment, AH, destination options), then TCP: more than the record keeps
  10  IPv4-mapped source ::ffff:10.1.2.3, TCP
  11  jumbo payload: payload length 0, a hop-by-hop Jumbo option of 70000 bytes,
      UDP; only the first 96 bytes captured
  12  an unknown next header (253), then data: without TCP or UDP
  13  destination options followed by "no next header" (59)

Needs python3-scapy and tshark.
"""
import os
import subprocess

from scapy.all import (Ether, IPv6, IPv6ExtHdrDestOpt, IPv6ExtHdrFragment, IPv6ExtHdrHopByHop, IPv6ExtHdrRouting,
                       Jumbo, PadN, PcapWriter, Raw, TCP, UDP, fragment6)
from scapy.layers.ipsec import AH, ESP

HERE = os.path.dirname(os.path.abspath(__file__))
LONG = "fd00:1234:5678:9abc:def0:1234:5678:9abc"
SHORT = "fd00:1234:5678:9abc::b"
ETH = Ether(src="02:00:00:00:06:0a", dst="02:00:00:00:06:0b")


def ip6(**kw):
    return IPv6(src=kw.pop("src", LONG), dst=kw.pop("dst", SHORT), hlim=64, **kw)


def syn(sport):
    return TCP(sport=sport, dport=80, seq=1000, flags="S", window=64800, options=[("MSS", 1440)])


def frames():
    yield ETH / ip6() / IPv6ExtHdrHopByHop(options=[PadN(optdata=b"\0\0\0\0")]) / syn(40001)
    yield ETH / ip6() / IPv6ExtHdrRouting(addresses=["fd00::99"], segleft=0) / UDP(sport=6002, dport=5001) / \
        Raw(b"routed datagram")
    yield ETH / ip6() / IPv6ExtHdrDestOpt(options=[PadN(optdata=b"\0\0\0\0")]) / \
        TCP(sport=40003, dport=80, seq=5000, ack=7000, flags="PA", window=502) / Raw(b"GET / HTTP/1.0\r\n\r\n")
    datagram = ip6() / IPv6ExtHdrFragment(id=0x4e756b21) / UDP(sport=6001, dport=5001) / Raw(bytes(range(256)) + b"F" * 44)
    for part in fragment6(datagram, 150):
        yield ETH / part
    yield ETH / ip6(nh=51) / AH(nh=6, payloadlen=4, spi=0x1000, seq=1, icv=b"\xaa" * 12) / syn(40007)
    yield ETH / ip6() / ESP(spi=0x2000, seq=1, data=b"\x11" * 32)
    yield ETH / ip6() / IPv6ExtHdrHopByHop(options=[PadN(optdata=b"\0\0\0\0")]) / \
        IPv6ExtHdrDestOpt(options=[PadN(optdata=b"\0\0\0\0")]) / \
        IPv6ExtHdrRouting(addresses=["fd00::99"], segleft=0) / IPv6ExtHdrFragment(id=7, offset=0, m=0) / \
        AH(nh=60, payloadlen=4, spi=0x1001, seq=2, icv=b"\xbb" * 12) / \
        IPv6ExtHdrDestOpt(options=[PadN(optdata=b"\0\0\0\0")]) / \
        TCP(sport=40009, dport=80, seq=9000, ack=1, flags="A", window=502) / Raw(b"six headers deep")
    yield ETH / ip6(src="::ffff:10.1.2.3") / syn(40010)
    jumbo = ETH / ip6(plen=0) / IPv6ExtHdrHopByHop(options=[Jumbo(jumboplen=70000)]) / \
        UDP(sport=6011, dport=5001, len=0, chksum=0x1234) / Raw(b"J" * 69992)
    cut = Ether(bytes(jumbo)[:96])
    cut.wirelen = len(jumbo)
    yield cut
    yield ETH / ip6(nh=253) / Raw(b"experimental protocol")
    yield ETH / ip6() / IPv6ExtHdrDestOpt(nh=59, options=[PadN(optdata=b"\0\0\0\0")]) / Raw(b"ignored")


def main():
    path = os.path.join(HERE, "crafted6.pcap")
    with PcapWriter(path, linktype=1, sync=True) as out:
        for i, frame in enumerate(frames()):
            frame.time = 1700000000 + i / 100
            out.write(frame)
    os.chmod(path, 0o644)
    subprocess.run([os.path.join(HERE, "tshark-expected6.py"), path], check=True)
    os.chmod(path + ".expected", 0o644)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes beside each trace named what tshark reads from it (<trace>.expected): one
line per IPv4 or IPv6 TCP or UDP packet (non-first fragments and ICMP errors left
out), in the columns of ../tshark-expected.sh, which tests/helpers compares with the
capture helper's records:

  time, source, destination, upper-layer protocol (6 or 17), header length,
  total length, TCP ports, raw sequence and acknowledgement numbers, TCP flags,
  TCP header length, UDP ports, TCP payload, UDP payload

For IPv6 the header length counts the fixed header and every extension header up
to TCP or UDP (tshark has no field for it: it is the distance between the IPv6
layer and TCP/UDP in tshark's PDML), and the total length is 40 + payload length.
"""
import subprocess
import sys
import xml.etree.ElementTree as ET

PREFS = ["-o", "ip.defragment:FALSE", "-o", "ipv6.defragment:FALSE", "-o", "tcp.desegment_tcp_streams:FALSE",
         "-o", "tcp.analyze_sequence_numbers:FALSE"]
FILTER = "(ip or ipv6) and (tcp or udp) and not icmp and not icmpv6 and not ip.frag_offset > 0"
FIELDS = ["frame.number", "frame.time_epoch", "ip.src", "ip.dst", "ip.proto", "ip.hdr_len", "ip.len",
          "ipv6.src", "ipv6.dst", "ipv6.plen", "tcp.srcport", "tcp.dstport", "tcp.seq_raw", "tcp.ack_raw",
          "tcp.flags", "tcp.hdr_len", "udp.srcport", "udp.dstport", "tcp.payload", "udp.payload"]


def header_lengths(trace):
    """frame number -> bytes from the start of the IPv6 layer to TCP or UDP."""
    pdml = subprocess.run(["tshark", "-r", trace, *PREFS, "-Y", FILTER + " and ipv6", "-T", "pdml"],
                          check=True, capture_output=True).stdout
    lengths = {}
    for packet in ET.fromstring(pdml).iter("packet"):
        pos = {p.get("name"): int(p.get("pos", "0")) for p in packet.iter("proto")}
        number = int(next(f.get("show") for f in packet.iter("field") if f.get("name") == "frame.number"))
        upper = pos.get("tcp", pos.get("udp"))
        lengths[number] = upper - pos["ipv6"]
    return lengths


def expected(trace):
    lengths = header_lengths(trace)
    args = ["tshark", "-r", trace, *PREFS, "-Y", FILTER, "-T", "fields", "-E", "separator=/t", "-E", "occurrence=f"]
    for f in FIELDS:
        args += ["-e", f]
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    lines = []
    for line in out.splitlines():
        v = dict(zip(FIELDS, line.split("\t")))
        proto = "6" if v["tcp.srcport"] else "17"
        if v["ipv6.src"]:
            head = [v["ipv6.src"], v["ipv6.dst"], proto, str(lengths[int(v["frame.number"])]),
                    str(40 + int(v["ipv6.plen"]))]
        else:
            head = [v["ip.src"], v["ip.dst"], v["ip.proto"], v["ip.hdr_len"], v["ip.len"]]
        lines.append("\t".join([v["frame.time_epoch"], *head] + [v[f] for f in FIELDS[10:]]))
    return "".join(l + "\n" for l in lines)


for trace in sys.argv[1:]:
    with open(trace + ".expected", "w") as f:
        f.write(expected(trace))

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# tshark's decoding of the IPv6 traces (../ipv6, made by their own script) for the
# decode tests: one line a TCP or UDP packet the capture helper keeps, tab-separated.
set -euo pipefail
cd "$(dirname "$0")"
prefs=(-o ip.defragment:FALSE -o ipv6.defragment:FALSE -o tcp.desegment_tcp_streams:FALSE)
filter="(ip or ipv6) and (tcp or udp) and not icmp and not icmpv6 and not ip.frag_offset > 0"
for t in veth6-eth lo6-http crafted6 mixed46; do
    tshark -n -r "../ipv6/$t.pcap" "${prefs[@]}" -Y "$filter" -T fields -E separator=/t -E occurrence=f \
      -e frame.len -e eth.dst -e eth.src -e eth.type -e ipv6.tclass -e ipv6.flow -e ipv6.plen -e ipv6.nxt \
      -e ipv6.hlim -e ipv6.src -e ipv6.dst -e tcp.srcport -e tcp.dstport -e tcp.seq_raw -e tcp.ack_raw \
      -e tcp.hdr_len -e tcp.flags -e tcp.len -e udp.srcport -e udp.dstport -e udp.length \
      > "$t.tshark.tsv" 2>/dev/null
done

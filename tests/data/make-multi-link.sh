#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds multi-link.pcapng from the committed traces, the kind of file that
# `tshark -i eth0 -i lo -i any` or a capture appliance writes, and beside it what
# tshark reads from it (multi-link.pcapng.expected):
#   section 1: four interfaces, frames merged by time: Ethernet (veth-eth.pcap,
#              frames 1-12), raw IPv4 (tun-raw.pcap), Linux cooked (veth-cooked.pcap,
#              frames 13-26) and BSD loopback NULL (links/null.pcap)
#   section 2: one interface of yet another link type, LOOP (links/loop.pcap, frames
#              1-10), with nanosecond time stamps
# and multi-link-cut.pcapng, its first 12,000 bytes (cut inside a packet block).
# Needs editcap, mergecap and tshark (wireshark-common, tshark).
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

editcap -r veth-eth.pcap "$work/eth.pcap" 1-12
editcap -r veth-cooked.pcap "$work/sll.pcap" 13-26
mergecap -F pcapng -w "$work/first.pcapng" "$work/eth.pcap" tun-raw.pcap "$work/sll.pcap" links/null.pcap
editcap -F nsecpcap -r links/loop.pcap "$work/loop-ns.pcap" 1-10
editcap -F pcapng "$work/loop-ns.pcap" "$work/second.pcapng"
cat "$work/first.pcapng" "$work/second.pcapng" > multi-link.pcapng
head -c 12000 multi-link.pcapng > multi-link-cut.pcapng
chmod 0644 multi-link.pcapng multi-link-cut.pcapng
./tshark-expected.sh multi-link.pcapng multi-link-cut.pcapng

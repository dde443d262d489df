#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# tshark's reassembly of every conversation of the IPv6 traces (../ipv6, made by
# their own script) in *.follow.tsv beside the others.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"
source "$here/follow.sh"
# Fragments as the capture helper takes them: the first one alone.
FOLLOW_PREFS="-o ipv6.defragment:FALSE -o ip.defragment:FALSE"
for t in mixed46 lo6-http veth6-eth; do
    follow "../ipv6/$t.pcap" > "$t.follow.tsv"
done

#!/usr/bin/env bash
# tshark's reassembly of every conversation of the IPv6 traces (../ipv6, made by
# their own script) in *.follow.tsv beside the others.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"
source "$here/follow.sh"
for t in mixed46 lo6-http veth6-eth; do
    follow "../ipv6/$t.pcap" > "$t.follow.tsv"
done

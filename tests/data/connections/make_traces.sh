#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Makes lossy.tr: TCP and UDP between two network namespaces joined by relay.py,
# which drops, duplicates and delays frames, captured with tcpdump on the server's
# side; and wrapped.tr (make_wrapped.py). Stores tshark's reassembly of every
# conversation of these and of ../packets/loopback.tr (one host) in *.follow.tsv.
# Needs root and iproute2.
set -euo pipefail
cd "$(dirname "$0")"
here="$(pwd)"
ns_a=conn-a ns_b=conn-b ns_r=conn-r

cleanup() {
    for ns in $ns_a $ns_b $ns_r; do ip netns del "$ns" 2>/dev/null || true; done
}
trap cleanup EXIT
cleanup
for ns in $ns_a $ns_b $ns_r; do
    ip netns add "$ns"
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    ip -n "$ns" link set lo up
done
ip link add conn-a0 netns $ns_a type veth peer name conn-ra netns $ns_r
ip link add conn-b0 netns $ns_b type veth peer name conn-rb netns $ns_r
ip -n $ns_a addr add 10.93.0.1/24 dev conn-a0
ip -n $ns_b addr add 10.93.0.2/24 dev conn-b0
for pair in "$ns_a conn-a0" "$ns_b conn-b0" "$ns_r conn-ra" "$ns_r conn-rb"; do
    set -- $pair
    ip -n "$1" link set "$2" up
done

ip netns exec $ns_r python3 "$here/relay.py" conn-ra conn-rb 7 &
relay=$!
rm -f lossy.tr
ip netns exec $ns_b tcpdump -i conn-b0 -U -s 0 -w lossy.tr ip 2>/dev/null &
dump=$!
sleep 1
ip netns exec $ns_b python3 "$here/talk.py" server 10.93.0.2 &
server=$!
sleep 0.5
ip netns exec $ns_a python3 "$here/talk.py" client 10.93.0.2
wait $server
sleep 1
kill $dump $relay
wait $dump 2>/dev/null || true
wait $relay 2>/dev/null || true
chmod 644 lossy.tr

python3 "$here/make_wrapped.py" wrapped.tr

source "$here/follow.sh"
follow lossy.tr > lossy.follow.tsv
follow wrapped.tr > wrapped.follow.tsv
follow ../packets/loopback.tr > loopback.follow.tsv

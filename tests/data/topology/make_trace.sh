#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures hosts7.pcap: seven hosts in network namespaces on one bridge, talking TCP
# and UDP, taken with tcpdump on the bridge. Stores beside it what tshark reads from
# it (hosts7.tshark.tsv: source, destination and IP protocol of every frame), the
# independent count that the machine distribution tests check against.
#
# Traffic: 10.88.0.1 and .5 open TCP connections to .2 and exchange data; .3 and .4
# trade UDP datagrams both ways; .6 sends UDP datagrams to .7, which never answers
# (a host that only receives); .1 sends one datagram to .3. Only addresses inside
# private namespaces are used; nothing leaves the machine. Needs root, iproute2,
# tcpdump, tshark and python3.
set -euo pipefail
cd "$(dirname "$0")"
BR=topologyBR
hosts=(1 2 3 4 5 6 7)

removeNamespaces() {
    ip netns del $BR 2>/dev/null || true
    for i in "${hosts[@]}"; do ip netns del topologyH$i 2>/dev/null || true; done
}
capture=""
cleanup() {
    [ -n "$capture" ] && kill "$capture" 2>/dev/null || true
    removeNamespaces
}
removeNamespaces  # left over by an interrupted run
trap cleanup EXIT

ip netns add $BR
ip -n $BR link add topologybr type bridge
ip -n $BR link set topologybr up
for i in "${hosts[@]}"; do
    ns=topologyH$i
    ip netns add $ns
    ip netns exec $ns sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ip -n $ns link set lo up
    ip link add topologyv$i netns $ns type veth peer name topologyp$i netns $BR
    ip -n $ns addr add 10.88.0.$i/24 dev topologyv$i
    ip -n $ns link set topologyv$i up
    ip -n $BR link set topologyp$i master topologybr
    ip -n $BR link set topologyp$i up
done
ip netns exec $BR sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
# Neighbours known beforehand: no ARP in the way of the first packets.
for i in "${hosts[@]}"; do
    for j in "${hosts[@]}"; do
        [ "$i" = "$j" ] && continue
        mac=$(ip -n topologyH$j -br link show topologyv$j | awk '{print $3}')
        ip -n topologyH$i neigh replace 10.88.0.$j lladdr "$mac" dev topologyv$i nud permanent
    done
done
sleep 1

rm -f hosts7.pcap
ip netns exec $BR tcpdump -q -i topologybr -s 0 -U -w hosts7.pcap 'ip and (tcp or udp)' 2>/dev/null &
capture=$!
sleep 2

run() { ip netns exec "topologyH$1" python3 -c "$2"; }
# TCP server on .2: answers every line, for two clients one after the other.
run 2 '
import socket
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("10.88.0.2", 7000)); s.listen(2)
for _ in range(2):
    c, _ = s.accept()
    f = c.makefile("rb")
    for line in f:
        c.sendall(b"ok " + line)
    c.close()
' &
server=$!
# UDP echo on .4 (three datagrams) and a silent receiver on .7.
run 4 '
import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.88.0.4", 7001))
for _ in range(3):
    m, peer = u.recvfrom(2048); u.sendto(b"echo " + m, peer)
' &
echo4=$!
run 7 '
import socket, time
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.88.0.7", 7002))
u.settimeout(3)
try:
    while True: u.recvfrom(2048)
except OSError: pass
' &
sink7=$!
sleep 1

run 1 '
import socket, time
c = socket.create_connection(("10.88.0.2", 7000))
for i in range(3):
    c.sendall(b"line %d from host one\n" % i); c.recv(100); time.sleep(0.05)
c.close()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.sendto(b"hello three", ("10.88.0.3", 7003))
'
run 3 '
import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.settimeout(2)
for i in range(3):
    u.sendto(b"datagram %d" % i, ("10.88.0.4", 7001)); u.recvfrom(2048)
'
run 5 '
import socket, time
c = socket.create_connection(("10.88.0.2", 7000))
c.sendall(b"x" * 3000 + b"\n")
reply = b""
while not reply.endswith(b"\n"):
    reply += c.recv(4096)
c.close()
'
run 6 '
import socket, time
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(4):
    u.sendto(b"into the void %d" % i, ("10.88.0.7", 7002)); time.sleep(0.02)
'
wait $server $echo4 $sink7 || true
sleep 1
kill "$capture"
wait "$capture" 2>/dev/null || true
capture=""
chmod 644 hosts7.pcap

tshark -n -r hosts7.pcap -T fields -E separator=/t -E occurrence=f -e ip.src -e ip.dst -e ip.proto >hosts7.tshark.tsv
echo "$(wc -l <hosts7.tshark.tsv) frames"

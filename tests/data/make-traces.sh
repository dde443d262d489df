#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures the small traces that the helper tests replay, and stores beside each
# trace what tshark reads from it (<trace>.expected), computed independently of nuk.
#
#   veth-eth.pcap        Ethernet, taken on a veth pair between two namespaces
#   veth-eth.pcapng      the same file converted to pcapng by editcap
#   veth-cooked.pcap     the same traffic taken on "any" at the same time (Linux cooked v1)
#   veth-cooked2.pcap    ... and as Linux cooked v2
#   veth-truncated.pcap  veth-eth.pcap cut in the middle of its last packet
#   veth-garbage.pcap    veth-eth.pcap with 10 bytes of garbage appended
#   tun-raw.pcap         raw IPv4 (no link header), taken on a tun device
#
# Traffic: a TCP exchange (with options, a zero-length FIN, a multi-segment
# answer), UDP datagrams of 0, 1 and 200 bytes, one with IP options, and a 3000-byte
# datagram that the kernel fragments. Only addresses inside private namespaces
# are used; nothing leaves the machine. Needs root, iproute2, tcpdump, tshark,
# editcap and python3.
set -euo pipefail
cd "$(dirname "$0")"
A=nuktraceA B=nuktraceB C=nuktraceC

marks=$(mktemp -d)
export marks
captures=()

removeNamespaces() {
    for ns in $A $B $C; do ip netns del $ns 2>/dev/null || true; done
}
cleanup() {
    for p in "${captures[@]}"; do kill "$p" 2>/dev/null || true; done
    removeNamespaces
    rm -rf "$marks"
}
removeNamespaces  # left over by an interrupted run
trap cleanup EXIT

for ns in $A $B $C; do
    ip netns add $ns
    ip netns exec $ns sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ip -n $ns link set lo up
done
ip link add vethA netns $A type veth peer name vethB netns $B
ip -n $A addr add 10.77.0.1/24 dev vethA
ip -n $B addr add 10.77.0.2/24 dev vethB
ip -n $A link set vethA up
ip -n $B link set vethB up

# --- veth traces -------------------------------------------------------------
ip netns exec $B tcpdump -q -i vethB -s 0 -U -w veth-eth.pcap 2>/dev/null &
p1=$!
captures+=($p1)
ip netns exec $B tcpdump -q -i any -y LINUX_SLL -s 0 -U -w veth-cooked.pcap 2>/dev/null &
p2=$!
captures+=($p2)
ip netns exec $B tcpdump -q -i any -y LINUX_SLL2 -s 0 -U -w veth-cooked2.pcap 2>/dev/null &
p3=$!
captures+=($p3)
sleep 2

ip netns exec $B python3 - <<'PY' &
import os, socket
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("10.77.0.2", 5001))
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("10.77.0.2", 5000))
srv.listen(1)
open(os.environ["marks"] + "/server-ready", "w").close()
conn, _ = srv.accept()
data = b""
while not data.endswith(b"END\n"):
    chunk = conn.recv(4096)
    if not chunk:
        break
    data += chunk
conn.sendall(b"reply:" + bytes(range(256)) * 12)   # longer than one segment
conn.close()
for _ in range(5):
    msg, peer = udp.recvfrom(4096)
    udp.sendto(b"echo " + msg[:16], peer)
PY
server=$!
captures+=($server)
for _ in $(seq 50); do [ -e "$marks/server-ready" ] && break; sleep 0.1; done

ip netns exec $A python3 - <<'PY'
import socket, time
c = socket.create_connection(("10.77.0.2", 5000))
c.sendall(b"GET /hello HTTP/1.0\r\nHost: nuk\r\n\r\n")
time.sleep(0.05)
c.sendall(b"second segment\x00\x01\x02\xff END\n")
got = b""
while True:
    chunk = c.recv(65536)
    if not chunk:
        break
    got += chunk
c.close()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
u.bind(("10.77.0.1", 6001))
for payload in (b"", b"x", bytes(range(200))):
    u.sendto(payload, ("10.77.0.2", 5001))
    u.recvfrom(4096)
o = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
o.setsockopt(socket.IPPROTO_IP, socket.IP_OPTIONS, b"\x01\x01\x01\x00")   # NOPs: a 24-byte IP header
o.sendto(b"with ip options", ("10.77.0.2", 5001))
u.sendto(b"F" * 3000, ("10.77.0.2", 5001))   # fragmented on the 1500-byte link
u.settimeout(2)
u.recvfrom(4096)
PY
wait $server
sleep 1
kill $p1 $p2 $p3
wait $p1 $p2 $p3 2>/dev/null || true

editcap -F pcapng veth-eth.pcap veth-eth.pcapng
size=$(stat -c %s veth-eth.pcap)
head -c $((size - 7)) veth-eth.pcap > veth-truncated.pcap
{ cat veth-eth.pcap; printf 'GARBAGE!!\n'; } > veth-garbage.pcap

# --- raw IPv4 on a tun device ---------------------------------------------------
ip netns exec $C python3 - <<'PY' &
import fcntl, os, socket, struct, subprocess, time
TUNSETIFF, IFF_TUN, IFF_NO_PI = 0x400454ca, 0x0001, 0x1000
fd = os.open("/dev/net/tun", os.O_RDWR)
fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", b"nuktun0", IFF_TUN | IFF_NO_PI))
subprocess.run(["ip", "addr", "add", "10.79.0.1/24", "dev", "nuktun0"], check=True)
subprocess.run(["ip", "link", "set", "nuktun0", "up"], check=True)
open(os.environ["marks"] + "/tun-ready", "w").close()
end = time.time() + 6
os.set_blocking(fd, False)
while time.time() < end:          # the far end of the tunnel: read and drop
    try:
        os.read(fd, 65536)
    except BlockingIOError:
        time.sleep(0.01)
PY
tun=$!
captures+=($tun)
for _ in $(seq 50); do [ -e "$marks/tun-ready" ] && break; sleep 0.1; done
ip netns exec $C tcpdump -q -i nuktun0 -s 0 -U -w tun-raw.pcap 2>/dev/null &
p4=$!
captures+=($p4)
sleep 2
ip netns exec $C python3 - <<'PY'
import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(3):
    u.sendto(b"raw datagram %d" % i, ("10.79.0.2", 7000 + i))
t = socket.socket()
t.settimeout(1.5)
try:
    t.connect(("10.79.0.2", 7100))   # nobody answers: a SYN and its retransmission
except OSError:
    pass
PY
sleep 1
kill $p4
wait $p4 2>/dev/null || true
wait $tun

# --- what tshark reads ----------------------------------------------------------
./tshark-expected.sh veth-eth.pcap veth-eth.pcapng veth-cooked.pcap veth-cooked2.pcap veth-truncated.pcap \
    veth-garbage.pcap tun-raw.pcap
chmod 0644 ./*.pcap ./*.pcapng ./*.expected
ls -l

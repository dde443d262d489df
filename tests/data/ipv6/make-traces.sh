#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures the IPv6 traces that the helper and view tests replay, and stores beside
# each what tshark reads from it (<trace>.expected, see ./tshark-expected6.py).
#
#   lo6-http.pcap       lo of a namespace of its own: an HTTP server on [::1]:8080
#                       (python3 -m http.server) and two requests to it
#   veth6-eth.pcap      Ethernet, on a veth pair between two namespaces:
#                         A fd00:1234:5678:9abc:def0:1234:5678:9abc (no "::" possible)
#                         B fd00:1234:5678:9abc::b
#                       TCP (handshake, data both ways, a multi-segment answer, close),
#                       UDP datagrams of 0, 1 and 200 bytes with their echoes, one
#                       with a destination options header (sent by the stack) and a
#                       3000-byte datagram the stack sends as fragments
#   veth6-cooked.pcap   the same traffic taken on "any" at the same time (Linux cooked v1)
#   veth6-cooked2.pcap  ... and as Linux cooked v2
#   tun6-raw.pcap       raw IPv6 (no link header), taken on a tun device
#   mixed46.pcap        the veth pair with IPv4 (10.78.0.1, 10.78.0.2) and IPv6: a web
#                       request over IPv4, one over IPv6 and a DNS query over IPv6
#
# Neighbour discovery and other ICMPv6 frames the stack sends stay in the traces.
# Only addresses inside private namespaces are used; nothing leaves the machine.
# Needs root, iproute2, tcpdump, tshark and python3.
set -euo pipefail
cd "$(dirname "$0")"
A=nuk6A B=nuk6B C=nuk6C L=nuk6L
ADDR_A=fd00:1234:5678:9abc:def0:1234:5678:9abc
ADDR_B=fd00:1234:5678:9abc::b

marks=$(mktemp -d)
export marks ADDR_A ADDR_B
captures=()

removeNamespaces() {
    for ns in $A $B $C $L; do ip netns del $ns 2>/dev/null || true; done
}
cleanup() {
    for p in "${captures[@]}"; do kill "$p" 2>/dev/null || true; done
    removeNamespaces
    rm -rf "$marks"
}
waitFor() {  # a mark file that a background program leaves when it is ready
    for _ in $(seq 100); do [ -e "$marks/$1" ] && return 0; sleep 0.1; done
    echo "timed out waiting for $1" >&2
    exit 1
}
stopCaptures() {
    sleep 1
    kill "$@"
    wait "$@" 2>/dev/null || true
}
removeNamespaces  # left over by an interrupted run
trap cleanup EXIT

# --- ::1 on lo ------------------------------------------------------------------
ip netns add $L
ip -n $L link set lo up
ip netns exec $L tcpdump -q -i lo -s 0 -U -w lo6-http.pcap 2>/dev/null &
p=$!
captures+=($p)
sleep 2
site=$(mktemp -d)
printf 'hello over IPv6\n' > "$site/hello.txt"
ip netns exec $L python3 -m http.server 8080 --bind ::1 --directory "$site" >/dev/null 2>&1 &
web=$!
captures+=($web)
ip netns exec $L python3 - <<'PY'
import time, urllib.request
for _ in range(100):
    try:
        urllib.request.urlopen("http://[::1]:8080/hello.txt", timeout=1).read()
        break
    except OSError:
        time.sleep(0.1)
try:
    urllib.request.urlopen("http://[::1]:8080/missing", timeout=1)
except OSError:
    pass   # a 404 answer
PY
kill $web
stopCaptures $p
rm -rf "$site"

# --- two namespaces on a veth pair ----------------------------------------------
for ns in $A $B $C; do
    ip netns add $ns
    ip -n $ns link set lo up
done
ip link add vethA netns $A type veth peer name vethB netns $B
ip -n $A link set vethA address 02:00:00:00:06:0a
ip -n $B link set vethB address 02:00:00:00:06:0b
ip -n $A addr add $ADDR_A/64 dev vethA nodad
ip -n $B addr add $ADDR_B/64 dev vethB nodad
ip -n $A addr add 10.78.0.1/24 dev vethA
ip -n $B addr add 10.78.0.2/24 dev vethB
ip -n $A link set vethA up
ip -n $B link set vethB up
sleep 1

ip netns exec $B tcpdump -q -i vethB -s 0 -U -w veth6-eth.pcap 2>/dev/null &
p1=$!
ip netns exec $B tcpdump -q -i any -y LINUX_SLL -s 0 -U -w veth6-cooked.pcap 2>/dev/null &
p2=$!
ip netns exec $B tcpdump -q -i any -y LINUX_SLL2 -s 0 -U -w veth6-cooked2.pcap 2>/dev/null &
p3=$!
captures+=($p1 $p2 $p3)
sleep 2

ip netns exec $B python3 - <<'PY' &
import os, socket
addr = os.environ["ADDR_B"]
udp = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
udp.bind((addr, 5001))
srv = socket.socket(socket.AF_INET6)
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind((addr, 5000))
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
waitFor server-ready

ip netns exec $A python3 - <<'PY'
import os, socket, time
a, b = os.environ["ADDR_A"], os.environ["ADDR_B"]
c = socket.create_connection((b, 5000))
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
u = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
u.bind((a, 6001))
for payload in (b"", b"x", bytes(range(200))):
    u.sendto(payload, (b, 5001))
    u.recvfrom(4096)
# A destination options header of 8 bytes holding one PadN option.
o = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
o.bind((a, 6002))
o.setsockopt(socket.IPPROTO_IPV6, 59, bytes([0, 0, 1, 4, 0, 0, 0, 0]))   # IPV6_DSTOPTS
o.sendto(b"with destination options", (b, 5001))
o.recvfrom(4096)
u.sendto(b"F" * 3000, (b, 5001))   # fragmented on the 1500-byte link
u.settimeout(2)
u.recvfrom(4096)
PY
wait $server
stopCaptures $p1 $p2 $p3

# --- the same pair with both families: mixed46.pcap ----------------------------
ip netns exec $B tcpdump -q -i vethB -s 0 -U -w mixed46.pcap 2>/dev/null &
p=$!
captures+=($p)
sleep 2
ip netns exec $B python3 - <<'PY' &
import os, socket, threading
def web(family, addr):
    s = socket.socket(family)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, 80))
    s.listen(1)
    open(os.environ["marks"] + "/web%d" % family, "w").close()
    c, _ = s.accept()
    req = b""
    while not req.endswith(b"\r\n\r\n"):
        req += c.recv(1000)
    body = b"hello over IPv%d\n" % (6 if family == socket.AF_INET6 else 4)
    c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
    c.close()
def dns():
    s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
    s.bind((os.environ["ADDR_B"], 53))
    open(os.environ["marks"] + "/dns", "w").close()
    q, peer = s.recvfrom(512)
    # The answer: the query with the response flags and one AAAA record.
    answer = (q[:2] + b"\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00" + q[12:] +
              b"\xc0\x0c\x00\x1c\x00\x01\x00\x00\x0e\x10\x00\x10" + socket.inet_pton(socket.AF_INET6, os.environ["ADDR_B"]))
    s.sendto(answer, peer)
threads = [threading.Thread(target=web, args=(socket.AF_INET, "10.78.0.2")),
           threading.Thread(target=web, args=(socket.AF_INET6, os.environ["ADDR_B"])),
           threading.Thread(target=dns)]
for t in threads: t.start()
for t in threads: t.join()
PY
servers=$!
captures+=($servers)
waitFor web$(python3 -c 'import socket; print(int(socket.AF_INET))')
waitFor web$(python3 -c 'import socket; print(int(socket.AF_INET6))')
waitFor dns
ip netns exec $A python3 - <<'PY'
import os, socket, time
def get(family, addr, path):
    c = socket.socket(family)
    c.connect((addr, 80))
    c.sendall(b"GET " + path + b" HTTP/1.0\r\nHost: nuk\r\n\r\n")
    while c.recv(1000):
        pass
    c.close()
get(socket.AF_INET, "10.78.0.2", b"/v4.html")
time.sleep(0.1)
get(socket.AF_INET6, os.environ["ADDR_B"], b"/v6.html")
time.sleep(0.1)
u = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
u.bind((os.environ["ADDR_A"], 5353))
query = b"\x4e\x75\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x03www\x07example\x00\x00\x1c\x00\x01"
u.sendto(query, (os.environ["ADDR_B"], 53))
u.settimeout(2)
u.recvfrom(512)
PY
wait $servers
stopCaptures $p

# --- raw IPv6 on a tun device -----------------------------------------------------
ip netns exec $C python3 - <<'PY' &
import fcntl, os, socket, struct, subprocess, time
TUNSETIFF, IFF_TUN, IFF_NO_PI = 0x400454ca, 0x0001, 0x1000
fd = os.open("/dev/net/tun", os.O_RDWR)
fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", b"nuktun6", IFF_TUN | IFF_NO_PI))
subprocess.run(["ip", "addr", "add", "fd00:79::1/64", "dev", "nuktun6", "nodad"], check=True)
subprocess.run(["ip", "link", "set", "nuktun6", "up"], check=True)
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
waitFor tun-ready
ip netns exec $C tcpdump -q -i nuktun6 -s 0 -U -w tun6-raw.pcap 2>/dev/null &
p=$!
captures+=($p)
sleep 2
ip netns exec $C python3 - <<'PY'
import socket
u = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
for i in range(3):
    u.sendto(b"raw datagram %d" % i, ("fd00:79::2", 7000 + i))
t = socket.socket(socket.AF_INET6)
t.settimeout(1.5)
try:
    t.connect(("fd00:79::2", 7100))   # nobody answers: a SYN and its retransmission
except OSError:
    pass
PY
stopCaptures $p
wait $tun

# --- what tshark reads ----------------------------------------------------------
./tshark-expected6.py lo6-http.pcap veth6-eth.pcap veth6-cooked.pcap veth6-cooked2.pcap mixed46.pcap tun6-raw.pcap
chmod 0644 ./*.pcap ./*.expected
ls -l

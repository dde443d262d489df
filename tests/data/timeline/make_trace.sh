#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures conversation.pcap: three hosts on a bridge (10.99.0.1 A, .2 B, .3 C, each
# in a network namespace of its own) talking TCP and UDP one exchange after the other,
# so that the trace has several end points per host, handshakes, data both ways,
# closes from both sides and datagrams of several sizes. Taken with tcpdump on the
# bridge; nothing leaves the machine. Needs root, iproute2, tcpdump, tshark and
# python3. `--fields-only` only rewrites conversation.tshark.tsv.
#
#   A:40001 -> B:80     TCP: request, two-part answer, server closes first
#   A:5353  -> C:53     UDP: query and answer, twice
#   C:40003 -> B:7000   TCP: "ping"/"pong", client closes first
#   B:6000  -> A:6001   UDP: datagrams of 0, 10 and 100 bytes
set -euo pipefail
cd "$(dirname "$0")"

# tshark's independent reading beside the trace, one line a packet, tab-separated:
# number, source, source port, destination, destination port, IP header length,
# TCP raw sequence and acknowledgement numbers, TCP payload length, SYN, FIN,
# UDP payload length.
tshark_fields() {
    tshark -n -r conversation.pcap -T fields -E separator=/t -E occurrence=f \
      -e frame.number -e ip.src -e tcp.srcport -e udp.srcport -e ip.dst -e tcp.dstport -e udp.dstport \
      -e ip.hdr_len -e tcp.seq_raw -e tcp.ack_raw -e tcp.len -e tcp.flags.syn -e tcp.flags.fin -e udp.length \
      > conversation.tshark.tsv 2>/dev/null
}
if [ "${1:-}" = --fields-only ]; then
    tshark_fields
    exit 0
fi
R=timelineR A=timelineA B=timelineB C=timelineC

cleanup() {
    [ -n "${dump:-}" ] && kill "$dump" 2>/dev/null || true
    for ns in $A $B $C $R; do ip netns del $ns 2>/dev/null || true; done
}
cleanup
trap cleanup EXIT

ip netns add $R
ip -n $R link add timelinebr0 type bridge
ip -n $R link set timelinebr0 up
n=1
for ns in $A $B $C; do
    ip netns add $ns
    ip netns exec $ns sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ip -n $ns link set lo up
    ip link add timeline$n netns $ns type veth peer name timelineR$n netns $R
    ip -n $ns addr add 10.99.0.$n/24 dev timeline$n
    ip -n $ns link set timeline$n up
    ip -n $R link set timelineR$n master timelinebr0
    ip -n $R link set timelineR$n up
    n=$((n + 1))
done
ip netns exec $R sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 2>/dev/null || true

rm -f conversation.pcap
ip netns exec $R tcpdump -q -i timelinebr0 -U -s 0 -w conversation.pcap "ip and (tcp or udp)" 2>/dev/null &
dump=$!
sleep 2

# Servers: B on TCP 80 and 7000, C on UDP 53.
ip netns exec $B python3 - <<'PY' &
import socket, threading, time
def web():
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("10.99.0.2", 80)); s.listen(1)
    c, _ = s.accept()
    req = b""
    while not req.endswith(b"\r\n\r\n"):
        req += c.recv(1000)
    c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n")
    time.sleep(0.05)
    c.sendall(b"hello, time\n")
    time.sleep(0.05)
    c.close()
def echo():
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("10.99.0.2", 7000)); s.listen(1)
    c, _ = s.accept()
    c.recv(100)
    c.sendall(b"pong\n")
    c.recv(100)  # the client's close
    c.close()
threads = [threading.Thread(target=web), threading.Thread(target=echo)]
for t in threads: t.start()
for t in threads: t.join()
PY
servers=$!
ip netns exec $C python3 - <<'PY' &
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("10.99.0.3", 53))
for _ in range(2):
    q, peer = s.recvfrom(512)
    s.sendto(b"answer to " + q, peer)
PY
dns=$!
sleep 1

ip netns exec $A python3 - <<'PY'
import socket, time
c = socket.socket(); c.bind(("10.99.0.1", 40001)); c.connect(("10.99.0.2", 80))
c.sendall(b"GET /index.html HTTP/1.0\r\n\r\n")
answer = b""
while True:
    part = c.recv(1000)
    if not part:
        break
    answer += part
c.close()
time.sleep(0.1)
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.99.0.1", 5353))
for name in (b"www.example", b"mail.example"):
    u.sendto(name, ("10.99.0.3", 53))
    u.recvfrom(512)
    time.sleep(0.05)
PY
ip netns exec $C python3 - <<'PY'
import socket, time
c = socket.socket(); c.bind(("10.99.0.3", 40003)); c.connect(("10.99.0.2", 7000))
c.sendall(b"ping\n")
c.recv(100)
time.sleep(0.05)
c.close()
time.sleep(0.1)
PY
ip netns exec $A python3 - <<'PY' &
import socket
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.99.0.1", 6001))
for _ in range(3):
    u.recvfrom(512)
PY
sink=$!
sleep 0.5
ip netns exec $B python3 - <<'PY'
import socket, time
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("10.99.0.2", 6000))
for size in (0, 10, 100):
    u.sendto(bytes(range(size)), ("10.99.0.1", 6001))
    time.sleep(0.02)
PY
wait $servers $dns $sink
sleep 1
kill "$dump"
wait "$dump" 2>/dev/null || true
dump=
chmod 644 conversation.pcap
tshark_fields

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures closes.pcap: TCP connections between a client and a server in two network
# namespaces joined by a router namespace, each connection ended in another way, as
# seen on the client's interface. Stores tshark's reading of every packet beside it.
# Needs root. One port a way of ending:
#   7001 client closes first, the server's ACK comes apart from its FIN
#   7002 server closes first
#   7003 client closes first, the server answers with one FIN+ACK
#   7004 both close at once: the FINs cross on the wire (the router drops the
#        client's first FIN, so the server's FIN leaves before it has seen it)
#   7005 half-close: the client shuts its side, the server still sends, then closes
#   7006 the client aborts with RST
#   7007 SYN to a port nobody listens on, answered by RST
set -euo pipefail
cd "$(dirname "$0")"
p=tcpstate
cli=$p-cli rtr=$p-rtr srv=$p-srv
cleanup() {
    [ -n "${dump:-}" ] && kill "$dump" 2>/dev/null && wait "$dump" 2>/dev/null
    for ns in $cli $rtr $srv; do ip netns del $ns 2>/dev/null || true; done
}
trap cleanup EXIT
cleanup
for ns in $cli $rtr $srv; do ip netns add $ns; ip -n $ns link set lo up; done
ip link add $p-c0 netns $cli type veth peer name $p-c1 netns $rtr
ip link add $p-s0 netns $srv type veth peer name $p-s1 netns $rtr
ip -n $cli addr add 10.0.1.2/24 dev $p-c0
ip -n $rtr addr add 10.0.1.1/24 dev $p-c1
ip -n $rtr addr add 10.0.2.1/24 dev $p-s1
ip -n $srv addr add 10.0.2.2/24 dev $p-s0
for l in "$cli $p-c0" "$rtr $p-c1" "$rtr $p-s1" "$srv $p-s0"; do set -- $l; ip -n $1 link set $2 up; done
ip -n $cli route add default via 10.0.1.1
ip -n $srv route add default via 10.0.2.1
ip netns exec $rtr sysctl -qw net.ipv4.ip_forward=1

rm -f closes.pcap
ip netns exec $cli tcpdump -i $p-c0 -U -s 0 -w closes.pcap tcp 2>/dev/null &
dump=$!
sleep 1
python3 - $cli $srv $rtr <<'PY'
import ctypes, os, socket, struct, subprocess, sys, time
cli, srv, rtr = sys.argv[1:4]
libc = ctypes.CDLL(None, use_errno=True)

def enter(ns):
    # Sockets belong to the namespace they are made in; one process drives both ends.
    fd = os.open("/run/netns/" + ns, os.O_RDONLY)
    if libc.setns(fd, 0x40000000) != 0:
        raise OSError(ctypes.get_errno(), "setns " + ns)
    os.close(fd)

def listener(port):
    enter(srv)
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("10.0.2.2", port))
    s.listen(1)
    return s

def connect(port):
    enter(cli)
    return socket.create_connection(("10.0.2.2", port))

def pair(port):
    l = listener(port)
    c = connect(port)
    s, _ = l.accept()
    l.close()
    c.sendall(b"request %d\n" % port)
    s.recv(100)
    return c, s

def drain(sock):
    while sock.recv(4096):
        pass

def pause(t=0.4):
    time.sleep(t)

# 7001: the server's delayed ACK goes out on its own before the server closes.
c, s = pair(7001)
s.sendall(b"answer\n"); c.recv(100)
c.close(); pause(); drain(s); s.close(); pause()

# 7002
c, s = pair(7002)
s.sendall(b"answer\n"); s.close(); pause()
drain(c); c.close(); pause()

# 7003: the server closes well within its delayed-ACK time, so its FIN carries the ACK.
c, s = pair(7003)
c.close(); time.sleep(0.005); s.close(); pause()

# 7004
c, s = pair(7004)
route = ["ip", "netns", "exec", rtr, "ip", "route"]
subprocess.run(route + ["add", "blackhole", "10.0.2.2/32"], check=True)
c.close(); time.sleep(0.05); s.close(); time.sleep(0.05)
subprocess.run(route + ["del", "blackhole", "10.0.2.2/32"], check=True)
pause(1.5)

# 7005
c, s = pair(7005)
c.shutdown(socket.SHUT_WR); pause()
drain(s)
for i in range(3):
    s.sendall(b"more data %d\n" % i); time.sleep(0.05)
s.close(); pause()
drain(c); c.close(); pause()

# 7006
c, s = pair(7006)
c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
c.close(); pause(); s.close(); pause()

# 7007
enter(cli)
try:
    socket.create_connection(("10.0.2.2", 7007))
except ConnectionRefusedError:
    pass
pause()
PY
sleep 1
kill "$dump"; wait "$dump" 2>/dev/null || true; dump=
chmod 644 closes.pcap

# One line a packet: number, source, source port, destination, destination port, TCP flags.
tshark -n -r closes.pcap -T fields -E separator=/t \
  -e frame.number -e ip.src -e tcp.srcport -e ip.dst -e tcp.dstport -e tcp.flags \
  > closes.tshark.tsv 2>/dev/null

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Captures loopback.tr (a short TCP conversation with options and a binary payload,
# and UDP datagrams, one with IP options and one empty) with tcpdump on lo, and
# stores tshark's independent decoding beside it. Needs root.
set -euo pipefail
cd "$(dirname "$0")"
tcp_port=47111
udp_port=47112
rm -f loopback.tr
tcpdump -i lo -U -s 0 -w loopback.tr "host 127.0.0.1 and (port $tcp_port or port $udp_port)" 2>/dev/null &
dump=$!
sleep 1
python3 - "$tcp_port" "$udp_port" <<'PY'
import socket, sys, threading, time
tcp_port, udp_port = int(sys.argv[1]), int(sys.argv[2])
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", tcp_port)); srv.listen(1)
def serve():
    c, _ = srv.accept()
    data = b""
    while len(data) < 13 + 256:
        data += c.recv(4096)
    c.sendall(b"reply from the server\r\n")
    time.sleep(0.2)
    c.close()
t = threading.Thread(target=serve); t.start()
cl = socket.create_connection(("127.0.0.1", tcp_port))
cl.sendall(b"hello nukrit\n")
time.sleep(0.1)
cl.sendall(bytes(range(256)))
print(cl.recv(100))
t.join()
cl.close()
time.sleep(0.2)
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
u.sendto(b"udp datagram \x00\x01\x7f\x80\xff", ("127.0.0.1", udp_port))
u.sendto(b"", ("127.0.0.1", udp_port))
o = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
o.setsockopt(socket.IPPROTO_IP, socket.IP_OPTIONS, b"\x01\x01\x01\x00")  # NOP NOP NOP EOL
o.sendto(b"with ip options", ("127.0.0.1", udp_port))
time.sleep(0.3)
PY
sleep 1
kill "$dump"
wait "$dump" 2>/dev/null || true
chmod 644 loopback.tr

# One line a packet, tab-separated, in this column order.
tshark -n -r loopback.tr -T fields -E separator=/t -E occurrence=f \
  -e frame.number -e frame.time_relative -e frame.len -e eth.src -e eth.dst -e eth.type \
  -e ip.hdr_len -e ip.len -e ip.id -e ip.ttl -e ip.proto -e ip.checksum -e ip.src -e ip.dst \
  -e tcp.srcport -e tcp.dstport -e tcp.seq_raw -e tcp.ack_raw -e tcp.hdr_len -e tcp.flags \
  -e tcp.window_size_value -e tcp.checksum -e tcp.urgent_pointer -e tcp.len \
  -e udp.srcport -e udp.dstport -e udp.length -e udp.checksum -e data.len \
  > loopback.tshark.tsv 2>/dev/null

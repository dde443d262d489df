#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Records filter.pcap: loopback TCP and UDP traffic between a few 127.0.0.0/8
# addresses and ports, so that filter expressions can be checked against the
# packets they select. Needs root (tcpdump on lo) and python3.
#
#   TCP 127.0.0.1 -> 127.0.0.5:80, 127.0.0.5:22, 127.0.0.7:80, 127.0.0.7:22, 127.0.0.9:8080
#   TCP 127.0.0.9:1024 -> 127.0.0.5:80
#   UDP 127.0.0.1 -> 127.0.0.5:53, 127.0.0.9:53; 127.0.0.9:1024 -> 127.0.0.7:53
set -euo pipefail
cd "$(dirname "$0")"
out=filter.pcap
tcpdump -i lo -U -s 128 -w "$out.tmp" \
    'host 127.0.0.5 or host 127.0.0.7 or host 127.0.0.9' 2>/dev/null &
dump=$!
sleep 1
python3 - <<'PY'
import socket, threading, time

servers = [("127.0.0.5", 80), ("127.0.0.5", 22), ("127.0.0.7", 80), ("127.0.0.7", 22), ("127.0.0.9", 8080)]
listeners = []
for addr in servers:
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(addr); s.listen(4); listeners.append(s)

def serve(s):
    while True:
        try:
            c, _ = s.accept()
        except OSError:
            return
        data = c.recv(100)
        c.sendall(b"ok " + data)
        c.close()

for s in listeners:
    threading.Thread(target=serve, args=(s,), daemon=True).start()

def talk(dst, src=None):
    c = socket.socket(); c.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if src: c.bind(src)
    c.connect(dst); c.sendall(b"hello"); c.recv(100); c.close()
    time.sleep(0.05)

for addr in servers:
    talk(addr)
talk(("127.0.0.5", 80), ("127.0.0.9", 1024))

for dst, src in [(("127.0.0.5", 53), None), (("127.0.0.9", 53), None), (("127.0.0.7", 53), ("127.0.0.9", 1024))]:
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if src: u.bind(src)
    u.sendto(b"query", dst); u.close()
    time.sleep(0.05)
time.sleep(0.5)
PY
kill -INT "$dump"
wait "$dump" || true
mv "$out.tmp" "$out"
tcpdump -nr "$out" 2>/dev/null | wc -l

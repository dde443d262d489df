#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Both ends of the conversations in lossy.tr: a client that sends text lines in
# small segments, a server that answers with a block, then more from the client;
# and a few UDP datagrams each way.
#
# usage: talk.py server ADDR | talk.py client ADDR
import socket
import sys
import time

TCP_PORT, UDP_PORT = 5000, 5001


def lines(who, count):
    return b"".join(b"%s line %04d: the quick brown fox jumps over the lazy dog\n" % (who, i) for i in range(count))


def server(addr):
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.bind((addr, UDP_PORT))
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind((addr, TCP_PORT))
    srv.listen(1)
    for _ in range(2):
        data, peer = u.recvfrom(2048)
        u.sendto(b"pong: " + data, peer)
    c, _ = srv.accept()
    want = len(lines(b"client", 400))
    got = b""
    while len(got) < want // 2:
        got += c.recv(65536)
    c.sendall(lines(b"server", 900))
    while len(got) < want:
        chunk = c.recv(65536)
        if not chunk:
            break
        got += chunk
    assert got == lines(b"client", 400), "the server got other bytes"
    c.close()


def client(addr):
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.settimeout(2)
    for text in (b"ping one", b"ping two \x00\x01\xff"):
        u.sendto(text, (addr, UDP_PORT))
        try:
            u.recvfrom(2048)
        except socket.timeout:
            pass
    c = socket.create_connection((addr, TCP_PORT))
    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    data = lines(b"client", 400)
    half = len(data) // 2
    for at in range(0, len(data), 700):  # small segments, so resends can merge them
        if at >= half and at - 700 < half:
            time.sleep(0.3)
        c.sendall(data[at:at + 700])
        time.sleep(0.002)
    reply = b""
    while True:
        chunk = c.recv(65536)
        if not chunk:
            break
        reply += chunk
    assert reply == lines(b"server", 900), "the client got other bytes"
    c.close()


if __name__ == "__main__":
    {"server": server, "client": client}[sys.argv[1]](sys.argv[2])

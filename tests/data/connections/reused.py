#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Two TCP connections one after the other on the same addresses and ports
# (127.0.0.1:41093 -> 127.0.0.1:5093): each time the client sends a line, the
# server answers and closes first, so the client's port is free again for the
# next connection while the server's side of the first one waits out TIME_WAIT.
import socket
import threading

SERVER, CLIENT = ("127.0.0.1", 5093), ("127.0.0.1", 41093)
TEXTS = (b"first-", b"second-")


def serve(listener):
    for _ in TEXTS:
        c, _ = listener.accept()
        data = c.recv(100)
        c.sendall(b"got " + data)
        c.close()


def main():
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(SERVER)
    listener.listen(1)
    server = threading.Thread(target=serve, args=(listener,))
    server.start()
    for text in TEXTS:
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(CLIENT)
        s.connect(SERVER)
        s.sendall(text)
        reply = b""
        while True:
            chunk = s.recv(100)
            if not chunk:
                break
            reply += chunk
        assert reply == b"got " + text, reply
        s.close()
    server.join()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# A user-space Ethernet relay between two interfaces that drops, duplicates and
# delays (reorders) some of the frames that carry data. Used by make_traces.sh in
# a network namespace of its own; the kernel here has no netem.
#
# usage: relay.py IF1 IF2 SEED
import random
import select
import socket
import struct
import sys
import time

ETH_P_ALL = 3
SOL_PACKET = 263
PACKET_ADD_MEMBERSHIP = 1
PACKET_MR_PROMISC = 1
PACKET_OUTGOING = 4


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def complete_checksum(frame):
    """The sender's veth left the TCP/UDP checksum to hardware that a frame read
    from a packet socket never meets: fill it in, or the receiver drops it."""
    if frame[12:14] != b"\x08\x00":
        return frame
    ihl = (frame[14] & 0x0F) * 4
    proto = frame[23]
    total = struct.unpack("!H", frame[16:18])[0]
    start, end = 14 + ihl, 14 + total
    offset = {6: 16, 17: 6}.get(proto)
    if offset is None or end > len(frame):
        return frame
    segment = bytearray(frame[start:end])
    segment[offset:offset + 2] = b"\0\0"
    pseudo = frame[26:34] + struct.pack("!BBH", 0, proto, len(segment))
    segment[offset:offset + 2] = struct.pack("!H", checksum(pseudo + bytes(segment)) or 0xFFFF)
    return frame[:start] + bytes(segment) + frame[end:]


def segments(frame, mtu=1500):
    """The sender's veth hands over segments of up to 64 KB and leaves cutting them
    to hardware: cut them to the MTU here as that hardware would."""
    if len(frame) <= 14 + mtu or frame[12:14] != b"\x08\x00" or frame[23] != 6:
        return [frame]
    ihl = (frame[14] & 0x0F) * 4
    ip = frame[14:14 + ihl]
    thl = (frame[14 + ihl + 12] >> 4) * 4
    tcp = frame[14 + ihl:14 + ihl + thl]
    total = struct.unpack("!H", ip[2:4])[0]
    payload = frame[14 + ihl + thl:14 + total]
    seq = struct.unpack("!I", tcp[4:8])[0]
    ident = struct.unpack("!H", ip[4:6])[0]
    mss = mtu - ihl - thl
    out = []
    for k, at in enumerate(range(0, len(payload), mss)):
        chunk = payload[at:at + mss]
        flags = tcp[13] if at + mss >= len(payload) else tcp[13] & ~0x09  # FIN and PSH on the last only
        head = ip[:2] + struct.pack("!HH", ihl + thl + len(chunk), (ident + k) & 0xFFFF) + ip[6:10] + b"\0\0" + ip[12:]
        head = head[:10] + struct.pack("!H", checksum(head)) + head[12:]
        out.append(frame[:14] + head + tcp[:4] + struct.pack("!I", (seq + at) & 0xFFFFFFFF) + tcp[8:13] +
                   bytes([flags]) + tcp[14:] + chunk)
    return out


def open_raw(ifname):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    s.bind((ifname, 0))
    index = socket.if_nametoindex(ifname)
    s.setsockopt(SOL_PACKET, PACKET_ADD_MEMBERSHIP, struct.pack("iHH8s", index, PACKET_MR_PROMISC, 0, b""))
    return s


def main():
    one, two = open_raw(sys.argv[1]), open_raw(sys.argv[2])
    rng = random.Random(int(sys.argv[3]))
    other = {one: two, two: one}
    held = []  # (due, socket, frame)
    while True:
        now = time.monotonic()
        due = [h for h in held if h[0] <= now]
        held = [h for h in held if h[0] > now]
        for _, out, frame in due:
            out.send(frame)
        timeout = min((h[0] for h in held), default=now + 1.0) - now
        ready, _, _ = select.select([one, two], [], [], max(0.0, timeout))
        for s in ready:
            frame, address = s.recvfrom(65536)
            if address[2] == PACKET_OUTGOING:
                continue  # our own send, seen on the way out
            out = other[s]
            for frame in segments(frame):
                frame = complete_checksum(frame)
                if len(frame) < 200:  # handshakes, acknowledgements, ARP: pass
                    out.send(frame)
                    continue
                r = rng.random()
                if r < 0.05:
                    continue  # lost
                if r < 0.10:
                    out.send(frame)
                    out.send(frame)  # duplicated
                elif r < 0.18:
                    held.append((time.monotonic() + rng.uniform(0.01, 0.04), out, frame))  # overtaken
                else:
                    out.send(frame)


if __name__ == "__main__":
    main()

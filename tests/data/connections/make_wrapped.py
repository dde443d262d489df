#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes a crafted Ethernet trace of one TCP conversation whose sequence numbers
# wrap past 2^32 in both directions, with segments out of order, a duplicate, a
# resend that merges two segments under a newer acknowledgement and late copies
# already covered. Each side's bytes are text lines, so every byte is placed.
#
# usage: make_wrapped.py OUT.tr
import struct
import sys

CLIENT, SERVER = (0x0A000001, 40000), (0x0A000002, 7777)
C_ISN, S_ISN = 0xFFFFFB00, 0xFFFFFFF0
MACS = {CLIENT: bytes.fromhex("020000000001"), SERVER: bytes.fromhex("020000000002")}


def text(who, size):
    out = b"".join(b"%s says %04d: pack my box with five dozen liquor jugs\n" % (who, i) for i in range(200))
    return out[:size]


CDATA, SDATA = text(b"client", 3000), text(b"server", 2000)


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def frame(src, dst, seq, ack, flags, payload=b""):
    seq &= 0xFFFFFFFF
    ack &= 0xFFFFFFFF
    tcp = struct.pack("!HHIIBBHHH", src[1], dst[1], seq, ack, 5 << 4, flags, 65535, 0, 0) + payload
    pseudo = struct.pack("!IIBBH", src[0], dst[0], 0, 6, len(tcp))
    tcp = tcp[:16] + struct.pack("!H", checksum(pseudo + tcp)) + tcp[18:]
    ip = struct.pack("!BBHHHBBHII", 0x45, 0, 20 + len(tcp), 1, 0x4000, 64, 6, 0, src[0], dst[0])
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    return MACS[dst] + MACS[src] + b"\x08\x00" + ip + tcp


SYN, ACK, PSH, FIN = 0x02, 0x10, 0x08, 0x01
c, s = C_ISN + 1, S_ISN + 1  # first data byte of each side


def cseg(lo, hi, ack):
    return frame(CLIENT, SERVER, c + lo, ack, ACK | PSH, CDATA[lo:hi])


def sseg(lo, hi, ack):
    return frame(SERVER, CLIENT, s + lo, ack, ACK | PSH, SDATA[lo:hi])


frames = [
    frame(CLIENT, SERVER, C_ISN, 0, SYN),
    frame(SERVER, CLIENT, S_ISN, c, SYN | ACK),
    frame(CLIENT, SERVER, c, s, ACK),
    cseg(0, 500, s),
    cseg(1000, 1500, s),     # ahead of its turn; crosses 2^32
    cseg(500, 1000, s),
    cseg(500, 1000, s),      # duplicate
    frame(SERVER, CLIENT, s, c + 1500, ACK),
    sseg(0, 700, c + 1500),  # crosses 2^32
    sseg(1400, 2000, c + 1500),
    sseg(700, 1400, c + 1500),
    cseg(1500, 2000, s),
    frame(CLIENT, SERVER, c + 2000, s + 2000, ACK),
    cseg(1500, 2500, s + 2000),     # resend merging two segments, newer acknowledgement
    sseg(0, 700, c + 2000),         # resend already delivered
    cseg(2500, 3000, s + 2000),
    cseg(2000, 2500, s + 2000),     # late copy inside the merged resend
    frame(CLIENT, SERVER, c + 3000, s + 2000, ACK | FIN),
    frame(SERVER, CLIENT, s + 2000, c + 3001, ACK | FIN),
    frame(CLIENT, SERVER, c + 3001, s + 2001, ACK),
]

with open(sys.argv[1], "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for i, f in enumerate(frames):
        out.write(struct.pack("<IIII", 1700000000, 1000 * i, len(f), len(f)) + f)

#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a tcpdump-format trace of one TCP conversation of N packets for the
connection benchmark: a client sending 1400-byte segments, the server
acknowledging and now and then answering; about 2 % of the client's segments are
resent (some merged with the next one under a newer acknowledgement), 1 %
duplicated and 2 % overtaken by the next. Sequence numbers wrap past 2^32 early.

With "download": a plain download instead, the most common shape: the server
sends 512-byte segments, the client acknowledges every second one with a pure
acknowledgement, all at the client's same sequence number.

usage: gen_conversation.py OUT [N] [download]"""
import random
import struct
import sys


def main():
    out = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    rng = random.Random(99)
    hosts = (bytes([10, 2, 0, 1]), bytes([10, 2, 0, 2]))
    macs = (bytes([2, 0, 0, 0, 1, 1]), bytes([2, 0, 0, 0, 1, 2]))
    ports = (40000, 8000)
    blob = bytes(rng.randrange(32, 127) for _ in range(8192))
    seq = [0xFFFF0000, 0x7FFFFFF0]
    frames = []

    def frame(d, s, ack, flags, data, ident):
        tcp = struct.pack("!HHIIBBHHH", ports[d], ports[1 - d], s & 0xFFFFFFFF, ack & 0xFFFFFFFF, 5 << 4, flags,
                          65535, 0, 0) + data
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), ident & 0xFFFF, 0x4000, 64, 6, 0, hosts[d],
                         hosts[1 - d])
        return macs[1 - d] + macs[d] + b"\x08\x00" + ip + tcp

    frames.append(frame(0, seq[0] - 1, 0, 0x02, b"", 0))
    frames.append(frame(1, seq[1] - 1, seq[0], 0x12, b"", 1))
    if len(sys.argv) > 3 and sys.argv[3] == "download":
        seq[1] = 0xF0000000  # wraps past 2^32 after 256 MB
        frames[1] = frame(1, seq[1] - 1, seq[0], 0x12, b"", 1)
        frames.append(frame(0, seq[0], seq[1], 0x10, b"", 2))
        while len(frames) < n:
            i = len(frames)
            off = rng.randrange(0, 8192 - 512)
            frames.append(frame(1, seq[1], seq[0], 0x10, blob[off:off + 512], i))
            seq[1] += 512
            if i % 3 == 0:
                frames.append(frame(0, seq[0], seq[1], 0x10, b"", i + 1))
        write(out, frames[:n])
        return
    recent = []  # the client's last segments: (seq, data)
    while len(frames) < n:
        i = len(frames)
        r = rng.random()
        if r < 0.6:
            off = rng.randrange(0, 8192 - 1400)
            data = blob[off:off + 1400]
            f = frame(0, seq[0], seq[1], 0x18, data, i)
            recent = (recent + [(seq[0], data)])[-4:]
            seq[0] += len(data)
            roll = rng.random()
            if roll < 0.02 and frames:
                frames.insert(len(frames) - 1, f)  # overtakes the previous one
                continue
            frames.append(f)
            if roll < 0.03:
                frames.append(f)  # duplicated
        elif r < 0.9:
            frames.append(frame(1, seq[1], seq[0], 0x10, b"", i))
        elif r < 0.98:
            size = rng.randrange(1, 1400)
            off = rng.randrange(0, 8192 - 1400)
            frames.append(frame(1, seq[1], seq[0], 0x18, blob[off:off + size], i))
            seq[1] += size
        elif len(recent) >= 2:
            (s1, d1), (s2, d2) = recent[-2:]
            merged = rng.random() < 0.5 and s1 + len(d1) == s2
            frames.append(frame(0, s1, seq[1], 0x18, d1 + d2 if merged else d1, i))
    write(out, frames[:n])


def write(out, frames):
    with open(out, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, fr in enumerate(frames):
            f.write(struct.pack("<IIII", 1_700_000_000 + i // 100_000, (i * 10) % 1_000_000, len(fr), len(fr)) + fr)


if __name__ == "__main__":
    main()

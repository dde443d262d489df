#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes a tcpdump-format trace of N packets for the pipeline benchmark: Ethernet,
IPv4, a mix of TCP conversations (handshake, data, acknowledgements, close) and UDP
datagrams between 50 hosts, payloads from 0 to 1400 bytes, microsecond spacing.

usage: gen_trace.py [--ipv6] OUT [N [HOSTS FLOWS]]
With --ipv6 the same packets travel over IPv6 between hosts fd00:1234:5678:9abc::HOST.
With HOSTS and FLOWS, flow i starts at host i mod HOSTS, so every host appears once
FLOWS >= HOSTS (the machine distribution benchmark: 1,000 hosts)."""
import random
import struct
import sys


def main():
    ipv6 = len(sys.argv) > 1 and sys.argv[1] == "--ipv6"
    if ipv6:
        del sys.argv[1]
    out = sys.argv[1]
    n = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    cover = len(sys.argv) > 4
    n_hosts, n_flows = (int(sys.argv[3]), int(sys.argv[4])) if cover else (50, 400)
    rng = random.Random(20261206)
    hosts = [bytes([10, 1, i // 250, 1 + i % 250]) for i in range(n_hosts)]
    macs = [bytes([2, 0, 0, 0, i >> 8, i & 0xff]) for i in range(n_hosts)]
    blob = bytes(rng.getrandbits(8) for _ in range(4096))

    flows = []
    for i in range(n_flows):
        if cover:
            a = i % n_hosts
            b = rng.randrange(n_hosts - 1)
            b += b >= a
        else:
            a, b = rng.sample(range(n_hosts), 2)
        flows.append({"a": a, "b": b, "sp": rng.randrange(1024, 65535),
                      "dp": rng.choice([80, 443, 22, 8080, 5432]),
                      "seq": [rng.getrandbits(32), rng.getrandbits(32)], "state": 0,
                      "udp": rng.random() < 0.25})

    hosts6 = [bytes.fromhex("fd00123456789abc") + bytes(6) + struct.pack("!H", 1 + i) for i in range(n_hosts)]

    def eth_ip(src, dst, proto, length, ident):
        if ipv6:
            return (macs[dst] + macs[src] + b"\x86\xdd" +
                    struct.pack("!IHBB16s16s", 6 << 28, length, proto, 64, hosts6[src], hosts6[dst]))
        eth = macs[dst] + macs[src] + b"\x08\x00"
        ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + length, ident & 0xffff, 0x4000, 64, proto, 0,
                         hosts[src], hosts[dst])
        return eth + ip

    def payload_size():
        r = rng.random()
        if r < 0.4:
            return 0
        if r < 0.7:
            return 1400
        return rng.randrange(1, 1400)

    ts = 1_700_000_000.0
    with open(out, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xa1b2c3d4, 2, 4, 0, 0, 65535, 1))
        for i in range(n):
            fl = flows[rng.randrange(len(flows))]
            fwd = rng.random() < 0.6
            src, dst = (fl["a"], fl["b"]) if fwd else (fl["b"], fl["a"])
            sp, dp = (fl["sp"], fl["dp"]) if fwd else (fl["dp"], fl["sp"])
            size = payload_size()
            off = rng.randrange(0, 4096 - 1400)
            data = blob[off:off + size]
            if fl["udp"]:
                body = struct.pack("!HHHH", sp, dp, 8 + size, 0) + data
                frame = eth_ip(src, dst, 17, len(body), i) + body
            else:
                d = 0 if fwd else 1
                if fl["state"] == 0:
                    flags, data = 0x02, b""
                    fl["state"] = 1
                elif rng.random() < 0.002:
                    flags, data = 0x11, b""
                    fl["state"] = 0
                else:
                    flags = 0x18 if data else 0x10
                seq = fl["seq"][d]
                fl["seq"][d] = (seq + len(data)) & 0xffffffff
                ack = fl["seq"][1 - d]
                opts = b"\x01\x01\x08\x0a" + struct.pack("!II", i, i // 2)  # NOP NOP timestamps
                tcp = struct.pack("!HHIIBBHHH", sp, dp, seq, ack, (32 // 4) << 4, flags, 502, 0, 0) + opts
                body = tcp + data
                frame = eth_ip(src, dst, 6, len(body), i) + body
            ts += rng.expovariate(1 / 20e-6)
            sec = int(ts)
            usec = int((ts - sec) * 1e6)
            f.write(struct.pack("<IIII", sec, usec, len(frame), len(frame)))
            f.write(frame)


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes beside each trace named what tshark reads from it (<trace>.expected): one
# line per IPv4 TCP or UDP packet (non-first fragments left out), the columns that
# tests/helpers compares with the capture helper's records.
set -euo pipefail
for f in "$@"; do
    tshark -r "$f" -o ip.defragment:FALSE -o tcp.desegment_tcp_streams:FALSE -o tcp.analyze_sequence_numbers:FALSE \
        -Y 'ip and (tcp or udp) and ip.frag_offset == 0' -T fields -E separator=/t -E occurrence=f \
        -e frame.time_epoch -e ip.src -e ip.dst -e ip.proto -e ip.hdr_len -e ip.len \
        -e tcp.srcport -e tcp.dstport -e tcp.seq_raw -e tcp.ack_raw -e tcp.flags -e tcp.hdr_len \
        -e udp.srcport -e udp.dstport -e tcp.payload -e udp.payload \
        > "$f.expected" 2>/dev/null || true
    chmod 0644 "$f.expected"
done

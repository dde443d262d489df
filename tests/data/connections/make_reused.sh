#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Makes reused.tr: two TCP connections one after the other on the same addresses
# and ports over loopback (reused.py), captured with tcpdump; stores tshark's
# reassembly of each in reused.follow.tsv (tshark: "TCP Port numbers reused", two
# streams). Needs root.
set -euo pipefail
cd "$(dirname "$0")"
here="$(pwd)"
rm -f reused.tr
tcpdump -i lo -U -s 0 -w reused.tr 'tcp port 5093' 2>/dev/null &
dump=$!
sleep 1
python3 "$here/reused.py"
sleep 1
kill $dump
wait $dump 2>/dev/null || true
chmod 644 reused.tr
source "$here/follow.sh"
follow reused.tr > reused.follow.tsv

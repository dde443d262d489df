#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Connection views benchmark: generates one TCP conversation of N packets (default
# 100,000) with resends, duplicates and reordering, feeds it to both connection
# views headless, times selecting, listing, reassembling and scrolling to the end,
# and times tcpdump -nn -r on the same trace. The figures go into bench/README.md
# by hand. With "download", the conversation is a plain download (data one way,
# pure acknowledgements the other) and `nukdump --streams` is timed on it too.
#
# usage: bench/connections/run_bench.sh [N] [download]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-100000}"
shape="${2:-}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_connections nukdump pcap >/dev/null

work="$(mktemp -d /tmp/nukbench.XXXXXX)"  # owner-only
trap 'rm -rf "$work"' EXIT
trace="$work/conversation.tr"
python3 "$here/gen_conversation.py" "$trace" "$n" $shape
sync
cat "$trace" >/dev/null

result="$("$build/bench/bin/bench_connections" --trace "$trace" | tail -1)"
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }
TIMEFORMAT=%R
tcpdump_s="$( { time tcpdump -nn -r "$trace" >/dev/null 2>&1; } 2>&1 )"
tcpdump_ms="$(awk -v s="$tcpdump_s" 'BEGIN { printf "%.0f", s * 1000 }')"
ratio() { awk -v a="$1" -v b="$tcpdump_ms" 'BEGIN { printf "%.2f", a / b }'; }

echo "$(field packets) packets in $(field connections) conversation(s); $(field listed) packet rows"
echo "wall clock, and the processor time of the thread doing the step (the machine may be shared)"
row() { printf '%-50s %9s %9s %11s\n' "$1" "$2" "$3" "$4"; }
row "step" "ms" "cpu ms" "vs tcpdump"
step() { row "$1" "$(field "$2_ms")" "$(field "$2_cpu_ms")" "$(ratio "$(field "$2_ms")")"; }
step "filing (both views, reader thread)" file
step "select: list the packets (packet view)" list
step "select the last packet: hex and character panes" packet
step "select: live pane (reconstruction view)" live
step "reconstruct: sort, reassemble, both panes" reconstruct
sum() { awk -v a="$(field "list$1")" -v b="$(field "live$1")" -v c="$(field "reconstruct$1")" 'BEGIN { printf "%.1f", a + b + c }'; }
row "select + list + reassemble (target < 1000)" "$(sum _ms)" "$(sum _cpu_ms)" "$(ratio "$(sum _ms)")"
step "scroll the three wide panes to the end" scroll_end
step "scroll the packet list to the end" list_end
if [ "$shape" = download ]; then
    streams_s="$( { time "$build/nuk/nukdump" --streams "$trace" >/dev/null; } 2>&1 )"
    row "nukdump --streams" "$(awk -v s="$streams_s" 'BEGIN { printf "%.0f", s * 1000 }')" "" \
        "$(ratio "$(awk -v s="$streams_s" 'BEGIN { printf "%.0f", s * 1000 }')")"
fi
row "tcpdump -nn -r" "$tcpdump_ms" "" "1.00"
echo "live $(field live_bytes) bytes; reassembled $(field forward_bytes) + $(field backward_bytes) bytes from $(field forward_entries) + $(field backward_entries) listed segments"

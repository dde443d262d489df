#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Machine distribution benchmark: generates an N-packet trace (default 1,000,000)
# among 1,000 hosts (3,000 conversations), replays it into one Machine Distribution
# View headless at pace 0, and times tcpdump -nn -r on the same trace. Prints a
# table; the figures go into bench/README.md by hand.
#
# usage: bench/topology/run_bench.sh [N]
# NUK_BENCH_HOSTS and NUK_BENCH_FLOWS choose other host and conversation counts;
# NUK_BENCH_SHOT=PATH saves the canvas as PATH.png and PATH-addresses.png.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-1000000}"
hosts="${NUK_BENCH_HOSTS:-1000}"
flows="${NUK_BENCH_FLOWS:-3000}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_topology pcap >/dev/null

work="$(mktemp -d /tmp/nukbench.XXXXXX)"  # owner-only
trap 'rm -rf "$work"' EXIT
# The capture helper's copy of what it replays goes there too, not over the one of a
# nuk that is running.
export NUK_TMPDIR="$work"
trace="$work/trace.tr"
echo "generating $n packets among $hosts hosts ..." >&2
python3 "$root/bench/pipeline/gen_trace.py" "$trace" "$n" "$hosts" "$flows"
sync
cat "$trace" >/dev/null

export NUKPATH="$build"
result="$("$build/bench/bin/bench_topology" --trace "$trace" --packets "$n" ${NUK_BENCH_SHOT:+--shot "$NUK_BENCH_SHOT"} | tail -1)"
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }

TIMEFORMAT=%R
tcpdump_s="$( { time tcpdump -nn -r "$trace" >/dev/null 2>&1; } 2>&1 )"
tcpdump_pps="$(awk -v n="$n" -v s="$tcpdump_s" 'BEGIN { printf "%.0f", n / s }')"
nuk_pps="$(field pps)"

printf '\n%-38s %10s %9s %12s %12s\n' "reader" "packets" "seconds" "packets/s" "vs tcpdump"
printf '%-38s %10s %9s %12s %12s\n' "nuk pipeline -> machine distribution" "$n" "$(field seconds)" "$nuk_pps" \
    "$(awk -v a="$nuk_pps" -v b="$tcpdump_pps" 'BEGIN { printf "%.2f", a / b }')"
printf '%-38s %10s %9s %12s %12s\n' "tcpdump -nn -r" "$n" "$tcpdump_s" "$tcpdump_pps" "1.00"
printf '\nnodes %s, links %s\n' "$(field nodes)" "$(field links)"
printf 'GUI longest stall: %s ms (target < 100); longest GUI-thread work between two 1 ms ticks: %s ms of CPU\n' \
    "$(field max_stall_ms)" "$(field max_stall_cpu_ms)"
printf 'packets in flight: at most %s during the replay, %s after the next refresh\n' \
    "$(field max_in_flight)" "$(field in_flight_after)"
printf 'one layout run (3 iterations) over all nodes: %s ms (CPU %s ms), with the items following: %s ms (CPU %s ms) (target < 16)\n' \
    "$(field layout_ms)" "$(field layout_cpu_ms)" "$(field layout_items_ms)" "$(field layout_items_cpu_ms)"
printf 'layout at rest %s s after the last packet, canvas %s: %s of %s node pairs closer than one node diameter (share %s); %s of %s lines through a node they do not join\n' \
    "$(field settled_s)" "$(field canvas)" "$(field close_pairs)" "$(field node_pairs)" "$(field close_share)" \
    "$(field lines_through_nodes)" "$(field lines)"
printf 'load average at the end: %s\n' "$(field load)"

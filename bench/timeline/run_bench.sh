#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Time line benchmark: generates an N-packet trace (default 1,000,000) with the
# pipeline benchmark's generator, measures repaints at 1,000 and 1,000,000 records and
# the replay of the trace into an open time line headless, and times tcpdump -nn -r on
# the same trace. Prints the figures; they go into bench/README.md by hand.
#
# usage: bench/timeline/run_bench.sh [N]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-1000000}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_timeline pcap >/dev/null

. "$root/bench/common/trace.sh"
bench_trace "$n"
# The capture helper's copy of what it replays goes there too, not over the one of a
# nuk that is running.
export NUK_TMPDIR="$work"

export NUKPATH="$build"
"$build/bench/bin/bench_timeline" --trace "$trace" --packets "$n" | tee "$work/out.txt"
replay="$(grep '^replay ' "$work/out.txt")"
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$replay"; }

TIMEFORMAT=%R
tcpdump_s="$( { time tcpdump -nn -r "$trace" >/dev/null 2>&1; } 2>&1 )"
tcpdump_pps="$(awk -v n="$n" -v s="$tcpdump_s" 'BEGIN { printf "%.0f", n / s }')"
ratio="$(awk -v a="$(field pps)" -v b="$tcpdump_pps" 'BEGIN { printf "%.2f", a / b }')"

printf '\n%-36s %10s %9s %12s %12s\n' "reader" "packets" "seconds" "packets/s" "vs tcpdump"
printf '%-36s %10s %9s %12s %12s\n' "nuk pipeline (controller) -> time line" "$n" "$(field seconds)" "$(field pps)" "$ratio"
printf '%-36s %10s %9s %12s %12s\n' "tcpdump -nn -r" "$n" "$tcpdump_s" "$tcpdump_pps" "1.00"
printf '\nGUI longest stall during the replay: %s ms (target < 100), of which the GUI thread worked %s ms\n' \
    "$(field max_stall_ms)" "$(field max_stall_working_ms)"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Live capture benchmark (root; loopback only): a paced stream of 100-byte UDP
# datagrams on 127.0.0.1, captured at each rate by the capture helper alone (into
# a byte counter), by nuk with all six views open (bench_live, offscreen) and by
# tcpdump -w /dev/null with default options, one after another, 5 s each. Then the
# latency from send to the packet list at 1,000 packets/s. Prints tables; the
# figures go into bench/README.md by hand.
#
# usage: sudo bench/live/run_bench.sh [RATES...]   (default: 20000 50000 100000 200000 0; 0 = the sender's maximum)
#   NUK_BENCH_SECONDS   seconds per run (default 5)
#   NUK_BENCH_RINGS     helper-alone runs with other ring settings, each a comma-separated list
#                       of variables, e.g. "NUK_IMMEDIATE=1,NUK_BUFFER_MB=2 NUK_BUFFER_MB=2"
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${NUK_BENCH_BUILD:-$root/build-rel}"
seconds="${NUK_BENCH_SECONDS:-5}"
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(20000 50000 100000 200000 0)
[ "$(id -u)" = 0 ] || { echo "live capture needs root" >&2; exit 1; }
command -v tcpdump >/dev/null || { echo "tcpdump is missing" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target pcap loadgen bench_live >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export NUKPATH="$build" NUK_TMPDIR="$work"
loadgen="$build/bench/bin/loadgen"
port=9999
filter="udp port $port"
record=260  # bytes per record: 160 + 100 payload

# Waits until file $1 contains $2 (10 s at most).
wait_for() { for _ in $(seq 100); do grep -q "$2" "$1" 2>/dev/null && return; sleep 0.1; done; }
sent_of() { sed -n 's/^sent \([0-9]*\).*/\1/p' "$1"; }

# The helper alone; prints "sent records dropped".
helper_alone() {
    local rate=$1; shift
    local vars=("$@")
    : >"$work/helper.err"
    env "${vars[@]}" "$build/nuk/pcap" NULL 1 1 lo "$filter" 2>"$work/helper.err" > >(wc -c >"$work/bytes") &
    local pid=$!
    wait_for "$work/helper.err" "capturing on"
    "$loadgen" $port "$rate" "$seconds" >"$work/sent"
    sleep 1
    kill -TERM $pid; wait $pid || true
    sleep 0.2
    local line; line="$(grep ' packets\? captured, ' "$work/helper.err" | tail -1)"
    echo "$(sent_of "$work/sent") $(( $(cat "$work/bytes") / record )) $(sed -n 's/.* \([0-9]*\) dropped by the kernel.*/\1/p' <<<"$line")"
}

# tcpdump with default options; prints "sent captured dropped".
tcpdump_run() {
    tcpdump -i lo -w /dev/null "$filter" 2>"$work/tcpdump.err" &
    local pid=$!
    wait_for "$work/tcpdump.err" "listening on"
    "$loadgen" $port "$1" "$seconds" >"$work/sent"
    sleep 1
    kill -INT $pid; wait $pid || true
    echo "$(sent_of "$work/sent") $(sed -n 's/^\([0-9]*\) packets captured/\1/p' "$work/tcpdump.err") $(sed -n 's/^\([0-9]*\) packets dropped by kernel/\1/p' "$work/tcpdump.err")"
}

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
label() { [ "$1" = 0 ] && echo max || echo "$1"; }

echo "== live capture on lo, ${seconds} s per run, $(date -u '+%F %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
echo "| rate/s | sent | helper alone: records | dropped (kernel) | nuk, 6 views: sent | delivered | dropped (kernel) | behind (s) | tcpdump: sent | captured | dropped |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for rate in "${rates[@]}"; do
    read -r hs hr hd <<<"$(helper_alone "$rate")"
    nuk="$("$build/bench/bin/bench_live" --loadgen "$loadgen" --port $port --rate "$rate" --seconds "$seconds" 2>"$work/nuk.err" | tail -1)"
    read -r ts tc td <<<"$(tcpdump_run "$rate")"
    echo "| $(label "$rate") | $hs | $hr | $hd | $(field sent "$nuk") | $(field delivered "$nuk") | $(field kernel_drops "$nuk") | $(field behind_s "$nuk") | $ts | $tc | $td |"
done

for vars in ${NUK_BENCH_RINGS:-}; do
    echo
    echo "helper alone with ${vars//,/ }:"
    echo "| rate/s | sent | records | dropped (kernel) |"
    echo "|---|---|---|---|"
    IFS=, read -ra list <<<"$vars"
    for rate in "${rates[@]}"; do
        read -r hs hr hd <<<"$(helper_alone "$rate" "${list[@]}")"
        echo "| $(label "$rate") | $hs | $hr | $hd |"
    done
done

echo
for vars in "" NUK_IMMEDIATE=1; do
    nuk="$(env $vars "$build/bench/bin/bench_live" --loadgen "$loadgen" --port $port --rate 1000 --seconds "$seconds" --latency 2>"$work/nuk.err" | tail -1)"
    echo "latency send -> packet list at 1,000/s, all six views${vars:+, $vars}: median $(field latency_median_ms "$nuk") ms, 99th percentile $(field latency_p99_ms "$nuk") ms ($(field delivered "$nuk") of $(field sent "$nuk") delivered)"
done

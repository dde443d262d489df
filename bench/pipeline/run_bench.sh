#!/usr/bin/env bash
# Pipeline benchmark: generates an N-packet trace (default 1,000,000), replays it
# into one Packet List View headless, and compares with tcpdump and tshark reading
# the same trace. Prints a table; the figures go into bench/README.md by hand.
#
# usage: bench/pipeline/run_bench.sh [N]
#   NUK_BENCH_VIEWS=connections  both connection views open beside the list
#   NUK_BENCH_FEED=controller|reader|inprocess  how packets reach the view
#     (default: controller, falling back to reader when the controller's capture
#     does not deliver, and to inprocess when there is no capture helper)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-1000000}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_pipeline >/dev/null
cmake --build "$build" -j2 --target pcap >/dev/null 2>&1 || true

. "$root/bench/common/trace.sh"
bench_trace "$n"

export NUKPATH="$build"
run_pipeline() {
    "$build/bench/bin/bench_pipeline" --trace "$trace" --packets "$n" --feed "$1" --views "${NUK_BENCH_VIEWS:-list}" \
        2>"$work/pipeline.err" | tail -1
}
feeds="${NUK_BENCH_FEED:-controller reader inprocess}"
result=""
for feed in $feeds; do
    if [ "$feed" != inprocess ] && [ ! -x "$build/nuk/pcap" ]; then
        echo "no capture helper at $build/nuk/pcap: skipping feed '$feed'" >&2
        continue
    fi
    if result="$(run_pipeline "$feed")" && [ -n "$result" ]; then
        break
    fi
    echo "feed '$feed' did not deliver: $(tail -1 "$work/pipeline.err")" >&2
    result=""
done
[ -n "$result" ] || { echo "the pipeline benchmark failed" >&2; exit 1; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }

TIMEFORMAT=%R
tcpdump_s="$( { time tcpdump -nn -r "$trace" >/dev/null 2>&1; } 2>&1 )"
cut="$trace"
cut_n="$n"
if [ "$n" -gt 200000 ]; then
    cut="$work/cut.tr"
    cut_n=200000
    editcap -r "$trace" "$cut" 1-200000
fi
# tshark three ways: its one-line summaries (what tcpdump -nn -r prints), the list
# view's columns, and the frame numbers alone (dissection without formatting).
tshark_s="$( { time tshark -n -r "$cut" -T fields -e frame.number -e frame.time_relative -e ip.src -e ip.dst \
    -e _ws.col.Protocol -e _ws.col.Info >/dev/null 2>&1; } 2>&1 )"
tshark_summary_s="$( { time tshark -n -r "$cut" >/dev/null 2>&1; } 2>&1 )"
tshark_numbers_s="$( { time tshark -n -r "$cut" -T fields -e frame.number >/dev/null 2>&1; } 2>&1 )"

pps() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
tcpdump_pps="$(pps "$n" "$tcpdump_s")"
tshark_pps="$(pps "$cut_n" "$tshark_s")"
nuk_pps="$(field pps)"
ratio() { awk -v a="$1" -v b="$tcpdump_pps" 'BEGIN { printf "%.2f", a / b }'; }

printf '\n%-34s %10s %9s %12s %12s\n' "reader" "packets" "seconds" "packets/s" "vs tcpdump"
printf '%-34s %10s %9s %12s %12s\n' "nuk pipeline ($(field feed)) -> views" "$n" "$(field seconds)" "$nuk_pps" "$(ratio "$nuk_pps")"
printf '%-34s %10s %9s %12s %12s\n' "tcpdump -nn -r" "$n" "$tcpdump_s" "$tcpdump_pps" "1.00"
printf '%-34s %10s %9s %12s %12s\n' "tshark -T fields" "$cut_n" "$tshark_s" "$tshark_pps" "$(ratio "$tshark_pps")"
for t in "tshark -n -r:$tshark_summary_s" "tshark -T fields -e frame.number:$tshark_numbers_s"; do
    t_pps="$(pps "$cut_n" "${t##*:}")"
    printf '%-34s %10s %9s %12s %12s\n' "${t%:*}" "$cut_n" "${t##*:}" "$t_pps" "$(ratio "$t_pps")"
done
printf '\n%s, load average %s\n' "$(date -u '+%F %H:%M UTC')" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '\nGUI longest stall: %s ms (target < 100), of which the GUI thread worked %s ms\n' "$(field max_stall_ms)" \
    "$(field max_stall_working_ms)"
printf 'peak RSS: %s MB, payload %s MB: %s bytes/packet beyond payload for the whole process (target <= 512), %s above the empty view\n' \
    "$(field peak_rss_mb)" "$(field payload_mb)" "$(field bytes_per_packet)" "$(field bytes_per_packet_above_baseline)"
printf 'sorting the full list by Info: %s ms, back to No.: %s ms\n' "$(field sort_info_ms)" "$(field sort_back_ms)"
if [ -n "$(field largest_conversation)" ]; then
    printf 'largest conversation (%s packets), wall clock (GUI thread processor time): select and list %s ms (%s),\n' \
        "$(field largest_conversation)" "$(field select_ms)" "$(field select_cpu_ms)"
    printf '  live pane %s ms (%s), reconstruct all conversations %s ms (%s); %s bytes/packet after reconstructing\n' \
        "$(field live_ms)" "$(field live_cpu_ms)" "$(field reconstruct_ms)" "$(field reconstruct_cpu_ms)" \
        "$(field bytes_per_packet_after_reconstruct)"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Pipeline benchmark: generates an N-packet trace (default 1,000,000), replays it
# into the views headless, and compares with tcpdump (timed right after each replay)
# and tshark reading the same trace. Prints a table per replay; the figures go into
# bench/README.md by hand.
#
# usage: bench/pipeline/run_bench.sh [N]
#   NUK_BENCH_VIEWS=list|connections|all  the Packet List View alone (default), both
#     connection views beside it, or all six views
#   NUK_BENCH_PACE="0 1 step"  one replay per word: a display pace in milliseconds
#     (default 0), or "step": step mode, NUK_BENCH_STEPS Steps (default 100) timed
#     with the whole trace queued and again with half of it shown
#   NUK_BENCH_IPV6=1  the same trace over IPv6 (gen_trace.py --ipv6)
#   NUK_BENCH_DISPLAY=EXPR  after the replay, time the display filter EXPR over
#     the views (all six unless NUK_BENCH_VIEWS says otherwise) against
#     tcpdump -nn -r with the same expression
#   NUK_BENCH_FEED=controller|reader|inprocess  how packets reach the views
#     (default: controller, falling back to reader when the controller's capture
#     does not deliver, and to inprocess when there is no capture helper)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-1000000}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"
display="${NUK_BENCH_DISPLAY:-}"
views="${NUK_BENCH_VIEWS:-$([ -n "$display" ] && echo all || echo list)}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_pipeline >/dev/null
cmake --build "$build" -j2 --target pcap >/dev/null 2>&1 || true

. "$root/bench/common/trace.sh"
bench_trace "$n"

export NUKPATH="$build"
TIMEFORMAT=%R
pps() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# One replay with the arguments given; prints bench_pipeline's line of figures.
run_pipeline() {
    "$build/bench/bin/bench_pipeline" --trace "$trace" --packets "$n" --views "$views" "$@" \
        2>"$work/pipeline.err" | tail -1
}

if [ -n "$display" ]; then
    echo "== display filter '$display' over $views views, $n packets, $(date -u '+%F %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
    result="$(run_pipeline --feed "${NUK_BENCH_FEED:-controller}" --display "$display")" ||
        { echo "the display filter benchmark failed: $(tail -3 "$work/pipeline.err")" >&2; exit 1; }
    field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }
    tcpdump_s="$( { time tcpdump -nn -r "$trace" "$display" >/dev/null 2>&1; } 2>&1 )"
    tcpdump_n="$(tcpdump -nn -r "$trace" "$display" 2>/dev/null | wc -l)"
    printf '\n%-34s %10s %10s %9s %12s\n' "" "packets" "matching" "seconds" "time ratio"
    printf '%-34s %10s %10s %9s %12s\n' "display filter re-feed -> $views" "$n" "$(field display_matched)" \
        "$(field display_seconds)" "$(ratio "$(field display_seconds)" "$tcpdump_s")"
    printf '%-34s %10s %10s %9s %12s\n' "tcpdump -nn -r EXPR" "$n" "$tcpdump_n" "$tcpdump_s" "1.00"
    printf '\nGUI longest stall during the re-feed: %s ms (target < 100), of which the GUI thread worked %s ms\n' \
        "$(field display_max_stall_ms)" "$(field display_max_stall_working_ms)"
    printf 'emptying the views (on the GUI thread, before the re-feed starts): %s ms, %s ms of it working; load average at the end %s\n' \
        "$(field display_clear_ms)" "$(field display_clear_cpu_ms)" "$(field load)"
    printf 'Save Displayed As: %s packets written in %s ms, the event loop run at least every %s ms\n' "$(field display_saved)" "$(field display_save_ms)" "$(field display_save_longest_gap_ms)"
    exit 0
fi

for pace in ${NUK_BENCH_PACE:-0}; do
    echo "== $views views, $([ "$pace" = step ] && echo "step mode" || echo "pace $pace ms"), $(date -u '+%F %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
    if [ "$pace" = step ]; then
        result="$(run_pipeline --feed controller --steps "${NUK_BENCH_STEPS:-100}")" || true
        [ -n "$result" ] || { echo "the step mode benchmark failed: $(tail -3 "$work/pipeline.err")" >&2; exit 1; }
        field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }
        printf 'Step -> every view shows the packet, with %s packets queued (%s shown): median %s ms (GUI thread CPU %s ms), longest %s ms (%s)\n' \
            "$((n - $(field shown_before)))" "$(field shown_before)" "$(field step_median_ms)" "$(field step_median_cpu_ms)" \
            "$(field step_max_ms)" "$(field step_max_cpu_ms)"
        printf 'the same with %s packets shown: median %s ms (%s), longest %s ms (%s); %s steps each (target: one frame, 16 ms)\n' \
            "$(field late_shown_before)" "$(field late_step_median_ms)" "$(field late_step_median_cpu_ms)" \
            "$(field late_step_max_ms)" "$(field late_step_max_cpu_ms)" "$(field steps)"
        printf 'peak RSS %s MB; load average at the end %s\n\n' "$(field peak_rss_mb)" "$(field load)"
        continue
    fi
    result=""
    for feed in ${NUK_BENCH_FEED:-controller reader inprocess}; do
        if [ "$feed" != inprocess ] && [ ! -x "$build/nuk/pcap" ]; then
            echo "no capture helper at $build/nuk/pcap: skipping feed '$feed'" >&2
            continue
        fi
        if result="$(run_pipeline --feed "$feed" --pace "$pace")" && [ -n "$result" ]; then
            break
        fi
        echo "feed '$feed' did not deliver: $(tail -1 "$work/pipeline.err")" >&2
        result=""
    done
    [ -n "$result" ] || { echo "the pipeline benchmark failed" >&2; exit 1; }
    field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$result"; }

    tcpdump_s="$( { time tcpdump -nn -r "$trace" >/dev/null 2>&1; } 2>&1 )"
    tcpdump_pps="$(pps "$n" "$tcpdump_s")"
    nuk_pps="$(field pps)"
    printf '\n%-34s %10s %9s %12s %12s\n' "reader" "packets" "seconds" "packets/s" "vs tcpdump"
    printf '%-34s %10s %9s %12s %12s\n' "nuk pipeline ($(field feed)) -> $views" "$n" "$(field seconds)" "$nuk_pps" \
        "$(ratio "$nuk_pps" "$tcpdump_pps")"
    printf '%-34s %10s %9s %12s %12s\n' "tcpdump -nn -r" "$n" "$tcpdump_s" "$tcpdump_pps" "1.00"
    if [ "$pace" != 0 ]; then
        printf 'the trace spans %s s: at pace %s ms the replay cannot take less than %s s\n' "$(field trace_seconds)" "$pace" \
            "$(awk -v s="$(field trace_seconds)" -v p="$pace" 'BEGIN { printf "%.1f", s * p }')"
    fi
    printf '\nGUI longest stall: %s ms (target < 100), of which the GUI thread worked %s ms; its longest work between two ticks %s ms\n' \
        "$(field max_stall_ms)" "$(field max_stall_working_ms)" "$(field max_gui_work_ms)"
    printf 'processor time: GUI thread %s s, reader thread %s s, whole process %s s; load average at the end %s\n' \
        "$(field gui_cpu_s)" "$(field reader_cpu_s)" "$(field process_cpu_s)" "$(field load)"
    printf 'peak RSS: %s MB, payload %s MB: %s bytes/packet beyond payload for the whole process (target <= 512), %s above the empty views\n' \
        "$(field peak_rss_mb)" "$(field payload_mb)" "$(field bytes_per_packet)" "$(field bytes_per_packet_above_baseline)"
    printf 'sorting the full list by Info: %s ms, back to No.: %s ms\n' "$(field sort_info_ms)" "$(field sort_back_ms)"
    if [ -n "$(field largest_conversation)" ]; then
        printf 'largest conversation (%s packets), wall clock (GUI thread processor time): select and list %s ms (%s),\n' \
            "$(field largest_conversation)" "$(field select_ms)" "$(field select_cpu_ms)"
        printf '  live pane %s ms (%s), reconstruct all conversations %s ms (%s); %s bytes/packet after reconstructing\n' \
            "$(field live_ms)" "$(field live_cpu_ms)" "$(field reconstruct_ms)" "$(field reconstruct_cpu_ms)" \
            "$(field bytes_per_packet_after_reconstruct)"
    fi
    echo
done

if [ "${NUK_BENCH_TSHARK:-1}" = 1 ]; then
    cut="$trace"
    cut_n="$n"
    if [ "$n" -gt 200000 ]; then
        cut="$work/cut.tr"
        cut_n=200000
        editcap -r "$trace" "$cut" 1-200000
    fi
    # tshark three ways: its one-line summaries (what tcpdump -nn -r prints), the list
    # view's columns, and the frame numbers alone (dissection without formatting);
    # the ratio is to the last tcpdump above.
    tshark_s="$( { time tshark -n -r "$cut" -T fields -e frame.number -e frame.time_relative -e ip.src -e ip.dst \
        -e _ws.col.Protocol -e _ws.col.Info >/dev/null 2>&1; } 2>&1 )"
    tshark_summary_s="$( { time tshark -n -r "$cut" >/dev/null 2>&1; } 2>&1 )"
    tshark_numbers_s="$( { time tshark -n -r "$cut" -T fields -e frame.number >/dev/null 2>&1; } 2>&1 )"
    for t in "tshark -T fields:$tshark_s" "tshark -n -r:$tshark_summary_s" "tshark -T fields -e frame.number:$tshark_numbers_s"; do
        t_pps="$(pps "$cut_n" "${t##*:}")"
        printf '%-34s %10s %9s %12s %12s\n' "${t%:*}" "$cut_n" "${t##*:}" "$t_pps" "$(ratio "$t_pps" "${tcpdump_pps:-$t_pps}")"
    done
fi

# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the benchmark scripts: `bench_trace N` makes an owner-only work directory
# ($work, removed on exit) and in it the pipeline generator's N-packet trace ($trace),
# read once so that every reader starts from the same warm cache. With NUK_BENCH_IPV6=1
# the same packets over IPv6.
bench_trace() {
    work="$(mktemp -d /tmp/nukbench.XXXXXX)"
    # The capture helper keeps a copy of what it replays in the default trace file;
    # remove that copy afterwards unless it was there before the benchmark.
    default_trace="/tmp/$(id -u)_NukDefaultTraceFile"
    keep_default=0
    [ -e "$default_trace" ] && keep_default=1
    trap 'rm -rf "$work"; [ "$keep_default" = 1 ] || rm -f "$default_trace"' EXIT
    trace="$work/trace.tr"
    echo "generating $1 packets ..." >&2
    python3 "$(dirname "${BASH_SOURCE[0]}")/../pipeline/gen_trace.py" ${NUK_BENCH_IPV6:+--ipv6} "$trace" "$1"
    # Let the new file reach the disk and read it once, so that no reader pays for
    # the generator's writeback.
    sync
    cat "$trace" >/dev/null
}

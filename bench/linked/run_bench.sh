#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Linked selection benchmark: N packets (default 1,000,000) in all six views, the
# time until every view shows a packet made current, and following a connection of
# 100,000 packets against tcpdump picking it out of the same trace. Prints the
# figures; they go into bench/README.md by hand.
#
# usage: bench/linked/run_bench.sh [N]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
n="${1:-1000000}"
build="${NUK_BENCH_BUILD:-$root/build-rel}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF -DNUK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_linked >/dev/null
"$build/bench/bin/bench_linked" --packets "$n"

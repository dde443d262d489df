#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Takes the README's screenshots (docs/screenshots/*.png) from the real program:
# builds nuk and its helpers (Release, into build/ as scripts/run does) and the tour
# plugin (scripts/screenshots/), starts nuk offscreen with the trace, and lets the
# plugin walk the wizard, select a packet and a conversation, reconstruct, and save
# every window. Then shrinks the PNGs with pngquant/optipng when they are installed.
#
# usage: scripts/screenshots.sh [trace]    # default tests/data/timeline/conversation.pcap
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
trace="$(realpath "${1:-$root/tests/data/timeline/conversation.pcap}")"
build="${NUK_BUILD:-$root/build}"
out="$root/docs/screenshots"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNUK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target nuk pcap getSock >/dev/null
cmake -S "$root/scripts/screenshots" -B "$build/tour-plugin" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/tour-plugin" -j2 >/dev/null

mkdir -p "$out"
shots="$build/tour-shots"  # kept: on failure it holds the windows as they were
rm -rf "$shots"
mkdir -p "$shots"
NUKPATH="$build" QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$build/tour-plugin/plugins" \
    QT_QPA_GENERIC_PLUGINS="nuktour:$shots" timeout 90 "$build/nuk/nuk" "$trace" >"$shots/nuk.log" 2>&1 || {
    echo "nuk did not finish the tour:" >&2
    grep -v propagateSizeHints "$shots/nuk.log" >&2
    echo "the windows as they were: $shots" >&2
    exit 1
}

for png in "$shots"/*.png; do
    if command -v pngquant >/dev/null; then
        pngquant --force --skip-if-larger --output "$png" 64 "$png" || true
    fi
    if command -v optipng >/dev/null; then
        optipng -quiet -o5 "$png"
    fi
    install -m 644 "$png" "$out/"
done
ls -l "$out"

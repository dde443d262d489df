# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by make_traces.sh and make_reused.sh: tshark's reassembly of every
# conversation of a trace.

# One line a conversation: protocol, node 0, node 1, node 0's bytes, node 1's bytes (hex).
# FOLLOW_PREFS: tshark options for both readings (-o name:value ...).
follow() {
    local trace=$1 proto n=0
    for proto in tcp udp; do
        local streams
        streams=$(tshark -n -r "$trace" ${FOLLOW_PREFS:-} -T fields -e "$proto.stream" "$proto" 2>/dev/null | sort -un)
        for n in $streams; do
            tshark -n -r "$trace" ${FOLLOW_PREFS:-} -q -z "follow,$proto,raw,$n" 2>/dev/null | awk -v proto="$proto" '
                /^Node 0: / { n0 = $3 } /^Node 1: / { n1 = $3; body = 1; next }
                /^====/ { if (body) { printf "%s\t%s\t%s\t%s\t%s\n", proto, n0, n1, b0, b1 }; body = 0; next }
                body && /^\t/ { sub(/^\t/, ""); b1 = b1 $0; next }
                body { b0 = b0 $0 }'
        done
    done
}

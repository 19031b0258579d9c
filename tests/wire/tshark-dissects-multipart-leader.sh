#!/usr/bin/env bash
# tshark's GVSP dissector reads a multi-part leader whose part descriptor the
# library's offsets laid out: every field must come out as the library's parser
# reads it, and nothing may be malformed. No socket is opened: the leader goes
# through a capture file.
#   tshark-dissects-multipart-leader.sh MULTIPART_LEADER_DUMP
# Exit 77 = skipped.
set -euo pipefail
dump=$1
command -v tshark >/dev/null || { echo "SKIP: tshark is not installed"; exit 77; }
command -v text2pcap >/dev/null || { echo "SKIP: text2pcap is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$dump" "$work/leader.txt" "$work/expected.txt"
text2pcap -q -u 20202,50001 "$work/leader.txt" "$work/leader.pcap"
read_leader() { tshark -r "$work/leader.pcap" -d udp.port==50001,gvsp "$@"; }

bad=$(read_leader -Y '_ws.malformed || _ws.expert.severity == error' | wc -l)
[ "$bad" -eq 0 ] || { read_leader -V; echo "FAIL: tshark finds the leader malformed"; exit 1; }
[ "$(read_leader -T fields -e gvsp.payloadtype)" = "0x000a" ] || {
    read_leader -V; echo "FAIL: not dissected as a multi-part leader"; exit 1; }
failed=0
while read -r field value; do
    shown=$(read_leader -T fields -e "$field")
    if [ -z "$shown" ] || [ $((shown)) -ne "$value" ]; then
        echo "FAIL: $field: tshark reads '$shown', the library $value"
        failed=1
    else
        echo "$field: $value"
    fi
done <"$work/expected.txt"
[ "$failed" -eq 0 ] || { read_leader -V; exit 1; }
echo "PASS: tshark reads every part descriptor field where the library does"

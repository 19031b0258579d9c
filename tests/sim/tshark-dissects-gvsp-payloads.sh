#!/usr/bin/env bash
# Captures the simulator's JPEG, chunk data, multi-part (two and three parts) and GenDC
# blocks as the payload tests stream them, and has tshark's GVSP dissector judge every
# packet: all four payload types, both the multi-part and the GenDC packet formats and
# data packets of each of the three parts must be there, and none may be malformed.
#   tshark-dissects-gvsp-payloads.sh SIM_TESTS_BINARY
# Runs inside netns-run (the ctest entry wraps it); exit 77 = skipped.
set -euo pipefail
tests=$1
command -v tshark >/dev/null || { echo "SKIP: tshark is not installed"; exit 77; }
[ -n "${GEVTLKRV_NETNS_HOST:-}" ] || { echo "FAIL: must run under tests/netns/netns-run"; exit 1; }

work=$(mktemp -d)
capture=
cleanup() {
    [ -n "$capture" ] && kill -INT "$capture" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
pcap="$work/gvsp.pcapng"

timeout 120 tshark -q -i lo -f udp -w "$pcap" 2>"$work/tshark.log" &
capture=$!
for _ in $(seq 300); do grep -q "Capturing on" "$work/tshark.log" 2>/dev/null && break; sleep 0.1; done
sleep 0.5  # the capture may start a little after it says so

"$tests" --gtest_brief=1 --gtest_filter='StreamPayloadTest.*:StreamPayloadThreePartTest.*'
sleep 0.5
kill -INT "$capture"
wait "$capture" || true
capture=

# The stream source ports are ephemeral: every port the camera (127.0.0.2) sends from,
# other than GVCP's, is a stream channel's.
decode=()
for port in $(tshark -r "$pcap" -T fields -e udp.srcport \
                  -Y 'ip.src == 127.0.0.2 && udp.srcport != 3956' 2>/dev/null | sort -u); do
    decode+=(-d "udp.port==$port,gvsp")
done
[ ${#decode[@]} -gt 0 ] || { echo "FAIL: no stream packets captured"; exit 1; }
read_capture() { tshark -r "$pcap" "${decode[@]}" "$@" 2>"$work/read.log"; }
count() {
    local out
    out=$(read_capture -Y "$1") || { echo "FAIL: tshark -Y '$1':" >&2; cat "$work/read.log" >&2; return 1; }
    [ -z "$out" ] && echo 0 || wc -l <<<"$out"
}

gvsp=$(count gvsp)
bad=$(count 'gvsp && (_ws.malformed || _ws.expert.severity == error)')
echo "GVSP packets: $gvsp; malformed or in error: $bad"
if [ "$bad" -ne 0 ]; then
    read_capture -Y 'gvsp && (_ws.malformed || _ws.expert.severity == error)' | head -20
    exit 1
fi
for type in 0x0004 0x0006 0x000a 0x000b; do
    # The format byte carries the EI bit with 64-bit block ids.
    leaders=$(count "gvsp.format in {1, 0x81} && gvsp.payloadtype == $type")
    trailers=$(count "gvsp.format in {2, 0x82} && gvsp.payloadtype == $type")
    echo "payload type $type: $leaders leaders, $trailers trailers"
    [ "$leaders" -gt 0 ] && [ "$trailers" -gt 0 ] || { echo "FAIL: payload type $type missing"; exit 1; }
done
multipart=$(count 'gvsp.format in {7, 0x87} && gvsp.partid')
# The three-part blocks: data packets of every part, and a trailer record of each.
for part in 0 1 2; do
    packets=$(count "gvsp.format == 7 && gvsp.partid == $part")
    echo "multi-part data packets of part $part: $packets"
    [ "$packets" -gt 0 ] || { echo "FAIL: no data packet of part $part"; exit 1; }
done
gendc=$(count 'gvsp.format in {8, 0x88} && gvsp.gendc.payload.datasize')
descriptors=$(count 'gvsp.gendc.container.header.signature == "GNDC" && gvsp.gendc.component.header.partcount == 1')
echo "multi-part data packets: $multipart; GenDC data packets: $gendc; GenDC descriptors: $descriptors"
[ "$multipart" -gt 0 ] || { echo "FAIL: no multi-part data packet dissected"; exit 1; }
[ "$gendc" -gt 0 ] || { echo "FAIL: no GenDC data packet dissected"; exit 1; }
[ "$descriptors" -gt 0 ] || { echo "FAIL: no GenDC container descriptor dissected"; exit 1; }
echo "PASS: tshark dissects the JPEG, chunk data, multi-part and GenDC streams"

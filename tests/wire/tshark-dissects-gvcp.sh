#!/usr/bin/env bash
# Captures the GVCP traffic of a run of the loopback tests and has tshark's
# dissector judge every packet: none may be marked malformed.
#   tshark-dissects-gvcp.sh LOOPBACK_TESTS_BINARY
# Runs inside netns-run (the ctest entry wraps it); exit 77 = skipped.
set -euo pipefail
tests=$1
command -v tshark >/dev/null || { echo "tshark is not installed"; exit 77; }
[ -n "${GEVTLKRV_NETNS_HOST:-}" ] || { echo "not inside netns-run"; exit 2; }

work=$(mktemp -d)
trap 'kill "$capture" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
pcap="$work/gvcp.pcapng"
# Every test whose traffic is meant to be well-formed; the ones that feed
# broken datagrams on purpose are left out.
cases='Simulator.*:AravisCamera.*:Discovery.CamerasOnTwo*:Discovery.ForceIp*:Discovery.Access*'
cases+=':MessageChannelTest.Acknowledge*:MessageChannelTest.Extended*:MessageChannelTest.EventId*'
cases+=':RegisterAccess.ReadsRegisters*:RegisterAccess.Memory*:RegisterAccess.PendingAck*'
cases+=':RegisterAccess.StaleAck*:DeviceConnection.PrivilegeIsTakenAgain*'
cases+=':Streaming.ImagesArrive*:Streaming.LostPackets*:Streaming.ExtendedIds*:Streaming.Sixteen*'

timeout 120 tshark -q -i lo -i gvh0 -i gvh1 -f udp -w "$pcap" 2>"$work/tshark.log" &
capture=$!
# dumpcap opens three interfaces first; on a loaded machine that takes seconds,
# and traffic sent before it captures would be judged missing.
for _ in $(seq 300); do grep -q "Capturing on" "$work/tshark.log" 2>/dev/null && break; sleep 0.1; done
grep -q "Capturing on" "$work/tshark.log" || { echo "tshark did not start capturing"; cat "$work/tshark.log"; exit 1; }

"$tests" --gtest_brief=1 \
    --gtest_filter="$cases"
sleep 1
kill -INT "$capture"
wait "$capture" || true

read_capture() { tshark -r "$pcap" --enable-heuristic gvsp_udp "$@" 2>/dev/null; }
gvcp=$(read_capture -Y gvcp | wc -l)
gvsp=$(read_capture -Y gvsp | wc -l)
resends=$(read_capture -Y 'gvcp.cmd.command == 0x0040' | wc -l)
malformed=$(read_capture -Y '_ws.malformed || _ws.expert.severity == error' | tee "$work/bad.txt" | wc -l)
echo "GVCP packets: $gvcp (PACKETRESEND $resends); GVSP packets: $gvsp; malformed or in error: $malformed"
if [ "$malformed" -ne 0 ]; then
    head -20 "$work/bad.txt"
    exit 1
fi
[ "$gvcp" -gt 100 ] || { echo "too few GVCP packets captured"; exit 1; }
[ "$gvsp" -gt 1000 ] || { echo "too few GVSP packets captured"; exit 1; }
[ "$resends" -gt 0 ] || { echo "no PACKETRESEND captured"; exit 1; }

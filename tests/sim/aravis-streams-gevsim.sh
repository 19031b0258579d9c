#!/usr/bin/env bash
# Aravis, as a third-party GigE Vision host, must stream from gevsim without a single
# failed buffer: plain images, images with 1% of the packets lost on first
# transmission (Aravis's PACKETRESEND must bring them back), 64-bit block ids, and
# images with extended chunk data. tshark, when installed, dissects the plain run's
# GVSP without a malformed packet. Runs inside netns-run; exit 77 (skip) without
# arv-camera-test-0.8.
#   aravis-streams-gevsim.sh GEVSIM_BINARY
set -uo pipefail
gevsim=$1
camtest=$(command -v arv-camera-test-0.8) || { echo "SKIP: arv-camera-test-0.8 missing (Debian aravis-tools-cli)"; exit 77; }
[ -n "${GEVTLKRV_NETNS_HOST:-}" ] || { echo "FAIL: must run under tests/netns/netns-run"; exit 1; }

work=$(mktemp -d)
pid=
capture=
cleanup() {
    [ -n "$capture" ] && kill -INT "$capture" 2>/dev/null
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

start_gevsim() {
    "$gevsim" --address 127.0.0.1 "$@" >"$work/gevsim.out" 2>&1 &
    pid=$!
    for _ in $(seq 50); do grep -q "serving" "$work/gevsim.out" && return; sleep 0.1; done
    cat "$work/gevsim.out"
    fail "gevsim $* did not start"
}
stop_gevsim() {
    kill -TERM "$pid"
    wait "$pid" || fail "gevsim exited $? on SIGTERM"
    pid=
}
counter() { sed -n "s/^$1 *= *\([0-9]*\).*/\1/p" "$2"; }

# Streams for 2 s; checks that every buffer completed and nothing went wrong.
stream() {  # name, then gevsim options
    local name=$1; shift
    start_gevsim "$@"
    local out="$work/$name.txt"
    timeout 30 "$camtest" -n 127.0.0.1 --duration 2 >"$out" 2>&1 || { cat "$out"; fail "$name: arv-camera-test exited $?"; }
    stop_gevsim
    local completed failures
    completed=$(counter n_completed_buffers "$out")
    failures=$(counter n_failures "$out")
    echo "$name: completed $completed, failures $failures, missing packets $(counter n_missing_packets "$out"), resend requests $(counter n_resend_requests "$out"), resent $(counter n_resent_packets "$out")"
    [ "${completed:-0}" -gt 0 ] || { cat "$out"; fail "$name: no completed buffer"; }
    for field in n_failures n_timeouts n_aborted n_size_mismatch_errors n_error_packets n_missing_frames; do
        [ "$(counter "$field" "$out")" = 0 ] || { cat "$out"; fail "$name: $field is not 0"; }
    done
    if grep -qiE " errors?$|critical|warning" "$out"; then cat "$out"; fail "$name: arv-camera-test complained"; fi
}

if command -v tshark >/dev/null; then
    timeout 60 tshark -q -i lo -f udp -w "$work/gvsp.pcapng" 2>"$work/tshark.log" &
    capture=$!
    for _ in $(seq 300); do grep -q "Capturing on" "$work/tshark.log" 2>/dev/null && break; sleep 0.1; done
fi
stream plain
if [ -n "$capture" ]; then
    sleep 0.5
    kill -INT "$capture"
    wait "$capture"
    capture=
fi
stream lossy --loss-ratio 0.01 --seed 7
[ "$(counter n_resend_requests "$work/lossy.txt")" -gt 0 ] || fail "lossy: Aravis asked for no resend"
[ "$(counter n_resent_packets "$work/lossy.txt")" -gt 0 ] || fail "lossy: no packet was resent"
stream extended-ids --extended-ids
stream chunk --payload chunk

if [ -f "$work/gvsp.pcapng" ]; then
    # The stream source port is ephemeral: tshark learns it from the leaders' UDP ports.
    port=$(tshark -r "$work/gvsp.pcapng" -T fields -e udp.srcport -Y 'udp.srcport != 3956 && udp.dstport != 3956 && udp.length > 1000' 2>/dev/null | sort | uniq -c | sort -rn | awk 'NR==1{print $2}')
    [ -n "$port" ] || fail "tshark: no stream packets captured"
    gvsp=$(tshark -r "$work/gvsp.pcapng" -d "udp.port==$port,gvsp" -Y gvsp 2>/dev/null | wc -l)
    bad=$(tshark -r "$work/gvsp.pcapng" -d "udp.port==$port,gvsp" -Y 'gvsp && (_ws.malformed || _ws.expert.severity == error)' 2>/dev/null | tee "$work/bad.txt" | wc -l)
    echo "tshark: $gvsp GVSP packets from port $port dissected, $bad malformed or in error"
    [ "$gvsp" -gt 1000 ] || fail "tshark dissected too few GVSP packets"
    [ "$bad" -eq 0 ] || { head -20 "$work/bad.txt"; fail "tshark found malformed GVSP"; }
else
    echo "tshark not installed: GVSP dissection not checked"
fi
echo "PASS: Aravis streams from gevsim without failure (plain, 1% loss with resends, 64-bit ids, chunk data)"

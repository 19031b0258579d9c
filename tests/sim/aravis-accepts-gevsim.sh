#!/usr/bin/env bash
# Aravis, as a third-party GigE Vision host, must find gevsim, load its GenApi XML
# and read every feature. Runs inside netns-run. Exit 77 (skip) without arv-tool.
#   aravis-accepts-gevsim.sh GEVSIM_BINARY GEVSIM_XML
set -uo pipefail
gevsim=$1
xml=$2
arv=$(command -v arv-tool-0.8) || { echo "SKIP: arv-tool-0.8 missing (Debian aravis-tools-cli)"; exit 77; }
[ -n "${GEVTLKRV_NETNS_HOST:-}" ] || { echo "FAIL: must run under tests/netns/netns-run"; exit 1; }

work=$(mktemp -d)
"$gevsim" --address 127.0.0.1 >"$work/gevsim.out" 2>&1 &
pid=$!
cleanup() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

for _ in $(seq 50); do grep -q "serving" "$work/gevsim.out" && break; sleep 0.1; done
grep -q "gevsim: serving GEVSIM-1 SIM0001 on 127.0.0.1:3956" "$work/gevsim.out" \
    || { echo "FAIL: gevsim did not start"; cat "$work/gevsim.out"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
run() {  # name, then the arv-tool arguments
    local name=$1; shift
    timeout 30 "$arv" "$@" >"$work/$name" 2>&1 || { cat "$work/$name"; fail "arv-tool $* exited $?"; }
    if grep -qiE "error|critical|warning" "$work/$name"; then cat "$work/$name"; fail "arv-tool $* complained"; fi
}

run list
grep -q "Tarvane-GEVSIM-1-SIM0001 (127.0.0.1)" "$work/list" || { cat "$work/list"; fail "not listed"; }
run features -a 127.0.0.1 features
run values -a 127.0.0.1 values
for feature in DeviceVendorName Width PixelFormat PayloadSize AcquisitionStart GevCCP GevSCPSPacketSize; do
    grep -q "'$feature'" "$work/features" || fail "feature $feature not listed"
done
grep -q "'DeviceModelName' = 'GEVSIM-1'" "$work/values" || fail "DeviceModelName value"
grep -q "'PayloadSize' = 307200" "$work/values" || fail "PayloadSize value"
grep -q "'GevVersionMajor' = 2" "$work/values" || fail "GevVersionMajor value"

run control -a 127.0.0.1 control Width=160 PixelFormat=Mono16
run payload -a 127.0.0.1 control PayloadSize
grep -q "PayloadSize = 153600" "$work/payload" || { cat "$work/payload"; fail "PayloadSize after writes"; }

run genicam -a 127.0.0.1 genicam
# arv-tool ends the dump with one newline of its own.
cmp <(head -c "$(stat -c %s "$xml")" "$work/genicam") "$xml" || fail "genicam dump differs from gevsim.xml"
[ "$(stat -c %s "$work/genicam")" -le "$(( $(stat -c %s "$xml") + 1 ))" ] || fail "genicam dump longer than gevsim.xml"

kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "gevsim exited $status on SIGTERM"
echo "PASS: arv-tool lists gevsim, reads all features and its XML; gevsim exits cleanly"
